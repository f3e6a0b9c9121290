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
	void DoDataExchange(CDataExchange* pDX) override;
	BOOL OnInitDialog() override;
	void OnCancel() override;

	// Message handlers
	afx_msg void OnSysCommand(UINT nID, LPARAM lParam);
	afx_msg void OnPaint();
	afx_msg HCURSOR OnQueryDragIcon();
	afx_msg void OnLButtonDown(UINT nFlags, CPoint point);
	afx_msg void OnRButtonDown(UINT nFlags, CPoint point);
	afx_msg void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
	afx_msg void OnTimer(UINT_PTR nIDEvent);
	DECLARE_MESSAGE_MAP()

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
};
