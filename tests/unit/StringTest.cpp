// CString as the program uses it: replacing, formatting, buffers for APIs that fill them, and
// value semantics. LoadString needs the executable's resources and is tested under Wine.
#include "String.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

std::string Text(const CString& str) { return std::string(static_cast<LPCTSTR>(str)); }

TEST(CStringReplaceText, RunOfThreeBackslashesBecomesTwo)
{
	CString str("C:\\a\\\\\\b");
	EXPECT_EQ(str.Replace("\\\\", "\\"), 1);
	EXPECT_EQ(Text(str), "C:\\a\\\\b");
}

TEST(CStringReplaceText, LeadingPairBecomesOne)
{
	CString str("\\\\server\\share");
	EXPECT_EQ(str.Replace("\\\\", "\\"), 1);
	EXPECT_EQ(Text(str), "\\server\\share");
}

TEST(CStringReplaceText, RunsOfFourFiveAndSixBecomeTwoThreeAndThree)
{
	CString str("a\\\\\\\\b\\\\\\\\\\c\\\\\\\\\\\\");
	EXPECT_EQ(str.Replace("\\\\", "\\"), 2 + 2 + 3);
	EXPECT_EQ(Text(str), "a\\\\b\\\\\\c\\\\\\");
}

TEST(CStringReplaceText, ReplacedTextIsNotSearchedAgain)
{
	// A pass that rescanned its own output would never end here, or would double again.
	CString strGrow("aaa");
	EXPECT_EQ(strGrow.Replace("a", "aa"), 3);
	EXPECT_EQ(Text(strGrow), "aaaaaa");

	// Removing "ab" from "aabb" leaves a new "ab" that one pass does not touch.
	CString strShrink("aabb");
	EXPECT_EQ(strShrink.Replace("ab", ""), 1);
	EXPECT_EQ(Text(strShrink), "ab");
}

TEST(CStringReplaceText, OccurrencesAtBothEndsAndLongerReplacement)
{
	CString str("%s middle %s");
	EXPECT_EQ(str.Replace("%s", "<text>"), 2);
	EXPECT_EQ(Text(str), "<text> middle <text>");
}

TEST(CStringReplaceText, EmptyOrNullReplacementDeletes)
{
	CString strEmpty("a-b-c");
	EXPECT_EQ(strEmpty.Replace("-", ""), 2);
	EXPECT_EQ(Text(strEmpty), "abc");

	CString strNull("a-b-c");
	EXPECT_EQ(strNull.Replace("-", nullptr), 2);
	EXPECT_EQ(Text(strNull), "abc");
}

TEST(CStringReplaceText, EmptyOrNullPatternChangesNothing)
{
	CString str("abc");
	EXPECT_EQ(str.Replace("", "x"), 0);
	EXPECT_EQ(Text(str), "abc");
	EXPECT_EQ(str.Replace(nullptr, "x"), 0);
	EXPECT_EQ(Text(str), "abc");

	CString strEmpty;
	EXPECT_EQ(strEmpty.Replace("", "x"), 0);
	EXPECT_TRUE(strEmpty.IsEmpty());
}

TEST(CStringReplaceText, AbsentPatternOrLongerThanTextChangesNothing)
{
	CString str("abc");
	EXPECT_EQ(str.Replace("x", "y"), 0);
	EXPECT_EQ(str.Replace("abcd", "y"), 0);
	EXPECT_EQ(Text(str), "abc");
}

TEST(CStringReplaceText, ArgumentsPointingIntoTheStringItself)
{
	CString str("abcabc");
	CString strWhole(str);
	EXPECT_EQ(strWhole.Replace(strWhole, "x"), 1);
	EXPECT_EQ(Text(strWhole), "x");

	// The replacement is read from the text being replaced.
	EXPECT_EQ(str.Replace("b", static_cast<LPCTSTR>(str) + 3), 2);
	EXPECT_EQ(Text(str), "aabcca"
						 "abcc");
}

TEST(CStringReplaceChar, EveryOccurrenceAndNothingElse)
{
	CString str("/3/7/2021 9:05/");
	EXPECT_EQ(str.Replace('/', ' '), 4);
	EXPECT_EQ(Text(str), " 3 7 2021 9:05 ");

	EXPECT_EQ(str.Replace('#', '-'), 0);
	EXPECT_EQ(Text(str), " 3 7 2021 9:05 ");
}

