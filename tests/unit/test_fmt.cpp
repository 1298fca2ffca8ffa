// The formatter: re-indentation by block words, and the file rewrite that
// must never lose the original.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "temp_dir.h"
#include "vl_arena.h"
#include "vl_tools.h"

namespace {

class Fmt : public ::testing::Test {
protected:
    void SetUp() override { arena_ = vl_arena_create(65536); }
    void TearDown() override { vl_arena_destroy(arena_); }
    std::string format(const std::string& source) {
        char* text = vl_fmt_format_code(arena_, source.c_str());
        EXPECT_NE(text, nullptr);
        return text ? text : "<null>";
    }
    VlArena* arena_ = nullptr;
};

TEST_F(Fmt, WorkedExampleOtherwiseOnlyLowersTheLevel) {
    EXPECT_EQ(format("start\ncheck x\ndisplay 1\notherwise\ndisplay 2\nstop\nstop\n"),
              "start\n    check x\n        display 1\n    otherwise\n    display 2\nstop\nstop\n");
}

TEST_F(Fmt, ExistingIndentationOfBlanksAndTabsIsReplaced) {
    EXPECT_EQ(format(" \t start\n\t\t  display 1\n    \tstop\n"), "start\n    display 1\nstop\n");
    EXPECT_EQ(format("create a\n\tcount i from 1 to 2\n display i\nstop\nstop"),
              "create a\n    count i from 1 to 2\n        display i\n    stop\nstop");
}

TEST_F(Fmt, BlankOnlyTextsAndTheEndOfTheText) {
    EXPECT_EQ(format(""), "");
    EXPECT_EQ(format(" \t \t"), "");
    EXPECT_EQ(format("\n\n"), "\n\n");                        // empty lines stay
    EXPECT_EQ(format("start\ndisplay 1\n   \t"), "start\n    display 1\n");  // trailing blanks dropped
    EXPECT_EQ(format("start\n\ndisplay 1"), "start\n    \n    display 1");   // blank line takes the level
}

TEST_F(Fmt, ClosingWordsAtLevelZeroNeverGoNegative) {
    EXPECT_EQ(format("stop\notherwise\nstopped\nstart\ndisplay 1\n"),
              "stop\notherwise\nstopped\nstart\n    display 1\n");
}

TEST_F(Fmt, WordsArePrefixTestsAndCaseSensitive) {
    EXPECT_EQ(format("starting\ncounter\nStart\nstopwatch\nx\n"),
              "starting\n    counter\n        Start\n    stopwatch\n    x\n");
}

TEST_F(Fmt, CarriageReturnsStayAtLineEnds) {
    EXPECT_EQ(format("start\r\n  display 1 \r\nstop\r\n"), "start\r\n    display 1 \r\nstop\r\n");
    // A lone carriage return is not a line end.
    EXPECT_EQ(format("start\rdisplay 1\n x\n"), "start\rdisplay 1\n    x\n");
}

TEST_F(Fmt, DeepNestingOutgrowsTwiceTheSource) {
    std::string source, expected;
    for (int level = 0; level < 200; level++) {
        source += "start\n";
        expected += std::string(4 * level, ' ') + "start\n";
    }
    ASSERT_GT(expected.size(), 2 * source.size() + 1);
    EXPECT_EQ(format(source), expected);
    EXPECT_EQ(vl_fmt_format_code(arena_, nullptr), nullptr);
}

class FmtFile : public Fmt {
protected:
    TempDir dir_;
};

TEST_F(FmtFile, RewritesInPlaceAndLeavesNoTemporaryFile) {
    std::string path = dir_ / "a.velm";
    spill(path, "start\ndisplay 1\nstop\n");
    EXPECT_EQ(vl_fmt_format_file(arena_, path.c_str()), 1);
    EXPECT_EQ(slurp(path), "start\n    display 1\nstop\n");
    EXPECT_EQ(dir_.entry_count(), 1u);
}

TEST_F(FmtFile, RefusesAFileHoldingANulByte) {
    std::string path = dir_ / "zero.velm";
    const std::string original("start\ndisplay 1\0\n  display 2\nstop\n", 34);
    spill(path, original);
    EXPECT_EQ(vl_fmt_format_file(arena_, path.c_str()), 0);
    EXPECT_EQ(slurp(path), original);
}

TEST_F(FmtFile, UnreadableOrUnwritableTargetsReportFailure) {
    EXPECT_EQ(vl_fmt_format_file(arena_, (dir_ / "missing.velm").c_str()), 0);
    EXPECT_EQ(dir_.entry_count(), 0u);
    // A directory cannot be read as a script.
    std::filesystem::create_directory(dir_ / "d.velm");
    EXPECT_EQ(vl_fmt_format_file(arena_, (dir_ / "d.velm").c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "d.velm"));
}

#ifndef _WIN32
TEST_F(FmtFile, KeepsThePermissionsOfTheFile) {
    namespace fs = std::filesystem;
    std::string path = dir_ / "p.velm";
    spill(path, "start\ndisplay 1\nstop\n");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::owner_exec |
                              fs::perms::group_read);
    EXPECT_EQ(vl_fmt_format_file(arena_, path.c_str()), 1);
    EXPECT_EQ(fs::status(path).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::owner_exec | fs::perms::group_read);
}
#endif

}  // namespace
