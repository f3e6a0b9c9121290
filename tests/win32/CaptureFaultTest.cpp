// The capture end to end in-process: the screen to a file in a private temporary directory, and every
// failure the capture reports, provoked through the import table, with its box and what follows it.
#include "BmpReader.h"
#include "CaptureNames.h"
#include "IatPatch.h"
#include "Pixels.h"
#include "ScreenGrabberTestAccess.h"
#include "TestApp.h"
#include "afxdisp.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <set>

namespace {

const char kTitle[] = "Frostpane by Tapwright";
const char kFolderName[] = "Images-Captured-By-Tapwright";

// A box as the platform's MessageBoxA shows it: caption "Error", OK, no icon, no owner.
void ExpectErrorBox(const RecordedBox& box, const char* pszText)
{
	EXPECT_EQ(box.strText, pszText);
	EXPECT_EQ(box.strCaption, "Error") << pszText;
	EXPECT_EQ(box.uType, static_cast<UINT>(MB_OK)) << pszText;
	EXPECT_EQ(box.hWndOwner, nullptr) << pszText;
}

// A box as AfxMessageBox(text, MB_OK) shows it: the application title, OK and the exclamation icon.
void ExpectAfxBox(const RecordedBox& box, const std::string& strText)
{
	EXPECT_EQ(box.strText, strText);
	EXPECT_EQ(box.strCaption, kTitle) << strText;
	EXPECT_EQ(box.uType, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION)) << strText;
	EXPECT_EQ(box.hWndOwner, nullptr) << strText;
}

std::string Joined(const std::vector<RecordedBox>& boxes)
{
	std::string strTexts = "boxes:";
	for (const RecordedBox& box : boxes)
		strTexts += " \"" + box.strText + "\"";
	return strTexts;
}

class CaptureTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		m_pTemp = std::make_unique<CScratchFolder>("capture");
		UseTempDir(m_pTemp->Path());
	}

	// The temporary directory GetTempPathW answers, ending in a backslash, and how the capture is
	// to spell it.
	void UseTempDir(const std::string& strTemp, const std::wstring& wstrAnswered = std::wstring())
	{
		m_strTemp = strTemp;
		m_wstrTemp = wstrAnswered.empty() ? Widen(strTemp) : wstrAnswered;
		m_strFolder = strTemp + kFolderName;
	}

	// Runs a capture with GetTempPathW answering the scratch folder and every box recorded.
	CString Capture(CFileCallSpy::Fault fault = CFileCallSpy::None, int nWrite = 0)
	{
		CTempPathRedirect temp(m_wstrTemp);
		CFileCallSpy files(fault, nWrite);
		CMessageBoxRecorder boxes;
		CScreenGrabber grabber;
		CString strResult = grabber.Capture();
		m_boxes = boxes.Boxes();
		m_files = files.Calls();
		return strResult;
	}

	std::vector<std::string> CaptureFiles() const { return ListFiles(m_strFolder); }

	int CountCalls(const char* pszCall) const
	{
		return static_cast<int>(std::count_if(
			m_files.begin(), m_files.end(), [&](const FileCall& call) { return call.strCall == pszCall; }));
	}

	// The path the capture returned must be in the folder and named by the rule.
	void ExpectNamedPath(const CString& strResult) const
	{
		const std::string strPath = static_cast<LPCTSTR>(strResult);
		const std::string strPrefix = m_strFolder + "\\Primary Monitor At ";
		ASSERT_EQ(strPath.compare(0, strPrefix.size(), strPrefix), 0) << strPath;
		ASSERT_GT(strPath.size(), strPrefix.size() + 4);
		EXPECT_EQ(strPath.substr(strPath.size() - 4), ".bmp");
		const std::string strStamp = strPath.substr(strPrefix.size(), strPath.size() - strPrefix.size() - 4);
		EXPECT_EQ(strStamp.find_first_of("/\\?*:|<>"), std::string::npos) << strStamp;
		EXPECT_FALSE(strStamp.empty());
	}

	std::unique_ptr<CScratchFolder> m_pTemp;
	std::string m_strTemp;
	std::wstring m_wstrTemp;
	std::string m_strFolder;
	std::vector<RecordedBox> m_boxes;
	std::vector<FileCall> m_files;
};

