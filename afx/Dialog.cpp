// CDialog: template loading, the modal loop and the OK and Cancel commands.
#include "Dialog.h"

#include "WinApp.h"

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, &CDialog::OnOK)
ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
	: m_lpszTemplateName(MAKEINTRESOURCEA(nIDTemplate)), m_pParentWnd(pParentWnd)
{}

INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM /*wParam*/, LPARAM lParam)
{
	// Every other message reaches the dialog through its subclassed window procedure.
	if (message != WM_INITDIALOG)
		return FALSE;
	CDialog* pDlg = reinterpret_cast<CDialog*>(lParam);
	pDlg->SubclassWindow(hWnd);
	return pDlg->HandleInitDialog();
}

BOOL CDialog::HandleInitDialog()
{
	CRect rectBefore;
	GetWindowRect(&rectBefore);
	const BOOL bResult = OnInitDialog();

	// A dialog that OnInitDialog left where its template put it is centred over its owner.
	CRect rectAfter;
	GetWindowRect(&rectAfter);
	const LONG_PTR dwStyle = ::GetWindowLongPtrA(m_hWnd, GWL_STYLE);
	if (rectAfter == rectBefore && !(dwStyle & (WS_CHILD | DS_CENTER)) && !::IsZoomed(m_hWnd))
		CenterWindow();
	return bResult;
}

INT_PTR CDialog::DoModal()
{
	HINSTANCE hInst = AfxFindResourceHandle(m_lpszTemplateName, RT_DIALOG);
	HRSRC hResource = ::FindResourceA(hInst, m_lpszTemplateName, RT_DIALOG);
	HGLOBAL hTemplate = hResource ? ::LoadResource(hInst, hResource) : nullptr;
	auto pTemplate = hTemplate ? static_cast<LPCDLGTEMPLATEA>(::LockResource(hTemplate)) : nullptr;
	if (!pTemplate)
		return -1;

	// A dialog without a parent is owned by the main window, unless it is the main window.
	HWND hWndParent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
	CWnd* pMainWnd = AfxGetMainWnd();
	if (!hWndParent && pMainWnd && pMainWnd != this)
		hWndParent = pMainWnd->m_hWnd;
	const bool bEnableParent = hWndParent && ::IsWindowEnabled(hWndParent);
	if (bEnableParent)
		::EnableWindow(hWndParent, FALSE);

	m_nModalResult = -1;
	m_bContinueModal = true;
	HWND hWnd = ::CreateDialogIndirectParamA(
		hInst, pTemplate, hWndParent, &AfxDlgProc, reinterpret_cast<LPARAM>(this));
	if (hWnd && m_bContinueModal) {
		if (!::IsWindowVisible(hWnd))
			::ShowWindow(hWnd, SW_SHOWNORMAL);
		RunModalLoop();
	}

	if (bEnableParent)
		::EnableWindow(hWndParent, TRUE);
	if (hWndParent && hWnd && ::GetActiveWindow() == hWnd)
		::SetActiveWindow(hWndParent);
	if (m_hWnd)
		DestroyWindow();
	else if (hWnd)
		::DestroyWindow(hWnd);
	return m_nModalResult;
}

void CDialog::RunModalLoop()
{
	MSG msg;
	while (m_bContinueModal) {
		const BOOL bResult = ::GetMessageA(&msg, nullptr, 0, 0);
		if (bResult == 0) {
			// Leave WM_QUIT for the loop outside this one.
			::PostQuitMessage(static_cast<int>(msg.wParam));
			break;
		}
		if (bResult == -1)
			break;
		if (!PreTranslateMessage(&msg)) {
			::TranslateMessage(&msg);
			::DispatchMessageA(&msg);
		}
	}
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg)
{
	const bool bKey = pMsg->message >= WM_KEYFIRST && pMsg->message <= WM_KEYLAST;
	const bool bMouse = pMsg->message >= WM_MOUSEFIRST && pMsg->message <= WM_MOUSELAST;
	if (!m_hWnd || !(bKey || bMouse))
		return FALSE;
	return ::IsDialogMessageA(m_hWnd, pMsg);
}

void CDialog::EndDialog(int nResult)
{
	if (m_bContinueModal) {
		m_bContinueModal = false;
		m_nModalResult = nResult;
	}
	// Wakes the modal loop, which sees the flag and ends.
	if (m_hWnd)
		::PostMessageA(m_hWnd, WM_NULL, 0, 0);
}

BOOL CDialog::OnInitDialog()
{
	UpdateData(FALSE);
	return TRUE;
}

BOOL CDialog::UpdateData(BOOL /*bSaveAndValidate*/)
{
	CDataExchange dx;
	DoDataExchange(&dx);
	return TRUE;
}

void CDialog::DoDataExchange(CDataExchange* /*pDX*/) {}

void CDialog::OnOK()
{
	if (UpdateData(TRUE))
		EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }
