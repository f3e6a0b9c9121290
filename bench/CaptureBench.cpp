// CaptureBench: with "capture-vs-floor N", N pairs of CScreenGrabber::Capture() and the floor capture in one
// process, in turns, printed on standard output (which Wine connects to the starting shell's) for
// scripts/bench; with no argument, one capture and the process ends (a whole-process figure).
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FloorCapture.h"
#include "ScreenGrabber.h"
#include "afxwin.h"

namespace {

void Print(const char* pszFormat, ...)
{
	char szLine[256];
	va_list args;
	va_start(args, pszFormat);
	const int nLength = vsnprintf(szLine, sizeof(szLine), pszFormat, args);
	va_end(args);
	DWORD dwWritten;
	if (nLength > 0 && nLength < static_cast<int>(sizeof(szLine)))
		::WriteFile(
			::GetStdHandle(STD_OUTPUT_HANDLE), szLine, static_cast<DWORD>(nLength), &dwWritten, nullptr);
}

double NowMs()
{
	LARGE_INTEGER freq, count;
	::QueryPerformanceFrequency(&freq);
	::QueryPerformanceCounter(&count);
	return static_cast<double>(count.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart);
}

DWORD FileBytes(LPCSTR pszPath)
{
	WIN32_FILE_ATTRIBUTE_DATA data;
	return *pszPath && ::GetFileAttributesExA(pszPath, GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
}

int RunCaptureVsFloor(int nPairs)
{
	CScreenGrabber grabber;
	// The warm-up pair also tells the size of the capture's file, which the floor writes too, into the
	// same folder. Each file is removed once timed.
	const std::string strFirst = static_cast<LPCTSTR>(grabber.Capture());
	const DWORD dwFileBytes = FileBytes(strFirst.c_str());
	::DeleteFileA(strFirst.c_str());
	if (!dwFileBytes) {
		Print("error the capture wrote no file\n");
		return 1;
	}
	const CString strFloor =
		strFirst.substr(0, strFirst.rfind('\\') + 1).append("Capture Bench Floor.bmp").c_str();
	FloorCapture(strFloor, dwFileBytes);
	::DeleteFileA(strFloor);

	for (int i = 0; i < nPairs; ++i) {
		double dMs[2] = {}; // the capture's, the floor's
		// Taking turns at going first cancels a drift within the pair.
		for (int nTurn = 0; nTurn < 2; ++nTurn) {
			const bool bCapture = (nTurn == 0) == (i % 2 == 0);
			const double dStart = NowMs();
			const CString strPath =
				bCapture ? grabber.Capture() : (FloorCapture(strFloor, dwFileBytes), strFloor);
			dMs[bCapture ? 0 : 1] = NowMs() - dStart;
			if (bCapture && FileBytes(strPath) != dwFileBytes) {
				Print(
					"error capture %d wrote %lu bytes\n", i, static_cast<unsigned long>(FileBytes(strPath)));
				return 1;
			}
			::DeleteFileA(strPath);
		}
		Print("pair %d capture %.3f floor %.3f\n", i, dMs[0], dMs[1]);
	}
	return 0;
}

} // namespace

// The bench's application object: message boxes take their caption from it.
class CBenchApp : public CWinApp
{
public:
	BOOL InitInstance() override
	{
		if (__argc > 2 && std::string(__argv[1]) == "capture-vs-floor")
			m_nResult = RunCaptureVsFloor(std::max(1, atoi(__argv[2])));
		else
			CScreenGrabber().Capture();
		// Like the program's, the start-up ends here and the process ends with it.
		return FALSE;
	}
	int ExitInstance() override { return m_nResult; }

private:
	int m_nResult = 0;
};

CBenchApp theApp;
