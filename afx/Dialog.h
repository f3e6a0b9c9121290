// CDialog: a dialog made from a template and run modally in a loop that applies the dialog filter.
#pragma once

#include "Wnd.h"

// Data exchange between a dialog's controls and its members; the program's dialogs have none.
class CDataExchange
{};

class CDialog : public CWnd
{
public:
	explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

	// Creates the dialog, runs it until OnOK or OnCancel ends it, and returns their result
	// (IDOK or IDCANCEL); -1 when the template cannot be found or the window not made.
	virtual INT_PTR DoModal();
	void EndDialog(int nResult);

	// Called before the dialog is first shown; TRUE leaves the focus to the dialog manager.
	virtual BOOL OnInitDialog();
	BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

protected:
	virtual void OnOK();
	virtual void OnCancel();
	virtual void DoDataExchange(CDataExchange* pDX);
	// Passes keyboard and mouse messages for the dialog through the platform's dialog filter.
	virtual BOOL PreTranslateMessage(MSG* pMsg);

	LPCTSTR m_lpszTemplateName;
	CWnd* m_pParentWnd;

private:
	friend INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM);
	BOOL HandleInitDialog();
	void RunModalLoop();

	bool m_bContinueModal = false;
	int m_nModalResult = -1;

	DECLARE_MESSAGE_MAP()
};

INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
