// winprobe: a small console tool the end-to-end tests run with wine, in the same prefix as the program under
// test, to look at that program's windows from the Win32 side and to poke them. Its commands and options are
// the usage text below (kUsage), printed on a bad command line; what each command prints is said above the
// function that runs it.
//
// CAPTION, when given, must equal the window's text exactly ("" matches an empty title). The cover window has
// an empty title, so it is selected as:  winprobe post --class "#32770" --exe Frostpane.exe "" 0x0112 0x0010
// 0 With several matches the first in Z order is used and matches=N says how many there were.
//
// find prints the window's handle, title, class, process, styles, window rectangle (screen), client rectangle
// and its origin on the screen, visibility, maximised/minimised state, topmost bit, foreground state, owner,
// icons, and then for each child control (childN.): class, id, style, exstyle, text, rectangle (in the
// parent's client coordinates) and, for static icon controls, the icon handle and which icon its pixels on
// the screen show (icon_match=exclamation, hand, question, asterisk, application, winlogo or exe:N). Icon
// handles belong to one process under Wine, so comparing STM_GETICON with this process's LoadIconA(NULL,
// IDI_EXCLAMATION) cannot work. CAPTION and the TEXT of msgbox/window take \n, \t and \\ escapes.
//
// winprobe sees the screen in device pixels, as the program does once it has declared itself DPI aware: it
// declares the same (per-monitor where the Windows knows it) before anything else. --unaware as the first
// argument leaves it undeclared, so where the platform scales an undeclared process (Wine 10 at 120, 144 or
// 192 dots per inch) it sees the scaled screen: `winprobe --unaware screen` reads the crop such a process
// gets.
//
// Output is one fact per line, key=value. Texts are given in UTF-8, whatever the ANSI code page they were
// read in, and escaped so each fits on a line: \n \r \t \\ and \xNN for every other byte outside 0x20..0x7E.
// Numbers are decimal, handles and style bits are 0x-prefixed hex. Exit status: 0 done, 1 no matching window
// (or the post failed), 2 bad usage.
#include <windows.h>

#include <msi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Selector {
	bool hasTitle = false;
	std::string title;
	std::string cls;
	std::string exe;
	DWORD pid = 0;
	DWORD timeoutMs = 10000;
	std::vector<int> iconIds;
};

std::string Utf8(const std::wstring& w)
{
	const int n =
		WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
	std::string out(static_cast<size_t>(n), '\0');
	WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &out[0], n, nullptr, nullptr);
	return out;
}

// A text of the ANSI code page, in UTF-8.
std::string Utf8(const std::string& s)
{
	const int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
	std::wstring w(static_cast<size_t>(n), L'\0');
	MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
	return Utf8(w);
}

std::string EscapeUtf8(const std::string& utf8)
{
	std::string out;
	for (unsigned char c : utf8) {
		if (c == '\n')
			out += "\\n";
		else if (c == '\r')
			out += "\\r";
		else if (c == '\t')
			out += "\\t";
		else if (c == '\\')
			out += "\\\\";
		else if (c < 0x20 || c > 0x7E) {
			char buf[8];
			std::snprintf(buf, sizeof buf, "\\x%02X", c);
			out += buf;
		} else
			out += static_cast<char>(c);
	}
	return out;
}

// An ANSI text, in UTF-8 and escaped.
std::string Escape(const std::string& ansi) { return EscapeUtf8(Utf8(ansi)); }

// Test texts are passed on the command line; \n, \t and \\ in them stand for the control characters.
std::string Unescape(const char* s)
{
	std::string out;
	for (; *s; ++s) {
		if (*s == '\\' && s[1]) {
			++s;
			if (*s == 'n')
				out += '\n';
			else if (*s == 'r')
				out += '\r';
			else if (*s == 't')
				out += '\t';
			else
				out += *s;
		} else
			out += *s;
	}
	return out;
}

void Fact(const char* key, const std::string& value) { std::printf("%s=%s\n", key, Escape(value).c_str()); }

void FactWide(const char* key, const std::wstring& value)
{
	std::printf("%s=%s\n", key, EscapeUtf8(Utf8(value)).c_str());
}

// Handles print as 0x and at least eight hex digits, in either flavour.
void FactHex(const char* key, UINT_PTR value) { std::printf("%s=0x%08" PRIXPTR "\n", key, value); }

void FactInt(const char* key, long value) { std::printf("%s=%ld\n", key, value); }

void FactRect(const char* key, const RECT& r)
{
	std::printf("%s=%ld,%ld,%ld,%ld\n", key, r.left, r.top, r.right, r.bottom);
}

std::string WindowText(HWND hwnd)
{
	char buf[4096] = {};
	GetWindowTextA(hwnd, buf, sizeof buf);
	return buf;
}

