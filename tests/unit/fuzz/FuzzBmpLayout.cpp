// Fuzz target for the BMP arithmetic: any plane count, bit count and size, and any header the pixel
// read may leave behind. The input is a 36-byte record (shorter inputs are padded with zeros):
//   0 planes u16, 2 bits u16, 4 width i32, 8 height i32, 12 which fields the read changed u8,
//   13 spare table entries the block happens to have u8, 14 bit count u16, 16 colour count u32,
//   20 image size u32, 24 compression u32, 28 height i32, 32 width i32 (the last six as the read
//   left them).
// Results are checked against the rules worked in 64-bit arithmetic; the sanitizers catch
// undefined arithmetic on the way.
#include "BmpFormat.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

struct Record {
	uint16_t wPlanes, wBits;
	int32_t nWidth, nHeight;
	uint8_t bChanged, bSpareEntries;
	uint16_t wReadBits;
	uint32_t dwReadClrUsed, dwReadSizeImage, dwReadCompression;
	int32_t nReadHeight, nReadWidth;
};

template <typename T> T Take(const uint8_t* pRecord, size_t nAt)
{
	T value;
	std::memcpy(&value, pRecord + nAt, sizeof(T));
	return value;
}

Record Parse(const uint8_t* pData, size_t nSize)
{
	uint8_t bytes[36] = {};
	std::memcpy(bytes, pData, std::min(nSize, sizeof(bytes)));
	Record r;
	r.wPlanes = Take<uint16_t>(bytes, 0);
	r.wBits = Take<uint16_t>(bytes, 2);
	r.nWidth = Take<int32_t>(bytes, 4);
	r.nHeight = Take<int32_t>(bytes, 8);
	r.bChanged = bytes[12];
	r.bSpareEntries = bytes[13];
	r.wReadBits = Take<uint16_t>(bytes, 14);
	r.dwReadClrUsed = Take<uint32_t>(bytes, 16);
	r.dwReadSizeImage = Take<uint32_t>(bytes, 20);
	r.dwReadCompression = Take<uint32_t>(bytes, 24);
	r.nReadHeight = Take<int32_t>(bytes, 28);
	r.nReadWidth = Take<int32_t>(bytes, 32);
	return r;
}

[[noreturn]] void Fail(const char* pszWhat, const Record& r, int64_t nGot, int64_t nWant)
{
	std::fprintf(stderr,
		"property failed: %s\n  planes %u bits %u width %d height %d; read: changed 0x%02X bits %u "
		"clrUsed %u sizeImage %u compression %u height %d width %d\n  got %lld, want %lld\n",
		pszWhat, r.wPlanes, r.wBits, r.nWidth, r.nHeight, r.bChanged, r.wReadBits, r.dwReadClrUsed,
		r.dwReadSizeImage, r.dwReadCompression, r.nReadHeight, r.nReadWidth, static_cast<long long>(nGot),
		static_cast<long long>(nWant));
	std::abort();
}

void Expect(const char* pszWhat, const Record& r, int64_t nGot, int64_t nWant)
{
	if (nGot != nWant)
		Fail(pszWhat, r, nGot, nWant);
}

// The class as a BMP reader needs it: the narrowest depth a reader knows that holds the bitmap's
// planes x bits, taken as 16 bits (none at all reads as 4 bits, more than 32 as 32).
WORD NarrowestReaderDepth(uint32_t nProduct)
{
	static const WORD kReaderDepths[] = {1, 4, 8, 16, 24, 32};
	const uint32_t n = nProduct & 0xFFFF;
	const uint32_t nNeeded = n == 0 ? 4 : std::min<uint32_t>(n, 32);
	return *std::find_if(std::begin(kReaderDepths), std::end(kReaderDepths),
		[nNeeded](WORD wDepth) { return wDepth >= nNeeded; });
}

// A row of nWidth pixels at nBits as a reader counts it, in whole 32-bit words; -1 for a negative
// width, about which no claim is made.
int64_t RowBytes(int64_t nBits, int64_t nWidth) { return nWidth < 0 ? -1 : (nBits * nWidth + 31) / 32 * 4; }

