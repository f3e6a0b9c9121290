// Import-table patches of the test executable and the recorders and stand-ins they install.
#include "IatPatch.h"

#include "Pixels.h"

#include <cstring>
#include <set>
#include <stdexcept>

namespace {

bool NamesEqual(const char* a, const char* b) { return ::lstrcmpiA(a, b) == 0; }

// A path answered as the kernel's path calls answer one: copied with its null where it fits in
// cchBuffer characters, answering its length; else the size it needs, null included.
DWORD AnswerPath(const std::wstring& wstrPath, LPWSTR pszBuffer, DWORD cchBuffer)
{
	const DWORD dwLength = static_cast<DWORD>(wstrPath.size());
	if (dwLength + 1 > cchBuffer)
		return dwLength + 1;
	std::memcpy(pszBuffer, wstrPath.c_str(), (dwLength + 1) * sizeof(WCHAR));
	return dwLength;
}

} // namespace

void** FindImportSlot(const char* pszDll, const char* pszFunction)
{
	auto pBase = reinterpret_cast<BYTE*>(::GetModuleHandleA(nullptr));
	auto pDos = reinterpret_cast<IMAGE_DOS_HEADER*>(pBase);
	auto pNt = reinterpret_cast<IMAGE_NT_HEADERS*>(pBase + pDos->e_lfanew);
	const IMAGE_DATA_DIRECTORY& dir = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
	if (!dir.VirtualAddress)
		return nullptr;
	for (auto pDesc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(pBase + dir.VirtualAddress); pDesc->Name;
		 ++pDesc) {
		if (!NamesEqual(reinterpret_cast<const char*>(pBase + pDesc->Name), pszDll))
			continue;
		auto pNames = reinterpret_cast<IMAGE_THUNK_DATA*>(
			pBase + (pDesc->OriginalFirstThunk ? pDesc->OriginalFirstThunk : pDesc->FirstThunk));
		auto pSlots = reinterpret_cast<IMAGE_THUNK_DATA*>(pBase + pDesc->FirstThunk);
		for (; pNames->u1.AddressOfData; ++pNames, ++pSlots) {
			if (IMAGE_SNAP_BY_ORDINAL(pNames->u1.Ordinal))
				continue;
			auto pByName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(pBase + pNames->u1.AddressOfData);
			if (std::strcmp(reinterpret_cast<const char*>(pByName->Name), pszFunction) == 0)
				return reinterpret_cast<void**>(&pSlots->u1.Function);
		}
	}
	return nullptr;
}

CIatPatch::CIatPatch(const char* pszDll, const char* pszFunction, void* pReplacement)
{
	m_pSlot = FindImportSlot(pszDll, pszFunction);
	if (!m_pSlot)
		throw std::runtime_error(std::string("no import slot for ") + pszDll + "!" + pszFunction);
	DWORD dwOld = 0;
	::VirtualProtect(m_pSlot, sizeof(void*), PAGE_READWRITE, &dwOld);
	m_pOriginal = *m_pSlot;
	*m_pSlot = pReplacement;
	::VirtualProtect(m_pSlot, sizeof(void*), dwOld, &dwOld);
}

CIatPatch::~CIatPatch()
{
	DWORD dwOld = 0;
	::VirtualProtect(m_pSlot, sizeof(void*), PAGE_READWRITE, &dwOld);
	*m_pSlot = m_pOriginal;
	::VirtualProtect(m_pSlot, sizeof(void*), dwOld, &dwOld);
}

// MessageBoxA

namespace {

std::vector<RecordedBox> g_boxes;

int WINAPI RecordMessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
	g_boxes.push_back({hWnd, lpText ? lpText : "(null)", lpCaption ? lpCaption : "(null)", uType});
	return IDOK;
}

} // namespace

CMessageBoxRecorder::CMessageBoxRecorder()
	: m_patch("USER32.dll", "MessageBoxA", reinterpret_cast<void*>(&RecordMessageBoxA))
{
	g_boxes.clear();
}

CMessageBoxRecorder::~CMessageBoxRecorder() { g_boxes.clear(); }

const std::vector<RecordedBox>& CMessageBoxRecorder::Boxes() const { return g_boxes; }

std::vector<std::string> CMessageBoxRecorder::Texts() const
{
	std::vector<std::string> texts;
	for (const RecordedBox& box : g_boxes)
		texts.push_back(box.strText);
	return texts;
}

// GetTempPathW

