// CaptureBench: times the program's capture against the platform calls no capture can avoid, and
// replays the program's start-up with time stamps. Prints its figures on standard output, one
// fact a line, for scripts/bench to read.
//
//   CaptureBench capture-vs-floor N   N pairs of CScreenGrabber::Capture() and the floor, in turns
//   CaptureBench steps N              the median time of each step of both, over N runs
//   CaptureBench once                 one capture, then the process ends (a whole-process figure)
//   CaptureBench timeline             the program's start-up sequence with a stamp at each stage
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BmpFormat.h"
#include "FrostpaneDlg.h"
#include "ScreenGrabber.h"
#include "Settings.h"
#include "afxdisp.h"
#include "afxwin.h"

namespace {

// The bench keeps its settings apart from the program's.
const char kBenchVendor[] = "Frostpane Bench";
const char kFloorFileName[] = "Capture Bench Floor.bmp";

void Print(const char* pszFormat, ...)
{
	char szLine[512];
	va_list args;
	va_start(args, pszFormat);
	const int nLength = vsnprintf(szLine, sizeof(szLine), pszFormat, args);
	va_end(args);
	if (nLength <= 0)
		return;
	DWORD dwWritten = 0;
	::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), szLine,
	            static_cast<DWORD>(std::min<int>(nLength, sizeof(szLine) - 1)), &dwWritten, nullptr);
}

double NowMs()
{
	static const double dTicksPerMs = [] {
		LARGE_INTEGER freq;
		::QueryPerformanceFrequency(&freq);
		return static_cast<double>(freq.QuadPart) / 1000.0;
	}();
	LARGE_INTEGER count;
	::QueryPerformanceCounter(&count);
	return static_cast<double>(count.QuadPart) / dTicksPerMs;
}

// Nanoseconds since 1970 on the wall clock, which Wine reads from the host's CLOCK_REALTIME, so
// that stamps taken in here line up with those of a host process watching the screen.
long long FileTimeToUnixNs(const FILETIME& ft)
{
	ULARGE_INTEGER t;
	t.LowPart = ft.dwLowDateTime;
	t.HighPart = ft.dwHighDateTime;
	return static_cast<long long>(t.QuadPart - 116444736000000000ULL) * 100;
}