void CheckStride(const Record& r, WORD wBits, LONG nWidth)
{
	const int64_t nWant = RowBytes(wBits, nWidth);
	if (nWant >= 0)
		Expect("stride is the row rounded up to whole 32-bit words", r, Stride(wBits, nWidth), nWant);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
	const Record r = Parse(pData, nSize);

	const WORD wClass = DepthClass(r.wPlanes, r.wBits);
	Expect("class is the narrowest depth a reader knows that holds the bits", r, wClass,
		NarrowestReaderDepth(uint32_t{r.wPlanes} * r.wBits));
	const DWORD dwCapacity = ColorTableEntries(wClass);
	Expect("table entries of the class", r, dwCapacity, wClass < 24 ? int64_t{1} << wClass : 0);
	Expect("block size of the class", r, static_cast<int64_t>(InfoBlockSize(wClass)),
		40 + 4 * int64_t{dwCapacity});
	CheckStride(r, wClass, r.nWidth);
	CheckStride(r, r.wReadBits, r.nReadWidth);

	const BITMAPINFOHEADER built = MakeInfoHeader(r.nWidth, r.nHeight, r.wPlanes, r.wBits);
	Expect("biSize", r, built.biSize, 40);
	Expect("biWidth", r, built.biWidth, r.nWidth);
	Expect("biHeight", r, built.biHeight, r.nHeight);
	Expect("biPlanes as given", r, built.biPlanes, r.wPlanes);
	Expect("biBitCount as given", r, built.biBitCount, r.wBits);
	Expect("biCompression", r, built.biCompression, BI_RGB);
	Expect("biClrUsed", r, built.biClrUsed, dwCapacity);
	Expect("biXPelsPerMeter", r, built.biXPelsPerMeter, 0);
	Expect("biYPelsPerMeter", r, built.biYPelsPerMeter, 0);
	Expect("biClrImportant", r, built.biClrImportant, 0);
	// The rows' bytes where the file they make has a size its 32-bit fields can hold, else 0: a row
	// of 4 GiB or more never fits, and below that the product stays within 2^63.
	const int64_t nBuiltRow = RowBytes(wClass, r.nWidth);
	const bool bRows = r.nWidth > 0 && r.nHeight > 0 && nBuiltRow <= UINT32_MAX;
	const int64_t nBuiltImage = bRows ? nBuiltRow * r.nHeight : 0;
	const bool bFits = 14 + 40 + 4 * int64_t{dwCapacity} + nBuiltImage <= UINT32_MAX;
	Expect("biSizeImage is stride x height where the file fits 32 bits, else 0", r, built.biSizeImage,
		bFits ? nBuiltImage : 0);

	// The capture allocates the pixel buffer at the built size and refuses a size of 0.
	const DWORD dwPixelCapacity = built.biSizeImage;
	if (dwPixelCapacity == 0)
		return 0;
	const DWORD dwTableCapacity = dwCapacity + r.bSpareEntries % 4;

	BITMAPINFOHEADER read = built;
	if (r.bChanged & 0x01)
		read.biClrUsed = r.dwReadClrUsed;
	if (r.bChanged & 0x02)
		read.biSizeImage = r.dwReadSizeImage;
	if (r.bChanged & 0x04)
		read.biCompression = r.dwReadCompression;
	if (r.bChanged & 0x08)
		read.biBitCount = r.wReadBits;
	if (r.bChanged & 0x10)
		read.biHeight = r.nReadHeight;
	if (r.bChanged & 0x20)
		read.biWidth = r.nReadWidth;

	const BmpFileLayout layout = ComputeBmpFileLayout(read, dwTableCapacity, dwPixelCapacity);
	const BITMAPFILEHEADER fileHeader = layout.fileHeader;
	Expect("bfType", r, fileHeader.bfType, 0x4D42);
	Expect("bfReserved1", r, fileHeader.bfReserved1, 0);
	Expect("bfReserved2", r, fileHeader.bfReserved2, 0);
	if (layout.dwTableEntries > dwTableCapacity)
		Fail("table entries within the block", r, layout.dwTableEntries, dwTableCapacity);
	if (layout.dwPixelBytes > dwPixelCapacity)
		Fail("pixel bytes within the buffer", r, layout.dwPixelBytes, dwPixelCapacity);
	Expect("info bytes are the header and the table", r, layout.dwInfoBytes,
		40 + 4 * int64_t{layout.dwTableEntries});
	Expect("bfOffBits", r, fileHeader.bfOffBits, 14 + int64_t{layout.dwInfoBytes});
	Expect("bfSize is every byte written", r, fileHeader.bfSize,
		14 + int64_t{layout.dwInfoBytes} + layout.dwPixelBytes);
	Expect("stored biSizeImage is the pixel bytes written", r, layout.dwSizeImage, layout.dwPixelBytes);

	// Pixel bytes: the size the read left, or the rows when it left 0, within the buffer and within
	// what the file's size can count. A row beyond the room needs no product.
	const int64_t nRoom = std::min<int64_t>(dwPixelCapacity, UINT32_MAX - 14 - int64_t{layout.dwInfoBytes});
	int64_t nImage = read.biSizeImage;
	if (nImage == 0) {
		const int64_t nRow = RowBytes(read.biBitCount, read.biWidth);
		const int64_t nRows = read.biHeight < 0 ? -int64_t{read.biHeight} : read.biHeight;
		nImage = nRow < 0 ? -1 : nRows == 0 ? 0 : nRow > nRoom ? nRoom : nRow * nRows;
	}
	if (nImage >= 0)
		Expect("pixel bytes as the read left them, within the buffer and the file size", r,
			layout.dwPixelBytes, std::min<int64_t>(nImage, nRoom));

	// Colour entries: the count the read left, 0 meaning a full table at 8 bits or fewer, within
	// the block; the stored count announces exactly the entries written.
	if (read.biCompression == BI_RGB) {
		auto implied = [&](DWORD dwClrUsed) -> int64_t {
			return dwClrUsed != 0 ? dwClrUsed : read.biBitCount <= 8 ? int64_t{1} << read.biBitCount : 0;
		};
		Expect("table entries as the read left them, within the block", r, layout.dwTableEntries,
			std::min<int64_t>(implied(read.biClrUsed), dwTableCapacity));
		// Except where the block has no room at all at 8 bits or fewer: no count announces an
		// empty table there, as 0 means a full one. The platform's read keeps the bit count it was
		// asked for, so this needs a read that changed 24 or 32 bits to 8 or fewer.
		if (layout.dwTableEntries != 0 || read.biBitCount > 8)
			Expect("stored biClrUsed announces the entries written", r, implied(layout.dwClrUsed),
				layout.dwTableEntries);
	}
	return 0;
}
