// The time stamp of a capture name follows the user's locale. CTest runs this suite once with
// LC_ALL=en_US.UTF-8 and once with LC_ALL=de_DE.UTF-8 (Wine takes the user locale from LC_ALL), and
// FROSTPANE_EXPECT_LCID says which locale that run must see.
#include "CaptureNames.h"
#include "IatPatch.h"
#include "OleDateTime.h"
#include "Pixels.h"
#include "ScreenGrabberTestAccess.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <regex>

namespace {

LCID ExpectedLcid()
{
	const char* pszLcid = std::getenv("FROSTPANE_EXPECT_LCID");
	return pszLcid && *pszLcid ? static_cast<LCID>(std::strtoul(pszLcid, nullptr, 16)) : 0;
}

// The platform's own short date and long time for the user's locale, joined by a space.
std::string PlatformDateTime(const SYSTEMTIME& st, bool bWithTime)
{
	char szDate[128] = "";
	char szTime[128] = "";
	::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, szDate, sizeof(szDate));
	if (!bWithTime)
		return szDate;
	::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, szTime, sizeof(szTime));
	return std::string(szDate) + " " + szTime;
}

SYSTEMTIME MakeTime(WORD wYear, WORD wMonth, WORD wDay, WORD wHour, WORD wMinute, WORD wSecond)
{
	SYSTEMTIME st = {};
	st.wYear = wYear;
	st.wMonth = wMonth;
	st.wDay = wDay;
	st.wHour = wHour;
	st.wMinute = wMinute;
	st.wSecond = wSecond;
	return st;
}

TEST(UserLocaleStamp, FormatGivesTheLocalesDefaultDateAndTime)
{
	const LCID lcid = ::GetUserDefaultLCID();
	if (ExpectedLcid()) {
		ASSERT_EQ(lcid, ExpectedLcid()) << "the user locale did not reach Wine";
	}
	std::printf("user LCID %04lx\n", lcid);

	const SYSTEMTIME st = MakeTime(2021, 3, 7, 9, 5, 30);
	const std::string strStamp = static_cast<LPCTSTR>(COleDateTime(st).Format(0, LANG_USER_DEFAULT));
	EXPECT_EQ(strStamp, PlatformDateTime(st, true));

	// A time of midnight is left out, as the class library's default text does.
	const SYSTEMTIME midnight = MakeTime(2021, 12, 24, 0, 0, 0);
	EXPECT_EQ(
		std::string(COleDateTime(midnight).Format(0, LANG_USER_DEFAULT)), PlatformDateTime(midnight, false));

	const std::string strTitle = static_cast<LPCTSTR>(MakeCaptureFileTitle(strStamp.c_str()));
	if (lcid == 0x0409) {
		EXPECT_EQ(strStamp, "3/7/2021 9:05:30 AM");
		EXPECT_EQ(strTitle, "Primary Monitor At 3 7 2021 9 05 30 AM.bmp");
	} else if (lcid == 0x0407) {
		// Dots are kept; only the time's colons become spaces.
		EXPECT_TRUE(std::regex_match(strStamp, std::regex(R"(0?7\.0?3\.2021 09:05:30)"))) << strStamp;
		EXPECT_TRUE(
			std::regex_match(strTitle, std::regex(R"(Primary Monitor At 0?7\.0?3\.2021 09 05 30\.bmp)")))
			<< strTitle;
	} else {
		EXPECT_EQ(strTitle.find_first_of("/\\?*:|<>"), std::string::npos) << strTitle;
	}
}

// The name the grabber makes from the current time, in the user's locale.
TEST(UserLocaleStamp, CaptureFileNameFollowsTheLocale)
{
	const LCID lcid = ::GetUserDefaultLCID();
	if (ExpectedLcid()) {
		ASSERT_EQ(lcid, ExpectedLcid()) << "the user locale did not reach Wine";
	}
	CScratchFolder temp("stamp");
	CScreenGrabber grabber;
	std::string strBefore, strAfter, strName;
	{
		CTempPathRedirect redirect(temp.Path());
		CMessageBoxRecorder boxes;
		strBefore = MakeCaptureFileTitle(COleDateTime::GetCurrentTime().Format(0, LANG_USER_DEFAULT));
		CScreenGrabberTestAccess::MakeCaptureFileName(grabber);
		strAfter = MakeCaptureFileTitle(COleDateTime::GetCurrentTime().Format(0, LANG_USER_DEFAULT));
		EXPECT_TRUE(boxes.Boxes().empty());
	}
	const std::string strPath = static_cast<LPCTSTR>(CScreenGrabberTestAccess::FilePath(grabber));
	const std::string strFolder = temp.Path() + "Images-Captured-By-Tapwright\\";
	ASSERT_EQ(strPath.compare(0, strFolder.size(), strFolder), 0) << strPath;
	strName = strPath.substr(strFolder.size());
	EXPECT_TRUE(strName == strBefore || strName == strAfter) << strName << " / " << strBefore;
	EXPECT_EQ(::GetFileAttributesA((temp.Path() + "Images-Captured-By-Tapwright").c_str()) &
				  FILE_ATTRIBUTE_DIRECTORY,
		static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
	if (lcid == 0x0409) {
		EXPECT_TRUE(std::regex_match(
			strName, std::regex(R"(Primary Monitor At \d{1,2} \d{1,2} \d{4} \d{1,2} \d\d \d\d [AP]M\.bmp)")))
			<< strName;
	} else if (lcid == 0x0407) {
		EXPECT_TRUE(std::regex_match(
			strName, std::regex(R"(Primary Monitor At \d{1,2}\.\d{1,2}\.\d{4} \d\d \d\d \d\d\.bmp)")))
			<< strName;
	}
}

} // namespace
