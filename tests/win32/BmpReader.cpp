// The test's own BMP reader: file header, info header, colour table and bottom-up rows, by the bytes.
#include "BmpReader.h"

#include <cstdio>

namespace {

uint16_t U16(const std::vector<uint8_t>& b, size_t at)
{
	return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at)
{
	return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
		   (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

uint32_t Expand5(uint32_t v) { return (v << 3) | (v >> 2); }

} // namespace

bool ParseBmp(const std::vector<uint8_t>& b, BmpFile& bmp, std::string& strError)
{
	bmp = BmpFile();
	bmp.nFileLength = b.size();
	if (b.size() < 54) {
		strError = "shorter than the two headers";
		return false;
	}
	bmp.bfType = U16(b, 0);
	bmp.bfSize = U32(b, 2);
	bmp.bfReserved1 = U16(b, 6);
	bmp.bfReserved2 = U16(b, 8);
	bmp.bfOffBits = U32(b, 10);
	bmp.biSize = U32(b, 14);
	bmp.biWidth = static_cast<int32_t>(U32(b, 18));
	bmp.biHeight = static_cast<int32_t>(U32(b, 22));
	bmp.biPlanes = U16(b, 26);
	bmp.biBitCount = U16(b, 28);
	bmp.biCompression = U32(b, 30);
	bmp.biSizeImage = U32(b, 34);
	bmp.biClrUsed = U32(b, 46);
	bmp.biClrImportant = U32(b, 50);

	if (bmp.bfType != 0x4D42 || bmp.biSize != 40) {
		strError = "not a BMP with a 40-byte info header";
		return false;
	}
	if (bmp.biCompression != 0) {
		strError = "compressed";
		return false;
	}
	const int nBits = bmp.biBitCount;
	if (nBits != 1 && nBits != 4 && nBits != 8 && nBits != 16 && nBits != 24 && nBits != 32) {
		strError = "unknown bit count";
		return false;
	}
	if (bmp.biWidth <= 0 || bmp.biHeight == 0 || bmp.bfOffBits < 54 || bmp.bfOffBits > b.size()) {
		strError = "bad size or pixel offset";
		return false;
	}
	// The table fills the gap between the headers and the pixels.
	for (size_t at = 54; at + 4 <= bmp.bfOffBits; at += 4)
		bmp.table.push_back(U32(b, at) & 0xFFFFFF);
	const size_t nNeeded = nBits <= 8 ? (bmp.biClrUsed ? bmp.biClrUsed : (1u << nBits)) : bmp.biClrUsed;
	if (nBits <= 8 && bmp.table.size() < nNeeded) {
		strError = "colour table shorter than the header says";
		return false;
	}

	const size_t nWidth = static_cast<size_t>(bmp.biWidth);
	const size_t nHeight = static_cast<size_t>(bmp.biHeight < 0 ? -bmp.biHeight : bmp.biHeight);
	const size_t nStride = ((nWidth * nBits + 31) / 32) * 4;
	if (bmp.bfOffBits + nStride * nHeight > b.size()) {
		strError = "pixel rows run past the end of the file";
		return false;
	}
	bmp.pixels.resize(nWidth * nHeight);
	for (size_t row = 0; row < nHeight; ++row) {
		const size_t nFileRow = bmp.biHeight > 0 ? nHeight - 1 - row : row;
		const size_t at = bmp.bfOffBits + nFileRow * nStride;
		for (size_t x = 0; x < nWidth; ++x) {
			uint32_t rgb = 0;
			switch (nBits) {
			case 1:
			case 4:
			case 8: {
				const size_t nBit = x * nBits;
				const unsigned nShift = 8 - nBits - (nBit % 8);
				const unsigned index = (b[at + nBit / 8] >> nShift) & ((1u << nBits) - 1);
				if (index >= bmp.table.size()) {
					strError = "pixel index beyond the colour table";
					return false;
				}
				rgb = bmp.table[index];
				break;
			}
			case 16: {
				const uint32_t v = U16(b, at + 2 * x);
				rgb = (Expand5((v >> 10) & 31) << 16) | (Expand5((v >> 5) & 31) << 8) | Expand5(v & 31);
				break;
			}
			case 24:
				rgb = static_cast<uint32_t>(b[at + 3 * x]) | (static_cast<uint32_t>(b[at + 3 * x + 1]) << 8) |
					  (static_cast<uint32_t>(b[at + 3 * x + 2]) << 16);
				break;
			case 32:
				rgb = U32(b, at + 4 * x) & 0xFFFFFF;
				break;
			}
			bmp.pixels[row * nWidth + x] = rgb;
		}
	}
	return true;
}

std::vector<uint8_t> ReadFileBytes(const std::string& strPath)
{
	std::vector<uint8_t> bytes;
	FILE* pFile = std::fopen(strPath.c_str(), "rb");
	if (!pFile)
		return bytes;
	uint8_t buffer[65536];
	size_t n;
	while ((n = std::fread(buffer, 1, sizeof(buffer), pFile)) > 0)
		bytes.insert(bytes.end(), buffer, buffer + n);
	std::fclose(pFile);
	return bytes;
}