namespace {

std::wstring g_wstrTempDir;
DWORD g_dwTempAnswer = 0;
int g_nTempCalls = 0;

DWORD WINAPI RedirectedGetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer)
{
	++g_nTempCalls;
	return AnswerPath(g_wstrTempDir, lpBuffer, nBufferLength);
}

DWORD WINAPI FailingGetTempPathW(DWORD /*nBufferLength*/, LPWSTR /*lpBuffer*/)
{
	++g_nTempCalls;
	if (g_dwTempAnswer == 0)
		::SetLastError(ERROR_PATH_NOT_FOUND);
	return g_dwTempAnswer;
}

} // namespace

CTempPathRedirect::CTempPathRedirect(const std::string& strTempDir) : CTempPathRedirect(Widen(strTempDir)) {}

CTempPathRedirect::CTempPathRedirect(const std::wstring& wstrTempDir)
	: m_patch("KERNEL32.dll", "GetTempPathW", reinterpret_cast<void*>(&RedirectedGetTempPathW))
{
	g_wstrTempDir = wstrTempDir;
	g_nTempCalls = 0;
}

CTempPathRedirect::~CTempPathRedirect() { g_wstrTempDir.clear(); }

CFailingTempPath::CFailingTempPath(DWORD dwAnswer)
	: m_patch("KERNEL32.dll", "GetTempPathW", reinterpret_cast<void*>(&FailingGetTempPathW))
{
	g_dwTempAnswer = dwAnswer;
	g_nTempCalls = 0;
}

CFailingTempPath::~CFailingTempPath() = default;

int CFailingTempPath::Calls() const { return g_nTempCalls; }

// GetShortPathNameW on a volume without short names

namespace {

int g_nShortCalls = 0;

DWORD WINAPI LongPathAsShort(LPCWSTR lpszLongPath, LPWSTR lpszShortPath, DWORD cchBuffer)
{
	++g_nShortCalls;
	return AnswerPath(lpszLongPath, lpszShortPath, cchBuffer);
}

} // namespace

CNoShortNames::CNoShortNames()
	: m_patch("KERNEL32.dll", "GetShortPathNameW", reinterpret_cast<void*>(&LongPathAsShort))
{
	g_nShortCalls = 0;
}

int CNoShortNames::Calls() const { return g_nShortCalls; }

// A UTF-8 ANSI code page

namespace {

using WideCharToMultiBytePfn = int(WINAPI*)(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL);
WideCharToMultiBytePfn g_pfnWideCharToMultiByte = nullptr;
int g_nUtf8Refusals = 0;

UINT WINAPI Utf8Acp() { return CP_UTF8; }

int WINAPI Utf8WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
	LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar, LPBOOL lpUsedDefaultChar)
{
	if (CodePage == CP_ACP || CodePage == CP_UTF8) {
		if (dwFlags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) {
			++g_nUtf8Refusals;
			::SetLastError(ERROR_INVALID_FLAGS);
			return 0;
		}
		if (lpDefaultChar || lpUsedDefaultChar) {
			++g_nUtf8Refusals;
			::SetLastError(ERROR_INVALID_PARAMETER);
			return 0;
		}
		CodePage = CP_UTF8;
	}
	return g_pfnWideCharToMultiByte(CodePage, dwFlags, lpWideCharStr, cchWideChar, lpMultiByteStr,
		cbMultiByte, lpDefaultChar, lpUsedDefaultChar);
}

} // namespace

CUtf8CodePage::CUtf8CodePage()
	: m_acp("KERNEL32.dll", "GetACP", reinterpret_cast<void*>(&Utf8Acp)),
	  m_convert("KERNEL32.dll", "WideCharToMultiByte", reinterpret_cast<void*>(&Utf8WideCharToMultiByte))
{
	g_pfnWideCharToMultiByte = reinterpret_cast<WideCharToMultiBytePfn>(m_convert.Original());
	g_nUtf8Refusals = 0;
}

int CUtf8CodePage::Refusals() const { return g_nUtf8Refusals; }

// Calls that fail outright

