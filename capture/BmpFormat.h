// The BMP arithmetic of a capture: depth classes, the info header as the capture builds it, row
// stride, and the layout of the file written from the header as the pixel read left it.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
// The host build tests this arithmetic without the Windows headers.
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
#pragma pack(push, 2)
struct BITMAPFILEHEADER {
	WORD bfType;
	DWORD bfSize;
	WORD bfReserved1;
	WORD bfReserved2;
	DWORD bfOffBits;
};
#pragma pack(pop)
struct BITMAPINFOHEADER {
	DWORD biSize;
	LONG biWidth;
	LONG biHeight;
	WORD biPlanes;
	WORD biBitCount;
	DWORD biCompression;
	DWORD biSizeImage;
	LONG biXPelsPerMeter;
	LONG biYPelsPerMeter;
	DWORD biClrUsed;
	DWORD biClrImportant;
};
struct RGBQUAD {
	BYTE rgbBlue;
	BYTE rgbGreen;
	BYTE rgbRed;
	BYTE rgbReserved;
};
#define BI_RGB 0
#define BI_BITFIELDS 3
#endif

static_assert(sizeof(BITMAPFILEHEADER) == 14, "the file header is 14 bytes on disk");
static_assert(sizeof(BITMAPINFOHEADER) == 40, "the info header is 40 bytes on disk");

// The class of a bitmap whose planes x bits per pixel, taken as 16 bits, is given:
// 1, 4, 8, 16, 24 or 32.
WORD DepthClass(WORD wPlanes, WORD wBitsPerPixel);

// Colour-table entries the description block holds for a depth class: 2^class below 24, else 0.
DWORD ColorTableEntries(WORD wDepthClass);

// Bytes of the description block: the info header and room for the colour table.
size_t InfoBlockSize(WORD wDepthClass);

// Bytes in one pixel row of nWidth pixels at nBits bits, rounded up to whole 32-bit words.
int64_t Stride(WORD nBits, LONG nWidth);

// The info header of a capture bitmap before the pixel read: rows bottom-up, uncompressed,
// the class's stride, and a colour-table count for classes below 24. biSizeImage is 0 when the
// file would be 4 GiB or more.
BITMAPINFOHEADER MakeInfoHeader(LONG nWidth, LONG nHeight, WORD wPlanes, WORD wBitsPerPixel);

// What goes into the file, worked out from the info header as the pixel read left it, within
// the room the description block has for colour entries and the pixel buffer has for bytes.
struct BmpFileLayout {
	BITMAPFILEHEADER fileHeader;
	DWORD dwTableEntries; // colour entries written after the info header
	DWORD dwInfoBytes;    // info header and colour table: 40 + 4 x entries
	DWORD dwPixelBytes;   // pixel bytes written from the buffer
	DWORD dwClrUsed;      // biClrUsed to store so the header agrees with the table written
	DWORD dwSizeImage;    // biSizeImage to store so the header agrees with the pixels written
};

BmpFileLayout ComputeBmpFileLayout(
	const BITMAPINFOHEADER& header, DWORD dwTableCapacity, DWORD dwPixelCapacity);

// Whether a file of cbFile bytes that begins with the cbHead bytes at pHead is a whole,
// uncompressed BMP with an info header of 40 bytes or more: every colour entry and pixel row its
// headers announce lies within the file, so a loader never reads past its end.
bool IsCompleteBmpFile(const BYTE* pHead, size_t cbHead, uint64_t cbFile);