std::string ClassName(HWND hwnd)
{
	char buf[256] = {};
	GetClassNameA(hwnd, buf, sizeof buf);
	return buf;
}

std::string ExeOfPid(DWORD pid)
{
	std::string exe;
	HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
	if (snap == INVALID_HANDLE_VALUE)
		return exe;
	PROCESSENTRY32 pe = {};
	pe.dwSize = sizeof pe;
	for (BOOL ok = Process32First(snap, &pe); ok; ok = Process32Next(snap, &pe)) {
		if (pe.th32ProcessID == pid) {
			exe = pe.szExeFile;
			break;
		}
	}
	CloseHandle(snap);
	return exe;
}

struct Search {
	const Selector* sel;
	std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM lp)
{
	auto* search = reinterpret_cast<Search*>(lp);
	const Selector& sel = *search->sel;
	if (!IsWindowVisible(hwnd))
		return TRUE;
	if (sel.hasTitle && WindowText(hwnd) != sel.title)
		return TRUE;
	if (!sel.cls.empty() && ClassName(hwnd) != sel.cls)
		return TRUE;
	DWORD pid = 0;
	GetWindowThreadProcessId(hwnd, &pid);
	if (sel.pid && pid != sel.pid)
		return TRUE;
	if (!sel.exe.empty() && lstrcmpiA(ExeOfPid(pid).c_str(), sel.exe.c_str()) != 0)
		return TRUE;
	search->found.push_back(hwnd);
	return TRUE;
}

// Polls every 50 ms until a window matches or the selector's timeout has passed.
std::vector<HWND> WaitForWindows(const Selector& sel)
{
	const DWORD start = GetTickCount();
	for (;;) {
		Search search{&sel, {}};
		EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
		if (!search.found.empty() || GetTickCount() - start >= sel.timeoutMs)
			return search.found;
		Sleep(50);
	}
}

LRESULT SendWithTimeout(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
	DWORD_PTR result = 0;
	if (!SendMessageTimeoutA(hwnd, msg, wp, lp, SMTO_ABORTIFHUNG, 2000, &result))
		return 0;
	return static_cast<LRESULT>(result);
}

struct Candidate {
	std::string name;
	HICON icon;
};

// Reads a w x h area of the screen (or of a bitmap drawn by `draw`) as 32-bit top-down pixels.
std::vector<unsigned char> Pixels(HDC screen, int w, int h, int sx, int sy, HICON draw, COLORREF background)
{
	std::vector<unsigned char> out(static_cast<size_t>(w) * h * 4);
	HDC mem = CreateCompatibleDC(screen);
	HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
	HGDIOBJ old = SelectObject(mem, bmp);
	if (draw) {
		RECT r = {0, 0, w, h};
		HBRUSH brush = CreateSolidBrush(background);
		FillRect(mem, &r, brush);
		DeleteObject(brush);
		DrawIconEx(mem, 0, 0, draw, w, h, 0, nullptr, DI_NORMAL);
	} else
		BitBlt(mem, 0, 0, w, h, screen, sx, sy, SRCCOPY);
	SelectObject(mem, old);
	BITMAPINFO bi = {};
	bi.bmiHeader.biSize = sizeof bi.bmiHeader;
	bi.bmiHeader.biWidth = w;
	bi.bmiHeader.biHeight = -h;
	bi.bmiHeader.biPlanes = 1;
	bi.bmiHeader.biBitCount = 32;
	bi.bmiHeader.biCompression = BI_RGB;
	GetDIBits(mem, bmp, 0, h, out.data(), &bi, DIB_RGB_COLORS);
	DeleteObject(bmp);
	DeleteDC(mem);
	return out;
}

// Icon handles belong to one process under Wine, so the icon a static control in another process shows cannot
// be compared by handle. Instead its pixels on the screen are compared with each candidate icon drawn at the
// control's size over the control's own background colour (its top-left pixel); the closest candidate is
// named, with its mean difference per channel. The control must be visible and uncovered.
void PrintIconMatch(const std::string& prefix, HWND control, const std::vector<Candidate>& candidates)
{
	RECT r = {};
	GetWindowRect(control, &r);
	const int w = r.right - r.left, h = r.bottom - r.top;
	if (w <= 0 || h <= 0)
		return;
	HDC screen = GetDC(nullptr);
	const std::vector<unsigned char> shown = Pixels(screen, w, h, r.left, r.top, nullptr, 0);
	const COLORREF background = RGB(shown[2], shown[1], shown[0]);
	std::string best;
	double bestScore = 1e9;
	for (const Candidate& c : candidates) {
		if (!c.icon)
			continue;
		const std::vector<unsigned char> drawn = Pixels(screen, w, h, 0, 0, c.icon, background);
		double sum = 0;
		for (size_t i = 0; i < shown.size(); i += 4)
			sum += std::abs(shown[i] - drawn[i]) + std::abs(shown[i + 1] - drawn[i + 1]) +
				   std::abs(shown[i + 2] - drawn[i + 2]);
		const double score = sum / (static_cast<double>(w) * h * 3);
		if (score < bestScore) {
			bestScore = score;
			best = c.name;
		}
	}
	ReleaseDC(nullptr, screen);
	Fact((prefix + "icon_match").c_str(), best);
	std::printf("%sicon_match_score=%.3f\n", prefix.c_str(), bestScore);
}

