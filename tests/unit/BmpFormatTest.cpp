// Depth classes, the info header, row stride and the BMP file layout. Layouts are checked twice:
// against figures worked out by hand, and by laying the file out in bytes as the capture writes it
// and reading it back the way a BMP reader does.
#include "BmpFormat.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(DepthClass, EveryBoundaryOfThePlanesTimesBitsProduct)
{
	struct Case {
		WORD wPlanes, wBits, wClass;
	};
	const Case cases[] = {
		{1, 0, 4},
		{0, 8, 4},
		{1, 1, 1},
		{1, 2, 4},
		{2, 1, 4},
		{1, 4, 4},
		{2, 2, 4},
		{1, 5, 8},
		{1, 8, 8},
		{2, 4, 8},
		{1, 9, 16},
		{1, 16, 16},
		{2, 8, 16},
		{1, 17, 24},
		{1, 24, 24},
		{3, 8, 24},
		{1, 25, 32},
		{1, 32, 32},
		{4, 8, 32},
		{1, 65535, 32},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(testing::Message() << "planes " << c.wPlanes << " x bits " << c.wBits);
		EXPECT_EQ(DepthClass(c.wPlanes, c.wBits), c.wClass);
	}
}

TEST(DepthClass, ProductIsTakenAs16Bits)
{
	// 65536 wraps to 0, 131073 to 1, 65538 to 2, 66049 to 513.
	EXPECT_EQ(DepthClass(2, 32768), 4);
	EXPECT_EQ(DepthClass(256, 256), 4);
	EXPECT_EQ(DepthClass(3, 43691), 1);
	EXPECT_EQ(DepthClass(2, 32769), 4);
	EXPECT_EQ(DepthClass(257, 257), 32);
	// A product beyond the range of int: 65535 x 65535 = 0xFFFE0001 wraps to 1.
	EXPECT_EQ(DepthClass(65535, 65535), 1);
	// 46341 x 46341 = 0x80001219, just beyond INT_MAX, wraps to 0x1219.
	EXPECT_EQ(DepthClass(46341, 46341), 32);
}

TEST(DepthClass, ColourTableAndBlockSizeOfEachClass)
{
	struct Case {
		WORD wClass;
		DWORD dwEntries;
		size_t nBlock;
	};
	const Case cases[] = {
		{1, 2, 48},
		{4, 16, 104},
		{8, 256, 1064},
		{16, 65536, 262184},
		{24, 0, 40},
		{32, 0, 40},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(testing::Message() << "class " << c.wClass);
		EXPECT_EQ(ColorTableEntries(c.wClass), c.dwEntries);
		EXPECT_EQ(InfoBlockSize(c.wClass), c.nBlock);
	}
}

TEST(Stride, RowsRoundUpToWhole32BitWords)
{
	EXPECT_EQ(Stride(24, 1366), 4100);
	EXPECT_EQ(Stride(32, 1920), 7680);
	EXPECT_EQ(Stride(16, 1366), 2732);
	EXPECT_EQ(Stride(8, 1366), 1368);
	EXPECT_EQ(Stride(4, 1366), 684);
	EXPECT_EQ(Stride(1, 1366), 172);
}

TEST(Stride, OneAndFourBitRowsRoundOnBitsNotBytes)
{
	EXPECT_EQ(Stride(1, 1), 4);
	EXPECT_EQ(Stride(1, 32), 4);
	EXPECT_EQ(Stride(1, 33), 8);
	EXPECT_EQ(Stride(1, 64), 8);
	EXPECT_EQ(Stride(1, 65), 12);
	EXPECT_EQ(Stride(4, 7), 4);
	EXPECT_EQ(Stride(4, 8), 4);
	EXPECT_EQ(Stride(4, 9), 8);
}

TEST(Stride, WidthOneAndAroundAWordAtEachClass)
{
	struct Case {
		WORD wBits;
		LONG nWidth, nStride;
	};
	const Case cases[] = {
		{1, 1, 4},
		{4, 1, 4},
		{8, 1, 4},
		{16, 1, 4},
		{24, 1, 4},
		{32, 1, 4},
		{8, 4, 4},
		{8, 5, 8},
		{16, 2, 4},
		{16, 3, 8},
		{24, 4, 12},
		{24, 5, 16},
		{32, 2, 8},
		{1, 0, 0},
		{32, 0, 0},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(testing::Message() << c.wBits << " bits, width " << c.nWidth);
		EXPECT_EQ(Stride(c.wBits, c.nWidth), c.nStride);
	}
}

