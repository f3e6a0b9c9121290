// Helpers the Win32 tests share: pixels read back through the platform, BMP files written by hand,
// and private folders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>
#include <windows.h>

// A bitmap's pixels as the platform converts them to 32 bits, top-down, 0x00RRGGBB.
std::vector<uint32_t> ReadBitmapPixels(HBITMAP hBitmap, int& nWidth, int& nHeight);

// The pixels of a window's client area (nWidth x nHeight from its top-left) as the window holds them.
std::vector<uint32_t> ReadWindowPixels(HWND hWnd, int nWidth, int nHeight);

// The primary monitor's pixels as the display holds them.
std::vector<uint32_t> ReadScreenPixels(int& nWidth, int& nHeight);

// Writes a 24-bit bottom-up BMP of top-down 0x00RRGGBB pixels, by hand.
bool WriteBmp24(const std::string& strPath, int nWidth, int nHeight, const std::vector<uint32_t>& pixels);

// A test picture: distinct colours per pixel, so shifts and flips show.
std::vector<uint32_t> TestPattern(int nWidth, int nHeight, uint32_t seed);

// A new empty folder under the real temporary directory, with a trailing backslash; removed by the owner.
class CScratchFolder
{
public:
	explicit CScratchFolder(const char* pszTag);
	~CScratchFolder();
	CScratchFolder(const CScratchFolder&) = delete;
	CScratchFolder& operator=(const CScratchFolder&) = delete;

	// With a trailing backslash.
	const std::string& Path() const { return m_strPath; }

private:
	std::string m_strPath;
};

// A text of the ANSI code page in UTF-16.
std::wstring Widen(const std::string& strText);

// The files (not folders) directly in strFolder.
std::vector<std::string> ListFiles(const std::string& strFolder);
void RemoveTree(const std::string& strFolder);

// Where the BMP-writing tests leave their files for other readers: <test exe folder>\bmp-out\.
std::string ArtifactFolder();
