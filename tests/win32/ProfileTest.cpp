// The profile functions against the real registry, under the test vendor's key.
#include "IatPatch.h"
#include "TestApp.h"

#include <gtest/gtest.h>

namespace {

const char kSection[] = "Settings";

class ProfileTest : public ::testing::Test
{
protected:
	void SetUp() override { TestApp().ClearProfile(); }
	void TearDown() override { TestApp().ClearProfile(); }

	// Stores a value of any type directly, under the path the profile functions use.
	void SetRaw(const char* pszEntry, DWORD dwType, const void* pData, DWORD cbData)
	{
		HKEY hKey = nullptr;
		ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, TestApp().SectionKeyPath(kSection).c_str(), 0, nullptr,
					  0, KEY_WRITE, nullptr, &hKey, nullptr),
			ERROR_SUCCESS);
		ASSERT_EQ(::RegSetValueExA(hKey, pszEntry, 0, dwType, static_cast<const BYTE*>(pData), cbData),
			ERROR_SUCCESS);
		::RegCloseKey(hKey);
	}

	// Reads a value directly: its type and bytes; false when it is absent.
	bool GetRaw(const char* pszEntry, DWORD& dwType, std::vector<BYTE>& data)
	{
		HKEY hKey = nullptr;
		if (::RegOpenKeyExA(HKEY_CURRENT_USER, TestApp().SectionKeyPath(kSection).c_str(), 0, KEY_READ,
				&hKey) != ERROR_SUCCESS)
			return false;
		DWORD cbData = 0;
		LONG lResult = ::RegQueryValueExA(hKey, pszEntry, nullptr, &dwType, nullptr, &cbData);
		data.resize(cbData);
		if (lResult == ERROR_SUCCESS)
			lResult = ::RegQueryValueExA(hKey, pszEntry, nullptr, &dwType, data.data(), &cbData);
		::RegCloseKey(hKey);
		return lResult == ERROR_SUCCESS;
	}
};

TEST_F(ProfileTest, TheApplicationNameIsTheTitleString)
{
	EXPECT_STREQ(TestApp().m_pszAppName, "Frostpane by Tapwright");
	EXPECT_STREQ(AfxGetAppName(), "Frostpane by Tapwright");
	EXPECT_STREQ(TestApp().m_pszProfileName, "Frostpane by Tapwright");
}

TEST_F(ProfileTest, AbsentKeyGivesTheDefaults)
{
	EXPECT_EQ(TestApp().GetProfileInt(kSection, "MessageDisplayed", 0), 0u);
	EXPECT_EQ(TestApp().GetProfileInt(kSection, "MessageDisplayed", 5), 5u);
	EXPECT_STREQ(TestApp().GetProfileString(kSection, "ScreenShotFilePath", ""), "");
	EXPECT_STREQ(TestApp().GetProfileString(kSection, "ScreenShotFilePath", "fallback"), "fallback");
	// Reading creates nothing.
	HKEY hKey = nullptr;
	EXPECT_NE(::RegOpenKeyExA(
				  HKEY_CURRENT_USER, (std::string("Software\\") + kTestVendor).c_str(), 0, KEY_READ, &hKey),
		ERROR_SUCCESS);
}

TEST_F(ProfileTest, AbsentValueInAnExistingSectionGivesTheDefaults)
{
	const DWORD dwOther = 3;
	SetRaw("Other", REG_DWORD, &dwOther, sizeof(dwOther));
	EXPECT_EQ(TestApp().GetProfileInt(kSection, "MessageDisplayed", 0), 0u);
	EXPECT_EQ(TestApp().GetProfileInt(kSection, "MessageDisplayed", 9), 9u);
	EXPECT_STREQ(TestApp().GetProfileString(kSection, "ScreenShotFilePath", "dflt"), "dflt");
}

TEST_F(ProfileTest, IntegerRoundTripsAsADword)
{
	for (int nValue : {1, 0, 7, 123456, -1}) {
		ASSERT_TRUE(TestApp().WriteProfileInt(kSection, "MessageDisplayed", nValue));
		EXPECT_EQ(TestApp().GetProfileInt(kSection, "MessageDisplayed", 42), static_cast<UINT>(nValue));
		DWORD dwType = 0;
		std::vector<BYTE> data;
		ASSERT_TRUE(GetRaw("MessageDisplayed", dwType, data));
		EXPECT_EQ(dwType, static_cast<DWORD>(REG_DWORD));
		ASSERT_EQ(data.size(), 4u);
		EXPECT_EQ(*reinterpret_cast<const DWORD*>(data.data()), static_cast<DWORD>(nValue));
	}
}

