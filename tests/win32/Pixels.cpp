// Pixel read-back, hand-written BMP files and scratch folders for the Win32 tests.
#include "Pixels.h"

#include <cstdio>

namespace {

// The description of a top-down, 32-bit image of the given size, for reading pixels as 0x00RRGGBB.
BITMAPINFO TopDown32(int nWidth, int nHeight)
{
	BITMAPINFO bi = {};
	bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
	bi.bmiHeader.biWidth = nWidth;
	bi.bmiHeader.biHeight = -nHeight;
	bi.bmiHeader.biPlanes = 1;
	bi.bmiHeader.biBitCount = 32;
	bi.bmiHeader.biCompression = BI_RGB;
	return bi;
}

} // namespace

std::vector<uint32_t> ReadBitmapPixels(HBITMAP hBitmap, int& nWidth, int& nHeight)
{
	BITMAP bm = {};
	nWidth = nHeight = 0;
	if (!::GetObjectA(hBitmap, sizeof(bm), &bm))
		return {};
	nWidth = bm.bmWidth;
	nHeight = bm.bmHeight;
	BITMAPINFO bi = TopDown32(nWidth, nHeight);
	std::vector<uint32_t> pixels(static_cast<size_t>(nWidth) * nHeight);
	HDC hDC = ::GetDC(nullptr);
	const int nRows = ::GetDIBits(hDC, hBitmap, 0, nHeight, pixels.data(), &bi, DIB_RGB_COLORS);
	::ReleaseDC(nullptr, hDC);
	if (nRows != nHeight)
		return {};
	for (uint32_t& p : pixels)
		p &= 0xFFFFFF;
	return pixels;
}

namespace {

std::vector<uint32_t> CopyFromDC(HDC hSource, int nWidth, int nHeight)
{
	BITMAPINFO bi = TopDown32(nWidth, nHeight);
	void* pBits = nullptr;
	HBITMAP hDib = ::CreateDIBSection(hSource, &bi, DIB_RGB_COLORS, &pBits, nullptr, 0);
	if (!hDib)
		return {};
	HDC hMem = ::CreateCompatibleDC(hSource);
	HGDIOBJ hOld = ::SelectObject(hMem, hDib);
	::BitBlt(hMem, 0, 0, nWidth, nHeight, hSource, 0, 0, SRCCOPY);
	::GdiFlush();
	std::vector<uint32_t> pixels(static_cast<const uint32_t*>(pBits),
		static_cast<const uint32_t*>(pBits) + static_cast<size_t>(nWidth) * nHeight);
	::SelectObject(hMem, hOld);
	::DeleteDC(hMem);
	::DeleteObject(hDib);
	for (uint32_t& p : pixels)
		p &= 0xFFFFFF;
	return pixels;
}

} // namespace

std::vector<uint32_t> ReadWindowPixels(HWND hWnd, int nWidth, int nHeight)
{
	HDC hDC = ::GetDC(hWnd);
	std::vector<uint32_t> pixels = CopyFromDC(hDC, nWidth, nHeight);
	::ReleaseDC(hWnd, hDC);
	return pixels;
}

std::vector<uint32_t> ReadScreenPixels(int& nWidth, int& nHeight)
{
	// The screen's context, as the capture's: its origin is the primary monitor's top-left under Wine
	// too, which the display device's is not.
	HDC hDC = ::GetDC(nullptr);
	nWidth = ::GetDeviceCaps(hDC, HORZRES);
	nHeight = ::GetDeviceCaps(hDC, VERTRES);
	std::vector<uint32_t> pixels = CopyFromDC(hDC, nWidth, nHeight);
	::ReleaseDC(nullptr, hDC);
	return pixels;
}

bool WriteBmp24(const std::string& strPath, int nWidth, int nHeight, const std::vector<uint32_t>& pixels)
{
	const uint32_t nStride = ((nWidth * 24 + 31) / 32) * 4;
	const uint32_t nImage = nStride * nHeight;
	std::vector<uint8_t> file(54 + nImage, 0);
	auto put16 = [&](size_t at, uint32_t v) {
		file[at] = v & 0xFF;
		file[at + 1] = (v >> 8) & 0xFF;
	};
	auto put32 = [&](size_t at, uint32_t v) {
		put16(at, v & 0xFFFF);
		put16(at + 2, v >> 16);
	};
	put16(0, 0x4D42);
	put32(2, static_cast<uint32_t>(file.size()));
	put32(10, 54);
	put32(14, 40);
	put32(18, nWidth);
	put32(22, nHeight);
	put16(26, 1);
	put16(28, 24);
	put32(34, nImage);
	for (int y = 0; y < nHeight; ++y) {
		uint8_t* pRow = &file[54 + static_cast<size_t>(nHeight - 1 - y) * nStride];
		for (int x = 0; x < nWidth; ++x) {
			const uint32_t p = pixels[static_cast<size_t>(y) * nWidth + x];
			pRow[3 * x] = p & 0xFF;
			pRow[3 * x + 1] = (p >> 8) & 0xFF;
			pRow[3 * x + 2] = (p >> 16) & 0xFF;
		}
	}
	FILE* pFile = std::fopen(strPath.c_str(), "wb");
	if (!pFile)
		return false;
	const bool bOk = std::fwrite(file.data(), 1, file.size(), pFile) == file.size();
	return std::fclose(pFile) == 0 && bOk;
}