long long RealtimeNs()
{
	typedef VOID(WINAPI * PreciseTimeFn)(LPFILETIME);
	static const PreciseTimeFn pfnPrecise = reinterpret_cast<PreciseTimeFn>(reinterpret_cast<void*>(
	    ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
	FILETIME ft;
	if (pfnPrecise)
		pfnPrecise(&ft);
	else
		::GetSystemTimeAsFileTime(&ft);
	return FileTimeToUnixNs(ft);
}

double Median(std::vector<double> values)
{
	if (values.empty())
		return 0.0;
	std::sort(values.begin(), values.end());
	const size_t n = values.size();
	return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// Adds the time since the previous lap to one named step of a run.
class CLapClock
{
public:
	explicit CLapClock(std::vector<double>* pSteps) : m_pSteps(pSteps), m_dLast(NowMs()) {}
	void Lap(size_t nStep)
	{
		const double dNow = NowMs();
		if (m_pSteps)
			(*m_pSteps)[nStep] += dNow - m_dLast;
		m_dLast = dNow;
	}

private:
	std::vector<double>* m_pSteps;
	double m_dLast;
};

struct CScreenFormat {
	int nWidth;
	int nHeight;
	int nBits;
};

CScreenFormat QueryScreen()
{
	HDC hScreen = ::CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
	CScreenFormat format = {::GetDeviceCaps(hScreen, HORZRES), ::GetDeviceCaps(hScreen, VERTRES),
	                        ::GetDeviceCaps(hScreen, BITSPIXEL) * ::GetDeviceCaps(hScreen, PLANES)};
	::DeleteDC(hScreen);
	return format;
}

const char* const kFloorSteps[] = {"contexts and bitmap", "BitBlt",     "buffer (VirtualAlloc)",
                                   "GetDIBits",           "CreateFile", "WriteFile (one call)",
                                   "CloseHandle",         "release"};

// The floor: only the platform calls a capture cannot avoid. The display's pixels are copied into
// a bitmap of its own format, read into one buffer in the layout the capture's file has, and
// written with one call, the same number of bytes as the capture's file, into the same folder.
void FloorCapture(const CString& strPath, DWORD dwFileBytes, std::vector<double>* pSteps)
{
	CLapClock clock(pSteps);
	HDC hScreen = ::CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
	HDC hMem = ::CreateCompatibleDC(hScreen);
	const int nWidth = ::GetDeviceCaps(hScreen, HORZRES);
	const int nHeight = ::GetDeviceCaps(hScreen, VERTRES);
	const WORD wBits =
	    static_cast<WORD>(::GetDeviceCaps(hScreen, BITSPIXEL) * ::GetDeviceCaps(hScreen, PLANES));
	HBITMAP hBitmap = ::CreateCompatibleBitmap(hScreen, nWidth, nHeight);
	HGDIOBJ hOld = ::SelectObject(hMem, hBitmap);
	clock.Lap(0);

	::BitBlt(hMem, 0, 0, nWidth, nHeight, hScreen, 0, 0, SRCCOPY);
	clock.Lap(1);

	const DWORD dwHeaders = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
	const DWORD dwImage = static_cast<DWORD>(Stride(wBits, nWidth)) * static_cast<DWORD>(nHeight);
	const DWORD dwTotal = std::max(dwFileBytes, dwHeaders + dwImage);
	auto pBuffer =
	    static_cast<LPBYTE>(::VirtualAlloc(nullptr, dwTotal, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
	clock.Lap(2);

	// Room for a full colour table, which the read fills at 8 bits or fewer.
	struct {
		BITMAPINFOHEADER header;
		RGBQUAD colors[256];
	} info = {};
	info.header.biSize = sizeof(BITMAPINFOHEADER);
	info.header.biWidth = nWidth;
	info.header.biHeight = nHeight;
	info.header.biPlanes = 1;
	info.header.biBitCount = wBits;
	info.header.biCompression = BI_RGB;
	if (pBuffer)
		::GetDIBits(hScreen, hBitmap, 0, static_cast<UINT>(nHeight), pBuffer + dwHeaders,
		            reinterpret_cast<LPBITMAPINFO>(&info), DIB_RGB_COLORS);
	clock.Lap(3);

	HANDLE hFile =
	    ::CreateFileA(strPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
	clock.Lap(4);
	if (pBuffer) {
		auto pFileHeader = reinterpret_cast<BITMAPFILEHEADER*>(pBuffer);
		pFileHeader->bfType = 0x4D42;
		pFileHeader->bfSize = dwFileBytes;
		pFileHeader->bfOffBits = dwHeaders;
		memcpy(pBuffer + sizeof(BITMAPFILEHEADER), &info.header, sizeof(BITMAPINFOHEADER));
		DWORD dwWritten = 0;
		::WriteFile(hFile, pBuffer, dwFileBytes, &dwWritten, nullptr);
	}
	clock.Lap(5);
	::CloseHandle(hFile);
	clock.Lap(6);

	if (pBuffer)
		::VirtualFree(pBuffer, 0, MEM_RELEASE);
	::SelectObject(hMem, hOld);
	::DeleteObject(hBitmap);
	::DeleteDC(hMem);
	::DeleteDC(hScreen);
	clock.Lap(7);
}

// One name for each CaptureStep, in its order, and the rest of the call.
const char* const kProgramSteps[] = {"contexts",  "bitmap",       "BitBlt", "CreateBitmapInfo",
                                     "MakeCaptureFileName", "GlobalAlloc", "GetDIBits", "file written",
                                     "rename",    "rest (release)"};

// Adds the time of each step the grabber reports to one run's figures.
class CStepTimer : public ICaptureObserver
{
public:
	explicit CStepTimer(std::vector<double>* pSteps) : m_pSteps(pSteps) {}
	void OnCaptureStep(CaptureStep step, bool bEnd) override
	{
		const double dNow = NowMs();
		if (bEnd)
			(*m_pSteps)[static_cast<size_t>(step)] += dNow - m_dBegin;
		m_dBegin = dNow;
	}

private:
	std::vector<double>* m_pSteps;
	double m_dBegin = 0.0;
};

// CScreenGrabber::Capture() with each of its steps timed by the grabber's observer; the last figure
// is the rest of the call: the release of the graphics objects and what lies between the steps.
CString ProgramCaptureSteps(CScreenGrabber& grabber, std::vector<double>* pSteps)
{
	CStepTimer timer(pSteps);
	grabber.SetObserver(&timer);
	const double dStart = NowMs();
	const CString strResult = grabber.Capture();
	double dRest = NowMs() - dStart;
	grabber.SetObserver(nullptr);
	for (size_t s = 0; s + 1 < pSteps->size(); ++s)
		dRest -= (*pSteps)[s];
	pSteps->back() = dRest;
	return strResult;
}

DWORD FileBytes(const CString& strPath)
{
	WIN32_FILE_ATTRIBUTE_DATA data;
	if (strPath.IsEmpty() || !::GetFileAttributesExA(strPath, GetFileExInfoStandard, &data))
		return 0;
	return data.nFileSizeLow;
}

// The floor's file goes into the folder the capture writes to, next to the capture's file.
CString FloorPath(const CString& strCapturePath)
{
	const std::string strPath = static_cast<LPCTSTR>(strCapturePath);
	return CString((strPath.substr(0, strPath.rfind('\\') + 1) + kFloorFileName).c_str());
}

// Each capture and each floor run writes a new file: the one before is removed, untimed.
void RemoveFile(const CString& strPath)
{
	if (!strPath.IsEmpty())
		::DeleteFileA(strPath);
}

int RunCaptureVsFloor(int nPairs)
{
	CScreenGrabber grabber;
	// The warm-up pair also tells the size of the capture's file, which the floor writes too.
	const CString strFirst = grabber.Capture();
	const DWORD dwFileBytes = FileBytes(strFirst);
	RemoveFile(strFirst);
	if (!dwFileBytes) {
		Print("error the capture wrote no file\n");
		return 1;
	}
	const CString strFloorPath = FloorPath(strFirst);
	FloorCapture(strFloorPath, dwFileBytes, nullptr);
	RemoveFile(strFloorPath);

	const CScreenFormat screen = QueryScreen();
	Print("screen %d %d %d bytes %lu\n", screen.nWidth, screen.nHeight, screen.nBits,
	      static_cast<unsigned long>(dwFileBytes));
	for (int i = 0; i < nPairs; ++i) {
		double dCapture = 0.0;
		double dFloor = 0.0;
		// Taking turns at going first cancels a drift within the pair.
		for (int nTurn = 0; nTurn < 2; ++nTurn) {
			if ((nTurn == 0) == (i % 2 == 0)) {
				const double dStart = NowMs();
				const CString strPath = grabber.Capture();
				dCapture = NowMs() - dStart;
				if (FileBytes(strPath) != dwFileBytes) {
					Print("error capture %d wrote %lu bytes\n", i,
					      static_cast<unsigned long>(FileBytes(strPath)));
					return 1;
				}
				RemoveFile(strPath);
			} else {
				const double dStart = NowMs();
				FloorCapture(strFloorPath, dwFileBytes, nullptr);
				dFloor = NowMs() - dStart;
				RemoveFile(strFloorPath);
			}
		}
		Print("pair %d capture %.3f floor %.3f\n", i, dCapture, dFloor);
	}
	return 0;
}

int RunSteps(int nRuns)
{
	CScreenGrabber grabber;
	const size_t nProgramSteps = sizeof(kProgramSteps) / sizeof(kProgramSteps[0]);
	const size_t nFloorSteps = sizeof(kFloorSteps) / sizeof(kFloorSteps[0]);
	std::vector<std::vector<double>> programRuns;
	std::vector<std::vector<double>> floorRuns;
	DWORD dwFileBytes = 0;
	CString strFloorPath;
	CString strKeptCapture;
	// The first run is the process's first use of the display: printed on its own, then left out.
	for (int i = -1; i < nRuns; ++i) {
		std::vector<double> program(nProgramSteps, 0.0);
		const CString strPath = ProgramCaptureSteps(grabber, &program);
		if (i < 0) {
			dwFileBytes = FileBytes(strPath);
			strFloorPath = FloorPath(strPath);
			for (size_t s = 0; s < nProgramSteps; ++s)
				Print("step first %.3f %s\n", program[s], kProgramSteps[s]);
		}
		if (i == nRuns - 1)
			strKeptCapture = strPath;
		else
			RemoveFile(strPath);
		std::vector<double> floor(nFloorSteps, 0.0);
		FloorCapture(strFloorPath, dwFileBytes, &floor);
		RemoveFile(strFloorPath);
		if (i >= 0) {
			programRuns.push_back(program);
			floorRuns.push_back(floor);
		}
	}
	auto printMedians = [](const char* pszPath, const std::vector<std::vector<double>>& runs,
	                       const char* const* ppszNames, size_t nSteps) {
		for (size_t s = 0; s < nSteps; ++s) {
			std::vector<double> values;
			for (const auto& run : runs)
				values.push_back(run[s]);
			Print("step %s %.3f %s\n", pszPath, Median(values), ppszNames[s]);
		}
	};
	printMedians("program", programRuns, kProgramSteps, nProgramSteps);
	printMedians("floor", floorRuns, kFloorSteps, nFloorSteps);

	// Platform calls the program makes that the floor does not, or makes differently, on their own.
	const CScreenFormat screen = QueryScreen();
	const DWORD dwImage = static_cast<DWORD>(Stride(static_cast<WORD>(screen.nBits), screen.nWidth)) *
	                      static_cast<DWORD>(screen.nHeight);
	std::vector<double> zeroed;
	std::vector<double> virtualAlloc;
	std::vector<double> loadImage;
	for (int i = 0; i < nRuns; ++i) {
		double dStart = NowMs();
		HGLOBAL hBlock = ::GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, dwImage);
		zeroed.push_back(NowMs() - dStart);
		::GlobalFree(hBlock);
		dStart = NowMs();
		void* pBlock = ::VirtualAlloc(nullptr, dwImage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
		virtualAlloc.push_back(NowMs() - dStart);
		::VirtualFree(pBlock, 0, MEM_RELEASE);
		// How the cover window reads the capture back.
		dStart = NowMs();
		HANDLE hImage =
		    ::LoadImageA(AfxGetInstanceHandle(), strKeptCapture, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
		loadImage.push_back(NowMs() - dStart);
		if (hImage)
			::DeleteObject(hImage);
	}
	RemoveFile(strKeptCapture);
	Print("probe %.3f GlobalAlloc(GMEM_FIXED|GMEM_ZEROINIT) of one image\n", Median(zeroed));
	Print("probe %.3f VirtualAlloc of one image\n", Median(virtualAlloc));
	Print("probe %.3f LoadImageA(LR_LOADFROMFILE) of the capture file\n", Median(loadImage));
	return 0;
}

// The process's resident size and its peak so far, in KiB (Wine reads them from the host's
// accounting of the process).
void ResidentKb(unsigned long* pulNow, unsigned long* pulPeak)
{
	typedef BOOL(WINAPI * MemoryInfoFn)(HANDLE, PPROCESS_MEMORY_COUNTERS, DWORD);
	static const MemoryInfoFn pfnInfo = reinterpret_cast<MemoryInfoFn>(reinterpret_cast<void*>(
	    ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "K32GetProcessMemoryInfo")));
	PROCESS_MEMORY_COUNTERS counters = {};
	counters.cb = sizeof(counters);
	if (pfnInfo && pfnInfo(::GetCurrentProcess(), &counters, sizeof(counters))) {
		*pulNow = static_cast<unsigned long>(counters.WorkingSetSize / 1024);
		*pulPeak = static_cast<unsigned long>(counters.PeakWorkingSetSize / 1024);
	} else {
		*pulNow = *pulPeak = 0;
	}
}

struct CStamp {
	std::string strStage;
	long long llRealtimeNs;
	unsigned long ulResidentKb;
	unsigned long ulPeakKb;
};

// Stamps of the start-up, kept in memory and printed when the run has ended.
std::vector<CStamp> g_stamps;

void Stamp(const char* pszStage)
{
	CStamp stamp = {pszStage, RealtimeNs(), 0, 0};
	ResidentKb(&stamp.ulResidentKb, &stamp.ulPeakKb);
	g_stamps.push_back(stamp);
}

// The cover window with a stamp where each stage of its start begins and ends.
class CTimedFrostpaneDlg : public CFrostpaneDlg
{
public:
	CTimedFrostpaneDlg() { Stamp("cover window built (icon loaded)"); }

protected:
	BOOL OnInitDialog() override
	{
		Stamp("OnInitDialog begins");
		const BOOL bResult = CFrostpaneDlg::OnInitDialog();
		Stamp("OnInitDialog ends");
		return bResult;
	}

	afx_msg void OnPaint()
	{
		const bool bFirst = !m_bPainted;
		if (bFirst)
			Stamp("first WM_PAINT begins");
		CFrostpaneDlg::OnPaint();
		if (bFirst)
			Stamp("first WM_PAINT ends");
		m_bPainted = true;
	}

	afx_msg void OnTimer(UINT_PTR nIDEvent)
	{
		Stamp("WM_TIMER arrives");
		CFrostpaneDlg::OnTimer(nIDEvent);
		::GdiFlush();
		Stamp("capture drawn");
	}
	DECLARE_MESSAGE_MAP()

private:
	bool m_bPainted = false;
};

BEGIN_MESSAGE_MAP(CTimedFrostpaneDlg, CFrostpaneDlg)
ON_WM_PAINT()
ON_WM_TIMER()
END_MESSAGE_MAP()

void PrintProcessCreation()
{
	FILETIME ftCreation, ftExit, ftKernel, ftUser;
	if (::GetProcessTimes(::GetCurrentProcess(), &ftCreation, &ftExit, &ftKernel, &ftUser))
		Print("stamp %lld 0 0 process created\n", FileTimeToUnixNs(ftCreation));
}

} // namespace

// The bench's application object: message boxes take their caption from it, and the replayed
// start-up keeps its settings under the bench's own key.
class CBenchApp : public CWinApp
{
public:
	BOOL InitInstance() override;
	// The exit code: 0 when the mode ran, otherwise what went wrong.
	int ExitInstance() override { return m_nResult; }

private:
	int m_nResult = 0;

	// The program's InitInstance, with the cover window timed, and the notice taken as seen.
	void RunTimeline();
};

CBenchApp theApp;

void CBenchApp::RunTimeline()
{
	Stamp("InitInstance begins");
	AfxEnableControlContainer();
	Enable3dControls();
	SetRegistryKey(kBenchVendor);
	GetProfileInt(kSettingsSection, kMessageDisplayedEntry, 0);

	CScreenGrabber grabber;
	Stamp("capture begins");
	const CString strPath = grabber.Capture();
	Stamp("capture ends");
	WriteProfileString(kSettingsSection, kScreenShotFilePathEntry, strPath);
	Stamp("path recorded");

	{
		CTimedFrostpaneDlg dlg;
		m_pMainWnd = &dlg;
		dlg.DoModal();
		m_pMainWnd = nullptr;
	}
	Stamp("cover window closed");
	PrintProcessCreation();
	for (const auto& stamp : g_stamps)
		Print("stamp %lld %lu %lu %s\n", stamp.llRealtimeNs, stamp.ulResidentKb, stamp.ulPeakKb,
		      stamp.strStage.c_str());
}

BOOL CBenchApp::InitInstance()
{
	const std::string strMode = __argc > 1 ? __argv[1] : "";
	const int nCount = __argc > 2 ? std::max(1, atoi(__argv[2])) : 10;
	int& nResult = m_nResult;
	if (strMode == "capture-vs-floor") {
		nResult = RunCaptureVsFloor(nCount);
	} else if (strMode == "steps") {
		nResult = RunSteps(nCount);
	} else if (strMode == "once") {
		CScreenGrabber grabber;
		grabber.Capture();
	} else if (strMode == "timeline") {
		RunTimeline();
	} else {
		Print("usage: CaptureBench capture-vs-floor N | steps N | once | timeline\n");
		nResult = 2;
	}
	// Like the program's, the start-up ends here and the process ends with it.
	return FALSE;
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
	Stamp("WinMain begins");
	return AfxWinMain(hInstance, hPrevInstance, lpCmdLine, nCmdShow);
}