namespace {

enum FailingIndex { kGetObjectA, kLocalAlloc, kGetDIBits, kCreateCompatibleBitmap, kSelectObject, kBitBlt };

struct FailingTarget {
	const char* pszDll;
	const char* pszFunction;
	void* pStandIn;
};

int g_failingCalls[6];
void* g_failingOriginal[6];

int WINAPI FailGetObjectA(HANDLE, int, LPVOID)
{
	++g_failingCalls[kGetObjectA];
	return 0;
}

HLOCAL WINAPI FailLocalAlloc(UINT uFlags, SIZE_T uBytes)
{
	// Only the zero-filled blocks the capture asks for; the runtime's own blocks still succeed.
	if (uFlags == LPTR) {
		++g_failingCalls[kLocalAlloc];
		::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
		return nullptr;
	}
	return reinterpret_cast<HLOCAL(WINAPI*)(UINT, SIZE_T)>(g_failingOriginal[kLocalAlloc])(uFlags, uBytes);
}

int WINAPI FailGetDIBits(HDC, HBITMAP, UINT, UINT, LPVOID, LPBITMAPINFO, UINT)
{
	++g_failingCalls[kGetDIBits];
	return 0;
}

HBITMAP WINAPI FailCreateCompatibleBitmap(HDC, int, int)
{
	++g_failingCalls[kCreateCompatibleBitmap];
	return nullptr;
}

HGDIOBJ WINAPI FailSelectObject(HDC hDC, HGDIOBJ hObject)
{
	if (::GetObjectType(hObject) == OBJ_BITMAP) {
		++g_failingCalls[kSelectObject];
		return nullptr;
	}
	return reinterpret_cast<HGDIOBJ(WINAPI*)(HDC, HGDIOBJ)>(g_failingOriginal[kSelectObject])(hDC, hObject);
}

BOOL WINAPI FailBitBlt(HDC, int, int, int, int, HDC, int, int, DWORD)
{
	++g_failingCalls[kBitBlt];
	return FALSE;
}

const FailingTarget kTargets[] = {
	{"GDI32.dll", "GetObjectA", reinterpret_cast<void*>(&FailGetObjectA)},
	{"KERNEL32.dll", "LocalAlloc", reinterpret_cast<void*>(&FailLocalAlloc)},
	{"GDI32.dll", "GetDIBits", reinterpret_cast<void*>(&FailGetDIBits)},
	{"GDI32.dll", "CreateCompatibleBitmap", reinterpret_cast<void*>(&FailCreateCompatibleBitmap)},
	{"GDI32.dll", "SelectObject", reinterpret_cast<void*>(&FailSelectObject)},
	{"GDI32.dll", "BitBlt", reinterpret_cast<void*>(&FailBitBlt)},
};

int IndexOf(const char* pszFunction)
{
	for (int i = 0; i < 6; ++i) {
		if (std::strcmp(kTargets[i].pszFunction, pszFunction) == 0)
			return i;
	}
	throw std::runtime_error(std::string("no failing stand-in for ") + pszFunction);
}

} // namespace

CFailingCall::CFailingCall(const char* pszFunction)
	: m_nIndex(IndexOf(pszFunction)),
	  m_patch(kTargets[m_nIndex].pszDll, kTargets[m_nIndex].pszFunction, kTargets[m_nIndex].pStandIn)
{
	g_failingCalls[m_nIndex] = 0;
	g_failingOriginal[m_nIndex] = m_patch.Original();
}

CFailingCall::~CFailingCall() { g_failingOriginal[m_nIndex] = nullptr; }

int CFailingCall::Calls() const { return g_failingCalls[m_nIndex]; }

// GlobalAlloc with old contents

namespace {

void* g_pRealGlobalAlloc = nullptr;
int g_nDirtyBlocks = 0;

HGLOBAL WINAPI DirtyGlobalAlloc(UINT uFlags, SIZE_T dwBytes)
{
	auto pReal = reinterpret_cast<HGLOBAL(WINAPI*)(UINT, SIZE_T)>(g_pRealGlobalAlloc);
	HGLOBAL hMem = pReal(uFlags, dwBytes);
	if (hMem && !(uFlags & GMEM_ZEROINIT) && !(uFlags & GMEM_MOVEABLE)) {
		std::memset(hMem, 0xA5, dwBytes);
		++g_nDirtyBlocks;
	}
	return hMem;
}

} // namespace

CDirtyGlobalAlloc::CDirtyGlobalAlloc()
	: m_patch("KERNEL32.dll", "GlobalAlloc", reinterpret_cast<void*>(&DirtyGlobalAlloc))
{
	g_pRealGlobalAlloc = m_patch.Original();
	g_nDirtyBlocks = 0;
}

CDirtyGlobalAlloc::~CDirtyGlobalAlloc() = default;

int CDirtyGlobalAlloc::DirtyBlocks() const { return g_nDirtyBlocks; }

// File calls