TEST(CStringReplaceChar, HighBytesAreCharactersLikeAnyOther)
{
	CString str("\xE4:\xE4");
	EXPECT_EQ(str.Replace('\xE4', '\xF6'), 2);
	EXPECT_EQ(Text(str), "\xF6:\xF6");
}

TEST(CStringReplaceChar, SameCharacterCountsNothing)
{
	CString str("a-b");
	EXPECT_EQ(str.Replace('-', '-'), 0);
	EXPECT_EQ(Text(str), "a-b");
}

// A double-byte code page, as the host build is told it: its lead bytes, and one character of it
// whose trail byte is 0x5C, the backslash.
struct DoubleByteCodePage {
	const char* pszName;
	unsigned char leadBytes[6];
	const char* pszChar;
};

void PrintTo(const DoubleByteCodePage& codePage, std::ostream* pOut) { *pOut << codePage.pszName; }

const DoubleByteCodePage kDoubleByteCodePages[] = {
	{"Big5_950", {0x81, 0xFE, 0, 0}, "\xB3\x5C"},                 // 許
	{"ShiftJis_932", {0x81, 0x9F, 0xE0, 0xFC, 0, 0}, "\x83\x5C"}, // ソ
	{"Gbk_936", {0x81, 0xFE, 0, 0}, "\x81\x5C"},
};

class CStringDoubleByte : public ::testing::TestWithParam<DoubleByteCodePage>
{
protected:
	void SetUp() override { AfxSetLeadByteRanges(GetParam().leadBytes); }
	void TearDown() override { AfxSetLeadByteRanges(nullptr); }

	// The text with each '#' made the code page's character ending in a backslash.
	static std::string With(const char* pszText)
	{
		std::string strText;
		for (; *pszText; ++pszText)
			strText += *pszText == '#' ? std::string(GetParam().pszChar) : std::string(1, *pszText);
		return strText;
	}
};

TEST_P(CStringDoubleByte, TrailBackslashIsNoBackslash)
{
	// A folder named by the character, then its separator: the pair is no pair.
	CString strPath(With("C:\\users\\#\\Temp\\\\x").c_str());
	EXPECT_EQ(strPath.Replace("\\\\", "\\"), 1);
	EXPECT_EQ(Text(strPath), With("C:\\users\\#\\Temp\\x"));

	CString strChars(With("#/#\\").c_str());
	EXPECT_EQ(strChars.Replace('\\', ' '), 1);
	EXPECT_EQ(Text(strChars), With("#/# "));

	// Nor does an occurrence start inside a character.
	CString strText(With("#T").c_str());
	EXPECT_EQ(strText.Replace("\\T", "x"), 0);
	EXPECT_EQ(Text(strText), With("#T"));
}

TEST_P(CStringDoubleByte, RunsAfterTheCharacterAreStillCollapsed)
{
	CString str(With("#\\\\\\#\\\\").c_str());
	EXPECT_EQ(str.Replace("\\\\", "\\"), 2);
	EXPECT_EQ(Text(str), With("#\\\\#\\"));
}

TEST_P(CStringDoubleByte, ReverseFindSkipsTrailBytes)
{
	EXPECT_EQ(CString(With("C:\\d\\#").c_str()).ReverseFind('\\'), 4);
	EXPECT_EQ(CString(With("##").c_str()).ReverseFind('\\'), -1);
}

INSTANTIATE_TEST_SUITE_P(CodePages, CStringDoubleByte, ::testing::ValuesIn(kDoubleByteCodePages),
	[](const ::testing::TestParamInfo<DoubleByteCodePage>& info) { return std::string(info.param.pszName); });

TEST(CStringSingleByte, EveryByteIsACharacter)
{
	// Where the code page has no lead bytes, the same bytes are characters of their own.
	CString str("C:\\users\\\xB3\x5C\\Temp");
	EXPECT_EQ(str.Replace("\\\\", "\\"), 1);
	EXPECT_EQ(Text(str), "C:\\users\\\xB3\\Temp");
	EXPECT_EQ(CString("a\\\x83\x5C").ReverseFind('\\'), 3);
}

TEST(CStringFormat, NumbersAndTexts)
{
	CString str;
	str.Format("%d|%u|%x|%08X|%s|%c", -42, 4100u, 0x4d42, 0xBEEFu, "text", 'z');
	EXPECT_EQ(Text(str), "-42|4100|4d42|0000BEEF|text|z");
}

