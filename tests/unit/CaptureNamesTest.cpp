// The capture folder and file names, from given temporary directories and time stamps.
#include "CaptureNames.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string Text(const CString& str) { return std::string(static_cast<LPCTSTR>(str)); }

// The whole chain the capture runs: folder from the temporary directory, title from the stamp.
std::string CapturePath(const char* pszTempDir, const char* pszStamp)
{
	const CString strFolder = MakeCaptureFolderPath(pszTempDir);
	return Text(MakeCaptureFilePath(strFolder, MakeCaptureFileTitle(pszStamp)));
}

TEST(CaptureNaming, UsEnglishStampInTempWithTrailingBackslash)
{
	EXPECT_EQ(CapturePath("C:\\Temp\\", "3/7/2021 9:05:30 AM"),
		"C:\\Temp\\Images-Captured-By-Tapwright\\Primary Monitor At 3 7 2021 9 05 30 AM.bmp");
}

TEST(CaptureNaming, GermanStampKeepsItsDots)
{
	EXPECT_EQ(
		Text(MakeCaptureFileTitle("07.03.2021 09:05:30")), "Primary Monitor At 07.03.2021 09 05 30.bmp");
	EXPECT_EQ(CapturePath("C:\\Users\\anna\\AppData\\Local\\Temp\\", "07.03.2021 09:05:30"),
		"C:\\Users\\anna\\AppData\\Local\\Temp\\Images-Captured-By-Tapwright\\"
		"Primary Monitor At 07.03.2021 09 05 30.bmp");
}

class CaptureTitleReplaced : public ::testing::TestWithParam<char>
{};

TEST_P(CaptureTitleReplaced, BecomesASpaceWherever)
{
	const char ch = GetParam();
	const std::string strStamp = std::string(1, ch) + "1" + ch + ch + "2" + ch;
	EXPECT_EQ(Text(MakeCaptureFileTitle(strStamp.c_str())), "Primary Monitor At  1  2 .bmp");
}

INSTANTIATE_TEST_SUITE_P(EachOfTheEight, CaptureTitleReplaced,
	::testing::Values('/', '\\', '?', '*', ':', '|', '<', '>'),
	[](const ::testing::TestParamInfo<char>& info) {
		return "Byte" + std::to_string(static_cast<int>(info.param));
	});

TEST(CaptureTitle, AllEightTogetherAndTheDoubleQuoteKept)
{
	EXPECT_EQ(Text(MakeCaptureFileTitle("/\\?*:|<>\"")), "Primary Monitor At         \".bmp");
}

TEST(CaptureTitle, OtherCharactersKept)
{
	// Separators other locales use, and bytes of an 8-bit code page.
	EXPECT_EQ(Text(MakeCaptureFileTitle("2021-03-07, 9.05 Uhr 'x' \xE4\xDF")),
		"Primary Monitor At 2021-03-07, 9.05 Uhr 'x' \xE4\xDF.bmp");
}

TEST(CaptureTitle, PercentSignsInTheStampAreText)
{
	EXPECT_EQ(Text(MakeCaptureFileTitle("%s%d%n%%")), "Primary Monitor At %s%d%n%%.bmp");
}

TEST(CaptureTitle, EmptyStamp) { EXPECT_EQ(Text(MakeCaptureFileTitle("")), "Primary Monitor At .bmp"); }

TEST(CaptureFolder, WithAndWithoutTrailingBackslash)
{
	EXPECT_EQ(Text(MakeCaptureFolderPath("C:\\Temp\\")), "C:\\Temp\\Images-Captured-By-Tapwright");
	EXPECT_EQ(Text(MakeCaptureFolderPath("C:\\Temp")), "C:\\Temp\\Images-Captured-By-Tapwright");
}

TEST(CaptureFolder, TwoTrailingBackslashesLeaveAPair)
{
	// Three backslashes meet; one pass over pairs leaves two.
	EXPECT_EQ(Text(MakeCaptureFolderPath("C:\\Temp\\\\")), "C:\\Temp\\\\Images-Captured-By-Tapwright");
}