BmpFile ParseCapture(const CString& strPath)
{
	BmpFile bmp;
	std::string strError;
	EXPECT_TRUE(ParseBmp(ReadFileBytes(static_cast<LPCTSTR>(strPath)), bmp, strError))
		<< static_cast<LPCTSTR>(strPath) << ": " << strError;
	return bmp;
}

// The screen as it stands once it holds still for 100 ms, within 5 s: a window an earlier test closed may
// still be leaving it.
std::vector<uint32_t> SettledScreen(int& nWidth, int& nHeight)
{
	std::vector<uint32_t> screen = ReadScreenPixels(nWidth, nHeight);
	for (const DWORD dwStart = ::GetTickCount(); ::GetTickCount() - dwStart < 5000;) {
		::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
		MSG msg;
		while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
			::DispatchMessageA(&msg);
		std::vector<uint32_t> again = ReadScreenPixels(nWidth, nHeight);
		if (again == screen)
			break;
		screen.swap(again);
	}
	return screen;
}

TEST_F(CaptureTest, WritesThePrimaryMonitorPixelForPixel)
{
	int nWidth = 0, nHeight = 0;
	SettledScreen(nWidth, nHeight);
	const CString strResult = Capture();
	EXPECT_TRUE(m_boxes.empty()) << Joined(m_boxes);
	ExpectNamedPath(strResult);
	ASSERT_EQ(CaptureFiles().size(), 1u);

	const std::vector<uint32_t> screen = ReadScreenPixels(nWidth, nHeight);
	// A uniform screen would prove nothing; the test display shows a known picture.
	std::set<uint32_t> colours(screen.begin(), screen.begin() + std::min<size_t>(screen.size(), 200000));
	ASSERT_GT(colours.size(), 50u) << "the display shows no picture";

	const BmpFile bmp = ParseCapture(strResult);
	EXPECT_EQ(bmp.biWidth, nWidth);
	EXPECT_EQ(bmp.biHeight, nHeight);
	EXPECT_EQ(bmp.bfSize, bmp.nFileLength);
	const uint32_t mask = bmp.biBitCount == 16 ? 0xF8F8F8 : 0xFFFFFF;
	ASSERT_EQ(bmp.pixels.size(), screen.size());
	size_t nDiffer = 0;
	for (size_t i = 0; i < screen.size(); ++i)
		nDiffer += (bmp.pixels[i] & mask) != (screen[i] & mask);
	EXPECT_EQ(nDiffer, 0u);
	EXPECT_EQ(CountCalls("CreateFileA"), 1);
	EXPECT_EQ(CountCalls("WriteFile"), 3);
	EXPECT_EQ(CountCalls("CloseHandle"), 1);
}

struct EarlyFailure {
	const char* pszName;
	const char* pszCall;
	const char* pszBox;
};

class CaptureEarlyFailure : public CaptureTest, public ::testing::WithParamInterface<EarlyFailure>
{};

// A call that fails before the file is opened: its one box, no path and no file.
TEST_P(CaptureEarlyFailure, ShowsItsBoxAndEndsWithoutFile)
{
	CFailingCall fail(GetParam().pszCall);
	const CString strResult = Capture();
	EXPECT_EQ(fail.Calls(), 1);
	ASSERT_EQ(m_boxes.size(), 1u) << Joined(m_boxes);
	ExpectErrorBox(m_boxes[0], GetParam().pszBox);
	EXPECT_TRUE(strResult.IsEmpty());
	EXPECT_EQ(CountCalls("CreateFileA"), 0);
	EXPECT_TRUE(CaptureFiles().empty());
}