struct ChildList {
	HWND parent;
	std::vector<HWND> children;
};

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM lp)
{
	auto* list = reinterpret_cast<ChildList*>(lp);
	if (GetParent(hwnd) == list->parent)
		list->children.push_back(hwnd);
	return TRUE;
}

std::string ImagePathOfPid(DWORD pid)
{
	std::string path;
	HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
	if (!process)
		return path;
	char buf[MAX_PATH * 2] = {};
	DWORD size = sizeof buf;
	if (QueryFullProcessImageNameA(process, 0, buf, &size))
		path = buf;
	CloseHandle(process);
	return path;
}

// The system icons a message box can show, and the icon groups asked for with --icon-id from the window's own
// executable (named exe:ID).
std::vector<Candidate> IconCandidates(DWORD pid, const std::vector<int>& iconIds)
{
	std::vector<Candidate> list = {
		{"exclamation", LoadIconA(nullptr, IDI_EXCLAMATION)},
		{"hand", LoadIconA(nullptr, IDI_HAND)},
		{"question", LoadIconA(nullptr, IDI_QUESTION)},
		{"asterisk", LoadIconA(nullptr, IDI_ASTERISK)},
		{"application", LoadIconA(nullptr, IDI_APPLICATION)},
		{"winlogo", LoadIconA(nullptr, IDI_WINLOGO)},
	};
	if (iconIds.empty())
		return list;
	const std::string image = ImagePathOfPid(pid);
	HMODULE module =
		image.empty() ? nullptr : LoadLibraryExA(image.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
	for (int id : iconIds) {
		HICON icon = module ? LoadIconA(module, MAKEINTRESOURCEA(id)) : nullptr;
		list.push_back({"exe:" + std::to_string(id), icon});
	}
	return list;
}

void PrintWindowFacts(HWND hwnd, size_t matches, const Selector& sel)
{
	FactHex("hwnd", reinterpret_cast<UINT_PTR>(hwnd));
	FactInt("matches", static_cast<long>(matches));
	Fact("title", WindowText(hwnd));
	Fact("class", ClassName(hwnd));
	DWORD pid = 0;
	GetWindowThreadProcessId(hwnd, &pid);
	FactInt("pid", static_cast<long>(pid));
	Fact("exe", ExeOfPid(pid));
	const DWORD style = static_cast<DWORD>(GetWindowLongA(hwnd, GWL_STYLE));
	const DWORD exstyle = static_cast<DWORD>(GetWindowLongA(hwnd, GWL_EXSTYLE));
	FactHex("style", style);
	FactHex("exstyle", exstyle);
	RECT r = {};
	GetWindowRect(hwnd, &r);
	FactRect("rect", r);
	GetClientRect(hwnd, &r);
	FactRect("client", r);
	POINT origin = {0, 0};
	ClientToScreen(hwnd, &origin);
	std::printf("client_origin=%ld,%ld\n", origin.x, origin.y);
	FactInt("visible", IsWindowVisible(hwnd) ? 1 : 0);
	FactInt("enabled", IsWindowEnabled(hwnd) ? 1 : 0);
	FactInt("zoomed", IsZoomed(hwnd) ? 1 : 0);
	FactInt("iconic", IsIconic(hwnd) ? 1 : 0);
	FactInt("topmost", (exstyle & WS_EX_TOPMOST) ? 1 : 0);
	FactInt("foreground", GetForegroundWindow() == hwnd ? 1 : 0);
	HWND owner = GetWindow(hwnd, GW_OWNER);
	FactHex("owner", reinterpret_cast<UINT_PTR>(owner));
	Fact("owner_class", owner ? ClassName(owner) : std::string());
	Fact("owner_title", owner ? WindowText(owner) : std::string());
	FactHex("icon_big", static_cast<UINT_PTR>(SendWithTimeout(hwnd, WM_GETICON, ICON_BIG, 0)));
	FactHex("icon_small", static_cast<UINT_PTR>(SendWithTimeout(hwnd, WM_GETICON, ICON_SMALL, 0)));

	ChildList list{hwnd, {}};
	EnumChildWindows(hwnd, CollectChild, reinterpret_cast<LPARAM>(&list));
	FactInt("children", static_cast<long>(list.children.size()));
	const std::vector<Candidate> candidates = IconCandidates(pid, sel.iconIds);
	for (size_t i = 0; i < list.children.size(); ++i) {
		HWND child = list.children[i];
		const std::string prefix = "child" + std::to_string(i) + ".";
		auto key = [&](const char* name) { return prefix + name; };
		const std::string cls = ClassName(child);
		const DWORD cstyle = static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE));
		Fact(key("class").c_str(), cls);
		FactInt(key("id").c_str(), GetDlgCtrlID(child));
		FactHex(key("style").c_str(), cstyle);
		FactHex(key("exstyle").c_str(), static_cast<DWORD>(GetWindowLongA(child, GWL_EXSTYLE)));
		Fact(key("text").c_str(), WindowText(child));
		RECT cr = {};
		GetWindowRect(child, &cr);
		MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&cr), 2);
		FactRect(key("rect").c_str(), cr);
		FactInt(key("visible").c_str(), IsWindowVisible(child) ? 1 : 0);
		if (lstrcmpiA(cls.c_str(), "Static") == 0 && (cstyle & SS_TYPEMASK) == SS_ICON) {
			HICON icon = reinterpret_cast<HICON>(SendWithTimeout(child, STM_GETICON, 0, 0));
			FactHex(key("icon").c_str(), reinterpret_cast<UINT_PTR>(icon));
			if (icon)
				PrintIconMatch(prefix, child, candidates);
		}
	}
}

