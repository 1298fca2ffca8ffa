// The Win32 windowing calls the runtime library relies on.  Natively these
// test the headless implementation; the Windows build runs the same checks
// against the real system, which keeps the two in step.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "vl_platform_window.h"

namespace {

using WideString = std::basic_string<WCHAR>;

// Drains what is left in the thread's queue, quit message included.
void drain_queue() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {}
}

TEST(Win32Queue, PostedMessagesComeInOrderAndTheQuitMessageLast) {
    drain_queue();
    ASSERT_TRUE(PostMessageW(nullptr, WM_USER + 1, 10, 20));
    ASSERT_TRUE(PostMessageW(nullptr, WM_USER + 2, 0, 0));
    PostQuitMessage(7);
    ASSERT_TRUE(PostMessageW(nullptr, WM_USER + 3, 0, 0));
    MSG message;
    ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
    EXPECT_EQ(message.message, WM_USER + 1);
    EXPECT_EQ(message.wParam, 10u);
    EXPECT_EQ(message.lParam, 20);
    ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
    EXPECT_EQ(message.message, WM_USER + 2);
    ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
    EXPECT_EQ(message.message, WM_USER + 3);
    ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), FALSE);
    EXPECT_EQ(message.message, WM_QUIT);
    EXPECT_EQ(message.wParam, 7u);
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
}

int ticks = 0;
void CALLBACK count_to_three(HWND, UINT message, UINT_PTR timer, DWORD) {
    EXPECT_EQ(message, WM_TIMER);
    if (++ticks == 3) {
        EXPECT_TRUE(KillTimer(nullptr, timer));
        PostQuitMessage(0);
    }
}

TEST(Win32Queue, ThreadTimersRepeatUntilKilled) {
    drain_queue();
    ticks = 0;
    UINT_PTR first = SetTimer(nullptr, 0, 15, count_to_three);
    UINT_PTR other = SetTimer(nullptr, 0, 100000, count_to_three);
    ASSERT_NE(first, 0u);
    ASSERT_NE(other, 0u);
    EXPECT_NE(first, other);
    auto start = std::chrono::steady_clock::now();
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    EXPECT_EQ(ticks, 3);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    EXPECT_FALSE(KillTimer(nullptr, first));
    EXPECT_TRUE(KillTimer(nullptr, other));
}

TEST(Win32Text, Utf8ConversionCountsAndReplaces) {
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", -1, nullptr, 0), 6);
    WCHAR wide[8] = {};
    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xC3(\xFFz", 4, wide, 8), 4);
    EXPECT_EQ(WideString(wide, 4), WideString(VL_W("\uFFFD(\uFFFDz")));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98", 3, wide, 8), 1);
    EXPECT_EQ(wide[0], 0xFFFD);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcdef", -1, wide, 3), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

// What the test window's procedure received, in order.
std::vector<UINT> received;
LRESULT CALLBACK recording_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_CLOSE || message == WM_DESTROY || message >= WM_USER) received.push_back(message);
    if (message == WM_DESTROY) PostQuitMessage(3);
    return DefWindowProcW(window, message, wparam, lparam);
}

class Win32Window : public ::testing::Test {
protected:
    const WCHAR* class_name = VL_W("VL_Test_Recorder");
    HWND window = nullptr;

    void SetUp() override {
        drain_queue();
        received.clear();
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = recording_procedure;
        window_class.hInstance = GetModuleHandleA(nullptr);
        window_class.lpszClassName = class_name;
        RegisterClassW(&window_class);  // once per process; later calls fail harmlessly
        window = CreateWindowExW(0, class_name, VL_W("recorder \u00E9"), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                 CW_USEDEFAULT, 200, 100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
#if defined(_WIN32)
        if (!window) GTEST_SKIP() << "no window system here";
#endif
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        if (window && IsWindow(window)) DestroyWindow(window);
        drain_queue();
    }
};

TEST_F(Win32Window, ClassesAndTitlesAreFound) {
    EXPECT_EQ(FindWindowW(VL_W("vl_test_RECORDER"), nullptr), window);  // class names ignore case
    EXPECT_EQ(FindWindowW(nullptr, VL_W("recorder \u00E9")), window);
    WCHAR title[16] = {};
    EXPECT_EQ(GetWindowTextW(window, title, 16), 10);
    EXPECT_EQ(WideString(title), WideString(VL_W("recorder \u00E9")));
    EXPECT_EQ(GetWindowTextW(window, title, 4), 3);  // cut to the buffer, still terminated
    EXPECT_EQ(WideString(title), WideString(VL_W("rec")));
    SetLastError(0);
    EXPECT_EQ(CreateWindowExW(0, VL_W("VL_No_Such_Class"), VL_W(""), 0, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                              nullptr),
              nullptr);
    EXPECT_NE(GetLastError(), 0u);  // systems differ in which code they report
}

TEST_F(Win32Window, CloseFromAnotherThreadDestroysThroughDefWindowProc) {
    std::thread closer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_TRUE(PostMessageW(window, WM_USER + 9, 0, 0));
        EXPECT_TRUE(PostMessageW(window, WM_CLOSE, 0, 0));
    });
    MSG message;
    BOOL status;
    while ((status = GetMessageA(&message, nullptr, 0, 0)) > 0) DispatchMessageA(&message);
    closer.join();
    EXPECT_EQ(status, FALSE);
    EXPECT_EQ(message.wParam, 3u);
    EXPECT_EQ(received, (std::vector<UINT>{WM_USER + 9, WM_CLOSE, WM_DESTROY}));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(PostMessageW(window, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(Win32Window, DestroyingDropsTheWindowsPendingMessages) {
    ASSERT_TRUE(PostMessageW(window, WM_USER + 1, 0, 0));
    ASSERT_TRUE(PostMessageW(nullptr, WM_USER + 2, 0, 0));
    ASSERT_TRUE(DestroyWindow(window));
    EXPECT_EQ(received, std::vector<UINT>{WM_DESTROY});
    MSG message;
    ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
    EXPECT_EQ(message.message, WM_USER + 2);  // the thread's own message stays
    EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), FALSE);
    EXPECT_FALSE(DestroyWindow(window));
}

}  // namespace