INSTANTIATE_TEST_SUITE_P(Calls, CaptureEarlyFailure,
	::testing::Values(EarlyFailure{"NoScreenBitmap", "CreateCompatibleBitmap", "hbmScreen"},
		EarlyFailure{"FailedSelection", "SelectObject", "Compatible Bitmap Selection"},
		EarlyFailure{"UnreadableBitmap", "GetObjectA", "error"},
		EarlyFailure{"NoDescriptionBlock", "LocalAlloc", "LocalAlloc Error"}),
	[](const ::testing::TestParamInfo<EarlyFailure>& info) { return info.param.pszName; });

TEST_F(CaptureTest, FailedCopyShowsScreenToCompatBltFailedAndStillWritesTheFile)
{
	CFailingCall fail("BitBlt");
	const CString strResult = Capture();
	EXPECT_EQ(fail.Calls(), 1);
	ASSERT_EQ(m_boxes.size(), 1u) << Joined(m_boxes);
	ExpectErrorBox(m_boxes[0], "Screen to Compat Blt Failed");
	ExpectNamedPath(strResult);
	const BmpFile bmp = ParseCapture(strResult);
	EXPECT_EQ(bmp.bfSize, bmp.nFileLength);
	EXPECT_EQ(bmp.biWidth, ::GetSystemMetrics(SM_CXSCREEN));
	// Nothing was copied: the new bitmap's own (black) content is written, not the screen.
	EXPECT_TRUE(std::all_of(bmp.pixels.begin(), bmp.pixels.end(), [](uint32_t p) { return p == 0; }));
}

// GetObjectA describing the capture's bitmap as 16384 x 65536 at 32 bits: an image of 4 GiB.
void* g_pRealGetObjectA = nullptr;

int WINAPI HugeBitmapGetObjectA(HANDLE hObject, int cbBuffer, LPVOID pv)
{
	const int nResult =
		reinterpret_cast<int(WINAPI*)(HANDLE, int, LPVOID)>(g_pRealGetObjectA)(hObject, cbBuffer, pv);
	if (nResult && cbBuffer == sizeof(BITMAP) && ::GetObjectType(hObject) == OBJ_BITMAP) {
		BITMAP* pbm = static_cast<BITMAP*>(pv);
		pbm->bmWidth = 16384;
		pbm->bmHeight = 65536;
		pbm->bmWidthBytes = 65536;
		pbm->bmPlanes = 1;
		pbm->bmBitsPixel = 32;
	}
	return nResult;
}

// Every GlobalAlloc size asked for, each passed on to the platform.
void* g_pRealGlobalAlloc = nullptr;
std::vector<SIZE_T> g_globalAllocSizes;

HGLOBAL WINAPI RecordGlobalAlloc(UINT uFlags, SIZE_T dwBytes)
{
	g_globalAllocSizes.push_back(dwBytes);
	return reinterpret_cast<HGLOBAL(WINAPI*)(UINT, SIZE_T)>(g_pRealGlobalAlloc)(uFlags, dwBytes);
}

// A screen whose image would be 4 GiB or more has no size its headers can hold (biSizeImage 0): no
// pixel buffer is asked for, not even one of 0 bytes, which the platform would grant; the user sees
// "GlobalAlloc Error", no file is made, and the path is still returned.
TEST_F(CaptureTest, ImageOf4GiBOrMoreShowsGlobalAllocErrorAsksForNoBufferAndCreatesNoFile)
{
	CIatPatch getObject("GDI32.dll", "GetObjectA", reinterpret_cast<void*>(&HugeBitmapGetObjectA));
	g_pRealGetObjectA = getObject.Original();
	CIatPatch globalAlloc("KERNEL32.dll", "GlobalAlloc", reinterpret_cast<void*>(&RecordGlobalAlloc));
	g_pRealGlobalAlloc = globalAlloc.Original();
	g_globalAllocSizes.clear();
	const CString strResult = Capture();
	EXPECT_EQ(std::count(g_globalAllocSizes.begin(), g_globalAllocSizes.end(), SIZE_T{0}), 0)
		<< "a pixel buffer of 0 bytes was asked for";
	ASSERT_EQ(m_boxes.size(), 1u) << Joined(m_boxes);
	ExpectAfxBox(m_boxes[0], "GlobalAlloc Error");
	ExpectNamedPath(strResult);
	EXPECT_EQ(::GetFileAttributesA(strResult), INVALID_FILE_ATTRIBUTES);
	EXPECT_EQ(CountCalls("CreateFileA"), 0);
	EXPECT_TRUE(CaptureFiles().empty());
}

