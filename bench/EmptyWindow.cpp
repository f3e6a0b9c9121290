// A program that shows one small window and ends once it has been painted: what any program that
// shows a window pays under Wine (its libraries, the display connection, the window) before it does
// anything of its own. Set beside Frostpane's figures to tell Wine's share from the program's.
#include <windows.h>

namespace {

LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
	if (uMsg == WM_PAINT) {
		PAINTSTRUCT ps;
		::BeginPaint(hWnd, &ps);
		::EndPaint(hWnd, &ps);
		::PostQuitMessage(0);
		return 0;
	}
	return ::DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

int ShowOneWindow(HINSTANCE hInstance)
{
	WNDCLASSA wc = {};
	wc.lpfnWndProc = WindowProc;
	wc.hInstance = hInstance;
	wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_3DFACE + 1);
	wc.lpszClassName = "EmptyGuiWindow";
	if (!::RegisterClassA(&wc))
		return 1;
	HWND hWnd = ::CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP | WS_VISIBLE, 0, 0, 64, 64, nullptr,
	                              nullptr, hInstance, nullptr);
	if (!hWnd)
		return 1;
	MSG msg;
	while (::GetMessageA(&msg, nullptr, 0, 0) > 0)
		::DispatchMessageA(&msg);
	::DestroyWindow(hWnd);
	return 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPSTR /*lpCmdLine*/, int /*nCmdShow*/)
{
	return ShowOneWindow(hInstance);
}
