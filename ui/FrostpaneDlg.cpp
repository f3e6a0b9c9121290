// CFrostpaneDlg: loads the recorded capture, covers the primary monitor with it and closes on
// any key or a left or right click.
#include "FrostpaneDlg.h"

#include <algorithm>
#include <memory>

#include "AboutDlg.h"
#include "BmpFormat.h"
#include "Settings.h"

namespace {

const UINT_PTR kDrawTimerId = 1;
const UINT kDrawDelayMs = 100;

// Whether the file at pszPath is a whole BMP. The platform's loader reads past the end of a
// truncated one and brings the program down; such a file, like any that is not a BMP, shows black.
bool IsCompleteBmp(LPCTSTR pszPath)
{
	const CFileHandle file(
		::CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
			OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
	BYTE head[sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)];
	DWORD dwRead = 0;
	LARGE_INTEGER size = {};
	return file != INVALID_HANDLE_VALUE && ::ReadFile(file, head, sizeof(head), &dwRead, nullptr) &&
		   ::GetFileSizeEx(file, &size) &&
		   IsCompleteBmpFile(head, dwRead, static_cast<uint64_t>(size.QuadPart));
}

} // namespace

CFrostpaneDlg::CFrostpaneDlg(CWnd* pParent)
	: CDialog(CFrostpaneDlg::IDD, pParent), m_hIcon(AfxGetApp()->LoadIcon(IDR_MAINFRAME))
{}

CFrostpaneDlg::~CFrostpaneDlg() { m_bitmap.DeleteObject(); }

void CFrostpaneDlg::DoDataExchange(CDataExchange* pDX) { CDialog::DoDataExchange(pDX); }

BEGIN_MESSAGE_MAP(CFrostpaneDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_WM_LBUTTONDOWN()
ON_WM_RBUTTONDOWN()
ON_WM_KEYDOWN()
ON_WM_TIMER()
END_MESSAGE_MAP()

BOOL CFrostpaneDlg::OnInitDialog()
{
	CDialog::OnInitDialog();

	m_strImagePath = AfxGetApp()->GetProfileString(kSettingsSection, kScreenShotFilePathEntry, "");
	if (IsCompleteBmp(m_strImagePath))
		m_bitmap.Attach(
			::LoadImageA(AfxGetInstanceHandle(), m_strImagePath, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));

	AppendAboutEntry(GetSystemMenu(FALSE), IDS_ABOUTBOX);

	SetIcon(m_hIcon, TRUE);
	SetIcon(m_hIcon, FALSE);

	ShowWindow(SW_MAXIMIZE);
	SetTimer(kDrawTimerId, kDrawDelayMs, nullptr);
	return TRUE;
}

void CFrostpaneDlg::AppendAboutEntry(CMenu* pSysMenu, UINT nIDText)
{
	if (!pSysMenu)
		return;
	CString strAboutMenu;
	strAboutMenu.LoadString(nIDText);
	if (strAboutMenu.IsEmpty())
		return;
	pSysMenu->AppendMenu(MF_SEPARATOR);
	pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, strAboutMenu);
}

void CFrostpaneDlg::OnSysCommand(UINT nID, LPARAM lParam)
{
	if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
		CAboutDlg dlgAbout;
		dlgAbout.DoModal();
	} else {
		CDialog::OnSysCommand(nID, lParam);
	}
}

void CFrostpaneDlg::OnPaint()
{
	if (IsIconic()) {
		CPaintDC dc(this);
		SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);

		const int cxIcon = ::GetSystemMetrics(SM_CXICON);
		const int cyIcon = ::GetSystemMetrics(SM_CYICON);
		CRect rect;
		GetClientRect(&rect);
		const int x = (rect.Width() - cxIcon + 1) / 2;
		const int y = (rect.Height() - cyIcon + 1) / 2;
		dc.DrawIcon(x, y, m_hIcon);
	} else if (m_bCaptureDrawn) {
		// Whatever covered the window, the frozen picture comes back.
		CPaintDC dc(this);
		PaintCapture(&dc);
	} else {
		CDialog::OnPaint();
	}
}

HCURSOR CFrostpaneDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

void CFrostpaneDlg::OnLButtonDown(UINT nFlags, CPoint point)
{
	OnCancel();
	CDialog::OnLButtonDown(nFlags, point);
}

void CFrostpaneDlg::OnRButtonDown(UINT nFlags, CPoint point)
{
	OnCancel();
	CDialog::OnRButtonDown(nFlags, point);
}

void CFrostpaneDlg::OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags)
{
	OnCancel();
	CDialog::OnKeyDown(nChar, nRepCnt, nFlags);
}

void CFrostpaneDlg::OnCancel() { CDialog::OnCancel(); }

void CFrostpaneDlg::OnTimer(UINT_PTR nIDEvent)
{
	KillTimer(nIDEvent);
	DrawCapturedImage();
	CDialog::OnTimer(nIDEvent);
}

void CFrostpaneDlg::DrawCapturedImage()
{
	CClientDC dc(this);
	PaintCapture(&dc);
	m_bCaptureDrawn = true;
}

void CFrostpaneDlg::PaintCapture(CDC* pDC)
{
	CRect rect;
	GetClientRect(&rect);
	const int nWidth = rect.Width();
	const int nHeight = rect.Height();

	BITMAP bm = {};
	if (!m_bitmap.GetSafeHandle() || !::GetObjectA(m_bitmap, sizeof(bm), &bm))
		bm.bmWidth = bm.bmHeight = 0;
	const int cxCopy = std::min(nWidth, static_cast<int>(bm.bmWidth));
	const int cyCopy = std::min(nHeight, static_cast<int>(bm.bmHeight));

	if (cxCopy > 0 && cyCopy > 0) {
		// The memory context is deleted with the capture still selected, which leaves the capture free to be
		// selected again by the next repaint.
		auto pMemDC = std::make_unique<CDC>();
		pMemDC->CreateCompatibleDC(pDC);
		pMemDC->SelectObject(&m_bitmap);
		pDC->BitBlt(0, 0, cxCopy, cyCopy, pMemDC.get(), 0, 0, SRCCOPY);
	}
	// Nothing from beyond the capture shows: the rest of the client area is black.
	if (cxCopy < nWidth)
		pDC->FillSolidRect(cxCopy, 0, nWidth - cxCopy, nHeight, RGB(0, 0, 0));
	if (cyCopy < nHeight)
		pDC->FillSolidRect(0, cyCopy, cxCopy, nHeight - cyCopy, RGB(0, 0, 0));
}