BOOL CALLBACK ListOne(HWND hwnd, LPARAM)
{
	DWORD pid = 0;
	GetWindowThreadProcessId(hwnd, &pid);
	RECT r = {};
	GetWindowRect(hwnd, &r);
	std::printf("hwnd=0x%08" PRIXPTR " visible=%d class=%s exe=%s rect=%ld,%ld,%ld,%ld title=%s\n",
		reinterpret_cast<UINT_PTR>(hwnd), IsWindowVisible(hwnd) ? 1 : 0, Escape(ClassName(hwnd)).c_str(),
		Escape(ExeOfPid(pid)).c_str(), r.left, r.top, r.right, r.bottom, Escape(WindowText(hwnd)).c_str());
	return TRUE;
}

bool ParseNumber(const char* s, long long& out)
{
	char* end = nullptr;
	out = std::strtoll(s, &end, 0);
	return end && end != s && *end == '\0';
}

const char kUsage[] =
	"usage: winprobe [--unaware] COMMAND ...\n"
	"  find  [select] [CAPTION]               wait for a top-level window, print its facts\n"
	"  post  [select] [CAPTION] MSG WPARAM LPARAM   PostMessageA to that window\n"
	"  close [select] [CAPTION]               PostMessageA(WM_CLOSE) to that window\n"
	"  list                                   one line per top-level window\n"
	"  screen                                 what the display device context reports\n"
	"  temp                                   GetTempPathA and GetTempPathW, the latter's short path, the "
	"ANSI\n"
	"                                         code page\n"
	"  monitors                               each monitor as EnumDisplayMonitors gives it, the virtual "
	"screen\n"
	"  pixel [--dc create] X Y [X Y ...]      the screen's colour at each point (GetPixel through "
	"GetDC(NULL),\n"
	"                                         or CreateDCA(\"DISPLAY\") when asked)\n"
	"  keystate VK [VK ...]                   whether each virtual key is down as Wine last read the "
	"keyboard\n"
	"  msgbox TEXT CAPTION [TYPE]             MessageBoxA(NULL, ...); prints result=N when closed\n"
	"  window TITLE X Y W H [--popup] [--color 0xRRGGBB] [--timer 0xRRGGBB]\n"
	"                                         a plain window in one colour until closed; with --timer it\n"
	"                                         repaints in the second colour on the first tick of a 100 ms\n"
	"                                         SetTimer, and a key press ends it\n"
	"  shortcut PATH                          a shell link as the shell reads it (IShellLinkW); where it\n"
	"                                         cannot, the step that failed and its HRESULT\n"
	"  installed UPGRADE_CODE                 each installed product of that upgrade code, as Windows\n"
	"                                         Installer reports it to Programs and Features\n"
	"  folders                                the user's and every user's folders an installer uses\n"
	"select: --class NAME   exact window class (\"#32770\" for dialogs and message boxes)\n"
	"        --exe NAME     the window's process image (case-insensitive), e.g. Frostpane.exe\n"
	"        --pid N        the window's (Windows) process id\n"
	"        --timeout MS   how long find, post and close wait for a visible match (default 10000; 0 looks "
	"once)\n"
	"        --icon-id N    find: also try icon group N of the window's executable when naming a static "
	"icon\n"
	"--unaware leaves the DPI awareness undeclared, so a scaling platform shows the scaled screen.\n";

int Usage()
{
	std::fputs(kUsage, stderr);
	return 2;
}

