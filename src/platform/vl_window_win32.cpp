// The native window on Win32: one window class serves every window, and a
// message loop runs until the window is destroyed.
#include "vl_platform_window.h"

#include <windows.h>

namespace {

constexpr WCHAR GUI_CLASS_NAME[] = L"VELMORINE_GUI_CLASS";
constexpr int TITLE_UNITS = 256;

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int32_t vl_platform_window_run(const char* title, int32_t width, int32_t height) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = WndProc;
    window_class.hInstance = instance;
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<intptr_t>(COLOR_WINDOW + 1));
    window_class.lpszClassName = GUI_CLASS_NAME;
    RegisterClassW(&window_class);  // fails once the class exists, which then serves again

    // The title arrives well-formed and short enough for the buffer.
    WCHAR wide_title[TITLE_UNITS] = {};
    MultiByteToWideChar(CP_UTF8, 0, title, -1, wide_title, TITLE_UNITS);
    HWND window = CreateWindowExW(0, GUI_CLASS_NAME, wide_title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT,
                                  CW_USEDEFAULT, width, height, nullptr, nullptr, instance, nullptr);
    if (!window) return 0;

    MSG message;
    for (;;) {
        BOOL status = GetMessageA(&message, nullptr, 0, 0);
        if (status == 0) return 1;  // the quit message: the window was destroyed
        if (status == -1) {
            // Without a working queue the window could never be closed: close
            // it now and take back the quit message its destruction posts.
            DestroyWindow(window);
            PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
            return 0;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}
