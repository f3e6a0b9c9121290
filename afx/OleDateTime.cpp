// COleDateTime: the current time and its locale text through the variant date conversions.
#include "OleDateTime.h"

#include <oleauto.h>

COleDateTime::COleDateTime(const SYSTEMTIME& systimeSrc)
{
	SYSTEMTIME st = systimeSrc;
	st.wMilliseconds = 0;
	m_bValid = ::SystemTimeToVariantTime(&st, &m_dt) != FALSE;
}

COleDateTime COleDateTime::GetCurrentTime()
{
	SYSTEMTIME st;
	::GetLocalTime(&st);
	return COleDateTime(st);
}

CString COleDateTime::Format(DWORD dwFlags, LCID lcid) const
{
	if (!m_bValid)
		return CString();
	BSTR bstr = nullptr;
	if (FAILED(::VarBstrFromDate(m_dt, lcid, dwFlags, &bstr)) || !bstr)
		return CString();

	const int nWide = static_cast<int>(::SysStringLen(bstr));
	const int nBytes = ::WideCharToMultiByte(CP_ACP, 0, bstr, nWide, nullptr, 0, nullptr, nullptr);
	CString strResult;
	LPTSTR pszBuffer = strResult.GetBuffer(nBytes);
	::WideCharToMultiByte(CP_ACP, 0, bstr, nWide, pszBuffer, nBytes, nullptr, nullptr);
	strResult.ReleaseBuffer(nBytes);
	::SysFreeString(bstr);
	return strResult;
}