// Splits the selector options from the positional arguments; false on a malformed option.
bool ParseSelector(int argc, char** argv, Selector& sel, std::vector<const char*>& positional)
{
	for (int i = 0; i < argc; ++i) {
		const std::string a = argv[i];
		long long n = 0;
		if (a == "--class" && i + 1 < argc)
			sel.cls = argv[++i];
		else if (a == "--exe" && i + 1 < argc)
			sel.exe = argv[++i];
		else if (a == "--pid" && i + 1 < argc && ParseNumber(argv[i + 1], n))
			sel.pid = static_cast<DWORD>(n), ++i;
		else if (a == "--timeout" && i + 1 < argc && ParseNumber(argv[i + 1], n))
			sel.timeoutMs = static_cast<DWORD>(n), ++i;
		else if (a == "--icon-id" && i + 1 < argc && ParseNumber(argv[i + 1], n))
			sel.iconIds.push_back(static_cast<int>(n)), ++i;
		else if (a.size() > 2 && a.compare(0, 2, "--") == 0)
			return false;
		else
			positional.push_back(argv[i]);
	}
	return true;
}

int CmdFindPostClose(const std::string& cmd, int argc, char** argv)
{
	Selector sel;
	std::vector<const char*> pos;
	if (!ParseSelector(argc, argv, sel, pos))
		return Usage();
	long long msg = 0, wp = 0, lp = 0;
	if (cmd == "post") {
		if (pos.size() != 3 && pos.size() != 4)
			return Usage();
		const size_t n = pos.size();
		if (!ParseNumber(pos[n - 3], msg) || !ParseNumber(pos[n - 2], wp) || !ParseNumber(pos[n - 1], lp))
			return Usage();
		pos.resize(n - 3);
	} else if (pos.size() > 1)
		return Usage();
	if (!pos.empty()) {
		sel.hasTitle = true;
		sel.title = Unescape(pos[0]);
	}
	const std::vector<HWND> found = WaitForWindows(sel);
	if (found.empty()) {
		std::printf("matches=0\n");
		return 1;
	}
	HWND hwnd = found.front();
	if (cmd == "find") {
		PrintWindowFacts(hwnd, found.size(), sel);
		return 0;
	}
	FactHex("hwnd", reinterpret_cast<UINT_PTR>(hwnd));
	FactInt("matches", static_cast<long>(found.size()));
	const UINT message = cmd == "close" ? WM_CLOSE : static_cast<UINT>(msg);
	const BOOL ok = PostMessageA(hwnd, message, static_cast<WPARAM>(wp), static_cast<LPARAM>(lp));
	FactInt("posted", ok ? 1 : 0);
	return ok ? 0 : 1;
}

int CmdScreen()
{
	HDC dc = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
	FactInt("bitspixel", GetDeviceCaps(dc, BITSPIXEL));
	FactInt("planes", GetDeviceCaps(dc, PLANES));
	FactInt("horzres", GetDeviceCaps(dc, HORZRES));
	FactInt("vertres", GetDeviceCaps(dc, VERTRES));
	FactInt("numcolors", GetDeviceCaps(dc, NUMCOLORS));
	FactInt("sizepalette", GetDeviceCaps(dc, SIZEPALETTE));
	FactInt("palette", (GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE) ? 1 : 0);
	FactInt("cxscreen", GetSystemMetrics(SM_CXSCREEN));
	FactInt("cyscreen", GetSystemMetrics(SM_CYSCREEN));
	FactInt("cmonitors", GetSystemMetrics(SM_CMONITORS));
	// What the program's capture sees: a bitmap compatible with the display context.
	HBITMAP bmp = CreateCompatibleBitmap(dc, 8, 8);
	BITMAP bm = {};
	if (bmp && GetObjectA(bmp, sizeof bm, &bm)) {
		FactInt("compatible_bitspixel", bm.bmBitsPixel);
		FactInt("compatible_planes", bm.bmPlanes);
	}
	if (bmp)
		DeleteObject(bmp);
	DeleteDC(dc);
	return 0;
}

BOOL CALLBACK PrintMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM counter)
{
	int& n = *reinterpret_cast<int*>(counter);
	MONITORINFO info = {};
	info.cbSize = sizeof info;
	GetMonitorInfoA(monitor, &info);
	char key[32];
	std::snprintf(key, sizeof key, "monitor%d.rect", n);
	FactRect(key, info.rcMonitor);
	std::snprintf(key, sizeof key, "monitor%d.primary", n);
	FactInt(key, (info.dwFlags & MONITORINFOF_PRIMARY) ? 1 : 0);
	++n;
	return TRUE;
}