// The pixel buffer comes from a heap that may hold old bytes; a failed read must still leave black rows.
TEST_F(CaptureTest, FailedPixelReadShowsGetDIBitsErrorAndWritesBlackRows)
{
	CDirtyGlobalAlloc dirty;
	CFailingCall fail("GetDIBits");
	const CString strResult = Capture();
	EXPECT_EQ(fail.Calls(), 1);
	ASSERT_EQ(m_boxes.size(), 1u) << Joined(m_boxes);
	ExpectAfxBox(m_boxes[0], "GetDIBits Error");
	ExpectNamedPath(strResult);
	const BmpFile bmp = ParseCapture(strResult);
	EXPECT_EQ(bmp.bfSize, bmp.nFileLength);
	EXPECT_EQ(bmp.biWidth, ::GetSystemMetrics(SM_CXSCREEN));
	EXPECT_EQ(bmp.biHeight, ::GetSystemMetrics(SM_CYSCREEN));
	ASSERT_FALSE(bmp.pixels.empty());
	EXPECT_TRUE(std::all_of(bmp.pixels.begin(), bmp.pixels.end(), [](uint32_t p) { return p == 0; }));
}

// A capture path a few characters short of the longest the platform takes is written whole: the file
// is first written under a path no longer than its own.
TEST_F(CaptureTest, PathJustShortOfTheLimitIsWritten)
{
	const size_t nTitle =
		MakeCaptureFileTitle(COleDateTime::GetCurrentTime().Format(0, LANG_USER_DEFAULT)).GetLength();
	std::string strTemp = m_pTemp->Path();
	// Folders added until the path is 256 characters; the name's clock may add a few more by the capture.
	for (size_t nLeft = 256 - nTitle - sizeof(kFolderName) - strTemp.size(); nLeft > 0;) {
		// Each folder takes its name and a backslash, and never leaves a single character over.
		const size_t nName = nLeft > 101 ? std::min<size_t>(nLeft - 3, 100) : nLeft - 1;
		strTemp += std::string(nName, 'd') + "\\";
		ASSERT_TRUE(::CreateDirectoryA(strTemp.c_str(), nullptr)) << strTemp;
		nLeft -= nName + 1;
	}
	UseTempDir(strTemp);
	const CString strResult = Capture();
	EXPECT_TRUE(m_boxes.empty()) << Joined(m_boxes);
	ExpectNamedPath(strResult);
	EXPECT_GE(strResult.GetLength(), 253);
	EXPECT_LT(strResult.GetLength(), MAX_PATH);
	EXPECT_EQ(ParseCapture(strResult).biWidth, ::GetSystemMetrics(SM_CXSCREEN));
	EXPECT_EQ(CaptureFiles().size(), 1u);
}

// After "CreateFile Error" the writes and the close go on with the invalid handle. The platform refuses
// the writes and takes the close (the value is the process's own pseudo-handle), so the user sees
// "CreateFile Error" and the three WriteFile boxes, and no "CloseHandle Error".
void ExpectTheFourCreateFileBoxes(const std::vector<RecordedBox>& boxes, const std::vector<FileCall>& calls)
{
	ASSERT_EQ(calls.size(), 5u);
	EXPECT_EQ(calls[0].strCall, "CreateFileA");
	for (size_t i = 1; i < calls.size(); ++i) {
		EXPECT_EQ(calls[i].strCall, i < 4 ? "WriteFile" : "CloseHandle");
		EXPECT_EQ(calls[i].hFile, INVALID_HANDLE_VALUE) << calls[i].strCall;
	}
	const char* const kBoxes[] = {
		"CreateFile Error", "WriteFile 1 Error", "WriteFile 2 Error", "WriteFile 3 Error"};
	ASSERT_EQ(boxes.size(), 4u) << Joined(boxes);
	for (size_t i = 0; i < boxes.size(); ++i)
		ExpectAfxBox(boxes[i], kBoxes[i]);
}

