// BMP arithmetic for captures; no platform calls.
#include "BmpFormat.h"

#include <algorithm>
#include <cstring>

WORD DepthClass(WORD wPlanes, WORD wBitsPerPixel)
{
	// Multiplied unsigned: two 16-bit counts can overflow an int, and only the low 16 bits count.
	const WORD n = static_cast<WORD>(static_cast<unsigned>(wPlanes) * wBitsPerPixel);
	if (n == 1)
		return 1;
	for (const WORD wClass : {4, 8, 16, 24}) {
		if (n <= wClass)
			return wClass;
	}
	return 32;
}

DWORD ColorTableEntries(WORD wDepthClass) { return wDepthClass < 24 ? DWORD{1} << wDepthClass : 0; }

size_t InfoBlockSize(WORD wDepthClass)
{
	return sizeof(BITMAPINFOHEADER) + ColorTableEntries(wDepthClass) * sizeof(RGBQUAD);
}

int64_t Stride(WORD nBits, LONG nWidth)
{
	// At most 65535 x 2^31 bits: no width a header can give overflows 64 bits.
	return ((int64_t{nBits} * nWidth + 31) & ~int64_t{31}) / 8;
}

BITMAPINFOHEADER MakeInfoHeader(LONG nWidth, LONG nHeight, WORD wPlanes, WORD wBitsPerPixel)
{
	const WORD wClass = DepthClass(wPlanes, wBitsPerPixel);
	// Zero leaves it uncompressed (BI_RGB) with every colour important.
	BITMAPINFOHEADER header = {};
	header.biSize = sizeof(BITMAPINFOHEADER);
	header.biWidth = nWidth;
	header.biHeight = nHeight;
	header.biPlanes = wPlanes;
	header.biBitCount = wBitsPerPixel;
	header.biClrUsed = ColorTableEntries(wClass);
	// At most 2^33 bytes a row and 2^31 rows. A file of 4 GiB or more has no size its headers can
	// hold: 0 marks it, and the capture refuses it as a buffer it cannot have.
	const uint64_t nImage =
		nWidth > 0 && nHeight > 0 ? uint64_t(Stride(wClass, nWidth)) * uint64_t(nHeight) : 0;
	const bool bFits = nImage <= UINT32_MAX - sizeof(BITMAPFILEHEADER) - InfoBlockSize(wClass);
	header.biSizeImage = bFits ? static_cast<DWORD>(nImage) : 0;
	return header;
}

BmpFileLayout ComputeBmpFileLayout(
	const BITMAPINFOHEADER& header, DWORD dwTableCapacity, DWORD dwPixelCapacity)
{
	BmpFileLayout layout = {};

	// A count of 0 means a full table at 8 bits or fewer, and three masks for bit fields; the
	// read may have filled either, so they are written and counted.
	DWORD dwEntries = header.biClrUsed;
	if (dwEntries == 0 && header.biBitCount <= 8)
		dwEntries = DWORD{1} << header.biBitCount;
	else if (dwEntries == 0 && header.biCompression == BI_BITFIELDS)
		dwEntries = 3;
	layout.dwTableEntries = std::min(dwEntries, dwTableCapacity);
	layout.dwClrUsed = layout.dwTableEntries == dwEntries ? header.biClrUsed : layout.dwTableEntries;
	layout.dwInfoBytes = sizeof(BITMAPINFOHEADER) + layout.dwTableEntries * sizeof(RGBQUAD);

	layout.fileHeader.bfType = 0x4D42;
	layout.fileHeader.bfOffBits = sizeof(BITMAPFILEHEADER) + layout.dwInfoBytes;

	// Pixel bytes within the buffer, and within what the file's 32-bit size can count.
	const int64_t nRoom = std::min<int64_t>(dwPixelCapacity, UINT32_MAX - layout.fileHeader.bfOffBits);
	// An uncompressed image may leave its size 0; its rows then say how many bytes it has.
	int64_t nImageBytes = header.biSizeImage;
	if (nImageBytes == 0) {
		const int64_t nRows = header.biHeight < 0 ? -int64_t{header.biHeight} : header.biHeight;
		// A row bounded by the room first keeps the product within 2^63.
		nImageBytes = std::clamp<int64_t>(Stride(header.biBitCount, header.biWidth), 0, nRoom) * nRows;
	}
	layout.dwPixelBytes = static_cast<DWORD>(std::clamp<int64_t>(nImageBytes, 0, nRoom));
	layout.dwSizeImage = layout.dwPixelBytes == header.biSizeImage ? header.biSizeImage : layout.dwPixelBytes;
	layout.fileHeader.bfSize = layout.fileHeader.bfOffBits + layout.dwPixelBytes;
	return layout;
}

bool IsCompleteBmpFile(const BYTE* pHead, size_t cbHead, uint64_t cbFile)
{
	BITMAPFILEHEADER file;
	BITMAPINFOHEADER info;
	if (!pHead || cbHead < sizeof(file) + sizeof(info))
		return false;
	std::memcpy(&file, pHead, sizeof(file));
	std::memcpy(&info, pHead + sizeof(file), sizeof(info));

	const bool bKnownDepth = info.biBitCount == 1 || info.biBitCount == 4 || info.biBitCount == 8 ||
							 info.biBitCount == 16 || info.biBitCount == 24 || info.biBitCount == 32;
	const bool bUncompressed =
		info.biCompression == BI_RGB || (info.biCompression == BI_BITFIELDS && info.biBitCount >= 16);
	if (file.bfType != 0x4D42 || info.biSize < sizeof(info) || info.biWidth <= 0 || info.biHeight == 0 ||
		info.biPlanes != 1 || !bKnownDepth || !bUncompressed)
		return false;

	// The masks of a bit-field image follow a 40-byte header; larger headers hold them inside.
	uint64_t nTableEntries = info.biClrUsed;
	if (nTableEntries == 0 && info.biBitCount <= 8)
		nTableEntries = uint64_t{1} << info.biBitCount;
	if (info.biCompression == BI_BITFIELDS && info.biSize == sizeof(info))
		nTableEntries += 3;
	const uint64_t nHeaderEnd = sizeof(file) + uint64_t{info.biSize} + nTableEntries * sizeof(RGBQUAD);

	// At most 2^33 bytes a row and 2^31 rows: the product fits 64 bits, and nothing is added to it.
	const uint64_t nRows = info.biHeight < 0 ? 0 - int64_t{info.biHeight} : info.biHeight;
	const uint64_t nPixelBytes = uint64_t(Stride(info.biBitCount, info.biWidth)) * nRows;
	return nHeaderEnd <= cbFile && file.bfOffBits >= sizeof(file) + sizeof(info) &&
		   file.bfOffBits <= cbFile && nPixelBytes <= cbFile - file.bfOffBits;
}