TEST_F(ProfileTest, StringRoundTripsAsRegSz)
{
	const std::string strLong =
		"C:\\users\\someone\\Temp\\Images-Captured-By-Tapwright\\" + std::string(200, 'x') + ".bmp";
	for (const std::string& strValue :
		{std::string("C:\\Temp\\Images-Captured-By-Tapwright\\Primary Monitor At 3 7 2021 9 05 30 AM.bmp"),
			std::string(""), strLong, std::string("d\xE9j\xE0 \"quoted\"")}) {
		ASSERT_TRUE(TestApp().WriteProfileString(kSection, "ScreenShotFilePath", strValue.c_str()));
		EXPECT_EQ(std::string(TestApp().GetProfileString(kSection, "ScreenShotFilePath", "dflt")), strValue);
		DWORD dwType = 0;
		std::vector<BYTE> data;
		ASSERT_TRUE(GetRaw("ScreenShotFilePath", dwType, data));
		EXPECT_EQ(dwType, static_cast<DWORD>(REG_SZ));
		ASSERT_EQ(data.size(), strValue.size() + 1);
		EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.data())), strValue);
	}
}

TEST_F(ProfileTest, StringStoredWithoutItsNullStillReadsWhole)
{
	const char szText[] = "C:\\Temp\\a.bmp";
	SetRaw("ScreenShotFilePath", REG_SZ, szText, sizeof(szText) - 1);
	EXPECT_STREQ(TestApp().GetProfileString(kSection, "ScreenShotFilePath", "dflt"), szText);
}

// Another run that stores its longer path between the size query and the read of this one.
std::string g_strLongerPath;
void* g_pRealQuery = nullptr;

LONG WINAPI QueryWhileAnotherRunWrites(
	HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
	auto pReal =
		reinterpret_cast<LONG(WINAPI*)(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD)>(g_pRealQuery);
	const LONG lResult = pReal(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
	if (!lpData && !g_strLongerPath.empty()) {
		HKEY hWrite = nullptr;
		::RegOpenKeyExA(
			HKEY_CURRENT_USER, TestApp().SectionKeyPath("Settings").c_str(), 0, KEY_WRITE, &hWrite);
		::RegSetValueExA(hWrite, lpValueName, 0, REG_SZ,
			reinterpret_cast<const BYTE*>(g_strLongerPath.c_str()),
			static_cast<DWORD>(g_strLongerPath.size() + 1));
		::RegCloseKey(hWrite);
		g_strLongerPath.clear();
	}
	return lResult;
}

TEST_F(ProfileTest, StringThatGrowsBetweenSizeAndReadIsReadWhole)
{
	ASSERT_TRUE(TestApp().WriteProfileString(kSection, "ScreenShotFilePath", "C:\\Temp\\a.bmp"));
	g_strLongerPath = "C:\\Temp\\Images-Captured-By-Tapwright\\Primary Monitor At 12 7 2026 4 32 57 AM.bmp";
	const std::string strWanted = g_strLongerPath;
	CIatPatch patch("ADVAPI32.dll", "RegQueryValueExA", reinterpret_cast<void*>(&QueryWhileAnotherRunWrites));
	g_pRealQuery = patch.Original();
	const CString strRead = TestApp().GetProfileString(kSection, "ScreenShotFilePath", "dflt");
	EXPECT_TRUE(g_strLongerPath.empty()) << "the value was never asked for its size";
	EXPECT_EQ(std::string(strRead), strWanted);
}

TEST_F(ProfileTest, ValuesOfTheWrongTypeGiveTheDefaults)
{
	const char szOne[] = "1";
	const DWORD dwOne = 1;
	const BYTE binary[4] = {1, 0, 0, 0};
	const BYTE qword[8] = {1, 0, 0, 0, 0, 0, 0, 0};

	SetRaw("MessageDisplayed", REG_SZ, szOne, sizeof(szOne));
	EXPECT_EQ(TestApp().GetProfileInt(kSection, "MessageDisplayed", 0), 0u) << "REG_SZ read as a number";
	SetRaw("MessageDisplayed", REG_BINARY, binary, sizeof(binary));
	EXPECT_EQ(TestApp().GetProfileInt(kSection, "MessageDisplayed", 0), 0u) << "REG_BINARY read as a number";
	SetRaw("MessageDisplayed", REG_QWORD, qword, sizeof(qword));
	EXPECT_EQ(TestApp().GetProfileInt(kSection, "MessageDisplayed", 0), 0u) << "REG_QWORD read as a number";

	SetRaw("ScreenShotFilePath", REG_DWORD, &dwOne, sizeof(dwOne));
	EXPECT_STREQ(TestApp().GetProfileString(kSection, "ScreenShotFilePath", ""), "")
		<< "REG_DWORD read as text";
	SetRaw("ScreenShotFilePath", REG_BINARY, binary, sizeof(binary));
	EXPECT_STREQ(TestApp().GetProfileString(kSection, "ScreenShotFilePath", "d"), "d")
		<< "REG_BINARY read as text";

	// Writing puts the right type back.
	ASSERT_TRUE(TestApp().WriteProfileInt(kSection, "MessageDisplayed", 1));
	EXPECT_EQ(TestApp().GetProfileInt(kSection, "MessageDisplayed", 0), 1u);
	ASSERT_TRUE(TestApp().WriteProfileString(kSection, "ScreenShotFilePath", "x.bmp"));
	EXPECT_STREQ(TestApp().GetProfileString(kSection, "ScreenShotFilePath", ""), "x.bmp");
}

} // namespace
