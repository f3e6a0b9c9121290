// FrostpaneStamped: Frostpane itself, its application object and start-up unchanged, with time
// stamps taken from outside the program's code: the grabber's observer for the capture, thread hooks
// for the cover window's creation and initialisation, and a window procedure wrapped around the cover
// window's for its first paint and its timer. When the program has ended, prints one line a stamp:
//   stamp <wall-clock ns> <resident KiB> <peak resident KiB> <stage>
// scripts/bench --profile lines these up with what it saw on the screen.
#include <windows.h>

#include <string>
#include <vector>

#include "BenchIo.h"
#include "FrostpaneApp.h"

namespace {

struct CStamp {
	std::string strStage;
	long long llRealtimeNs;
	ULONG_PTR ulResidentKb;
	ULONG_PTR ulPeakKb;
};

// Kept in memory while the program runs, printed when it has ended.
std::vector<CStamp> g_stamps;

void Stamp(const char* pszStage)
{
	CStamp stamp = {pszStage, RealtimeNs(), 0, 0};
	ResidentKb(&stamp.ulResidentKb, &stamp.ulPeakKb);
	g_stamps.push_back(stamp);
}

class CStampingObserver : public ICaptureObserver
{
public:
	void OnCaptureStep(CaptureStep step, bool bEnd) override
	{
		static const char* const kBegins[] = {
			"capture begins", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
		static const char* const kEnds[] = {nullptr, "capture: screen bitmap made", "capture: screen copied",
			nullptr, "capture: file named, folder made", "capture: pixel buffer allocated",
			"capture: pixels read", "capture: file written", "capture ends (file renamed)"};
		const char* pszStage = (bEnd ? kEnds : kBegins)[static_cast<size_t>(step)];
		if (pszStage)
			Stamp(pszStage);
	}
};

HWND g_hCover = nullptr;
WNDPROC g_pfnCoverProc = nullptr;
bool g_bPainted = false;

LRESULT CALLBACK StampingCoverProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
	const bool bFirstPaint = uMsg == WM_PAINT && !g_bPainted;
	if (bFirstPaint)
		Stamp("cover window: first WM_PAINT begins");
	else if (uMsg == WM_TIMER)
		Stamp("cover window: WM_TIMER arrives");
	const LRESULT lResult = ::CallWindowProcA(g_pfnCoverProc, hWnd, uMsg, wParam, lParam);
	if (bFirstPaint) {
		g_bPainted = true;
		Stamp("cover window: first WM_PAINT ends");
	} else if (uMsg == WM_TIMER) {
		::GdiFlush();
		Stamp("cover window: capture drawn");
	}
	return lResult;
}

bool IsDialogClass(LPCSTR pszClass)
{
	const WORD kDialogAtom = 0x8002;
	return IS_INTRESOURCE(pszClass) ? LOWORD(reinterpret_cast<ULONG_PTR>(pszClass)) == kDialogAtom
									: ::lstrcmpA(pszClass, "#32770") == 0;
}

LRESULT CALLBACK CbtHook(int nCode, WPARAM wParam, LPARAM lParam)
{
	if (nCode == HCBT_CREATEWND && !g_hCover &&
		IsDialogClass(reinterpret_cast<const CBT_CREATEWNDA*>(lParam)->lpcs->lpszClass))
		Stamp("cover window: being created");
	return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
}

LRESULT CALLBACK CallWndHook(int nCode, WPARAM wParam, LPARAM lParam)
{
	const auto pMsg = reinterpret_cast<const CWPSTRUCT*>(lParam);
	if (nCode == HC_ACTION && pMsg->message == WM_INITDIALOG && !g_hCover)
		Stamp("cover window: OnInitDialog begins");
	return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
}

// Once the program has made the cover window its own, the stamping procedure goes around it.
LRESULT CALLBACK CallWndRetHook(int nCode, WPARAM wParam, LPARAM lParam)
{
	const auto pMsg = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
	if (nCode == HC_ACTION && pMsg->message == WM_INITDIALOG && !g_hCover) {
		Stamp("cover window: OnInitDialog ends");
		g_hCover = pMsg->hwnd;
		g_pfnCoverProc = reinterpret_cast<WNDPROC>(
			::SetWindowLongPtrA(g_hCover, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&StampingCoverProc)));
	}
	return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
	Stamp("WinMain begins");
	CStampingObserver observer;
	static_cast<CFrostpaneApp*>(AfxGetApp())->m_grabber.SetObserver(&observer);
	const DWORD dwThread = ::GetCurrentThreadId();
	HHOOK hCbt = ::SetWindowsHookExA(WH_CBT, CbtHook, nullptr, dwThread);
	HHOOK hCallWnd = ::SetWindowsHookExA(WH_CALLWNDPROC, CallWndHook, nullptr, dwThread);
	HHOOK hCallWndRet = ::SetWindowsHookExA(WH_CALLWNDPROCRET, CallWndRetHook, nullptr, dwThread);

	const int nResult = AfxWinMain(hInstance, hPrevInstance, lpCmdLine, nCmdShow);
	Stamp("cover window closed, start-up returned");

	::UnhookWindowsHookEx(hCallWndRet);
	::UnhookWindowsHookEx(hCallWnd);
	::UnhookWindowsHookEx(hCbt);
	static_cast<CFrostpaneApp*>(AfxGetApp())->m_grabber.SetObserver(nullptr);
	Print("stamp %lld 0 0 process created\n", ProcessCreationNs());
	for (const auto& stamp : g_stamps)
		Print("stamp %lld %Iu %Iu %s\n", stamp.llRealtimeNs, stamp.ulResidentKb, stamp.ulPeakKb,
			stamp.strStage.c_str());
	return nResult;
}