TEST(CStringFormat, ReplacesEarlierContent)
{
	CString str("a much longer earlier content");
	str.Format("%s", "short");
	EXPECT_EQ(Text(str), "short");
	str.Format("%s", "");
	EXPECT_TRUE(str.IsEmpty());
}

TEST(CStringFormat, LongOutputs)
{
	const std::string strLong(100000, 'x');
	CString str;
	str.Format("[%s]", strLong.c_str());
	EXPECT_EQ(str.GetLength(), 100002);
	EXPECT_EQ(Text(str), "[" + strLong + "]");

	str.Format("%5000d", 7);
	EXPECT_EQ(str.GetLength(), 5000);
	EXPECT_EQ(Text(str), std::string(4999, ' ') + "7");
}

TEST(CStringFormat, PercentSignsInsideAnArgumentAreText)
{
	CString str;
	str.Format("Primary Monitor At %s", "100% %s %n %d");
	EXPECT_EQ(Text(str), "Primary Monitor At 100% %s %n %d");
}

TEST(CStringFormat, ArgumentFromTheStringItself)
{
	CString str("C:\\Temp\\");
	str.Format("%s\\%s", static_cast<LPCTSTR>(str), static_cast<LPCTSTR>(str));
	EXPECT_EQ(Text(str), "C:\\Temp\\\\C:\\Temp\\");
}

TEST(CStringBuffer, FilledBufferEndsAtItsNull)
{
	CString str;
	char* pBuffer = str.GetBuffer(260);
	ASSERT_NE(pBuffer, nullptr);
	// The API may write all 260 characters the buffer promises, the last one its null.
	std::memset(pBuffer, 'q', 259);
	pBuffer[259] = '\0';
	std::strcpy(pBuffer, "C:\\Temp\\");
	str.ReleaseBuffer();
	EXPECT_EQ(str.GetLength(), 8);
	EXPECT_EQ(Text(str), "C:\\Temp\\");
}

TEST(CStringBuffer, ExplicitLengthCutsTheText)
{
	CString str;
	std::memcpy(str.GetBuffer(16), "abcdefgh", 8);
	str.ReleaseBuffer(5);
	EXPECT_EQ(Text(str), "abcde");
	EXPECT_EQ(str.GetLength(), 5);
}

TEST(CStringBuffer, SmallerRequestKeepsTheText)
{
	CString str("keep this text");
	char* pBuffer = str.GetBuffer(2);
	EXPECT_STREQ(pBuffer, "keep this text");
	pBuffer[0] = 'K';
	str.ReleaseBuffer();
	EXPECT_EQ(Text(str), "Keep this text");
}

TEST(CStringValue, CopiesDoNotShareText)
{
	CString strOriginal("C:\\Temp\\\\x");
	CString strCopy(strOriginal);
	CString strAssigned;
	strAssigned = strOriginal;

	strOriginal.Replace("\\\\", "\\");
	strOriginal.Replace('x', 'y');
	strOriginal += "-more";
	strOriginal.GetBuffer(1)[0] = 'D';
	strOriginal.ReleaseBuffer();

	EXPECT_EQ(Text(strOriginal), "D:\\Temp\\y-more");
	EXPECT_EQ(Text(strCopy), "C:\\Temp\\\\x");
	EXPECT_EQ(Text(strAssigned), "C:\\Temp\\\\x");

	strCopy.Empty();
	EXPECT_EQ(Text(strAssigned), "C:\\Temp\\\\x");
}

TEST(CStringValue, SelfAssignmentAndSelfAppend)
{
	CString str("ab");
	CString& strAlias = str;
	str = strAlias;
	EXPECT_EQ(Text(str), "ab");
	str += strAlias;
	EXPECT_EQ(Text(str), "abab");
	str = static_cast<LPCTSTR>(str) + 1;
	EXPECT_EQ(Text(str), "bab");
}

TEST(CStringValue, ConstructionAndCharacterAccess)
{
	EXPECT_EQ(Text(CString("abcdef", 3)), "abc");
	EXPECT_TRUE(CString(static_cast<LPCTSTR>(nullptr)).IsEmpty());
	EXPECT_EQ(CString("abc").GetAt(2), 'c');
}

} // namespace
