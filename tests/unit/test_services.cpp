// The native window and the assistant sentence of the runtime library.  The
// window tests drive the message loop from a timer, as a user closing the
// window would: they run against real Win32 on Windows and against the
// headless implementation elsewhere.
#include <gtest/gtest.h>

#include <string>

#include "vl_arena.h"
#include "vl_platform_window.h"
#include "vl_stdlib.h"

namespace {

using WideString = std::basic_string<WCHAR>;

const WCHAR* const gui_class = VL_W("VELMORINE_GUI_CLASS");

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
#if defined(_WIN32)
        HWND probe = CreateWindowExW(0, VL_W("STATIC"), VL_W(""), 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        if (!probe) GTEST_SKIP() << "no window system here";
        DestroyWindow(probe);
#endif
    }
};

TEST_F(Window, ClosingEndsTheLoopWithOne) {
    EXPECT_EQ(open_and_close("plain title"), 1);
    EXPECT_EQ(seen.ticks, 1);
    ASSERT_NE(seen.window, nullptr);
    EXPECT_EQ(seen.title, WideString(VL_W("plain title")));
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
    EXPECT_EQ(seen.title, WideString(VL_W("second")));
}

TEST_F(Window, TitlesAreConvertedFromUtf8) {
    ASSERT_EQ(open_and_close("Fen\xC3\xAAtre \xE2\x80\x94 \xE7\xAA\x93 \xF0\x9F\x98\x80"), 1);
    EXPECT_EQ(seen.title, WideString(VL_W("Fen\u00EAtre \u2014 \u7A93 \U0001F600")));
    ASSERT_EQ(open_and_close(nullptr), 1);
    EXPECT_EQ(seen.title, WideString());
    ASSERT_EQ(open_and_close(""), 1);
    EXPECT_EQ(seen.title, WideString());
}

TEST_F(Window, LongTitlesAreCutBetweenCodePoints) {
    const std::string smile = "\xF0\x9F\x98\x80";  // two UTF-16 units
    const WideString wide_smile = VL_W("\U0001F600");
    auto repeat = [](const auto& piece, int times) {
        std::remove_cvref_t<decltype(piece)> text;
        for (int i = 0; i < times; i++) text += piece;
        return text;
    };

    ASSERT_EQ(open_and_close(std::string(300, 'a').c_str()), 1);
    EXPECT_EQ(seen.title, WideString(255, 'a'));

    ASSERT_EQ(open_and_close(repeat(std::string("\xC3\xA9"), 300).c_str()), 1);
    EXPECT_EQ(seen.title, WideString(255, 0xE9));

    // 255 units would end inside a surrogate pair: one unit stays unused.
    ASSERT_EQ(open_and_close(repeat(smile, 200).c_str()), 1);
    EXPECT_EQ(seen.title, repeat(wide_smile, 127));

    ASSERT_EQ(open_and_close(("a" + repeat(smile, 200)).c_str()), 1);
    EXPECT_EQ(seen.title, WideString(VL_W("a")) + repeat(wide_smile, 127));

    // Exactly full: kept whole.
    ASSERT_EQ(open_and_close(("a" + repeat(smile, 127)).c_str()), 1);
    EXPECT_EQ(seen.title.size(), 255u);
}

#if !defined(_WIN32)
// Real systems fail message retrieval only for invalid arguments, which the
// library never passes; the headless layer can fail on request.
void CALLBACK fail_retrieval(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    seen.window = FindWindowW(gui_class, nullptr);
    vl_window_fail_next_get_message();
}

TEST_F(Window, RetrievalErrorEndsTheLoopWithZero) {
    seen = Seen{};
    ASSERT_NE(SetTimer(nullptr, 0, 10, fail_retrieval), 0u);
    EXPECT_EQ(vl_gui_create_window("broken queue", 100, 100), 0);
    ASSERT_NE(seen.window, nullptr);
    EXPECT_FALSE(IsWindow(seen.window));
    // No quit message is left behind to end the next window's loop early.
    EXPECT_EQ(open_and_close("after the error"), 1);
    EXPECT_EQ(seen.ticks, 1);
    EXPECT_EQ(seen.title, WideString(VL_W("after the error")));
}
#endif

struct ArenaDeleter {
    void operator()(VlArena* arena) const { vl_arena_destroy(arena); }
};

TEST(AssistantPrompt, FormatsTheSentence) {
    std::unique_ptr<VlArena, ArenaDeleter> arena(vl_arena_create(VL_ARENA_MIN_BLOCK));
    ASSERT_NE(arena, nullptr);
    char* hello = vl_ai_prompt(arena.get(), "hello");
    ASSERT_NE(hello, nullptr);
    EXPECT_STREQ(hello, "[VLAI Brain] Processed query: 'hello'. Status: 100% Operational.");
    EXPECT_STREQ(vl_ai_prompt(arena.get(), ""), "[VLAI Brain] Processed query: ''. Status: 100% Operational.");
    EXPECT_EQ(vl_ai_prompt(nullptr, "hello"), nullptr);
}

TEST(AssistantPrompt, LongQueriesAreCutAt511Bytes) {
    std::unique_ptr<VlArena, ArenaDeleter> arena(vl_arena_create(VL_ARENA_MIN_BLOCK));
    ASSERT_NE(arena, nullptr);
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
