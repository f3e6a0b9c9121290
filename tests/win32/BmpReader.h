// A BMP reader of its own, independent of the platform's loader and of the program's BMP code: it takes
// the file's bytes as they are and decodes uncompressed 1, 4, 8, 16 (5-5-5), 24 and 32-bit images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BmpFile {
	// File header
	uint16_t bfType = 0;
	uint32_t bfSize = 0;
	uint16_t bfReserved1 = 0;
	uint16_t bfReserved2 = 0;
	uint32_t bfOffBits = 0;
	// Info header
	uint32_t biSize = 0;
	int32_t biWidth = 0;
	int32_t biHeight = 0;
	uint16_t biPlanes = 0;
	uint16_t biBitCount = 0;
	uint32_t biCompression = 0;
	uint32_t biSizeImage = 0;
	uint32_t biClrUsed = 0;
	uint32_t biClrImportant = 0;
	// The colour table between the info header and bfOffBits, as 0x00RRGGBB.
	std::vector<uint32_t> table;
	// Pixels top-down as 0x00RRGGBB, biWidth x |biHeight|.
	std::vector<uint32_t> pixels;
	size_t nFileLength = 0;
};

// Parses bytes; on failure returns false and says why in strError.
bool ParseBmp(const std::vector<uint8_t>& bytes, BmpFile& bmp, std::string& strError);

// The whole file, read with the C runtime (not through the test executable's import table).
std::vector<uint8_t> ReadFileBytes(const std::string& strPath);