TEST(Stride, WideRowsDoNotOverflow)
{
	// 32 x 100000000 bits is beyond a 32-bit int before the division; 2^30 and 2^31 - 1 pixels of
	// 4 bytes are beyond it after.
	EXPECT_EQ(Stride(32, 100000000), 400000000);
	EXPECT_EQ(Stride(32, 7680), 30720);
	EXPECT_EQ(Stride(32, 1073741824), int64_t{4294967296});
	EXPECT_EQ(Stride(32, 2147483647), int64_t{8589934588});
	EXPECT_EQ(Stride(65535, 2147483647), int64_t{17591917600772});
}

TEST(InfoHeader, PlanesAndBitsAreStoredAsGivenWhileTheClassSetsTableAndStride)
{
	// 2 planes of 12 bits: class 24, so no table and three bytes a pixel.
	const BITMAPINFOHEADER h24 = MakeInfoHeader(5, 3, 2, 12);
	EXPECT_EQ(h24.biPlanes, 2);
	EXPECT_EQ(h24.biBitCount, 12);
	EXPECT_EQ(h24.biClrUsed, 0u);
	EXPECT_EQ(h24.biSizeImage, 16u * 3);

	// 3 bits: class 4, a 16-entry table and four bits a pixel.
	const BITMAPINFOHEADER h4 = MakeInfoHeader(9, 2, 1, 3);
	EXPECT_EQ(h4.biBitCount, 3);
	EXPECT_EQ(h4.biClrUsed, 16u);
	EXPECT_EQ(h4.biSizeImage, 8u * 2);

	// A product that wraps to 0 is class 4.
	const BITMAPINFOHEADER hWrap = MakeInfoHeader(8, 1, 2, 32768);
	EXPECT_EQ(hWrap.biPlanes, 2);
	EXPECT_EQ(hWrap.biBitCount, 32768);
	EXPECT_EQ(hWrap.biClrUsed, 16u);
	EXPECT_EQ(hWrap.biSizeImage, 4u);
}

// The capture of a 7680 x 4320 display at 32 bits is a 132,710,454-byte file (measured end to end).
TEST(InfoHeader, LargeScreenImageSize)
{
	const BITMAPINFOHEADER h = MakeInfoHeader(7680, 4320, 1, 32);
	const DWORD dwFileSize = ComputeBmpFileLayout(h, 0, h.biSizeImage).fileHeader.bfSize;
	EXPECT_EQ(dwFileSize, 132710454u);
	// Close to the largest file 32 bits can count: 4 GiB less one row of 4 pixels.
	EXPECT_EQ(MakeInfoHeader(65536, 16383, 1, 32).biSizeImage, 4294705152u);
}

// A surface of 4 GiB or more has no size a header can hold: it is left 0, which the capture refuses
// as it refuses a buffer it cannot have, so the pixel read never writes past a buffer of the wrapped size.
TEST(InfoHeader, ImageOf4GiBOrMoreHasNoSize)
{
	EXPECT_EQ(MakeInfoHeader(65536, 16384, 1, 32).biSizeImage, 0u);
	EXPECT_EQ(MakeInfoHeader(65536, 16385, 1, 32).biSizeImage, 0u) << "wraps to one row";
	EXPECT_EQ(MakeInfoHeader(100000, 100000, 1, 24).biSizeImage, 0u);
	EXPECT_EQ(MakeInfoHeader(2147483647, 2147483647, 1, 32).biSizeImage, 0u);
	// Pixels under 4 GiB, but not with the 16-bit class's table of 65536 entries before them.
	EXPECT_EQ(MakeInfoHeader(65536, 32767, 1, 16).biSizeImage, 0u);
}

// The file header is packed, so its fields are read by value, not bound to references.
DWORD OffBits(const BmpFileLayout& layout) { return layout.fileHeader.bfOffBits; }
DWORD FileSize(const BmpFileLayout& layout) { return layout.fileHeader.bfSize; }
WORD FileType(const BmpFileLayout& layout) { return layout.fileHeader.bfType; }
WORD Reserved1(const BmpFileLayout& layout) { return layout.fileHeader.bfReserved1; }
WORD Reserved2(const BmpFileLayout& layout) { return layout.fileHeader.bfReserved2; }

