// CAboutDlg: the About box, opened from the cover window's system menu.
#pragma once

#include "afxwin.h"
#include "resource.h"

class CAboutDlg : public CDialog
{
public:
	CAboutDlg();

	enum { IDD = IDD_ABOUTBOX };

protected:
	// Called when the box's controls and members are exchanged; the box has none.
	void DoDataExchange(CDataExchange* pDX) override;

	DECLARE_MESSAGE_MAP()
};
