// CFrostpaneDlg: the borderless cover window that shows the capture over the primary monitor
// until a key or a click closes it.
#pragma once

#include "afxwin.h"
#include "resource.h"

class CFrostpaneDlg : public CDialog
{
public:
	explicit CFrostpaneDlg(CWnd* pParent = nullptr);
	~CFrostpaneDlg() override;

	enum { IDD = IDD_FROSTPANE_DIALOG };

	// Appends a separator and the About entry (string nIDText) to pSysMenu; adds nothing when
	// there is no menu or the string is missing or empty.
	static void AppendAboutEntry(CMenu* pSysMenu, UINT nIDText);

protected:
	// Overrides
	// Called when the window's controls and members are exchanged; the window has none.
	void DoDataExchange(CDataExchange* pDX) override;
	// Called when the window is made: loads the capture, adds the About entry, maximises, starts the timer.
	BOOL OnInitDialog() override;
	// Called when a key, a click, Esc or Enter ends the window.
	void OnCancel() override;

	// Message handlers
	// Called when a system command arrives: the About entry opens the About box.
	afx_msg void OnSysCommand(UINT nID, LPARAM lParam);
	// Called when the window must be repainted: the icon when minimised, the capture once it has been drawn.
	afx_msg void OnPaint();
	// Called when the minimised window is dragged: the application icon.
	afx_msg HCURSOR OnQueryDragIcon();
	// Called when the left button is pressed on the window: it closes.
	afx_msg void OnLButtonDown(UINT nFlags, CPoint point);
	// Called when the right button is pressed on the window: it closes.
	afx_msg void OnRButtonDown(UINT nFlags, CPoint point);
	// Called when a key the dialog filter lets through is pressed: the window closes.
	afx_msg void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
	// Called when the draw timer fires, once, 100 ms after the window was made: the capture is drawn.
	afx_msg void OnTimer(UINT_PTR nIDEvent);

	// Draws the capture on the client area once the timer has fired.
	void DrawCapturedImage();
	// Copies the capture 1:1 from the top-left corner; black where there is no capture.
	void PaintCapture(CDC* pDC);

	// Members
	CBitmap m_bitmap;
	CString m_strImagePath;
	HICON m_hIcon;
	// Set once the timer has drawn the capture; later repaints draw it again.
	bool m_bCaptureDrawn = false;

	DECLARE_MESSAGE_MAP()
};