TEST_F(CaptureTest, RefusedFileShowsCreateFileErrorAndTheThreeWriteBoxes)
{
	const CString strResult = Capture(CFileCallSpy::CreateFails);
	ExpectTheFourCreateFileBoxes(m_boxes, m_files);
	ExpectNamedPath(strResult);
	EXPECT_TRUE(CaptureFiles().empty());
}

class CaptureWriteFault : public CaptureTest, public ::testing::WithParamInterface<std::tuple<int, bool>>
{};

// Each write failing alone, refused outright or short while reporting success: its box and no other,
// and nothing left behind of the file that could not be written whole.
TEST_P(CaptureWriteFault, ShowsThatWritesBoxAloneAndLeavesNoFile)
{
	const int nWrite = std::get<0>(GetParam());
	const bool bShort = std::get<1>(GetParam());
	const CString strResult = Capture(bShort ? CFileCallSpy::WriteShort : CFileCallSpy::WriteFails, nWrite);
	ASSERT_EQ(m_boxes.size(), 1u) << Joined(m_boxes);
	ExpectAfxBox(m_boxes[0], "WriteFile " + std::to_string(nWrite) + " Error");
	ExpectNamedPath(strResult);

	ASSERT_EQ(CountCalls("WriteFile"), 3);
	const FileCall& failed = m_files[nWrite];
	EXPECT_EQ(failed.dwWritten, bShort ? failed.dwAsked - 1 : 0u);
	EXPECT_EQ(CountCalls("CloseHandle"), 1);
	EXPECT_EQ(::GetFileAttributesA(strResult), INVALID_FILE_ATTRIBUTES);
	EXPECT_TRUE(CaptureFiles().empty());
}

INSTANTIATE_TEST_SUITE_P(Writes, CaptureWriteFault,
	::testing::Combine(::testing::Values(1, 2, 3), ::testing::Bool()),
	[](const ::testing::TestParamInfo<std::tuple<int, bool>>& info) {
		return "Write" + std::to_string(std::get<0>(info.param)) +
			   (std::get<1>(info.param) ? "Short" : "Refused");
	});

// A file whose close failed may not hold what was written: it is not taken as the capture.
TEST_F(CaptureTest, FailedCloseShowsCloseHandleErrorAndLeavesNoFile)
{
	const CString strResult = Capture(CFileCallSpy::CloseFails);
	ASSERT_EQ(m_boxes.size(), 1u) << Joined(m_boxes);
	ExpectAfxBox(m_boxes[0], "CloseHandle Error");
	ExpectNamedPath(strResult);
	EXPECT_EQ(::GetFileAttributesA(strResult), INVALID_FILE_ATTRIBUTES);
	EXPECT_TRUE(CaptureFiles().empty());
}

// An earlier capture under the same name (a run in the same second) is replaced only by a whole one.
TEST_F(CaptureTest, FailedWriteSparesAnEarlierCaptureOfTheSameName)
{
	const CString strFirst = Capture();
	ASSERT_TRUE(m_boxes.empty()) << Joined(m_boxes);
	const std::vector<uint8_t> earlier = ReadFileBytes(static_cast<LPCTSTR>(strFirst));
	ASSERT_FALSE(earlier.empty());

	// The failing run writes under that same name, whatever second it is by then.
	CFileCallSpy spy(CFileCallSpy::WriteFails, 3);
	CMessageBoxRecorder boxes;
	CScreenGrabber grabber;
	LPBITMAPINFO pbi = nullptr;
	CDC screen;
	ASSERT_TRUE(screen.Attach(::CreateDCA("DISPLAY", nullptr, nullptr, nullptr)));
	CBitmap bitmap;
	ASSERT_TRUE(bitmap.Attach(::CreateCompatibleBitmap(screen, 16, 16)));
	pbi = CScreenGrabberTestAccess::CreateBitmapInfo(grabber, bitmap);
	ASSERT_NE(pbi, nullptr);
	CScreenGrabberTestAccess::WriteBmpFile(grabber, strFirst, pbi, bitmap, screen);
	::LocalFree(pbi);

	ASSERT_EQ(boxes.Boxes().size(), 1u);
	ExpectAfxBox(boxes.Boxes()[0], "WriteFile 3 Error");
	EXPECT_EQ(ReadFileBytes(static_cast<LPCTSTR>(strFirst)), earlier);
	EXPECT_EQ(CaptureFiles().size(), 1u);
}

