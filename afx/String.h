// CString: the program's 8-bit string, with value semantics.
#pragma once

#include <cstdarg>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
typedef const char* LPCTSTR;
typedef char* LPTSTR;
typedef unsigned int UINT;
typedef int BOOL;
#endif

class CString
{
public:
	CString() = default;
	CString(const CString& other) = default;
	CString(LPCTSTR psz) : m_str(psz ? psz : "") {}
	CString(LPCTSTR pch, int nLength) : m_str(pch, nLength) {}

	CString& operator=(const CString& other) = default;
	CString& operator=(LPCTSTR psz);
	CString& operator+=(LPCTSTR psz);

	operator LPCTSTR() const { return m_str.c_str(); }
	int GetLength() const { return static_cast<int>(m_str.size()); }
	bool IsEmpty() const { return m_str.empty(); }
	void Empty() { m_str.clear(); }
	char GetAt(int nIndex) const { return m_str[nIndex]; }

	// printf-style; the arguments for %s must be plain character pointers.
	void Format(LPCTSTR pszFormat, ...)
#ifdef __GNUC__
		__attribute__((format(printf, 2, 3)))
#endif
		;
	void FormatV(LPCTSTR pszFormat, va_list args);

	// Both forms return the number of replacements made. Texts are replaced in one
	// left-to-right pass over non-overlapping occurrences.
	int Replace(char chOld, char chNew);
	int Replace(LPCTSTR pszOld, LPCTSTR pszNew);

	// Writable buffer of at least nMinBufLength characters, for APIs that fill one.
	LPTSTR GetBuffer(int nMinBufLength);
	// Ends the buffer at nNewLength, or at its first null character when -1.
	void ReleaseBuffer(int nNewLength = -1);

#ifdef _WIN32
	// Loads a string resource; a missing id gives the empty text and FALSE.
	BOOL LoadString(UINT nID);
#endif

private:
	std::string m_str;
};
