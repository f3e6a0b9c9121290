// A GUI program that does nothing: the time and memory Wine takes to start and end any program,
// measured beside Frostpane's own whole-process figures. Built twice: EmptyGui imports nothing but
// the C runtime and kernel32; EmptyGuiLinked also imports the system libraries Frostpane.exe
// imports, so the two together show what loading those costs before the program's own code runs.
#include <windows.h>

#ifdef EMPTY_GUI_LINKED
#include <oleauto.h>
#endif

int WINAPI WinMain(HINSTANCE /*hInstance*/, HINSTANCE /*hPrevInstance*/, LPSTR lpCmdLine, int /*nCmdShow*/)
{
#ifdef EMPTY_GUI_LINKED
	// Never true: the calls are there only so the loader maps and starts their libraries.
	if (lpCmdLine == reinterpret_cast<LPSTR>(1)) {
		::RegCloseKey(HKEY_CURRENT_USER);
		::DeleteDC(nullptr);
		::SysFreeString(nullptr);
		::DestroyWindow(nullptr);
	}
#else
	(void)lpCmdLine;
#endif
	return 0;
}
