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
	// left-to-right pass over non-overlapping occurrences. Both step through the text character
	// by character in the running code page, so the trail byte of a two-byte character is never
	// taken for a character of its own.
	int Replace(char chOld, char chNew);
	int Replace(LPCTSTR pszOld, LPCTSTR pszNew);
	// The index of the last character ch, or -1.
	int ReverseFind(char ch) const;

	// Writable buffer of at least nMinBufLength characters, for APIs that fill one.
	LPTSTR GetBuffer(int nMinBufLength);
	// Ends the buffer at nNewLength, or at its first null character when -1.
	void ReleaseBuffer(int nNewLength = -1);

#ifdef _WIN32
	// Loads a string resource; a missing id gives the empty text and FALSE.
	BOOL LoadString(UINT nID);
#endif

private:
	// The length in bytes of the character at nIndex: 2 for a lead byte with its trail byte.
	size_t CharLength(size_t nIndex) const;

	std::string m_str;
};

// Whether ch is the first byte of a two-byte character in the running ANSI code page.
bool AfxIsLeadByte(unsigned char ch);
#ifndef _WIN32
// Windows tells the program its code page; the host build is told the lead bytes of the one it
// stands for instead: [first, last] pairs, as CPINFO lists them, ended by a pair of zeros. Null or
// an empty list is a single-byte code page, which is where the host build starts.
void AfxSetLeadByteRanges(const unsigned char* pRanges);
#endif