class CaptureTempPathFault : public CaptureTest, public ::testing::WithParamInterface<DWORD>
{};

// No temporary directory, or one that does not fit the 260-byte buffer: no path from an unfilled buffer.
TEST_P(CaptureTempPathFault, ShowsGetTempPathErrorAndEndsWithoutFile)
{
	CFailingTempPath temp(GetParam());
	CFileCallSpy files;
	CMessageBoxRecorder boxes;
	CScreenGrabber grabber;
	const CString strResult = grabber.Capture();
	EXPECT_GE(temp.Calls(), 1);
	ASSERT_EQ(boxes.Boxes().size(), 1u);
	ExpectErrorBox(boxes.Boxes()[0], "GetTempPath Error");
	EXPECT_TRUE(strResult.IsEmpty()) << static_cast<LPCTSTR>(strResult);
	EXPECT_TRUE(files.Calls().empty());
	EXPECT_TRUE(CScreenGrabberTestAccess::Folder(grabber).IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Answers, CaptureTempPathFault, ::testing::Values(0u, 261u, 300u),
	[](const ::testing::TestParamInfo<DWORD>& info) { return "Answer" + std::to_string(info.param); });

// The temporary folder of a user whose name no ANSI code page spells (Georgian, ნინო): the capture
// takes the folder's short path, where the volume keeps short names.
class CaptureUnspellableTemp : public CaptureTest
{
protected:
	void SetUp() override
	{
		CaptureTest::SetUp();
		m_wstrLong = Widen(m_strTemp) + L"\x10DC\x10D8\x10DC\x10DD\\";
		ASSERT_TRUE(::CreateDirectoryW(m_wstrLong.c_str(), nullptr));
		WCHAR wszShort[MAX_PATH];
		ASSERT_NE(::GetShortPathNameW(m_wstrLong.c_str(), wszShort, MAX_PATH), 0u);
		char szShort[MAX_PATH];
		BOOL bDefaulted = FALSE;
		ASSERT_GT(::WideCharToMultiByte(
					  CP_ACP, WC_NO_BEST_FIT_CHARS, wszShort, -1, szShort, MAX_PATH, nullptr, &bDefaulted),
			0);
		ASSERT_FALSE(bDefaulted) << "the short path does not spell either";
		UseTempDir(szShort, m_wstrLong);
	}

	std::wstring m_wstrLong;
};

TEST_F(CaptureUnspellableTemp, GoesIntoTheFolderByItsShortPath)
{
	const CString strResult = Capture();
	EXPECT_TRUE(m_boxes.empty()) << Joined(m_boxes);
	ExpectNamedPath(strResult);
	ASSERT_EQ(CaptureFiles().size(), 1u);
	EXPECT_EQ(ParseCapture(strResult).biWidth, ::GetSystemMetrics(SM_CXSCREEN));
}

TEST_F(CaptureUnspellableTemp, WithoutShortNamesShowsGetTempPathErrorAndWritesNothing)
{
	CNoShortNames noShortNames;
	const CString strResult = Capture();
	EXPECT_GE(noShortNames.Calls(), 1);
	ASSERT_EQ(m_boxes.size(), 1u) << Joined(m_boxes);
	ExpectErrorBox(m_boxes[0], "GetTempPath Error");
	EXPECT_TRUE(strResult.IsEmpty()) << static_cast<LPCTSTR>(strResult);
	EXPECT_TRUE(m_files.empty());
	EXPECT_EQ(::GetFileAttributesW((m_wstrLong + Widen(kFolderName)).c_str()), INVALID_FILE_ATTRIBUTES);
}

// Windows 10 1903 and later with UTF-8 as the ANSI code page spell every path, and refuse the
// question a code page of the old kind is asked.
TEST_F(CaptureTest, Utf8CodePageSpellsTheTemporaryFolder)
{
	CUtf8CodePage utf8;
	const CString strResult = Capture();
	EXPECT_EQ(utf8.Refusals(), 0);
	EXPECT_TRUE(m_boxes.empty()) << Joined(m_boxes);
	ExpectNamedPath(strResult);
	EXPECT_EQ(CaptureFiles().size(), 1u);
}

} // namespace