// A capture's description block and pixel buffer, as the capture allocates them.
struct Capture {
	BITMAPINFOHEADER header;
	DWORD dwTableCapacity;
	DWORD dwPixelCapacity;
};

Capture MakeCapture(LONG nWidth, LONG nHeight, WORD wBits)
{
	Capture capture;
	capture.header = MakeInfoHeader(nWidth, nHeight, 1, wBits);
	capture.dwTableCapacity = ColorTableEntries(DepthClass(1, wBits));
	capture.dwPixelCapacity = capture.header.biSizeImage;
	return capture;
}

DWORD ReadU32(const std::vector<BYTE>& bytes, size_t nAt)
{
	return bytes[nAt] | bytes[nAt + 1] << 8 | bytes[nAt + 2] << 16 | static_cast<DWORD>(bytes[nAt + 3]) << 24;
}

WORD ReadU16(const std::vector<BYTE>& bytes, size_t nAt)
{
	return static_cast<WORD>(bytes[nAt] | bytes[nAt + 1] << 8);
}

// The file as the capture writes it: the file header's bytes, the header with the counts the
// layout says to store, the colour table from the block and the pixel bytes from the buffer.
std::vector<BYTE> LayOutFile(const Capture& capture, const BmpFileLayout& layout)
{
	std::vector<BYTE> block(sizeof(BITMAPINFOHEADER) + capture.dwTableCapacity * sizeof(RGBQUAD));
	BITMAPINFOHEADER stored = capture.header;
	stored.biClrUsed = layout.dwClrUsed;
	stored.biSizeImage = layout.dwSizeImage;
	std::memcpy(block.data(), &stored, sizeof(stored));
	EXPECT_LE(layout.dwInfoBytes, block.size()) << "read past the description block";
	EXPECT_LE(layout.dwPixelBytes, capture.dwPixelCapacity) << "read past the pixel buffer";

	std::vector<BYTE> file(sizeof(BITMAPFILEHEADER));
	std::memcpy(file.data(), &layout.fileHeader, sizeof(BITMAPFILEHEADER));
	file.insert(
		file.end(), block.begin(), block.begin() + std::min<size_t>(layout.dwInfoBytes, block.size()));
	file.resize(file.size() + std::min(layout.dwPixelBytes, capture.dwPixelCapacity));
	return file;
}

// What a BMP reader finds in the file. Returns the colour-table entries it expects.
DWORD ExpectReadable(const std::vector<BYTE>& file)
{
	EXPECT_GE(file.size(), 54u);
	if (file.size() < 54)
		return 0;
	EXPECT_EQ(file[0], 'B');
	EXPECT_EQ(file[1], 'M');
	EXPECT_EQ(ReadU32(file, 2), file.size()) << "bfSize";
	EXPECT_EQ(ReadU16(file, 6), 0);
	EXPECT_EQ(ReadU16(file, 8), 0);
	EXPECT_EQ(ReadU32(file, 14), 40u) << "biSize";
	EXPECT_EQ(ReadU16(file, 14 + 12), 1) << "biPlanes";

	const WORD wBits = ReadU16(file, 14 + 14);
	const DWORD dwCompression = ReadU32(file, 14 + 16);
	const DWORD dwSizeImage = ReadU32(file, 14 + 20);
	const DWORD dwClrUsed = ReadU32(file, 14 + 32);
	// A count of 0 means the full table at 8 bits or fewer; bit fields bring three masks.
	DWORD dwEntries = dwClrUsed != 0 ? dwClrUsed : wBits <= 8 ? DWORD{1} << wBits : 0;
	if (dwCompression == BI_BITFIELDS)
		dwEntries += 3;
	const DWORD dwOffBits = ReadU32(file, 10);
	EXPECT_EQ(dwOffBits, 54 + 4 * dwEntries) << "the pixels start right after the table the header announces";
	EXPECT_EQ(file.size() - dwOffBits, dwSizeImage) << "biSizeImage is the pixel bytes in the file";
	return dwEntries;
}

