// CWnd: the window procedure that feeds message maps, and thin wrappers over USER32.
#include "Wnd.h"

#include <algorithm>
#include <map>

#include "Menu.h"
#include "WinApp.h"

namespace {

std::map<HWND, CWnd*>& PermanentMap()
{
	static std::map<HWND, CWnd*> map;
	return map;
}

// The message being handled, for Default(); saved and restored around nested sends.
MSG g_lastSentMsg;

} // namespace

CWnd::~CWnd()
{
	if (m_hWnd && ::IsWindow(m_hWnd))
		DestroyWindow();
	Detach();
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd)
{
	auto it = PermanentMap().find(hWnd);
	return it == PermanentMap().end() ? nullptr : it->second;
}

BOOL CWnd::SubclassWindow(HWND hWnd)
{
	if (!hWnd || m_hWnd)
		return FALSE;
	m_hWnd = hWnd;
	PermanentMap()[hWnd] = this;
	m_pfnSuper = reinterpret_cast<WNDPROC>(
		::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc)));
	return TRUE;
}

void CWnd::Detach()
{
	if (m_hWnd)
		PermanentMap().erase(m_hWnd);
	m_hWnd = nullptr;
}

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
	CWnd* pWnd = CWnd::FromHandlePermanent(hWnd);
	if (!pWnd)
		return ::DefWindowProcA(hWnd, message, wParam, lParam);

	const MSG oldState = g_lastSentMsg;
	g_lastSentMsg = {hWnd, message, wParam, lParam, 0, {0, 0}};
	const LRESULT lResult = pWnd->WindowProc(message, wParam, lParam);
	g_lastSentMsg = oldState;

	if (message == WM_NCDESTROY)
		pWnd->Detach();
	return lResult;
}

LRESULT CWnd::Default()
{
	return DefWindowProc(g_lastSentMsg.message, g_lastSentMsg.wParam, g_lastSentMsg.lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
	if (m_pfnSuper)
		return ::CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
	return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
	LRESULT lResult = 0;
	if (!OnWndMsg(message, wParam, lParam, &lResult))
		lResult = DefWindowProc(message, wParam, lParam);
	return lResult;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
	if (message == WM_COMMAND) {
		if (!OnCommand(wParam, lParam))
			return FALSE;
		*pResult = 0;
		return TRUE;
	}

	const AFX_MSGMAP_ENTRY* pEntry = FindMessageEntry(message, 0, 0);
	if (!pEntry)
		return FALSE;

	LRESULT lResult = 0;
	switch (pEntry->nSig) {
	case AfxSig_vv:
		(this->*pEntry->pfn.pfn_vv)();
		break;
	case AfxSig_vwl:
		(this->*pEntry->pfn.pfn_vwl)(static_cast<UINT>(wParam), lParam);
		break;
	case AfxSig_hv:
		lResult = reinterpret_cast<LRESULT>((this->*pEntry->pfn.pfn_hv)());
		break;
	case AfxSig_vwp:
		(this->*pEntry->pfn.pfn_vwp)(static_cast<UINT>(wParam), CPoint(lParam));
		break;
	case AfxSig_vwww:
		(this->*pEntry->pfn.pfn_vwww)(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
		break;
	case AfxSig_vw:
		(this->*pEntry->pfn.pfn_vw)(wParam);
		break;
	default:
		return FALSE;
	}
	*pResult = lResult;
	return TRUE;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM /*lParam*/)
{
	const UINT nID = LOWORD(wParam);
	const int nCode = HIWORD(wParam);
	if (OnCmdMsg(nID, nCode))
		return TRUE;
	// Commands the window does not handle go on to the application object.
	CWinApp* pApp = AfxGetApp();
	return pApp && pApp->OnCmdMsg(nID, nCode);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
	return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }

BOOL CWnd::DestroyWindow()
{
	if (!m_hWnd)
		return FALSE;
	return ::DestroyWindow(m_hWnd);
}

BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }

void CWnd::GetClientRect(LPRECT lpRect) const { ::GetClientRect(m_hWnd, lpRect); }

void CWnd::GetWindowRect(LPRECT lpRect) const { ::GetWindowRect(m_hWnd, lpRect); }

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer)
{
	return ::SetTimer(m_hWnd, nIDEvent, nElapse, lpfnTimer);
}

BOOL CWnd::KillTimer(UINT_PTR nIDEvent) { return ::KillTimer(m_hWnd, nIDEvent); }

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon)
{
	return reinterpret_cast<HICON>(
		SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
}

CMenu* CWnd::GetSystemMenu(BOOL bRevert) const { return CMenu::FromHandle(::GetSystemMenu(m_hWnd, bRevert)); }

void CWnd::CenterWindow()
{
	HWND hWndCenter = ::GetWindow(m_hWnd, GW_OWNER);

	RECT rcArea;
	::SystemParametersInfoA(SPI_GETWORKAREA, 0, &rcArea, 0);
	RECT rcCenter = rcArea;
	if (hWndCenter && ::IsWindowVisible(hWndCenter) && !::IsIconic(hWndCenter))
		::GetWindowRect(hWndCenter, &rcCenter);

	RECT rcWnd;
	::GetWindowRect(m_hWnd, &rcWnd);
	const int cx = rcWnd.right - rcWnd.left;
	const int cy = rcWnd.bottom - rcWnd.top;
	LONG x = (rcCenter.left + rcCenter.right) / 2 - cx / 2;
	LONG y = (rcCenter.top + rcCenter.bottom) / 2 - cy / 2;

	// Keep the whole window on the work area.
	x = std::max(rcArea.left, std::min(x, rcArea.right - cx));
	y = std::max(rcArea.top, std::min(y, rcArea.bottom - cy));
	::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWnd::WinHelp(DWORD_PTR dwData, UINT nCmd)
{
	CWinApp* pApp = AfxGetApp();
	::WinHelpA(m_hWnd, pApp ? pApp->m_pszHelpFilePath : nullptr, nCmd, dwData);
}

void CWnd::OnSysCommand(UINT, LPARAM) { Default(); }
void CWnd::OnPaint() { Default(); }
HCURSOR CWnd::OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }
void CWnd::OnLButtonDown(UINT, CPoint) { Default(); }
void CWnd::OnRButtonDown(UINT, CPoint) { Default(); }
void CWnd::OnKeyDown(UINT, UINT, UINT) { Default(); }
void CWnd::OnTimer(UINT_PTR) { Default(); }
