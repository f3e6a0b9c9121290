// Import-table patches of the test executable: platform calls made by the program's code are pointed at
// recorders and failing stand-ins for the life of a scope, then put back.
#pragma once

#include <string>
#include <vector>
#include <windows.h>

// Points this executable's import slot of dll!function at a replacement while the object lives.
class CIatPatch
{
public:
	CIatPatch(const char* pszDll, const char* pszFunction, void* pReplacement);
	~CIatPatch();
	CIatPatch(const CIatPatch&) = delete;
	CIatPatch& operator=(const CIatPatch&) = delete;

	void* Original() const { return m_pOriginal; }

private:
	void** m_pSlot = nullptr;
	void* m_pOriginal = nullptr;
};

// The import slot of dll!function in this executable, or null when it imports no such function.
void** FindImportSlot(const char* pszDll, const char* pszFunction);

// One MessageBoxA call as the program made it.
struct RecordedBox {
	HWND hWndOwner;
	std::string strText;
	std::string strCaption;
	UINT uType;
};

// Records every MessageBoxA and answers IDOK without showing anything.
class CMessageBoxRecorder
{
public:
	CMessageBoxRecorder();
	~CMessageBoxRecorder();
	CMessageBoxRecorder(const CMessageBoxRecorder&) = delete;
	CMessageBoxRecorder& operator=(const CMessageBoxRecorder&) = delete;

	const std::vector<RecordedBox>& Boxes() const;
	// The texts of the boxes, in order.
	std::vector<std::string> Texts() const;

private:
	CIatPatch m_patch;
};

// GetTempPathW answers a folder of the test's choice, so a capture writes where the test looks.
class CTempPathRedirect
{
public:
	explicit CTempPathRedirect(const std::string& strTempDir);
	explicit CTempPathRedirect(const std::wstring& wstrTempDir);
	~CTempPathRedirect();
	CTempPathRedirect(const CTempPathRedirect&) = delete;
	CTempPathRedirect& operator=(const CTempPathRedirect&) = delete;

private:
	CIatPatch m_patch;
};

// GetTempPathW answers dwAnswer and fills nothing, as when the call fails (0) or the path does not fit.
class CFailingTempPath
{
public:
	explicit CFailingTempPath(DWORD dwAnswer);
	~CFailingTempPath();
	CFailingTempPath(const CFailingTempPath&) = delete;
	CFailingTempPath& operator=(const CFailingTempPath&) = delete;

	int Calls() const;

private:
	CIatPatch m_patch;
};

// GetShortPathNameW as on a volume that keeps no 8.3 names (turned off by an administrator, or a
// share whose server makes none): it answers the long path, as Windows documents.
class CNoShortNames
{
public:
	CNoShortNames();
	CNoShortNames(const CNoShortNames&) = delete;
	CNoShortNames& operator=(const CNoShortNames&) = delete;

	int Calls() const;

private:
	CIatPatch m_patch;
};

// The ANSI code page as Windows 10 1903 and later make it where the user turns on UTF-8 for
// programs that are not Unicode: GetACP answers 65001 and WideCharToMultiByte, for CP_ACP as for
// CP_UTF8, converts to UTF-8 and refuses, as documented, any flag but WC_ERR_INVALID_CHARS
// (ERROR_INVALID_FLAGS) and a default-character argument (ERROR_INVALID_PARAMETER).
class CUtf8CodePage
{
public:
	CUtf8CodePage();
	CUtf8CodePage(const CUtf8CodePage&) = delete;
	CUtf8CodePage& operator=(const CUtf8CodePage&) = delete;

	int Refusals() const;

private:
	CIatPatch m_acp;
	CIatPatch m_convert;
};

// A GDI32 or KERNEL32 call that fails outright; the named call answers its failure value.
// Covered: GetObjectA, LocalAlloc (LPTR blocks), GetDIBits, CreateCompatibleBitmap,
// SelectObject (of bitmaps), BitBlt.
class CFailingCall
{
public:
	explicit CFailingCall(const char* pszFunction);
	~CFailingCall();
	CFailingCall(const CFailingCall&) = delete;
	CFailingCall& operator=(const CFailingCall&) = delete;

	int Calls() const;

private:
	int m_nIndex;
	CIatPatch m_patch;
};

// GlobalAlloc as a reused heap would behave: blocks not asked for zero-filled come back full of 0xA5.
class CDirtyGlobalAlloc
{
public:
	CDirtyGlobalAlloc();
	~CDirtyGlobalAlloc();
	CDirtyGlobalAlloc(const CDirtyGlobalAlloc&) = delete;
	CDirtyGlobalAlloc& operator=(const CDirtyGlobalAlloc&) = delete;

	int DirtyBlocks() const;

private:
	CIatPatch m_patch;
};

// One file call on a capture file, with what the platform (or the stand-in) answered.
struct FileCall {
	std::string strCall; // "CreateFileA", "WriteFile", "CloseHandle"
	HANDLE hFile;
	DWORD dwAsked;   // bytes asked to write
	DWORD dwWritten; // bytes reported written
	BOOL bResult;    // for CreateFileA: TRUE when the handle is valid
};

// Watches CreateFileA, WriteFile and CloseHandle on capture files, ".bmp" or ".part" (and on the
// handle the program holds for them, valid or not), records each call and its answer, and can make
// one of them fail: CreateFileA answering INVALID_HANDLE_VALUE, the n-th write (1-based) answering
// FALSE or writing one byte short while answering TRUE, or the close answering FALSE after closing.
class CFileCallSpy
{
public:
	enum Fault { None, CreateFails, WriteFails, WriteShort, CloseFails };

	explicit CFileCallSpy(Fault fault = None, int nWrite = 0);
	~CFileCallSpy();
	CFileCallSpy(const CFileCallSpy&) = delete;
	CFileCallSpy& operator=(const CFileCallSpy&) = delete;

	const std::vector<FileCall>& Calls() const;

private:
	CIatPatch m_create;
	CIatPatch m_write;
	CIatPatch m_close;
};