void ExpectRowsComplete(const std::vector<BYTE>& file)
{
	const LONG nWidth = static_cast<LONG>(ReadU32(file, 14 + 4));
	const LONG nHeight = static_cast<LONG>(ReadU32(file, 14 + 8));
	const WORD wBits = ReadU16(file, 14 + 14);
	const size_t nRowBytes = ((static_cast<size_t>(wBits) * nWidth + 31) / 32) * 4;
	EXPECT_EQ(
		file.size() - ReadU32(file, 10), nRowBytes * static_cast<size_t>(nHeight < 0 ? -nHeight : nHeight));
}

struct LayoutCase {
	WORD wBits;
	DWORD dwEntries;
	DWORD dwOffBits;
	DWORD dwFileSize;
};

void PrintTo(const LayoutCase& c, std::ostream* pOut) { *pOut << c.wBits << " bits"; }

class LayoutAsBuilt : public ::testing::TestWithParam<LayoutCase>
{};

TEST_P(LayoutAsBuilt, ReadLeavesTheHeaderAsBuilt)
{
	const LayoutCase& c = GetParam();
	const Capture capture = MakeCapture(1366, 768, c.wBits);
	const BmpFileLayout layout =
		ComputeBmpFileLayout(capture.header, capture.dwTableCapacity, capture.dwPixelCapacity);

	EXPECT_EQ(FileType(layout), 0x4D42);
	EXPECT_EQ(Reserved1(layout), 0);
	EXPECT_EQ(Reserved2(layout), 0);
	EXPECT_EQ(OffBits(layout), c.dwOffBits);
	EXPECT_EQ(FileSize(layout), c.dwFileSize);
	EXPECT_EQ(layout.dwTableEntries, c.dwEntries);
	EXPECT_EQ(layout.dwInfoBytes, 40 + 4 * c.dwEntries);
	EXPECT_EQ(layout.dwPixelBytes, capture.header.biSizeImage);
	EXPECT_EQ(layout.dwClrUsed, capture.header.biClrUsed);
	EXPECT_EQ(layout.dwSizeImage, capture.header.biSizeImage);

	const std::vector<BYTE> file = LayOutFile(capture, layout);
	EXPECT_EQ(ExpectReadable(file), c.dwEntries);
	ExpectRowsComplete(file);
	// A reader sees the display's size, rows bottom-up, its depth and no compression.
	EXPECT_EQ(ReadU32(file, 14 + 4), 1366u);
	EXPECT_EQ(ReadU32(file, 14 + 8), 768u);
	EXPECT_EQ(ReadU16(file, 14 + 14), c.wBits);
	EXPECT_EQ(ReadU32(file, 14 + 16), DWORD{BI_RGB});
}

INSTANTIATE_TEST_SUITE_P(EachDisplayDepth, LayoutAsBuilt,
	::testing::Values(LayoutCase{1, 2, 62, 132158}, LayoutCase{4, 16, 118, 525430},
		LayoutCase{8, 256, 1078, 1051702}, LayoutCase{16, 65536, 262198, 2360374},
		LayoutCase{24, 0, 54, 3148854}, LayoutCase{32, 0, 54, 4196406}),
	[](const ::testing::TestParamInfo<LayoutCase>& info) {
		return std::to_string(info.param.wBits) + "Bits";
	});

class LayoutAfterWineRead : public ::testing::TestWithParam<LayoutCase>
{};

TEST_P(LayoutAfterWineRead, ClrUsedLeftAtZero)
{
	// Wine's pixel read sets biClrUsed to 0 at every depth.
	const LayoutCase& c = GetParam();
	Capture capture = MakeCapture(1366, 768, c.wBits);
	capture.header.biClrUsed = 0;
	const BmpFileLayout layout =
		ComputeBmpFileLayout(capture.header, capture.dwTableCapacity, capture.dwPixelCapacity);

	EXPECT_EQ(layout.dwTableEntries, c.dwEntries);
	EXPECT_EQ(layout.dwInfoBytes, 40 + 4 * c.dwEntries);
	EXPECT_EQ(OffBits(layout), c.dwOffBits);
	EXPECT_EQ(FileSize(layout), c.dwFileSize);

	const std::vector<BYTE> file = LayOutFile(capture, layout);
	EXPECT_EQ(ExpectReadable(file), c.dwEntries);
	ExpectRowsComplete(file);
}