struct HeldFile {
	HANDLE hFile;
	DWORD dwHoldMs;
};

DWORD WINAPI CloseAfterHolding(LPVOID pParam)
{
	auto pHeld = static_cast<HeldFile*>(pParam);
	::Sleep(pHeld->dwHoldMs);
	::CloseHandle(pHeld->hFile);
	return 0;
}

// Another program reading the earlier capture of the same name holds it open for a moment.
class CaptureNameInUse : public CaptureTest
{
protected:
	// Writes a small capture under strPath while a reader holds the earlier file open for dwHoldMs.
	std::vector<RecordedBox> WriteWhileHeld(const CString& strPath, DWORD dwHoldMs)
	{
		HANDLE hReader =
			::CreateFileA(strPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
		EXPECT_NE(hReader, INVALID_HANDLE_VALUE);
		HeldFile held = {hReader, dwHoldMs};
		HANDLE hThread = ::CreateThread(nullptr, 0, &CloseAfterHolding, &held, 0, nullptr);

		CMessageBoxRecorder boxes;
		CScreenGrabber grabber;
		CDC screen;
		screen.Attach(::CreateDCA("DISPLAY", nullptr, nullptr, nullptr));
		CBitmap bitmap;
		bitmap.Attach(::CreateCompatibleBitmap(screen, 16, 16));
		LPBITMAPINFO pbi = CScreenGrabberTestAccess::CreateBitmapInfo(grabber, bitmap);
		CScreenGrabberTestAccess::WriteBmpFile(grabber, strPath, pbi, bitmap, screen);
		::LocalFree(pbi);
		::WaitForSingleObject(hThread, INFINITE);
		::CloseHandle(hThread);
		return boxes.Boxes();
	}
};

TEST_F(CaptureNameInUse, ReplacesTheFileOnceTheReaderHasLetItGo)
{
	const CString strPath = Capture();
	ASSERT_TRUE(m_boxes.empty()) << Joined(m_boxes);
	const std::vector<RecordedBox> boxes = WriteWhileHeld(strPath, 150);
	EXPECT_TRUE(boxes.empty()) << Joined(boxes);
	const BmpFile bmp = ParseCapture(strPath);
	EXPECT_EQ(bmp.biWidth, 16);
	EXPECT_EQ(CaptureFiles().size(), 1u);
}

TEST_F(CaptureNameInUse, ReaderThatKeepsItShowsMoveFileErrorAndSparesTheEarlierFile)
{
	const CString strPath = Capture();
	ASSERT_TRUE(m_boxes.empty()) << Joined(m_boxes);
	const std::vector<uint8_t> earlier = ReadFileBytes(static_cast<LPCTSTR>(strPath));
	const std::vector<RecordedBox> boxes = WriteWhileHeld(strPath, 1500);
	ASSERT_EQ(boxes.size(), 1u) << Joined(boxes);
	ExpectAfxBox(boxes[0], "MoveFile Error");
	EXPECT_EQ(ReadFileBytes(static_cast<LPCTSTR>(strPath)), earlier);
	EXPECT_EQ(CaptureFiles().size(), 1u) << "the part written is removed";
}
