// CWnd: a window whose messages pass through a message map before default processing.
#pragma once

#include "CmdTarget.h"
#include "Point.h"
#include "Rect.h"

class CMenu;

class CWnd : public CCmdTarget
{
public:
	CWnd() = default;
	~CWnd() override;

	HWND m_hWnd = nullptr;

	// The CWnd that currently handles hWnd's messages, or null.
	static CWnd* FromHandlePermanent(HWND hWnd);

	LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
	BOOL ShowWindow(int nCmdShow);
	BOOL DestroyWindow();
	BOOL IsIconic() const;
	void GetClientRect(LPRECT lpRect) const;
	void GetWindowRect(LPRECT lpRect) const;
	UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer);
	BOOL KillTimer(UINT_PTR nIDEvent);
	HICON SetIcon(HICON hIcon, BOOL bBigIcon);
	// The window's system menu, or null where the window has none.
	CMenu* GetSystemMenu(BOOL bRevert) const;
	// Centres the window over its owner, or over the work area where it has none.
	void CenterWindow();
	void WinHelp(DWORD_PTR dwData, UINT nCmd = HELP_CONTEXT);

	// Takes over hWnd's window procedure so its messages reach this object's message map.
	BOOL SubclassWindow(HWND hWnd);

protected:
	// The default processing of the message being handled.
	LRESULT Default();
	virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
	virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
	virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
	virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);

	// Default handlers: each gives its message the default processing.
	afx_msg void OnSysCommand(UINT nID, LPARAM lParam);
	afx_msg void OnPaint();
	afx_msg HCURSOR OnQueryDragIcon();
	afx_msg void OnLButtonDown(UINT nFlags, CPoint point);
	afx_msg void OnRButtonDown(UINT nFlags, CPoint point);
	afx_msg void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
	afx_msg void OnTimer(UINT_PTR nIDEvent);

	WNDPROC m_pfnSuper = nullptr;

private:
	friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);
	void Detach();
};

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// clang-format off
#define ON_WM_SYSCOMMAND()                                                                               \
	{WM_SYSCOMMAND, 0, 0, 0, AfxSig_vwl,                                                                 \
	 static_cast<void (CWnd::*)(UINT, LPARAM)>(&ThisClass::OnSysCommand)},
#define ON_WM_PAINT()                                                                                    \
	{WM_PAINT, 0, 0, 0, AfxSig_vv,                                                                       \
	 static_cast<void (CWnd::*)()>(&ThisClass::OnPaint)},
#define ON_WM_QUERYDRAGICON()                                                                            \
	{WM_QUERYDRAGICON, 0, 0, 0, AfxSig_hv,                                                               \
	 static_cast<HCURSOR (CWnd::*)()>(&ThisClass::OnQueryDragIcon)},
#define ON_WM_LBUTTONDOWN()                                                                              \
	{WM_LBUTTONDOWN, 0, 0, 0, AfxSig_vwp,                                                                \
	 static_cast<void (CWnd::*)(UINT, CPoint)>(&ThisClass::OnLButtonDown)},
#define ON_WM_RBUTTONDOWN()                                                                              \
	{WM_RBUTTONDOWN, 0, 0, 0, AfxSig_vwp,                                                                \
	 static_cast<void (CWnd::*)(UINT, CPoint)>(&ThisClass::OnRButtonDown)},
#define ON_WM_KEYDOWN()                                                                                  \
	{WM_KEYDOWN, 0, 0, 0, AfxSig_vwww,                                                                   \
	 static_cast<void (CWnd::*)(UINT, UINT, UINT)>(&ThisClass::OnKeyDown)},
#define ON_WM_TIMER()                                                                                    \
	{WM_TIMER, 0, 0, 0, AfxSig_vw,                                                                       \
	 static_cast<void (CWnd::*)(UINT_PTR)>(&ThisClass::OnTimer)},
// clang-format on
