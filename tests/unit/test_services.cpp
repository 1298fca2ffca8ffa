// The native window and the assistant sentence of the runtime library.  The
// window tests of the Windows build drive the message loop from a timer, as a
// user closing the window would; the X11 window is tested from outside, by an
// X client (tests/py/test_window_x11.py).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "test_support.h"
#include "vl_arena.h"
#include "vl_stdlib.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

#if defined(_WIN32)
using WideString = std::wstring;

const WCHAR* const gui_class = L"VELMORINE_GUI_CLASS";

// What the timer callback saw of the open window.
struct Seen {
    HWND window = nullptr;
    WideString title;
    int ticks = 0;
};
Seen seen;

WideString title_of(HWND window) {
    WCHAR buffer[512] = {};
    int length = GetWindowTextW(window, buffer, 512);
    return WideString(buffer, static_cast<size_t>(length));
}

// Finds the window by its class, reads its title and asks it to close.
void CALLBACK close_from_timer(HWND, UINT, UINT_PTR timer, DWORD) {
    seen.ticks++;
    KillTimer(nullptr, timer);
    seen.window = FindWindowW(gui_class, nullptr);
    if (!seen.window) return;
    seen.title = title_of(seen.window);
    PostMessageW(seen.window, WM_CLOSE, 0, 0);
}

// Opens a window with `title` and closes it from a timer; the loop's result.
int32_t open_and_close(const char* title) {
    seen = Seen{};
    EXPECT_NE(SetTimer(nullptr, 0, 20, close_from_timer), 0u);
    return vl_gui_create_window(title, 320, 200);
}

// Wine without a display cannot open windows; the X11 test of the Windows
// build runs this program again under a virtual display, where nothing skips.
class Window : public ::testing::Test {
protected:
    void SetUp() override {
        HWND probe = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        if (!probe) GTEST_SKIP() << "no window system here";
        DestroyWindow(probe);
    }
};

TEST_F(Window, ClosingEndsTheLoopWithOne) {
    EXPECT_EQ(open_and_close("plain title"), 1);
    EXPECT_EQ(seen.ticks, 1);
    ASSERT_NE(seen.window, nullptr);
    EXPECT_EQ(seen.title, WideString(L"plain title"));
    EXPECT_FALSE(IsWindow(seen.window));
    EXPECT_EQ(FindWindowW(gui_class, nullptr), nullptr);
}

TEST_F(Window, LaterWindowsReuseTheRegisteredClass) {
    ASSERT_EQ(open_and_close("first"), 1);
    WNDCLASSW again{};
    again.lpfnWndProc = DefWindowProcW;
    again.hInstance = GetModuleHandleA(nullptr);
    again.lpszClassName = gui_class;
    EXPECT_EQ(RegisterClassW(&again), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
    EXPECT_EQ(open_and_close("second"), 1);
    EXPECT_EQ(seen.title, WideString(L"second"));
}

TEST_F(Window, TitlesAreConvertedFromUtf8) {
    ASSERT_EQ(open_and_close("Fen\xC3\xAAtre \xE2\x80\x94 \xE7\xAA\x93 \xF0\x9F\x98\x80"), 1);
    EXPECT_EQ(seen.title, WideString(L"Fen\u00EAtre \u2014 \u7A93 \U0001F600"));
    ASSERT_EQ(open_and_close(nullptr), 1);
    EXPECT_EQ(seen.title, WideString());
    ASSERT_EQ(open_and_close(""), 1);
    EXPECT_EQ(seen.title, WideString());
}

TEST_F(Window, LongTitlesReachTheWindowCut) {
    ASSERT_EQ(open_and_close(std::string(300, 'a').c_str()), 1);
    EXPECT_EQ(seen.title, WideString(255, L'a'));
}
#endif

std::string shown_title(const std::string& title) {
    char shown[VL_GUI_TITLE_BYTES];
    size_t length = vl_gui_window_title(title.c_str(), shown);
    EXPECT_EQ(length, std::strlen(shown));
    return std::string(shown, length);
}

std::string repeat(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; i++) text += piece;
    return text;
}

