// CDC and its client-area and paint variants.
#include "DC.h"

#include "Wnd.h"

BOOL CDC::Attach(HDC hDC)
{
	if (!hDC || m_hDC)
		return FALSE;
	m_hDC = hDC;
	return TRUE;
}

BOOL CDC::DeleteDC() { return m_hDC ? ::DeleteDC(Detach()) : FALSE; }

BOOL CDC::CreateCompatibleDC(CDC* pDC)
{
	return !m_hDC && Attach(::CreateCompatibleDC(pDC ? pDC->m_hDC : nullptr));
}

int CDC::GetDeviceCaps(int nIndex) const { return ::GetDeviceCaps(m_hDC, nIndex); }

CBitmap* CDC::SelectObject(CBitmap* pBitmap)
{
	HGDIOBJ hOld = ::SelectObject(m_hDC, pBitmap ? pBitmap->GetSafeHandle() : nullptr);
	if (hOld == HGDI_ERROR)
		return nullptr;
	return CBitmap::FromHandle(static_cast<HBITMAP>(hOld));
}

BOOL CDC::BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc, DWORD dwRop)
{
	return ::BitBlt(m_hDC, x, y, nWidth, nHeight, pSrcDC ? pSrcDC->m_hDC : nullptr, xSrc, ySrc, dwRop);
}

void CDC::FillSolidRect(int x, int y, int cx, int cy, COLORREF clr)
{
	const COLORREF clrOld = ::SetBkColor(m_hDC, clr);
	const RECT rect = {x, y, x + cx, y + cy};
	::ExtTextOutA(m_hDC, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
	::SetBkColor(m_hDC, clrOld);
}

BOOL CDC::DrawIcon(int x, int y, HICON hIcon) { return ::DrawIcon(m_hDC, x, y, hIcon); }

CClientDC::CClientDC(CWnd* pWnd) : m_hWnd(pWnd ? pWnd->m_hWnd : nullptr) { Attach(::GetDC(m_hWnd)); }

CClientDC::~CClientDC()
{
	if (m_hDC)
		::ReleaseDC(m_hWnd, Detach());
}

CPaintDC::CPaintDC(CWnd* pWnd) : m_ps(), m_hWnd(pWnd->m_hWnd) { Attach(::BeginPaint(m_hWnd, &m_ps)); }

// EndPaint whether or not BeginPaint gave a context, as the window expects one after the other.
CPaintDC::~CPaintDC()
{
	::EndPaint(m_hWnd, &m_ps);
	Detach();
}

CSelectObject::CSelectObject(CDC* pDC, CBitmap* pBitmap) : m_pDC(pDC)
{
	CBitmap* pOldBitmap = pDC->SelectObject(pBitmap);
	m_hOldObject = pOldBitmap ? pOldBitmap->GetSafeHandle() : nullptr;
}

CSelectObject::~CSelectObject()
{
	if (m_hOldObject)
		::SelectObject(*m_pDC, m_hOldObject);
}
