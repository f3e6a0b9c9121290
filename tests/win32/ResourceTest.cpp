// The resources of the built Frostpane.exe, read back through the platform's resource and version
// functions and checked by the bytes.
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>
#include <windows.h>

namespace {

const WORD kLangUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// The program's path in Windows form: FROSTPANE_EXE when set, else where the build put it.
std::string ProgramPath()
{
	const char* pszEnv = std::getenv("FROSTPANE_EXE");
	std::string strPath = pszEnv && *pszEnv ? pszEnv : FROSTPANE_EXE_PATH;
	if (!strPath.empty() && strPath[0] == '/') {
		for (char& ch : strPath) {
			if (ch == '/')
				ch = '\\';
		}
		strPath = "Z:" + strPath;
	}
	return strPath;
}

std::string Narrow(const std::wstring& str)
{
	std::string out;
	for (wchar_t ch : str)
		out += ch < 0x80 ? static_cast<char>(ch) : '?';
	return out;
}

// Reads a template or table field by field.
class CReader
{
public:
	CReader(const BYTE* pData, size_t nSize) : m_pData(pData), m_nSize(nSize) {}

	WORD Word()
	{
		Need(2);
		const WORD w = static_cast<WORD>(m_pData[m_nAt] | (m_pData[m_nAt + 1] << 8));
		m_nAt += 2;
		return w;
	}
	DWORD Dword()
	{
		const DWORD lo = Word();
		return lo | (static_cast<DWORD>(Word()) << 16);
	}
	BYTE Byte()
	{
		Need(1);
		return m_pData[m_nAt++];
	}
	short Short() { return static_cast<short>(Word()); }
	std::wstring Text()
	{
		std::wstring str;
		for (WORD ch = Word(); ch; ch = Word())
			str += static_cast<wchar_t>(ch);
		return str;
	}
	// A name or ordinal: "#n" for an ordinal, the text otherwise, "" for none.
	std::string NameOrOrdinal()
	{
		const WORD first = Word();
		if (first == 0xFFFF)
			return "#" + std::to_string(Word());
		if (first == 0)
			return "";
		m_nAt -= 2;
		return Narrow(Text());
	}
	void AlignDword() { m_nAt = (m_nAt + 3) & ~size_t{3}; }
	size_t At() const { return m_nAt; }
	void Skip(size_t n) { m_nAt += n; }
	bool AtEnd() const { return m_nAt >= m_nSize; }
	bool Overrun() const { return m_bOverrun; }

private:
	void Need(size_t n)
	{
		if (m_nAt + n > m_nSize) {
			m_bOverrun = true;
			throw std::runtime_error("resource ends early");
		}
	}
	const BYTE* m_pData;
	size_t m_nSize;
	size_t m_nAt = 0;
	bool m_bOverrun = false;
};

class ResourceTest : public ::testing::Test
{
protected:
	static void SetUpTestSuite()
	{
		s_hModule = ::LoadLibraryExA(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
	}
	static void TearDownTestSuite()
	{
		if (s_hModule)
			::FreeLibrary(s_hModule);
		s_hModule = nullptr;
	}
	void SetUp() override { ASSERT_NE(s_hModule, nullptr) << "cannot open " << ProgramPath(); }

	// The bytes of resource (type, name) in US English; empty when there is none.
	static std::vector<BYTE> Resource(LPCSTR pszType, LPCSTR pszName)
	{
		HRSRC hRes = ::FindResourceExA(s_hModule, pszType, pszName, kLangUs);
		if (!hRes)
			return {};
		HGLOBAL hData = ::LoadResource(s_hModule, hRes);
		const BYTE* pData = static_cast<const BYTE*>(::LockResource(hData));
		return std::vector<BYTE>(pData, pData + ::SizeofResource(s_hModule, hRes));
	}

	// The 16 strings of the string block that holds id nID.
	static std::vector<std::wstring> StringBlock(UINT nID)
	{
		const std::vector<BYTE> bytes = Resource(RT_STRING, MAKEINTRESOURCEA(nID / 16 + 1));
		std::vector<std::wstring> strings;
		if (bytes.empty())
			return strings;
		CReader reader(bytes.data(), bytes.size());
		for (int i = 0; i < 16; ++i) {
			const WORD wLength = reader.Word();
			std::wstring str;
			for (WORD j = 0; j < wLength; ++j)
				str += static_cast<wchar_t>(reader.Word());
			strings.push_back(str);
		}
		return strings;
	}

	static HMODULE s_hModule;
};

HMODULE ResourceTest::s_hModule = nullptr;

TEST_F(ResourceTest, AboutStringIsAloneInItsBlock)
{
	const std::vector<std::wstring> block = StringBlock(101);
	ASSERT_EQ(block.size(), 16u);
	for (int i = 0; i < 16; ++i) {
		if (96 + i == 101)
			EXPECT_EQ(Narrow(block[i]), "&About Frostpane...");
		else
			EXPECT_TRUE(block[i].empty()) << "string " << 96 + i << " is present";
	}
	char szText[64] = "";
	EXPECT_EQ(::LoadStringA(s_hModule, 101, szText, sizeof(szText)), 19);
	EXPECT_STREQ(szText, "&About Frostpane...");
}

TEST_F(ResourceTest, ApplicationTitleString)
{
	const std::vector<std::wstring> block = StringBlock(57344);
	ASSERT_EQ(block.size(), 16u);
	EXPECT_EQ(Narrow(block[0]), "Frostpane by Tapwright");
	for (int i = 1; i < 16; ++i)
		EXPECT_TRUE(block[i].empty()) << "string " << 57344 + i << " is present";
}

TEST_F(ResourceTest, CoverWindowTemplateIsExtendedWithTheExactStylesAndNoControls)
{
	const std::vector<BYTE> bytes = Resource(RT_DIALOG, MAKEINTRESOURCEA(102));
	ASSERT_FALSE(bytes.empty());
	CReader r(bytes.data(), bytes.size());
	EXPECT_EQ(r.Word(), 1);      // dlgVer
	EXPECT_EQ(r.Word(), 0xFFFF); // signature of an extended template
	EXPECT_EQ(r.Dword(), 0u);    // help id
	EXPECT_EQ(r.Dword(), static_cast<DWORD>(WS_EX_APPWINDOW));
	EXPECT_EQ(
		r.Dword(), static_cast<DWORD>(WS_POPUP | WS_VISIBLE | DS_SYSMODAL | DS_SETFOREGROUND | DS_SETFONT));
	EXPECT_EQ(r.Word(), 0); // no controls
	EXPECT_EQ(r.Short(), 0);
	EXPECT_EQ(r.Short(), 0);
	EXPECT_EQ(r.Short(), 320);
	EXPECT_EQ(r.Short(), 201);
	EXPECT_EQ(r.NameOrOrdinal(), ""); // no menu
	EXPECT_EQ(r.NameOrOrdinal(), ""); // default class
	EXPECT_EQ(Narrow(r.Text()), "");  // empty title
	EXPECT_EQ(r.Word(), 8);           // points
	EXPECT_EQ(r.Word(), 0);           // weight
	EXPECT_EQ(r.Byte(), 0);           // not italic
	EXPECT_EQ(r.Byte(), 1);           // DEFAULT_CHARSET
	EXPECT_EQ(Narrow(r.Text()), "MS Sans Serif");
	r.AlignDword();
	EXPECT_TRUE(r.AtEnd()) << "bytes after the template: " << bytes.size() - r.At();
}

struct ExpectedControl {
	const char* pszClass;
	const char* pszClassName;
	const char* pszText;
	DWORD dwStyle;
	WORD wId;
	short x, y, cx, cy;
};

TEST_F(ResourceTest, AboutTemplateHasItsStylesCaptionFontAndFourControlsInOrder)
{
	const std::vector<BYTE> bytes = Resource(RT_DIALOG, MAKEINTRESOURCEA(100));
	ASSERT_FALSE(bytes.empty());
	CReader r(bytes.data(), bytes.size());
	const DWORD dwStyle = r.Dword();
	ASSERT_NE(HIWORD(dwStyle), 0xFFFF) << "an extended template";
	EXPECT_EQ(dwStyle, static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
	EXPECT_EQ(r.Dword(), 0u); // extended style
	const WORD wCount = r.Word();
	EXPECT_EQ(wCount, 4);
	EXPECT_EQ(r.Short(), 0);
	EXPECT_EQ(r.Short(), 0);
	EXPECT_EQ(r.Short(), 235);
	EXPECT_EQ(r.Short(), 55);
	EXPECT_EQ(r.NameOrOrdinal(), "");
	EXPECT_EQ(r.NameOrOrdinal(), "");
	EXPECT_EQ(Narrow(r.Text()), "About Frostpane by Tapwright");
	EXPECT_EQ(r.Word(), 8);
	EXPECT_EQ(Narrow(r.Text()), "MS Sans Serif");

	const ExpectedControl expected[] = {
		{"#130", "Static", "#128", WS_CHILD | WS_VISIBLE | SS_ICON, 0xFFFF, 11, 17, 20, 20},
		{"#130", "Static", "Frostpane Version 1.0", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX | WS_GROUP,
			0xFFFF, 40, 10, 119, 8},
		{"#130", "Static", "Contact : help@tapwright.example", WS_CHILD | WS_VISIBLE | SS_LEFT | WS_GROUP,
			0xFFFF, 40, 25, 119, 8},
		{"#128", "Button", "OK", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, IDOK, 178,
			7, 50, 14},
	};
	for (int i = 0; i < wCount && i < 4; ++i) {
		SCOPED_TRACE("control " + std::to_string(i + 1));
		const ExpectedControl& want = expected[i];
		r.AlignDword();
		EXPECT_EQ(r.Dword(), want.dwStyle) << std::hex << want.dwStyle;
		EXPECT_EQ(r.Dword(), 0u); // extended style
		EXPECT_EQ(r.Short(), want.x);
		EXPECT_EQ(r.Short(), want.y);
		EXPECT_EQ(r.Short(), want.cx);
		EXPECT_EQ(r.Short(), want.cy);
		EXPECT_EQ(r.Word(), want.wId);
		// The predefined class by its ordinal (0x0080 button, 0x0082 static).
		EXPECT_EQ(r.NameOrOrdinal(), want.pszClass) << want.pszClassName;
		EXPECT_EQ(r.NameOrOrdinal(), want.pszText);
		const WORD wExtra = r.Word();
		EXPECT_EQ(wExtra, 0);
		r.Skip(wExtra);
	}
	r.AlignDword();
	EXPECT_TRUE(r.AtEnd()) << "bytes after the last control: " << bytes.size() - r.At();
}

TEST_F(ResourceTest, IconGroupHoldsA32And16PixelSixteenColourImage)
{
	const std::vector<BYTE> bytes = Resource(RT_GROUP_ICON, MAKEINTRESOURCEA(128));
	ASSERT_EQ(bytes.size(), 6u + 2 * 14);
	CReader r(bytes.data(), bytes.size());
	EXPECT_EQ(r.Word(), 0);
	EXPECT_EQ(r.Word(), 1); // icons
	ASSERT_EQ(r.Word(), 2);
	const int sizes[2] = {32, 16};
	for (int i = 0; i < 2; ++i) {
		SCOPED_TRACE("image " + std::to_string(i + 1));
		EXPECT_EQ(r.Byte(), sizes[i]);
		EXPECT_EQ(r.Byte(), sizes[i]);
		EXPECT_EQ(r.Byte(), 16); // colours
		EXPECT_EQ(r.Byte(), 0);
		EXPECT_EQ(r.Word(), 1); // planes
		EXPECT_EQ(r.Word(), 4); // bits per pixel
		const DWORD dwBytes = r.Dword();
		const WORD wId = r.Word();
		EXPECT_EQ(wId, i + 1);
		const std::vector<BYTE> image = Resource(RT_ICON, MAKEINTRESOURCEA(wId));
		ASSERT_EQ(image.size(), dwBytes);
		CReader header(image.data(), image.size());
		EXPECT_EQ(header.Dword(), 40u);
		EXPECT_EQ(header.Dword(), static_cast<DWORD>(sizes[i]));
		EXPECT_EQ(header.Dword(), static_cast<DWORD>(2 * sizes[i])); // image and mask
		EXPECT_EQ(header.Word(), 1);
		EXPECT_EQ(header.Word(), 4);
	}
	// The platform finds both sizes in the group.
	HICON hIcon = static_cast<HICON>(::LoadImageA(s_hModule, MAKEINTRESOURCEA(128), IMAGE_ICON, 16, 16, 0));
	EXPECT_NE(hIcon, nullptr);
	if (hIcon)
		::DestroyIcon(hIcon);
}

BOOL CALLBACK CollectType(HMODULE, LPSTR pszType, LONG_PTR lParam)
{
	reinterpret_cast<std::vector<ULONG_PTR>*>(lParam)->push_back(reinterpret_cast<ULONG_PTR>(pszType));
	return TRUE;
}

BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR pszName, LONG_PTR lParam)
{
	reinterpret_cast<std::vector<ULONG_PTR>*>(lParam)->push_back(reinterpret_cast<ULONG_PTR>(pszName));
	return TRUE;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD wLang, LONG_PTR lParam)
{
	reinterpret_cast<std::vector<WORD>*>(lParam)->push_back(wLang);
	return TRUE;
}

TEST_F(ResourceTest, EveryResourceIsUsEnglishAndThereIsNoManifest)
{
	std::vector<ULONG_PTR> types;
	::EnumResourceTypesA(s_hModule, &CollectType, reinterpret_cast<LONG_PTR>(&types));
	std::sort(types.begin(), types.end());
	// Icons, dialogs, strings, group icons and the version block; no manifest (24), nothing named.
	EXPECT_EQ(types, (std::vector<ULONG_PTR>{3, 5, 6, 14, 16}));
	EXPECT_EQ(::FindResourceA(s_hModule, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)), nullptr);

