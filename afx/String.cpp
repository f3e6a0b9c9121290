// CString: formatting, replacement and buffer access.
#include "String.h"

#include <cstdio>
#include <cstring>

CString& CString::operator=(LPCTSTR psz)
{
	m_str.assign(psz ? psz : "");
	return *this;
}

CString& CString::operator+=(LPCTSTR psz)
{
	if (psz)
		m_str += psz;
	return *this;
}

void CString::Format(LPCTSTR pszFormat, ...)
{
	va_list args;
	va_start(args, pszFormat);
	FormatV(pszFormat, args);
	va_end(args);
}

void CString::FormatV(LPCTSTR pszFormat, va_list args)
{
	va_list sizing;
	va_copy(sizing, args);
	const int nLength = std::vsnprintf(nullptr, 0, pszFormat, sizing);
	va_end(sizing);
	if (nLength < 0) {
		m_str.clear();
		return;
	}
	std::string text(static_cast<size_t>(nLength) + 1, '\0');
	std::vsnprintf(&text[0], text.size(), pszFormat, args);
	text.resize(static_cast<size_t>(nLength));
	m_str.swap(text);
}

int CString::Replace(char chOld, char chNew)
{
	int nCount = 0;
	for (char& ch : m_str) {
		if (ch == chOld) {
			ch = chNew;
			++nCount;
		}
	}
	return nCount;
}

int CString::Replace(LPCTSTR pszOld, LPCTSTR pszNew)
{
	const size_t nOldLength = pszOld ? std::strlen(pszOld) : 0;
	if (nOldLength == 0)
		return 0;
	const char* pszWith = pszNew ? pszNew : "";

	std::string result;
	result.reserve(m_str.size());
	int nCount = 0;
	size_t nStart = 0;
	for (size_t nFound = m_str.find(pszOld, 0, nOldLength); nFound != std::string::npos;
		 nFound = m_str.find(pszOld, nStart, nOldLength)) {
		result.append(m_str, nStart, nFound - nStart);
		result += pszWith;
		nStart = nFound + nOldLength;
		++nCount;
	}
	if (nCount == 0)
		return 0;
	result.append(m_str, nStart, std::string::npos);
	m_str.swap(result);
	return nCount;
}

LPTSTR CString::GetBuffer(int nMinBufLength)
{
	if (nMinBufLength > GetLength())
		m_str.resize(static_cast<size_t>(nMinBufLength));
	return &m_str[0];
}

void CString::ReleaseBuffer(int nNewLength)
{
	if (nNewLength < 0)
		nNewLength = static_cast<int>(std::strlen(m_str.c_str()));
	if (nNewLength <= GetLength())
		m_str.resize(static_cast<size_t>(nNewLength));
}

#ifdef _WIN32
BOOL CString::LoadString(UINT nID)
{
	// A string resource lives in block nID / 16 + 1 at index nID % 16, stored as
	// length-prefixed UTF-16; reading it directly avoids guessing a buffer size.
	m_str.clear();
	HINSTANCE hInst = GetModuleHandleA(nullptr);
	HRSRC hRes = FindResourceA(hInst, MAKEINTRESOURCEA(nID / 16 + 1), RT_STRING);
	if (!hRes)
		return FALSE;
	HGLOBAL hData = LoadResource(hInst, hRes);
	const WCHAR* p = hData ? static_cast<const WCHAR*>(LockResource(hData)) : nullptr;
	if (!p)
		return FALSE;
	const WCHAR* pEnd = p + SizeofResource(hInst, hRes) / sizeof(WCHAR);
	for (UINT i = 0; i < nID % 16; ++i) {
		if (p >= pEnd)
			return FALSE;
		p += 1 + *p;
	}
	if (p >= pEnd || *p == 0 || p + 1 + *p > pEnd)
		return FALSE;
	const int nWide = *p;
	const int nBytes = WideCharToMultiByte(CP_ACP, 0, p + 1, nWide, nullptr, 0, nullptr, nullptr);
	m_str.resize(static_cast<size_t>(nBytes));
	WideCharToMultiByte(CP_ACP, 0, p + 1, nWide, &m_str[0], nBytes, nullptr, nullptr);
	return TRUE;
}
#endif
