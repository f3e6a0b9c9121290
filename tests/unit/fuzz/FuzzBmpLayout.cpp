// Fuzz target for the BMP arithmetic: the header a capture builds for any plane count, bit count and
// size, the file it writes from any header the pixel read may leave behind, and the check the cover
// window makes on any file head and size. The input is a 98-byte record (shorter inputs are padded
// with zeros):
//   0 planes u16, 2 bits u16, 4 width i32, 8 height i32, 12 which fields the read changed u8,
//   13 spare table entries the block happens to have u8, 14 bit count u16, 16 colour count u32,
//   20 image size u32, 24 compression u32, 28 height i32, 32 width i32 (the last six as the read
//   left them); 36 the first 54 bytes of a file on disk, 90 that file's size u64.
// Each result is held to a property of the file it describes, worked with overflow checks in 64-bit
// arithmetic; the sanitizers catch undefined arithmetic on the way.
#include "BmpFormat.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

const size_t kHeadAt = 36;
const size_t kHeadBytes = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
const size_t kSizeAt = kHeadAt + kHeadBytes;
const uint64_t kNoFit = UINT64_MAX; // a sum or product beyond 64 bits: no file holds it

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

Record Parse(const uint8_t* pBytes)
{
	Record r;
	r.wPlanes = Take<uint16_t>(pBytes, 0);
	r.wBits = Take<uint16_t>(pBytes, 2);
	r.nWidth = Take<int32_t>(pBytes, 4);
	r.nHeight = Take<int32_t>(pBytes, 8);
	r.bChanged = pBytes[12];
	r.bSpareEntries = pBytes[13];
	r.wReadBits = Take<uint16_t>(pBytes, 14);
	r.dwReadClrUsed = Take<uint32_t>(pBytes, 16);
	r.dwReadSizeImage = Take<uint32_t>(pBytes, 20);
	r.dwReadCompression = Take<uint32_t>(pBytes, 24);
	r.nReadHeight = Take<int32_t>(pBytes, 28);
	r.nReadWidth = Take<int32_t>(pBytes, 32);
	return r;
}

[[noreturn]] void Fail(const char* pszWhat, const Record& r, uint64_t nGot, uint64_t nWant)
{
	std::fprintf(stderr,
		"property failed: %s\n  planes %u bits %u width %d height %d; read: changed 0x%02X bits %u "
		"clrUsed %u sizeImage %u compression %u height %d width %d\n  got %llu, want %llu\n",
		pszWhat, r.wPlanes, r.wBits, r.nWidth, r.nHeight, r.bChanged, r.wReadBits, r.dwReadClrUsed,
		r.dwReadSizeImage, r.dwReadCompression, r.nReadHeight, r.nReadWidth,
		static_cast<unsigned long long>(nGot), static_cast<unsigned long long>(nWant));
	std::abort();
}

void Expect(const char* pszWhat, const Record& r, uint64_t nGot, uint64_t nWant)
{
	if (nGot != nWant)
		Fail(pszWhat, r, nGot, nWant);
}

void Hold(const char* pszWhat, const Record& r, bool bHolds)
{
	if (!bHolds)
		Fail(pszWhat, r, 0, 1);
}

uint64_t Add(uint64_t a, uint64_t b)
{
	uint64_t n;
	return __builtin_add_overflow(a, b, &n) ? kNoFit : n;
}

uint64_t Mul(uint64_t a, uint64_t b)
{
	uint64_t n;
	return __builtin_mul_overflow(a, b, &n) ? kNoFit : n;
}

uint64_t Rows(LONG nHeight) { return nHeight < 0 ? 0 - static_cast<uint64_t>(nHeight) : uint64_t(nHeight); }

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

// A row holds every bit of its pixels in whole 32-bit words, with less than a word to spare.
void CheckStride(const Record& r, WORD wBits, LONG nWidth)
{
	if (nWidth < 0)
		return;
	const int64_t nStride = Stride(wBits, nWidth);
	const int64_t nBits = int64_t{wBits} * nWidth;
	Hold("a row is whole 32-bit words", r, nStride >= 0 && nStride % 4 == 0);
	Hold("a row holds its pixels with less than a word to spare", r,
		nStride * 8 >= nBits && nStride * 8 < nBits + 32);
}

// What a reader makes of a file of cbFile bytes that begins with the head: whether every colour
// entry and pixel row its headers announce lies within the file, and whether it is a kind of BMP
// the check lets through at all.
struct Reading {
	bool bKind;         // an uncompressed (or bit-field) BMP of a known depth, with a usable header
	uint64_t nHeadEnd;  // end of the headers and the colour entries (or masks) they announce
	uint64_t nPixelEnd; // end of the last pixel row
};