	for (ULONG_PTR type : types) {
		if (!IS_INTRESOURCE(type))
			continue;
		const LPCSTR pszType = MAKEINTRESOURCEA(type);
		std::vector<ULONG_PTR> names;
		::EnumResourceNamesA(s_hModule, pszType, &CollectName, reinterpret_cast<LONG_PTR>(&names));
		for (ULONG_PTR name : names) {
			std::vector<WORD> langs;
			::EnumResourceLanguagesA(s_hModule, pszType, reinterpret_cast<LPCSTR>(name), &CollectLanguage,
				reinterpret_cast<LONG_PTR>(&langs));
			EXPECT_EQ(langs, std::vector<WORD>{kLangUs}) << "type " << type << " name " << name;
		}
	}
}

// One node of the version block: key, value bytes and children.
struct VersionNode {
	std::string strKey;
	WORD wType = 0;
	std::vector<BYTE> value;
	std::vector<VersionNode> children;
};

VersionNode ParseVersionNode(const BYTE* pData, size_t nSize)
{
	VersionNode node;
	CReader r(pData, nSize);
	const WORD wLength = r.Word();
	const WORD wValueLength = r.Word();
	node.wType = r.Word();
	node.strKey = Narrow(r.Text());
	r.AlignDword();
	const size_t nValueBytes = node.wType == 1 ? wValueLength * 2u : wValueLength;
	node.value.assign(pData + r.At(), pData + std::min<size_t>(r.At() + nValueBytes, wLength));
	r.Skip(nValueBytes);
	r.AlignDword();
	while (r.At() + 6 <= wLength) {
		const size_t nAt = r.At();
		const WORD wChild = static_cast<WORD>(pData[nAt] | (pData[nAt + 1] << 8));
		if (wChild == 0)
			break;
		node.children.push_back(ParseVersionNode(pData + nAt, wChild));
		r.Skip(wChild);
		r.AlignDword();
	}
	return node;
}

TEST_F(ResourceTest, VersionBlockHasItsFixedPartTranslationAndEveryString)
{
	const std::string strPath = ProgramPath();
	DWORD dwHandle = 0;
	const DWORD dwSize = ::GetFileVersionInfoSizeA(strPath.c_str(), &dwHandle);
	ASSERT_GT(dwSize, 0u);
	std::vector<BYTE> info(dwSize);
	ASSERT_TRUE(::GetFileVersionInfoA(strPath.c_str(), 0, dwSize, info.data()));

	VS_FIXEDFILEINFO* pFixed = nullptr;
	UINT nLength = 0;
	ASSERT_TRUE(::VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&pFixed), &nLength));
	ASSERT_EQ(nLength, sizeof(VS_FIXEDFILEINFO));
	EXPECT_EQ(pFixed->dwSignature, 0xFEEF04BDu);
	EXPECT_EQ(pFixed->dwFileVersionMS, 0x00010000u);
	EXPECT_EQ(pFixed->dwFileVersionLS, 0x00000001u);
	EXPECT_EQ(pFixed->dwProductVersionMS, 0x00010000u);
	EXPECT_EQ(pFixed->dwProductVersionLS, 0x00000001u);
	EXPECT_EQ(pFixed->dwFileFlagsMask, 0x3Fu);
	EXPECT_EQ(pFixed->dwFileFlags, 0u);
	EXPECT_EQ(pFixed->dwFileOS, 4u);
	EXPECT_EQ(pFixed->dwFileType, 1u);
	EXPECT_EQ(pFixed->dwFileSubtype, 0u);
	EXPECT_EQ(pFixed->dwFileDateMS, 0u);
	EXPECT_EQ(pFixed->dwFileDateLS, 0u);

	WORD* pTranslation = nullptr;
	ASSERT_TRUE(::VerQueryValueA(
		info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pTranslation), &nLength));
	ASSERT_EQ(nLength, 4u);
	EXPECT_EQ(pTranslation[0], 0x0409);
	EXPECT_EQ(pTranslation[1], 0x04B0);

	const std::vector<std::pair<std::string, std::string>> expected = {
		{"Comments", "Contact : help@tapwright.example"},
		{"CompanyName", "Tapwright Software"},
		{"FileDescription", "Frostpane Utility by Tapwright Software"},
		{"FileVersion", "1, 0, 0, 1"},
		{"InternalName", "Frostpane"},
		{"LegalCopyright", ""},
		{"LegalTrademarks", ""},
		{"OriginalFilename", "Frostpane.EXE"},
		{"PrivateBuild", ""},
		{"ProductName", "Frostpane by Tapwright"},
		{"ProductVersion", "1, 0, 0, 1"},
		{"SpecialBuild", ""},
	};
	for (const auto& [strKey, strValue] : expected) {
		char* pszValue = nullptr;
		nLength = 0;
		const std::string strQuery = "\\StringFileInfo\\040904b0\\" + strKey;
		ASSERT_TRUE(
			::VerQueryValueA(info.data(), strQuery.c_str(), reinterpret_cast<void**>(&pszValue), &nLength))
			<< strKey;
		EXPECT_EQ(std::string(pszValue ? pszValue : ""), strValue) << strKey;
	}

	// By the bytes: one string table, 040904b0, holding exactly these keys in this order.
	const std::vector<BYTE> raw = Resource(RT_VERSION, MAKEINTRESOURCEA(1));
	ASSERT_FALSE(raw.empty());
	const VersionNode root = ParseVersionNode(raw.data(), raw.size());
	EXPECT_EQ(root.strKey, "VS_VERSION_INFO");
	std::vector<std::string> topKeys;
	const VersionNode* pTable = nullptr;
	for (const VersionNode& child : root.children) {
		topKeys.push_back(child.strKey);
		if (child.strKey == "StringFileInfo") {
			ASSERT_EQ(child.children.size(), 1u);
			pTable = &child.children[0];
		}
	}
	EXPECT_EQ(topKeys, (std::vector<std::string>{"StringFileInfo", "VarFileInfo"}));
	ASSERT_NE(pTable, nullptr);
	EXPECT_EQ(pTable->strKey, "040904b0");
	std::vector<std::string> keys;
	for (const VersionNode& value : pTable->children)
		keys.push_back(value.strKey);
	std::vector<std::string> wantKeys;
	for (const auto& entry : expected)
		wantKeys.push_back(entry.first);
	EXPECT_EQ(keys, wantKeys);
}

} // namespace