namespace {

struct FileSpyState {
	CFileCallSpy::Fault fault = CFileCallSpy::None;
	int nFaultWrite = 0;
	int nWrites = 0;
	std::set<HANDLE> tracked;
	std::vector<FileCall> calls;
	void* pCreate = nullptr;
	void* pWrite = nullptr;
	void* pClose = nullptr;
};

FileSpyState g_spy;

// A capture is written as "<process id>.part" beside its final name, then renamed.
bool IsCaptureFile(LPCSTR lpFileName)
{
	return lpFileName && (std::strstr(lpFileName, ".bmp") || std::strstr(lpFileName, ".part"));
}

HANDLE WINAPI SpyCreateFileA(LPCSTR lpFileName, DWORD dwAccess, DWORD dwShare, LPSECURITY_ATTRIBUTES lpSa,
	DWORD dwDisposition, DWORD dwFlags, HANDLE hTemplate)
{
	auto pReal =
		reinterpret_cast<HANDLE(WINAPI*)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)>(
			g_spy.pCreate);
	if (!IsCaptureFile(lpFileName))
		return pReal(lpFileName, dwAccess, dwShare, lpSa, dwDisposition, dwFlags, hTemplate);
	HANDLE hFile;
	if (g_spy.fault == CFileCallSpy::CreateFails) {
		::SetLastError(ERROR_ACCESS_DENIED);
		hFile = INVALID_HANDLE_VALUE;
	} else {
		hFile = pReal(lpFileName, dwAccess, dwShare, lpSa, dwDisposition, dwFlags, hTemplate);
	}
	g_spy.tracked.insert(hFile);
	g_spy.calls.push_back({"CreateFileA", hFile, 0, 0, hFile != INVALID_HANDLE_VALUE});
	return hFile;
}

BOOL WINAPI SpyWriteFile(
	HANDLE hFile, LPCVOID lpBuffer, DWORD nToWrite, LPDWORD lpWritten, LPOVERLAPPED lpOverlapped)
{
	auto pReal = reinterpret_cast<BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED)>(g_spy.pWrite);
	if (!g_spy.tracked.count(hFile))
		return pReal(hFile, lpBuffer, nToWrite, lpWritten, lpOverlapped);
	const int nWrite = ++g_spy.nWrites;
	BOOL bResult;
	if (g_spy.fault == CFileCallSpy::WriteFails && nWrite == g_spy.nFaultWrite) {
		if (lpWritten)
			*lpWritten = 0;
		::SetLastError(ERROR_DISK_FULL);
		bResult = FALSE;
	} else if (g_spy.fault == CFileCallSpy::WriteShort && nWrite == g_spy.nFaultWrite && nToWrite > 0) {
		bResult = pReal(hFile, lpBuffer, nToWrite - 1, lpWritten, lpOverlapped);
	} else {
		bResult = pReal(hFile, lpBuffer, nToWrite, lpWritten, lpOverlapped);
	}
	g_spy.calls.push_back({"WriteFile", hFile, nToWrite, lpWritten ? *lpWritten : 0, bResult});
	return bResult;
}

BOOL WINAPI SpyCloseHandle(HANDLE hObject)
{
	auto pReal = reinterpret_cast<BOOL(WINAPI*)(HANDLE)>(g_spy.pClose);
	if (!g_spy.tracked.count(hObject))
		return pReal(hObject);
	BOOL bResult = pReal(hObject);
	if (g_spy.fault == CFileCallSpy::CloseFails) {
		::SetLastError(ERROR_INVALID_HANDLE);
		bResult = FALSE;
	}
	g_spy.calls.push_back({"CloseHandle", hObject, 0, 0, bResult});
	return bResult;
}

} // namespace

CFileCallSpy::CFileCallSpy(Fault fault, int nWrite)
	: m_create("KERNEL32.dll", "CreateFileA", reinterpret_cast<void*>(&SpyCreateFileA)),
	  m_write("KERNEL32.dll", "WriteFile", reinterpret_cast<void*>(&SpyWriteFile)),
	  m_close("KERNEL32.dll", "CloseHandle", reinterpret_cast<void*>(&SpyCloseHandle))
{
	g_spy = FileSpyState();
	g_spy.fault = fault;
	g_spy.nFaultWrite = nWrite;
	g_spy.pCreate = m_create.Original();
	g_spy.pWrite = m_write.Original();
	g_spy.pClose = m_close.Original();
}

CFileCallSpy::~CFileCallSpy() { g_spy = FileSpyState(); }

const std::vector<FileCall>& CFileCallSpy::Calls() const { return g_spy.calls; }