Reading Read(const uint8_t* pHead)
{
	BITMAPFILEHEADER file;
	BITMAPINFOHEADER info;
	std::memcpy(&file, pHead, sizeof(file));
	std::memcpy(&info, pHead + sizeof(file), sizeof(info));
	const WORD n = info.biBitCount;
	const bool bDepth = n == 1 || n == 4 || n == 8 || n == 16 || n == 24 || n == 32;
	const bool bBitFields = info.biCompression == BI_BITFIELDS && n >= 16;
	Reading reading;
	reading.bKind = file.bfType == 0x4D42 && info.biSize >= 40 && info.biWidth > 0 && info.biHeight != 0 &&
					info.biPlanes == 1 && bDepth && (info.biCompression == BI_RGB || bBitFields) &&
					file.bfOffBits >= kHeadBytes;
	uint64_t nEntries = info.biClrUsed != 0 ? info.biClrUsed : n <= 8 ? uint64_t{1} << (n & 31) : 0;
	if (bBitFields && info.biSize == 40)
		nEntries += 3;
	reading.nHeadEnd = Add(14 + uint64_t{info.biSize}, Mul(nEntries, 4));
	reading.nPixelEnd = reading.bKind
							? Add(file.bfOffBits, Mul(Rows(info.biHeight), uint64_t(Stride(n, info.biWidth))))
							: kNoFit;
	return reading;
}