// The monitors as a program sees them: each one's rectangle in virtual-screen coordinates, which is primary,
// and the virtual screen's own rectangle.
int CmdMonitors()
{
	int n = 0;
	EnumDisplayMonitors(nullptr, nullptr, PrintMonitor, reinterpret_cast<LPARAM>(&n));
	FactInt("monitors", n);
	const int x = GetSystemMetrics(SM_XVIRTUALSCREEN), y = GetSystemMetrics(SM_YVIRTUALSCREEN);
	const RECT virt = {
		x, y, x + GetSystemMetrics(SM_CXVIRTUALSCREEN), y + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
	FactRect("virtual", virt);
	return 0;
}

// The colour GetPixel reads from the screen at each given point, through the context a screen read gets: the
// screen's (GetDC(NULL)) or, with --dc create, the display device's (CreateDCA("DISPLAY")).
int CmdPixel(int argc, char** argv)
{
	bool created = false;
	if (argc >= 2 && std::strcmp(argv[0], "--dc") == 0) {
		if (std::strcmp(argv[1], "create") != 0)
			return Usage();
		created = true;
		argc -= 2;
		argv += 2;
	}
	if (argc < 2 || argc % 2)
		return Usage();
	HDC dc = created ? CreateDCA("DISPLAY", nullptr, nullptr, nullptr) : GetDC(nullptr);
	auto release = [&] { created ? DeleteDC(dc) : ReleaseDC(nullptr, dc); };
	for (int i = 0; i + 1 < argc; i += 2) {
		long long x = 0, y = 0;
		if (!ParseNumber(argv[i], x) || !ParseNumber(argv[i + 1], y)) {
			release();
			return Usage();
		}
		const COLORREF c = GetPixel(dc, static_cast<int>(x), static_cast<int>(y));
		std::printf("pixel.%lld.%lld=0x%02X%02X%02X\n", x, y, GetRValue(c), GetGValue(c), GetBValue(c));
	}
	release();
	return 0;
}

// Whether each given virtual key is down as Wine last read the keyboard: a key pressed on a window shows
// once the window's program has read it, and so has every input sent to that program before it.
int CmdKeyState(int argc, char** argv)
{
	if (argc < 1)
		return Usage();
	for (int i = 0; i < argc; ++i) {
		long long vk = 0;
		if (!ParseNumber(argv[i], vk))
			return Usage();
		std::printf("key.%lld=%d\n", vk, (GetAsyncKeyState(static_cast<int>(vk)) & 0x8000) ? 1 : 0);
	}
	return 0;
}

int CmdTemp()
{
	char buf[MAX_PATH + 1] = {};
	const DWORD n = GetTempPathA(MAX_PATH, buf);
	FactInt("length", static_cast<long>(n));
	Fact("temp", n && n <= MAX_PATH ? std::string(buf) : std::string());
	WCHAR wide[MAX_PATH + 1] = {};
	const DWORD nWide = GetTempPathW(MAX_PATH + 1, wide);
	FactWide("temp_wide", nWide && nWide <= MAX_PATH ? std::wstring(wide) : std::wstring());
	WCHAR shortPath[MAX_PATH + 1] = {};
	const DWORD nShort = nWide && nWide <= MAX_PATH ? GetShortPathNameW(wide, shortPath, MAX_PATH + 1) : 0;
	FactWide("temp_short", nShort && nShort <= MAX_PATH ? std::wstring(shortPath) : std::wstring());
	FactInt("acp", static_cast<long>(GetACP()));
	return 0;
}

int CmdMsgBox(int argc, char** argv)
{
	if (argc < 2 || argc > 3)
		return Usage();
	long long type = MB_OK;
	if (argc == 3 && !ParseNumber(argv[2], type))
		return Usage();
	const std::string text = Unescape(argv[0]);
	const std::string caption = Unescape(argv[1]);
	const int result = MessageBoxA(nullptr, text.c_str(), caption.c_str(), static_cast<UINT>(type));
	FactInt("result", result);
	return 0;
}

// The shell link at PATH as Explorer reads it. The key is the link's hot key: the virtual key in the low
// byte, HOTKEYF_* modifiers in the high byte. Where the shell cannot read it, the step that failed
// (failed=) and its HRESULT (hresult=), and exit status 1.
int CmdShortcut(int argc, char** argv)
{
	if (argc != 1)
		return Usage();
	const int n = MultiByteToWideChar(CP_UTF8, 0, argv[0], -1, nullptr, 0);
	std::wstring path(static_cast<size_t>(n), L'\0');
	MultiByteToWideChar(CP_UTF8, 0, argv[0], -1, &path[0], n);
	CoInitialize(nullptr);
	IShellLinkW* link = nullptr;
	IPersistFile* file = nullptr;
	int rc = 1;
	HRESULT hr = CoCreateInstance(
		CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, reinterpret_cast<void**>(&link));
	const char* step = "CoCreateInstance";
	if (SUCCEEDED(hr)) {
		hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
		step = "QueryInterface";
	}
	if (SUCCEEDED(hr)) {
		hr = file->Load(path.c_str(), STGM_READ);
		step = "Load";
	}
	if (FAILED(hr)) {
		Fact("failed", step);
		FactHex("hresult", static_cast<DWORD>(hr));
	} else {
		WCHAR text[INFOTIPSIZE] = {};
		int icon = 0, show = 0;
		WORD key = 0;
		link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
		FactWide("target", text);
		text[0] = 0;
		link->GetArguments(text, INFOTIPSIZE);
		FactWide("arguments", text);
		text[0] = 0;
		link->GetWorkingDirectory(text, MAX_PATH);
		FactWide("working_dir", text);
		text[0] = 0;
		link->GetDescription(text, INFOTIPSIZE);
		FactWide("description", text);
		text[0] = 0;
		link->GetIconLocation(text, MAX_PATH, &icon);
		FactWide("icon", text);
		FactInt("icon_index", icon);
		link->GetHotkey(&key);
		FactHex("hotkey", key);
		link->GetShowCmd(&show);
		FactInt("show", show);
		rc = 0;
	}
	if (file)
		file->Release();
	if (link)
		link->Release();
	CoUninitialize();
	return rc;
}

// Every installed product of the upgrade code, with what Programs and Features shows of it, and whether it is
// installed for every user (context=machine) or for this user alone (context=user).
int CmdInstalled(int argc, char** argv)
{
	if (argc != 1)
		return Usage();
	static const char* const properties[][2] = {{"name", INSTALLPROPERTY_INSTALLEDPRODUCTNAME},
		{"publisher", INSTALLPROPERTY_PUBLISHER}, {"version", INSTALLPROPERTY_VERSIONSTRING},
		{"icon", INSTALLPROPERTY_PRODUCTICON}, {"location", INSTALLPROPERTY_INSTALLLOCATION}};
	char code[39] = {};
	DWORD i = 0;
	for (; MsiEnumRelatedProductsA(argv[0], 0, i, code) == ERROR_SUCCESS; ++i) {
		const std::string prefix = "product" + std::to_string(i) + ".";
		Fact((prefix + "code").c_str(), code);
		for (const auto& p : properties) {
			char value[MAX_PATH * 2] = {};
			DWORD size = sizeof value;
			if (MsiGetProductInfoA(code, p[1], value, &size) != ERROR_SUCCESS)
				value[0] = 0;
			Fact((prefix + p[0]).c_str(), value);
		}
		// The context Windows Installer holds the product's state in.
		std::string scope = "none";
		for (const auto& c : {std::make_pair(MSIINSTALLCONTEXT_MACHINE, "machine"),
				 std::make_pair(MSIINSTALLCONTEXT_USERUNMANAGED, "user"),
				 std::make_pair(MSIINSTALLCONTEXT_USERMANAGED, "managed")}) {
			char state[16] = {};
			DWORD size = sizeof state;
			if (MsiGetProductInfoExA(code, nullptr, c.first, INSTALLPROPERTY_PRODUCTSTATE, state, &size) ==
				ERROR_SUCCESS) {
				scope = c.second;
				break;
			}
		}
		Fact((prefix + "context").c_str(), scope);
	}
	FactInt("products", static_cast<long>(i));
	return 0;
}

// Where Windows keeps the folders an installer resolves, as SHGetFolderPath names them; empty where this
// Windows has no such folder (Program Files (x86) on 32-bit Windows).
int CmdFolders()
{
	static const struct {
		const char* key;
		int csidl;
	} folders[] = {{"local_appdata", CSIDL_LOCAL_APPDATA}, {"programs", CSIDL_PROGRAMS},
		{"common_programs", CSIDL_COMMON_PROGRAMS}, {"program_files", CSIDL_PROGRAM_FILES},
		{"program_files_x86", CSIDL_PROGRAM_FILESX86}};
	for (const auto& f : folders) {
		WCHAR path[MAX_PATH] = {};
		if (FAILED(SHGetFolderPathW(nullptr, f.csidl, nullptr, SHGFP_TYPE_CURRENT, path)))
			path[0] = 0;
		FactWide(f.key, path);
	}
	return 0;
}

COLORREF g_fill = RGB(255, 0, 255);
COLORREF g_tickFill = 0;
bool g_timer = false;

LRESULT CALLBACK PlainWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
	switch (msg) {
	case WM_PAINT: {
		PAINTSTRUCT ps;
		HDC dc = BeginPaint(hwnd, &ps);
		HBRUSH brush = CreateSolidBrush(g_fill);
		FillRect(dc, &ps.rcPaint, brush);
		DeleteObject(brush);
		EndPaint(hwnd, &ps);
		return 0;
	}
	case WM_ERASEBKGND:
		return 1;
	case WM_TIMER:
		KillTimer(hwnd, wp);
		g_fill = g_tickFill;
		InvalidateRect(hwnd, nullptr, FALSE);
		return 0;
	case WM_KEYDOWN:
		if (g_timer)
			DestroyWindow(hwnd);
		return 0;
	case WM_DESTROY:
		PostQuitMessage(0);
		return 0;
	default:
		return DefWindowProcA(hwnd, msg, wp, lp);
	}
}