// Every About text shows whole on one line in the dialog's own font, as the user sees it, and the icon shows
// beside them, clear of every other control. Run again at 120, 144 and 192 dots per inch, where
// FROSTPANE_EXPECT_DPI names the dots per inch the box must be laid out at. The process declares itself DPI
// aware first, as the program does: where the platform scales an undeclared process (Wine 10, Windows), the
// box would otherwise be laid out at 96 whatever the display. (Each test runs in a process of its own.)
TEST(AboutBoxLayout, EachStaticTextFitsItsControlAndTheIconShows)
{
	using ContextFn = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
	using AwareFn = BOOL(WINAPI*)();
	HMODULE hUser32 = GetModuleHandleA("user32.dll");
	const auto pfnContext = reinterpret_cast<ContextFn>(
		reinterpret_cast<void (*)()>(GetProcAddress(hUser32, "SetProcessDpiAwarenessContext")));
	const auto pfnAware = reinterpret_cast<AwareFn>(
		reinterpret_cast<void (*)()>(GetProcAddress(hUser32, "SetProcessDPIAware")));
	if (!(pfnContext && pfnContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) && pfnAware)
		pfnAware();
	HWND hDlg = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(100), nullptr, nullptr, 0);
	ASSERT_NE(hDlg, nullptr);
	if (const char* pszDpi = std::getenv("FROSTPANE_EXPECT_DPI")) {
		HDC hdc = GetDC(hDlg);
		EXPECT_EQ(GetDeviceCaps(hdc, LOGPIXELSY), std::atoi(pszDpi)) << "the box is not laid out at that DPI";
		ReleaseDC(hDlg, hdc);
	}
	RECT rcDialog;
	GetClientRect(hDlg, &rcDialog);
	std::vector<RECT> others;
	RECT rcIcon = {};
	int nTexts = 0, nIcons = 0;
	for (HWND hChild = GetWindow(hDlg, GW_CHILD); hChild; hChild = GetWindow(hChild, GW_HWNDNEXT)) {
		char szClass[32] = "";
		char szText[128] = "";
		GetClassNameA(hChild, szClass, sizeof(szClass));
		GetWindowTextA(hChild, szText, sizeof(szText));
		SCOPED_TRACE(szText);
		RECT rcControl;
		GetClientRect(hChild, &rcControl);
		RECT rcInDialog;
		GetWindowRect(hChild, &rcInDialog);
		MapWindowPoints(nullptr, hDlg, reinterpret_cast<POINT*>(&rcInDialog), 2);
		if (lstrcmpiA(szClass, "Static") == 0 &&
			(GetWindowLongA(hChild, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
			EXPECT_NE(SendMessageA(hChild, STM_GETICON, 0, 0), 0) << "no icon";
			rcIcon = rcInDialog;
			++nIcons;
			continue;
		}
		others.push_back(rcInDialog);
		if (lstrcmpiA(szClass, "Static") != 0)
			continue;
		HDC hdc = GetDC(hChild);
		HGDIOBJ hOldFont = SelectObject(hdc, reinterpret_cast<HFONT>(SendMessageA(hChild, WM_GETFONT, 0, 0)));
		RECT rcText = rcControl;
		DrawTextA(hdc, szText, -1, &rcText, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
		SelectObject(hdc, hOldFont);
		ReleaseDC(hChild, hdc);
		EXPECT_LE(rcText.right, rcControl.right) << "cut at the right";
		EXPECT_LE(rcText.bottom, rcControl.bottom) << "wraps onto a second line";
		++nTexts;
	}
	DestroyWindow(hDlg);
	EXPECT_EQ(nTexts, 2);
	ASSERT_EQ(nIcons, 1);
	RECT rcClip;
	EXPECT_FALSE(IsRectEmpty(&rcIcon));
	EXPECT_TRUE(IntersectRect(&rcClip, &rcIcon, &rcDialog) && EqualRect(&rcClip, &rcIcon))
		<< "the icon is cut";
	for (const RECT& rcOther : others)
		EXPECT_FALSE(IntersectRect(&rcClip, &rcIcon, &rcOther)) << "the icon overlaps another control";
}