INSTANTIATE_TEST_SUITE_P(EachDisplayDepth, LayoutAfterWineRead,
	::testing::Values(LayoutCase{1, 2, 62, 132158}, LayoutCase{4, 16, 118, 525430},
		LayoutCase{8, 256, 1078, 1051702}, LayoutCase{16, 0, 54, 2098230}, LayoutCase{24, 0, 54, 3148854},
		LayoutCase{32, 0, 54, 4196406}),
	[](const ::testing::TestParamInfo<LayoutCase>& info) {
		return std::to_string(info.param.wBits) + "Bits";
	});

TEST(Layout, BitFieldsAt16BitsBringThreeMasks)
{
	Capture capture = MakeCapture(1366, 768, 16);
	capture.header.biClrUsed = 0;
	capture.header.biCompression = BI_BITFIELDS;
	const BmpFileLayout layout =
		ComputeBmpFileLayout(capture.header, capture.dwTableCapacity, capture.dwPixelCapacity);
	EXPECT_EQ(layout.dwTableEntries, 3u);
	EXPECT_EQ(OffBits(layout), 66u);
	EXPECT_EQ(ExpectReadable(LayOutFile(capture, layout)), 3u);
}

TEST(LayoutMends, PixelBytesNeverExceedTheBuffer)
{
	Capture capture = MakeCapture(1366, 768, 24);
	capture.header.biSizeImage = capture.dwPixelCapacity * 2 + 12345;
	const BmpFileLayout layout =
		ComputeBmpFileLayout(capture.header, capture.dwTableCapacity, capture.dwPixelCapacity);
	EXPECT_EQ(layout.dwPixelBytes, 3148800u);
	EXPECT_EQ(layout.dwSizeImage, 3148800u);
	EXPECT_EQ(FileSize(layout), 54u + 3148800u);
	ExpectReadable(LayOutFile(capture, layout));

	capture.header.biSizeImage = 0xFFFFFFFF;
	const BmpFileLayout layoutHuge =
		ComputeBmpFileLayout(capture.header, capture.dwTableCapacity, capture.dwPixelCapacity);
	EXPECT_EQ(layoutHuge.dwPixelBytes, 3148800u);
	EXPECT_EQ(FileSize(layoutHuge), 54u + 3148800u);
}

TEST(LayoutMends, SmallerImageSizeFromTheReadIsWhatIsWritten)
{
	Capture capture = MakeCapture(1366, 768, 32);
	capture.header.biSizeImage = 5464u * 700;
	const BmpFileLayout layout =
		ComputeBmpFileLayout(capture.header, capture.dwTableCapacity, capture.dwPixelCapacity);
	EXPECT_EQ(layout.dwPixelBytes, 5464u * 700);
	EXPECT_EQ(layout.dwSizeImage, 5464u * 700);
	EXPECT_EQ(FileSize(layout), 54u + 5464u * 700);
	ExpectReadable(LayOutFile(capture, layout));
}

TEST(LayoutMends, ZeroImageSizeFallsBackToStrideTimesRows)
{
	Capture capture = MakeCapture(1366, 768, 24);
	capture.header.biSizeImage = 0;
	const BmpFileLayout layout =
		ComputeBmpFileLayout(capture.header, capture.dwTableCapacity, capture.dwPixelCapacity);
	EXPECT_EQ(layout.dwPixelBytes, 3148800u);
	EXPECT_EQ(layout.dwSizeImage, 3148800u);
	EXPECT_EQ(FileSize(layout), 3148854u);
	const std::vector<BYTE> file = LayOutFile(capture, layout);
	ExpectReadable(file);
	ExpectRowsComplete(file);

	// Top-down rows count the same.
	capture.header.biHeight = -768;
	EXPECT_EQ(
		ComputeBmpFileLayout(capture.header, capture.dwTableCapacity, capture.dwPixelCapacity).dwPixelBytes,
		3148800u);

	// The fallback is still bounded by the buffer.
	capture.header.biHeight = 768;
	EXPECT_EQ(ComputeBmpFileLayout(capture.header, capture.dwTableCapacity, 1000).dwPixelBytes, 1000u);
}