// The check judges a file complete exactly when it is of a kind it loads and holds its headers and
// every row within its size: one byte less and it is not.
void CheckJudgement(const Record& r, const uint8_t* pHead, size_t cbHead, uint64_t cbFile)
{
	const bool bComplete = IsCompleteBmpFile(pHead, cbHead, cbFile);
	if (cbHead < kHeadBytes) {
		Hold("a head shorter than the two headers is never complete", r, !bComplete);
		return;
	}
	const Reading reading = Read(pHead);
	const uint64_t nNeeded = std::max(reading.nHeadEnd, reading.nPixelEnd);
	Expect("complete exactly when headers and rows lie within the file", r, bComplete,
		reading.bKind && nNeeded != kNoFit && nNeeded <= cbFile);
	if (reading.bKind && nNeeded != kNoFit) {
		Hold("a file of exactly the size needed is complete", r, IsCompleteBmpFile(pHead, cbHead, nNeeded));
		Hold("a byte less is not", r, !IsCompleteBmpFile(pHead, cbHead, nNeeded - 1));
	}
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
	uint8_t bytes[kSizeAt + sizeof(uint64_t)] = {};
	std::memcpy(bytes, pData, std::min(nSize, sizeof(bytes)));
	const Record r = Parse(bytes);

	// The cover window's check, on any head and size from disk.
	const size_t cbHead = nSize > kHeadAt ? std::min(nSize - kHeadAt, kHeadBytes) : 0;
	CheckJudgement(r, bytes + kHeadAt, cbHead, Take<uint64_t>(bytes, kSizeAt));

	const WORD wClass = DepthClass(r.wPlanes, r.wBits);
	Expect("class is the narrowest depth a reader knows that holds the bits", r, wClass,
		NarrowestReaderDepth(uint32_t{r.wPlanes} * r.wBits));
	CheckStride(r, wClass, r.nWidth);
	CheckStride(r, r.wReadBits, r.nReadWidth);

	// The header as built: the values given, and a colour entry for every pixel value of the class.
	const BITMAPINFOHEADER built = MakeInfoHeader(r.nWidth, r.nHeight, r.wPlanes, r.wBits);
	Expect("biSize", r, built.biSize, 40);
	Expect("biWidth", r, uint32_t(built.biWidth), uint32_t(r.nWidth));
	Expect("biHeight", r, uint32_t(built.biHeight), uint32_t(r.nHeight));
	Expect("biPlanes as given", r, built.biPlanes, r.wPlanes);
	Expect("biBitCount as given", r, built.biBitCount, r.wBits);
	Expect("biCompression", r, built.biCompression, BI_RGB);
	Expect("biXPelsPerMeter", r, uint32_t(built.biXPelsPerMeter), 0);
	Expect("biYPelsPerMeter", r, uint32_t(built.biYPelsPerMeter), 0);
	Expect("biClrImportant", r, built.biClrImportant, 0);
	Expect("biClrUsed is the entries the class's block holds", r, built.biClrUsed, ColorTableEntries(wClass));
	Expect("below 24 bits an entry for each pixel value, none above", r, built.biClrUsed,
		wClass < 24 ? uint64_t{1} << wClass : 0);
	const uint64_t nBlock = InfoBlockSize(wClass);
	Expect("the block holds the header and the table it announces, nothing more", r, nBlock,
		40 + Mul(built.biClrUsed, 4));

	// biSizeImage: every row of the class's stride, where the whole file has a 32-bit size; else 0.
	const uint64_t nImage =
		r.nWidth > 0 && r.nHeight > 0 ? Mul(Rows(r.nHeight), uint64_t(Stride(wClass, r.nWidth))) : 0;
	const bool bFits = nImage != 0 && Add(14 + nBlock, nImage) <= UINT32_MAX;
	Expect("biSizeImage is the rows where the file has a 32-bit size, else 0", r, built.biSizeImage,
		bFits ? nImage : 0);

	// The capture allocates the pixel buffer at the built size and refuses a size of 0.
	const DWORD dwPixelCapacity = built.biSizeImage;
	if (dwPixelCapacity == 0)
		return 0;
	const DWORD dwTableCapacity = ColorTableEntries(wClass) + r.bSpareEntries % 4;

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

	// The file written: its header, the info header with the stored counts, the table, the pixels.
	const BmpFileLayout layout = ComputeBmpFileLayout(read, dwTableCapacity, dwPixelCapacity);
	const BITMAPFILEHEADER fileHeader = layout.fileHeader;
	Expect("bfType", r, fileHeader.bfType, 0x4D42);
	Expect("bfReserved1", r, fileHeader.bfReserved1, 0);
	Expect("bfReserved2", r, fileHeader.bfReserved2, 0);
	Hold("table entries within the block", r, layout.dwTableEntries <= dwTableCapacity);
	Hold("pixel bytes within the buffer", r, layout.dwPixelBytes <= dwPixelCapacity);
	Expect(
		"info bytes are the header and the table", r, layout.dwInfoBytes, 40 + Mul(layout.dwTableEntries, 4));
	Expect("the pixels follow the headers", r, fileHeader.bfOffBits, 14 + uint64_t{layout.dwInfoBytes});
	const uint64_t nWritten = 14 + uint64_t{layout.dwInfoBytes} + layout.dwPixelBytes;
	Expect("bfSize is every byte written, with no 32-bit wrap", r, fileHeader.bfSize, nWritten);
	Expect("stored biSizeImage is the pixel bytes written", r, layout.dwSizeImage, layout.dwPixelBytes);

	// Pixel bytes: what the read announced (its size, or its rows when it left 0), cut only where the
	// buffer or the file's 32-bit size ends. No claim is made for rows of a negative width.
	if (read.biSizeImage != 0 || read.biWidth >= 0) {
		const uint64_t nAnnounced =
			read.biSizeImage != 0 ? read.biSizeImage
								  : Mul(Rows(read.biHeight), uint64_t(Stride(read.biBitCount, read.biWidth)));
		Hold("no more pixel bytes than announced", r, layout.dwPixelBytes <= nAnnounced);
		if (layout.dwPixelBytes < nAnnounced)
			Hold("pixels are cut only at the end of the buffer or of the 32-bit size", r,
				layout.dwPixelBytes == dwPixelCapacity || nWritten == UINT32_MAX);
	}

	// Colour entries: the count the read left, 0 meaning a full table at 8 bits or fewer, within
	// the block; the stored count announces exactly the entries written.
	if (read.biCompression == BI_RGB) {
		auto implied = [&](DWORD dwClrUsed) -> uint64_t {
			return dwClrUsed != 0 ? dwClrUsed : read.biBitCount <= 8 ? uint64_t{1} << read.biBitCount : 0;
		};
		Expect("table entries as the read left them, within the block", r, layout.dwTableEntries,
			std::min<uint64_t>(implied(read.biClrUsed), dwTableCapacity));
		// Except where the block has no room at all at 8 bits or fewer: no count announces an
		// empty table there, as 0 means a full one. The platform's read keeps the bit count it was
		// asked for, so this needs a read that changed 24 or 32 bits to 8 or fewer.
		if (layout.dwTableEntries != 0 || read.biBitCount > 8)
			Expect("stored biClrUsed announces the entries written", r, implied(layout.dwClrUsed),
				layout.dwTableEntries);
	}

	// The head of that file, judged as the cover window judges it; and a read that left the header
	// as built, of a depth a reader knows, gives a file the cover window loads.
	BITMAPINFOHEADER stored = read;
	stored.biClrUsed = layout.dwClrUsed;
	stored.biSizeImage = layout.dwSizeImage;
	uint8_t head[kHeadBytes];
	std::memcpy(head, &fileHeader, sizeof(fileHeader));
	std::memcpy(head + sizeof(fileHeader), &stored, sizeof(stored));
	CheckJudgement(r, head, sizeof(head), nWritten);
	const bool bKnown = r.wPlanes == 1 && NarrowestReaderDepth(r.wBits) == r.wBits;
	if ((r.bChanged & 0x3F) == 0 && bKnown)
		Hold("the capture's own file is complete", r, IsCompleteBmpFile(head, sizeof(head), nWritten));
	return 0;
}