int CmdWindow(int argc, char** argv)
{
	std::vector<const char*> pos;
	bool popup = false;
	for (int i = 0; i < argc; ++i) {
		const std::string a = argv[i];
		long long n = 0;
		if (a == "--popup")
			popup = true;
		else if (a == "--color" && i + 1 < argc && ParseNumber(argv[i + 1], n)) {
			g_fill = RGB((n >> 16) & 0xFF, (n >> 8) & 0xFF, n & 0xFF);
			++i;
		} else if (a == "--timer" && i + 1 < argc && ParseNumber(argv[i + 1], n)) {
			g_tickFill = RGB((n >> 16) & 0xFF, (n >> 8) & 0xFF, n & 0xFF);
			g_timer = true;
			++i;
		} else
			pos.push_back(argv[i]);
	}
	long long x = 0, y = 0, w = 0, h = 0;
	if (pos.size() != 5 || !ParseNumber(pos[1], x) || !ParseNumber(pos[2], y) || !ParseNumber(pos[3], w) ||
		!ParseNumber(pos[4], h))
		return Usage();
	WNDCLASSA wc = {};
	wc.lpfnWndProc = PlainWndProc;
	wc.hInstance = GetModuleHandleA(nullptr);
	wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
	wc.lpszClassName = "WinprobePlain";
	RegisterClassA(&wc);
	const std::string title = Unescape(pos[0]);
	HWND hwnd = CreateWindowExA(0, wc.lpszClassName, title.c_str(), popup ? WS_POPUP : WS_OVERLAPPEDWINDOW,
		static_cast<int>(x), static_cast<int>(y), static_cast<int>(w), static_cast<int>(h), nullptr, nullptr,
		wc.hInstance, nullptr);
	if (!hwnd)
		return 1;
	ShowWindow(hwnd, SW_SHOWNORMAL);
	UpdateWindow(hwnd);
	if (g_timer)
		SetTimer(hwnd, 1, 100, nullptr);
	FactHex("hwnd", reinterpret_cast<UINT_PTR>(hwnd));
	std::fflush(stdout);
	MSG m;
	while (GetMessageA(&m, nullptr, 0, 0) > 0) {
		TranslateMessage(&m);
		DispatchMessageA(&m);
	}
	return 0;
}

} // namespace