TEST(LayoutMends, ZeroImageSizeAt16BitsAfterWineRead)
{
	Capture capture = MakeCapture(1023, 768, 16);
	capture.header.biClrUsed = 0;
	capture.header.biSizeImage = 0;
	const BmpFileLayout layout =
		ComputeBmpFileLayout(capture.header, capture.dwTableCapacity, capture.dwPixelCapacity);
	EXPECT_EQ(layout.dwPixelBytes, 2048u * 768);
	EXPECT_EQ(OffBits(layout), 54u);
	const std::vector<BYTE> file = LayOutFile(capture, layout);
	ExpectReadable(file);
	ExpectRowsComplete(file);
}

TEST(LayoutMends, TableEntriesNeverExceedTheBlock)
{
	Capture capture = MakeCapture(64, 64, 8);
	capture.header.biClrUsed = 1000;
	const BmpFileLayout layout =
		ComputeBmpFileLayout(capture.header, capture.dwTableCapacity, capture.dwPixelCapacity);
	EXPECT_EQ(layout.dwTableEntries, 256u);
	EXPECT_EQ(layout.dwInfoBytes, 1064u);
	EXPECT_EQ(layout.dwClrUsed, 256u);
	EXPECT_EQ(OffBits(layout), 1078u);
	ExpectReadable(LayOutFile(capture, layout));

	// A count whose byte size would wrap 32 bits.
	capture.header.biClrUsed = 0xFFFFFFFF;
	const BmpFileLayout layoutHuge =
		ComputeBmpFileLayout(capture.header, capture.dwTableCapacity, capture.dwPixelCapacity);
	EXPECT_EQ(layoutHuge.dwTableEntries, 256u);
	EXPECT_EQ(layoutHuge.dwInfoBytes, 1064u);
	ExpectReadable(LayOutFile(capture, layoutHuge));
}

TEST(LayoutMends, ZeroCountWiderThanTheBlockIsStoredAsWritten)
{
	// A block with room for 16 entries, after a read that reports 8 bits and no count: 0 would
	// announce 256 entries, so the count stored is the 16 written.
	Capture capture = MakeCapture(64, 64, 8);
	capture.dwTableCapacity = 16;
	capture.header.biClrUsed = 0;
	const BmpFileLayout layout =
		ComputeBmpFileLayout(capture.header, capture.dwTableCapacity, capture.dwPixelCapacity);
	EXPECT_EQ(layout.dwTableEntries, 16u);
	EXPECT_EQ(layout.dwClrUsed, 16u);
	EXPECT_EQ(OffBits(layout), 54u + 64u);
	EXPECT_EQ(ExpectReadable(LayOutFile(capture, layout)), 16u);
}

TEST(LayoutMends, CountAtADepthWithoutRoomForATable)
{
	Capture capture = MakeCapture(64, 64, 32);
	capture.header.biClrUsed = 5;
	const BmpFileLayout layout =
		ComputeBmpFileLayout(capture.header, capture.dwTableCapacity, capture.dwPixelCapacity);
	EXPECT_EQ(layout.dwTableEntries, 0u);
	EXPECT_EQ(layout.dwClrUsed, 0u);
	EXPECT_EQ(OffBits(layout), 54u);
	EXPECT_EQ(ExpectReadable(LayOutFile(capture, layout)), 0u);
}

} // namespace

// Every file the capture writes is whole; a byte less anywhere in its rows is not.
TEST(CompleteFile, WhatTheCaptureWritesAtEachDepthAndNothingShorter)
{
	for (WORD wBits : {1, 4, 8, 16, 24, 32}) {
		SCOPED_TRACE(wBits);
		const Capture capture = MakeCapture(37, 5, wBits);
		const std::vector<BYTE> file = LayOutFile(
			capture, ComputeBmpFileLayout(capture.header, capture.dwTableCapacity, capture.dwPixelCapacity));
		EXPECT_TRUE(IsCompleteBmpFile(file.data(), file.size(), file.size()));
		EXPECT_FALSE(IsCompleteBmpFile(file.data(), file.size(), file.size() - 1));
		EXPECT_FALSE(IsCompleteBmpFile(file.data(), 53, file.size())) << "headers cut short";
	}
}