std::vector<uint32_t> TestPattern(int nWidth, int nHeight, uint32_t seed)
{
	std::vector<uint32_t> pixels(static_cast<size_t>(nWidth) * nHeight);
	for (int y = 0; y < nHeight; ++y) {
		for (int x = 0; x < nWidth; ++x) {
			const uint32_t r = (x * 7 + seed) & 0xFF;
			const uint32_t g = (y * 5 + seed * 3) & 0xFF;
			const uint32_t b = ((x ^ y) * 3 + 0x40) & 0xFF;
			pixels[static_cast<size_t>(y) * nWidth + x] = (r << 16) | (g << 8) | b;
		}
	}
	return pixels;
}

CScratchFolder::CScratchFolder(const char* pszTag)
{
	char szTemp[MAX_PATH];
	::GetTempPathA(MAX_PATH, szTemp);
	static int nCount = 0;
	char szName[MAX_PATH];
	std::snprintf(szName, sizeof(szName), "%sfrostpane-w32-%s-%lu-%d\\", szTemp, pszTag,
		::GetCurrentProcessId(), ++nCount);
	m_strPath = szName;
	RemoveTree(m_strPath);
	::CreateDirectoryA(m_strPath.c_str(), nullptr);
}

CScratchFolder::~CScratchFolder() { RemoveTree(m_strPath); }

std::vector<std::string> ListFiles(const std::string& strFolder)
{
	std::vector<std::string> names;
	std::string strPattern = strFolder;
	if (!strPattern.empty() && strPattern.back() != '\\')
		strPattern += '\\';
	strPattern += '*';
	WIN32_FIND_DATAA fd;
	HANDLE hFind = ::FindFirstFileA(strPattern.c_str(), &fd);
	if (hFind == INVALID_HANDLE_VALUE)
		return names;
	do {
		if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
			names.push_back(fd.cFileName);
	} while (::FindNextFileA(hFind, &fd));
	::FindClose(hFind);
	return names;
}

std::wstring Widen(const std::string& strText)
{
	std::wstring wstrText(strText.size(), L'\0');
	wstrText.resize(static_cast<size_t>(::MultiByteToWideChar(CP_ACP, 0, strText.data(),
		static_cast<int>(strText.size()), &wstrText[0], static_cast<int>(wstrText.size()))));
	return wstrText;
}

namespace {

// Wide, so that folders the code page cannot spell go too.
void RemoveTreeW(const std::wstring& wstrFolder)
{
	WIN32_FIND_DATAW fd;
	HANDLE hFind = ::FindFirstFileW((wstrFolder + L"\\*").c_str(), &fd);
	if (hFind != INVALID_HANDLE_VALUE) {
		do {
			const std::wstring wstrName = fd.cFileName;
			if (wstrName == L"." || wstrName == L"..")
				continue;
			const std::wstring wstrChild = wstrFolder + L"\\" + wstrName;
			if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
				RemoveTreeW(wstrChild);
			else
				::DeleteFileW(wstrChild.c_str());
		} while (::FindNextFileW(hFind, &fd));
		::FindClose(hFind);
	}
	::RemoveDirectoryW(wstrFolder.c_str());
}

} // namespace

void RemoveTree(const std::string& strFolder)
{
	std::string strBase = strFolder;
	if (!strBase.empty() && strBase.back() == '\\')
		strBase.pop_back();
	RemoveTreeW(Widen(strBase));
}

std::string ArtifactFolder()
{
	char szModule[MAX_PATH];
	::GetModuleFileNameA(nullptr, szModule, MAX_PATH);
	std::string strFolder = szModule;
	strFolder.resize(strFolder.find_last_of('\\') + 1);
	strFolder += "bmp-out\\";
	::CreateDirectoryA(strFolder.c_str(), nullptr);
	return strFolder;
}
