// CreateBitmapInfo and WriteBmpFile on real GDI bitmaps of every depth: each file read back by the
// platform's BMP loader and by the test's own reader, pixel for pixel against the bitmap it came from.
// The files stay in <test exe folder>\bmp-out\ with a PPM of the expected pixels beside each.
#include "BmpReader.h"
#include "IatPatch.h"
#include "Pixels.h"
#include "ScreenGrabberTestAccess.h"
#include "TestApp.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>

namespace {

const int kWidth = 37; // odd, so every depth pads its rows
const int kHeight = 23;

// Pixels compared at the precision of the depth: 16-bit colours keep five bits a channel.
uint32_t Precision(int nBits) { return nBits == 16 ? 0xF8F8F8 : 0xFFFFFF; }

void WritePpm(const std::string& strPath, int nWidth, int nHeight, const std::vector<uint32_t>& pixels)
{
	FILE* pFile = std::fopen(strPath.c_str(), "wb");
	ASSERT_NE(pFile, nullptr) << strPath;
	std::fprintf(pFile, "P6\n%d %d\n255\n", nWidth, nHeight);
	for (uint32_t p : pixels) {
		const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16), static_cast<unsigned char>(p >> 8),
			static_cast<unsigned char>(p)};
		std::fwrite(rgb, 1, 3, pFile);
	}
	std::fclose(pFile);
}

// The pixel bytes of a bitmap of nBits bits, one distinct value per pixel where the depth allows.
std::vector<uint8_t> PatternBits(int nBits, int nStride)
{
	std::vector<uint8_t> bits(static_cast<size_t>(nStride) * kHeight, 0);
	for (int y = 0; y < kHeight; ++y) {
		uint8_t* pRow = &bits[static_cast<size_t>(y) * nStride];
		for (int x = 0; x < kWidth; ++x) {
			switch (nBits) {
			case 1:
			case 4:
			case 8: {
				const unsigned nColours = 1u << nBits;
				const unsigned index = (x * 3 + y * 5 + x * y) % nColours;
				const int nBit = x * nBits;
				pRow[nBit / 8] |= static_cast<uint8_t>(index << (8 - nBits - nBit % 8));
				break;
			}
			case 16: {
				const unsigned v = (((x * 3) & 31) << 10) | (((y * 2 + x) & 31) << 5) | ((x + y * 3) & 31);
				pRow[2 * x] = v & 0xFF;
				pRow[2 * x + 1] = (v >> 8) & 0xFF;
				break;
			}
			default: {
				// Blue, green, red; the fourth byte of a 32-bit pixel is left 0, as readers that take it for
				// alpha would otherwise see a translucent picture.
				const int nBytes = nBits / 8;
				for (int c = 0; c < 3; ++c)
					pRow[nBytes * x + c] = static_cast<uint8_t>(x * 7 + y * 13 + c * 71);
			}
			}
		}
	}
	return bits;
}