// Per-monitor awareness (Windows 10 1703 and later), else the system-wide kind (Vista and later).
void DeclareDpiAware()
{
	using ContextFn = BOOL(WINAPI*)(HANDLE);
	using AwareFn = BOOL(WINAPI*)();
	HMODULE user32 = GetModuleHandleA("user32.dll");
	auto context = reinterpret_cast<ContextFn>(
		reinterpret_cast<void (*)()>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
	if (context && context(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4))))
		return;
	auto aware =
		reinterpret_cast<AwareFn>(reinterpret_cast<void (*)()>(GetProcAddress(user32, "SetProcessDPIAware")));
	if (aware)
		aware();
}

int main(int argc, char** argv)
{
	if (argc >= 2 && std::strcmp(argv[1], "--unaware") == 0) {
		--argc;
		++argv;
	} else
		DeclareDpiAware();
	if (argc < 2)
		return Usage();
	const std::string cmd = argv[1];
	int rc;
	if (cmd == "find" || cmd == "post" || cmd == "close")
		rc = CmdFindPostClose(cmd, argc - 2, argv + 2);
	else if (cmd == "list" && argc == 2)
		rc = EnumWindows(ListOne, 0) ? 0 : 1;
	else if (cmd == "screen" && argc == 2)
		rc = CmdScreen();
	else if (cmd == "monitors" && argc == 2)
		rc = CmdMonitors();
	else if (cmd == "pixel")
		rc = CmdPixel(argc - 2, argv + 2);
	else if (cmd == "temp" && argc == 2)
		rc = CmdTemp();
	else if (cmd == "keystate")
		rc = CmdKeyState(argc - 2, argv + 2);
	else if (cmd == "msgbox")
		rc = CmdMsgBox(argc - 2, argv + 2);
	else if (cmd == "window")
		rc = CmdWindow(argc - 2, argv + 2);
	else if (cmd == "shortcut")
		rc = CmdShortcut(argc - 2, argv + 2);
	else if (cmd == "installed")
		rc = CmdInstalled(argc - 2, argv + 2);
	else if (cmd == "folders" && argc == 2)
		rc = CmdFolders();
	else
		rc = Usage();
	std::fflush(stdout);
	return rc;
}
