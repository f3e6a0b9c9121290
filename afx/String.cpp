// CString: formatting, replacement and buffer access.
#include "String.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

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

#ifdef _WIN32
bool AfxIsLeadByte(unsigned char ch) { return ::IsDBCSLeadByte(ch) != FALSE; }
#else
namespace {
bool g_bLeadByte[256];
}

bool AfxIsLeadByte(unsigned char ch) { return g_bLeadByte[ch]; }

void AfxSetLeadByteRanges(const unsigned char* pRanges)
{
	std::fill(std::begin(g_bLeadByte), std::end(g_bLeadByte), false);
	for (; pRanges && (pRanges[0] || pRanges[1]); pRanges += 2)
		std::fill(g_bLeadByte + pRanges[0], g_bLeadByte + pRanges[1] + 1, true);
}
#endif

size_t CString::CharLength(size_t nIndex) const
{
	// A lead byte at the very end has no trail byte and stands alone.
	return AfxIsLeadByte(static_cast<unsigned char>(m_str[nIndex])) && nIndex + 1 < m_str.size() ? 2 : 1;
}

int CString::Replace(char chOld, char chNew)
{
	int nCount = 0;
	if (chOld == chNew)
		return 0;
	for (size_t i = 0; i < m_str.size();) {
		// The character's length is the text's, before a lead byte may be written over it.
		const size_t nLength = CharLength(i);
		if (m_str[i] == chOld) {
			m_str[i] = chNew;
			++nCount;
		}
		i += nLength;
	}
	return nCount;
}

int CString::Replace(LPCTSTR pszOld, LPCTSTR pszNew)
{
	const size_t nOldLength = pszOld ? std::strlen(pszOld) : 0;
	if (nOldLength == 0)
		return 0;
	const char* pszWith = pszNew ? pszNew : "";

	// Occurrences are looked for only where a character begins.
	std::string result;
	result.reserve(m_str.size());
	int nCount = 0;
	for (size_t i = 0; i < m_str.size();) {
		if (m_str.compare(i, nOldLength, pszOld, nOldLength) == 0) {
			result += pszWith;
			i += nOldLength;
			++nCount;
		} else {
			const size_t nLength = CharLength(i);
			result.append(m_str, i, nLength);
			i += nLength;
		}
	}
	if (nCount != 0)
		m_str.swap(result);
	return nCount;
}

int CString::ReverseFind(char ch) const
{
	int nFound = -1;
	for (size_t i = 0; i < m_str.size(); i += CharLength(i)) {
		if (m_str[i] == ch)
			nFound = static_cast<int>(i);
	}
	return nFound;
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