// Writes hBitmap through the program's code, then checks the file by the bytes and through both readers.
void WriteAndCheck(HBITMAP hBitmap, int nBits, const std::string& strName)
{
	int nWidth = 0, nHeight = 0;
	const std::vector<uint32_t> expected = ReadBitmapPixels(hBitmap, nWidth, nHeight);
	ASSERT_EQ(nWidth, kWidth);
	ASSERT_EQ(nHeight, kHeight);

	const std::string strPath = ArtifactFolder() + strName + ".bmp";
	::DeleteFileA(strPath.c_str());
	WritePpm(ArtifactFolder() + strName + ".expected.ppm", nWidth, nHeight, expected);

	CScreenGrabber grabber;
	BITMAPINFOHEADER built = {};
	// The platform's own read of the bitmap, on a copy of the block, for the file to agree with.
	std::vector<BYTE> readBlock;
	{
		CMessageBoxRecorder boxes;
		LPBITMAPINFO pbi = CScreenGrabberTestAccess::CreateBitmapInfo(grabber, hBitmap);
		ASSERT_NE(pbi, nullptr);
		built = pbi->bmiHeader;
		readBlock.assign(
			reinterpret_cast<const BYTE*>(pbi), reinterpret_cast<const BYTE*>(pbi) + ::LocalSize(pbi));
		std::vector<BYTE> scratch(pbi->bmiHeader.biSizeImage);
		HDC hScreen = ::GetDC(nullptr);
		ASSERT_EQ(::GetDIBits(hScreen, hBitmap, 0, kHeight, scratch.data(),
					  reinterpret_cast<BITMAPINFO*>(readBlock.data()), DIB_RGB_COLORS),
			kHeight);
		CScreenGrabberTestAccess::WriteBmpFile(grabber, strPath.c_str(), pbi, hBitmap, hScreen);
		::ReleaseDC(nullptr, hScreen);
		::LocalFree(pbi);
		EXPECT_TRUE(boxes.Boxes().empty()) << "first box: " << boxes.Texts().front();
	}
	// The description is the bitmap's own: its depth, not the class, and rows bottom-up.
	EXPECT_EQ(built.biWidth, kWidth);
	EXPECT_EQ(built.biHeight, kHeight);
	EXPECT_EQ(built.biBitCount, nBits);
	EXPECT_EQ(built.biPlanes, 1);

	BmpFile bmp;
	std::string strError;
	ASSERT_TRUE(ParseBmp(ReadFileBytes(strPath), bmp, strError)) << strPath << ": " << strError;
	EXPECT_EQ(bmp.bfSize, bmp.nFileLength);
	EXPECT_EQ(bmp.bfReserved1, 0);
	EXPECT_EQ(bmp.bfReserved2, 0);
	EXPECT_EQ(bmp.biBitCount, nBits);
	EXPECT_EQ(bmp.biWidth, kWidth);
	EXPECT_EQ(bmp.biHeight, kHeight);
	const uint32_t nStride = ((kWidth * nBits + 31) / 32) * 4;
	EXPECT_EQ(bmp.biSizeImage, nStride * kHeight);
	EXPECT_EQ(bmp.bfOffBits + bmp.biSizeImage, bmp.nFileLength);
	// The table written is the one the header announces; a count of 0 at 8 bits or fewer means a full one.
	const uint32_t nTable = bmp.biClrUsed ? bmp.biClrUsed : (nBits <= 8 ? 1u << nBits : 0u);
	EXPECT_EQ(bmp.bfOffBits, 54 + 4 * nTable) << "biClrUsed " << bmp.biClrUsed;
	// The depth and, at 8 bits or fewer, every colour are the ones the platform's read gives.
	const BITMAPINFO& read = *reinterpret_cast<const BITMAPINFO*>(readBlock.data());
	EXPECT_EQ(bmp.biBitCount, read.bmiHeader.biBitCount);
	for (size_t i = 0; nBits <= 8 && i < (1u << nBits); ++i) {
		const RGBQUAD q = read.bmiColors[i];
		EXPECT_EQ(bmp.table.at(i), static_cast<uint32_t>(q.rgbRed << 16 | q.rgbGreen << 8 | q.rgbBlue))
			<< "colour " << i;
	}

	const uint32_t mask = Precision(nBits);
	ASSERT_EQ(bmp.pixels.size(), expected.size());
	int nDiffer = 0;
	for (size_t i = 0; i < expected.size(); ++i) {
		if ((bmp.pixels[i] & mask) != (expected[i] & mask) && nDiffer++ < 5)
			ADD_FAILURE() << "own reader, pixel " << i % kWidth << "," << i / kWidth << ": " << std::hex
						  << bmp.pixels[i] << " != " << expected[i];
	}

	// The platform's loader gives a bitmap in the display's format: at 16 bits it keeps five bits a channel,
	// and a palette display keeps too little to compare.
	HDC hScreen = ::GetDC(nullptr);
	const int nDisplayBits = ::GetDeviceCaps(hScreen, BITSPIXEL);
	::ReleaseDC(nullptr, hScreen);
	const uint32_t loadedMask = mask & (nDisplayBits == 16 ? 0xF8F8F8 : 0xFFFFFF);

	HBITMAP hLoaded =
		static_cast<HBITMAP>(::LoadImageA(nullptr, strPath.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
	ASSERT_NE(hLoaded, nullptr) << "the platform's loader refuses " << strPath;
	int nLoadedWidth = 0, nLoadedHeight = 0;
	const std::vector<uint32_t> loaded = ReadBitmapPixels(hLoaded, nLoadedWidth, nLoadedHeight);
	::DeleteObject(hLoaded);
	ASSERT_EQ(nLoadedWidth, kWidth);
	ASSERT_EQ(nLoadedHeight, kHeight);
	if (nDisplayBits <= 8)
		return;
	nDiffer = 0;
	for (size_t i = 0; i < expected.size(); ++i) {
		if ((loaded[i] & loadedMask) != (expected[i] & loadedMask) && nDiffer++ < 5)
			ADD_FAILURE() << "LoadImageA, pixel " << i % kWidth << "," << i / kWidth << ": " << std::hex
						  << loaded[i] << " != " << expected[i];
	}
}

class BmpWriteDepth : public ::testing::TestWithParam<int>
{};

// A DIB section with a colour table of distinct colours at 8 bits or fewer, and distinct pixels.
TEST_P(BmpWriteDepth, DibSectionReadsBackPixelForPixel)
{
	const int nBits = GetParam();
	struct {
		BITMAPINFOHEADER header;
		RGBQUAD colours[256];
	} bi = {};
	bi.header.biSize = sizeof(BITMAPINFOHEADER);
	bi.header.biWidth = kWidth;
	bi.header.biHeight = kHeight;
	bi.header.biPlanes = 1;
	bi.header.biBitCount = static_cast<WORD>(nBits);
	bi.header.biCompression = BI_RGB;
	std::vector<RGBQUAD> table;
	if (nBits <= 8) {
		bi.header.biClrUsed = 1u << nBits;
		for (unsigned i = 0; i < bi.header.biClrUsed; ++i) {
			bi.colours[i] = {
				static_cast<BYTE>(i * 37 + 11), static_cast<BYTE>(255 - i), static_cast<BYTE>(i * 5 + 3), 0};
			table.push_back(bi.colours[i]);
		}
	}
	void* pBits = nullptr;
	HBITMAP hBitmap =
		::CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS, &pBits, nullptr, 0);
	ASSERT_NE(hBitmap, nullptr);
	const int nStride = ((kWidth * nBits + 31) / 32) * 4;
	const std::vector<uint8_t> bits = PatternBits(nBits, nStride);
	std::memcpy(pBits, bits.data(), bits.size());
	::GdiFlush();

	WriteAndCheck(hBitmap, nBits, "dib-" + std::to_string(nBits));

	if (nBits <= 8) {
		// The file carries the section's own colours, whatever the read left in biClrUsed.
		BmpFile bmp;
		std::string strError;
		ASSERT_TRUE(ParseBmp(
			ReadFileBytes(ArtifactFolder() + "dib-" + std::to_string(nBits) + ".bmp"), bmp, strError));
		ASSERT_GE(bmp.table.size(), table.size());
		for (size_t i = 0; i < table.size(); ++i) {
			const uint32_t want = (table[i].rgbRed << 16) | (table[i].rgbGreen << 8) | table[i].rgbBlue;
			EXPECT_EQ(bmp.table[i], want) << "colour " << i;
		}
	}
	::DeleteObject(hBitmap);
}

// A device-dependent bitmap made by CreateBitmap at the depth.
TEST_P(BmpWriteDepth, DeviceBitmapReadsBackPixelForPixel)
{
	const int nBits = GetParam();
	const int nStride = ((kWidth * nBits + 15) / 16) * 2; // CreateBitmap rows are word-aligned
	const std::vector<uint8_t> bits = PatternBits(nBits, nStride);
	HBITMAP hBitmap = ::CreateBitmap(kWidth, kHeight, 1, nBits, bits.data());
	ASSERT_NE(hBitmap, nullptr);
	BITMAP bm = {};
	::GetObjectA(hBitmap, sizeof(bm), &bm);
	ASSERT_EQ(bm.bmBitsPixel, nBits);

	WriteAndCheck(hBitmap, nBits, "ddb-" + std::to_string(nBits));
	::DeleteObject(hBitmap);
}

INSTANTIATE_TEST_SUITE_P(Depths, BmpWriteDepth, ::testing::Values(1, 4, 8, 16, 24, 32),
	[](const ::testing::TestParamInfo<int>& info) { return std::to_string(info.param) + "bpp"; });

// A bitmap in the display's own format, selected into a memory context while it is read, as in a capture.
TEST(BmpWrite, ScreenCompatibleBitmapReadsBackPixelForPixel)
{
	HDC hScreen = ::GetDC(nullptr);
	const int nScreenBits = ::GetDeviceCaps(hScreen, BITSPIXEL) * ::GetDeviceCaps(hScreen, PLANES);
	HBITMAP hBitmap = ::CreateCompatibleBitmap(hScreen, kWidth, kHeight);
	ASSERT_NE(hBitmap, nullptr);
	HDC hMem = ::CreateCompatibleDC(hScreen);
	HGDIOBJ hOld = ::SelectObject(hMem, hBitmap);
	const std::vector<uint32_t> pattern = TestPattern(kWidth, kHeight, 9);
	BITMAPINFO bi = {};
	bi.bmiHeader = {sizeof(BITMAPINFOHEADER), kWidth, -kHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
	ASSERT_EQ(::SetDIBitsToDevice(
				  hMem, 0, 0, kWidth, kHeight, 0, 0, 0, kHeight, pattern.data(), &bi, DIB_RGB_COLORS),
		kHeight);
	::ReleaseDC(nullptr, hScreen);

	BITMAP bm = {};
	::GetObjectA(hBitmap, sizeof(bm), &bm);
	EXPECT_EQ(bm.bmBitsPixel, nScreenBits);
	WriteAndCheck(hBitmap, bm.bmBitsPixel, "screen-compatible");
	if (bm.bmBitsPixel == 32) {
		BmpFile bmp;
		std::string strError;
		ASSERT_TRUE(ParseBmp(ReadFileBytes(ArtifactFolder() + "screen-compatible.bmp"), bmp, strError));
		EXPECT_EQ(bmp.pixels, pattern);
		EXPECT_EQ(bmp.bfOffBits, 54u);
		EXPECT_EQ(bmp.nFileLength, 54u + 4u * kWidth * kHeight);
	}
	::SelectObject(hMem, hOld);
	::DeleteDC(hMem);
	::DeleteObject(hBitmap);
}

} // namespace