// Headers that announce more than the file holds, or what no loader should be handed.
TEST(CompleteFile, HeadersThatDoNotDescribeTheFile)
{
	const Capture capture = MakeCapture(8, 8, 8);
	const std::vector<BYTE> good = LayOutFile(
		capture, ComputeBmpFileLayout(capture.header, capture.dwTableCapacity, capture.dwPixelCapacity));
	ASSERT_TRUE(IsCompleteBmpFile(good.data(), good.size(), good.size()));

	auto patched = [&good](size_t nAt, std::initializer_list<BYTE> bytes) {
		std::vector<BYTE> file = good;
		std::copy(bytes.begin(), bytes.end(), file.begin() + nAt);
		return IsCompleteBmpFile(file.data(), file.size(), file.size());
	};
	EXPECT_FALSE(patched(0, {'B', 'A'})) << "not a BMP";
	EXPECT_FALSE(patched(14, {12, 0, 0, 0})) << "an info header shorter than 40 bytes";
	EXPECT_FALSE(patched(10, {20, 0, 0, 0})) << "pixels that start inside the headers";
	EXPECT_FALSE(patched(18, {0, 0, 0, 0})) << "no width";
	EXPECT_FALSE(patched(22, {0, 0, 0, 0})) << "no height";
	EXPECT_FALSE(patched(26, {2, 0})) << "two planes";
	EXPECT_FALSE(patched(28, {7, 0})) << "an unknown depth";
	EXPECT_FALSE(patched(30, {1, 0, 0, 0})) << "run-length compressed";
	EXPECT_FALSE(patched(18, {0x60, 0xEA, 0, 0})) << "60000 pixels wide in a file of a few hundred bytes";
	EXPECT_FALSE(patched(46, {0, 2, 0, 0})) << "a colour table of 512 entries, twice what the file has";
	EXPECT_TRUE(patched(22, {0xF8, 0xFF, 0xFF, 0xFF})) << "rows top-down are as whole";
}

// A file of 60000 x 60000 pixels at 32 bits would take 14.4 GB: no header-sized file holds it.
TEST(CompleteFile, AbsurdDimensionsNeedTheirWholeSize)
{
	BITMAPFILEHEADER file = {0x4D42, 0, 0, 0, 54};
	BITMAPINFOHEADER info = MakeInfoHeader(60000, 60000, 1, 32);
	std::vector<BYTE> head(sizeof(file) + sizeof(info));
	std::memcpy(head.data(), &file, sizeof(file));
	std::memcpy(head.data() + sizeof(file), &info, sizeof(info));
	const uint64_t nWhole = 54 + uint64_t{60000} * 60000 * 4;
	EXPECT_FALSE(IsCompleteBmpFile(head.data(), head.size(), 4096));
	EXPECT_FALSE(IsCompleteBmpFile(head.data(), head.size(), nWhole - 1));
	EXPECT_TRUE(IsCompleteBmpFile(head.data(), head.size(), nWhole));
}

// Rows of 4 GiB (2^30 pixels of 4 bytes) or 8 GiB less 4 (2^31 - 1 pixels): a 100-byte file holds
// none, and up to 2^31 of them need every byte of their size, near 2^64 as it is.
TEST(CompleteFile, RowsOfFourGiBAndMore)
{
	struct Case {
		LONG nWidth, nHeight;
		uint64_t nWhole;
	};
	const Case cases[] = {
		{1073741824, 100, 54 + 429496729600u},
		{2147483647, 1, 54 + 8589934588u},
		{2147483647, -2147483647 - 1, 54 + 18446744065119617024u},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(testing::Message() << c.nWidth << " x " << c.nHeight);
		std::vector<BYTE> file(100);
		const BITMAPFILEHEADER fileHeader = {0x4D42, 100, 0, 0, 54};
		const BITMAPINFOHEADER info = {40, c.nWidth, c.nHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
		std::memcpy(file.data(), &fileHeader, sizeof(fileHeader));
		std::memcpy(file.data() + sizeof(fileHeader), &info, sizeof(info));
		EXPECT_FALSE(IsCompleteBmpFile(file.data(), file.size(), file.size()));
		EXPECT_FALSE(IsCompleteBmpFile(file.data(), file.size(), c.nWhole - 1));
		EXPECT_TRUE(IsCompleteBmpFile(file.data(), file.size(), c.nWhole));
	}
}