const std::string replacement = "\xEF\xBF\xBD";  // U+FFFD

TEST(WindowTitle, LongTitlesAreCutBetweenCodePoints) {
    const std::string smile = "\xF0\x9F\x98\x80";  // two UTF-16 units
    EXPECT_EQ(shown_title(std::string(300, 'a')), std::string(255, 'a'));
    EXPECT_EQ(shown_title(repeat("\xC3\xA9", 300)), repeat("\xC3\xA9", 255));
    EXPECT_EQ(shown_title(repeat("\xE7\xAA\x93", 300)), repeat("\xE7\xAA\x93", 255));
    // 255 units would end inside a surrogate pair: one unit stays unused.
    EXPECT_EQ(shown_title(repeat(smile, 200)), repeat(smile, 127));
    EXPECT_EQ(shown_title(std::string("a").append(repeat(smile, 200))), std::string("a").append(repeat(smile, 127)));
    EXPECT_EQ(shown_title(std::string("a").append(repeat(smile, 127))), std::string("a").append(repeat(smile, 127)));  // exactly full
}

TEST(WindowTitle, MalformedSequencesBecomeReplacementCharacters) {
    char shown[VL_GUI_TITLE_BYTES];
    EXPECT_EQ(vl_gui_window_title(nullptr, shown), 0u);
    EXPECT_EQ(shown_title("Fen\xC3\xAAtre \xE2\x80\x94 \xE7\xAA\x93"), "Fen\xC3\xAAtre \xE2\x80\x94 \xE7\xAA\x93");
    EXPECT_EQ(shown_title("a\x80" "b\xFF"), "a" + replacement + "b" + replacement);
    EXPECT_EQ(shown_title("\xC0\xAF"), repeat(replacement, 2));                    // overlong
    EXPECT_EQ(shown_title("\xED\xA0\x80"), repeat(replacement, 3));                // a surrogate
    EXPECT_EQ(shown_title("\xF4\x90\x80\x80"), repeat(replacement, 4));            // beyond U+10FFFF
    EXPECT_EQ(shown_title("\xE7\xAA" "x\xE7\xAA"), replacement + "x" + replacement);  // cut short
    // Each replacement is one unit of three bytes: the longest title there is.
    EXPECT_EQ(shown_title(std::string(300, '\xFF')), repeat(replacement, 255));
}

TEST(AssistantPrompt, FormatsTheSentence) {
    ArenaPtr arena(VL_ARENA_MIN_BLOCK);
    ASSERT_NE(arena.get(), nullptr);
    char* hello = vl_ai_prompt(arena.get(), "hello");
    ASSERT_NE(hello, nullptr);
    EXPECT_STREQ(hello, "[VLAI Brain] Processed query: 'hello'. Status: 100% Operational.");
    EXPECT_STREQ(vl_ai_prompt(arena.get(), ""), "[VLAI Brain] Processed query: ''. Status: 100% Operational.");
    EXPECT_EQ(vl_ai_prompt(nullptr, "hello"), nullptr);
}

TEST(AssistantPrompt, LongQueriesAreCutAt511Bytes) {
    ArenaPtr arena(VL_ARENA_MIN_BLOCK);
    ASSERT_NE(arena.get(), nullptr);
    const std::string prefix = "[VLAI Brain] Processed query: '";
    const std::string suffix = "'. Status: 100% Operational.";

    std::string fits(452, 'q');
    EXPECT_EQ(std::string(vl_ai_prompt(arena.get(), fits.c_str())), prefix + fits + suffix);

    std::string longer(2000, 'q');
    std::string cut = vl_ai_prompt(arena.get(), longer.c_str());
    EXPECT_EQ(cut, (prefix + longer + suffix).substr(0, 511));

    std::string just_over(453, 'q');
    EXPECT_EQ(std::string(vl_ai_prompt(arena.get(), just_over.c_str())), (prefix + just_over + suffix).substr(0, 511));
}

}  // namespace