TEST(CaptureFolder, NetworkPathKeepsItsLeadingPair)
{
	EXPECT_EQ(Text(MakeCaptureFolderPath("\\\\fileserver\\home\\anna\\Temp\\")),
		"\\\\fileserver\\home\\anna\\Temp\\Images-Captured-By-Tapwright");
	EXPECT_EQ(
		Text(MakeCaptureFolderPath("\\\\?\\C:\\Temp\\")), "\\\\?\\C:\\Temp\\Images-Captured-By-Tapwright");
	// Pairs after it are collapsed as anywhere.
	EXPECT_EQ(Text(MakeCaptureFolderPath("\\\\server\\\\share\\")),
		"\\\\server\\share\\Images-Captured-By-Tapwright");
}

TEST(CaptureFolder, EmptyTempDir)
{
	EXPECT_EQ(Text(MakeCaptureFolderPath("")), "\\Images-Captured-By-Tapwright");
}

TEST(CaptureFolder, PercentSignsInTheTempDirAreText)
{
	EXPECT_EQ(Text(MakeCaptureFolderPath("C:\\100%s\\")), "C:\\100%s\\Images-Captured-By-Tapwright");
}

TEST(CaptureFilePath, NetworkPathKeepsItsLeadingPairThroughBothSteps)
{
	EXPECT_EQ(CapturePath("\\\\server\\share\\", "3/7/2021 9:05:30 AM"),
		"\\\\server\\share\\Images-Captured-By-Tapwright\\Primary Monitor At 3 7 2021 9 05 30 AM.bmp");
}

TEST(CaptureFilePath, ProfileEndingInATrailBackslashUnderBig5)
{
	// 許 is B3 5C in Big5: its folder's separator follows the character and is kept.
	const unsigned char big5[] = {0x81, 0xFE, 0, 0};
	AfxSetLeadByteRanges(big5);
	const std::string strPath =
		CapturePath("C:\\users\\\xB3\x5C\\Temp\\", "2026/12/8 \xA4W\xA4\xC8 06:00:00");
	AfxSetLeadByteRanges(nullptr);
	EXPECT_EQ(strPath, "C:\\users\\\xB3\x5C\\Temp\\Images-Captured-By-Tapwright\\"
					   "Primary Monitor At 2026 12 8 \xA4W\xA4\xC8 06 00 00.bmp");
}

TEST(CaptureFilePath, CollapsesPairsInTheFolderItGets)
{
	EXPECT_EQ(Text(MakeCaptureFilePath("\\\\server\\share\\\\\\dir", "name.bmp")),
		"\\\\server\\share\\\\dir\\name.bmp");
	// A folder ending in a backslash meets the separator.
	EXPECT_EQ(Text(MakeCaptureFilePath("C:\\dir\\", "name.bmp")), "C:\\dir\\name.bmp");
}

TEST(CaptureFilePath, RunsInTheTempDirAreCollapsedOnceInEachStep)
{
	// Eight backslashes become four in the folder, then two in the file path.
	EXPECT_EQ(
		Text(MakeCaptureFolderPath("C:\\\\\\\\\\\\\\\\x")), "C:\\\\\\\\x\\Images-Captured-By-Tapwright");
	EXPECT_EQ(CapturePath("C:\\\\\\\\\\\\\\\\x", "t"),
		"C:\\\\x\\Images-Captured-By-Tapwright\\Primary Monitor At t.bmp");
}

TEST(CaptureFilePath, LongTempDirAndStamp)
{
	const std::string strDir = "C:\\" + std::string(240, 'd') + "\\";
	const std::string strStamp(300, 's');
	EXPECT_EQ(CapturePath(strDir.c_str(), strStamp.c_str()),
		strDir + "Images-Captured-By-Tapwright\\Primary Monitor At " + strStamp + ".bmp");
}

} // namespace
