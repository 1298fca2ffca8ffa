// The whole-file helpers, including failures made to really happen: a full
// device, a file size limit, a regular file where a directory should be.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "temp_dir.h"
#include "vl_arena.h"
#include "vl_files.h"

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

class FileHelpers : public ::testing::Test {
protected:
    void SetUp() override { arena_ = vl_arena_create(65536); }
    void TearDown() override { vl_arena_destroy(arena_); }
    VlArena* arena_ = nullptr;
    TempDir dir_;
};

std::string read_heap(const std::string& path, VlReadStatus* status) {
    size_t length = 0;
    char* bytes = vl_file_read_heap(path.c_str(), &length, status);
    if (!bytes) return "<null>";
    EXPECT_EQ(bytes[length], '\0');
    std::string text(bytes, length);
    std::free(bytes);
    return text;
}

TEST_F(FileHelpers, ReadsEmptyFilesAndFilesHoldingNulBytesWhole) {
    spill(dir_ / "empty", "");
    char* empty = vl_file_read(arena_, (dir_ / "empty").c_str());
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty[0], '\0');

    const std::string bytes("a\0b\0\0c", 6);
    spill(dir_ / "zeros", bytes);
    VlReadStatus status = VL_READ_UNREADABLE;
    EXPECT_EQ(read_heap(dir_ / "zeros", &status), bytes);
    EXPECT_EQ(status, VL_READ_OK);
    EXPECT_STREQ(vl_file_read(arena_, (dir_ / "zeros").c_str()), "a");
}

TEST_F(FileHelpers, MissingFilesAndDirectoriesAreUnreadable) {
    VlReadStatus status = VL_READ_OK;
    EXPECT_EQ(read_heap(dir_ / "missing", &status), "<null>");
    EXPECT_EQ(status, VL_READ_UNREADABLE);
    status = VL_READ_OK;
    EXPECT_EQ(read_heap(dir_.path().string(), &status), "<null>");
    EXPECT_EQ(status, VL_READ_UNREADABLE);
    EXPECT_EQ(vl_file_read(arena_, dir_.path().string().c_str()), nullptr);
    EXPECT_EQ(vl_file_read(nullptr, (dir_ / "missing").c_str()), nullptr);
}

TEST_F(FileHelpers, WriteCreatesTruncatesAndAddsNothing) {
    std::string path = dir_ / "w";
    EXPECT_TRUE(vl_file_write(path.c_str(), "one\ntwo"));
    EXPECT_EQ(slurp(path), "one\ntwo");
    EXPECT_TRUE(vl_file_write(path.c_str(), ""));
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0u);
}

TEST_F(FileHelpers, AppendCreatesAMissingFileAndKeepsOrder) {
    std::string path = dir_ / "log";
    EXPECT_TRUE(vl_file_append(path.c_str(), "first\n"));
    EXPECT_TRUE(vl_file_append(path.c_str(), "second\n"));
    EXPECT_EQ(slurp(path), "first\nsecond\n");
}

TEST_F(FileHelpers, ExistenceTestCreatesNothing) {
    EXPECT_FALSE(vl_file_exists((dir_ / "nothing").c_str()));
    EXPECT_EQ(dir_.entry_count(), 0u);
    spill(dir_ / "here", "x");
    EXPECT_TRUE(vl_file_exists((dir_ / "here").c_str()));
}

TEST_F(FileHelpers, WritesFailWhenThePathCannotBeCreated) {
    spill(dir_ / "plain", "keep");
    std::string below = dir_ / "plain/x";
    EXPECT_FALSE(vl_file_write(below.c_str(), "x"));
    EXPECT_FALSE(vl_file_append(below.c_str(), "x"));
    EXPECT_FALSE(vl_file_replace(below.c_str(), "x", 1));
    EXPECT_EQ(slurp(dir_ / "plain"), "keep");
}

TEST_F(FileHelpers, ReplaceSwapsContentsAndLeavesNoTemporaryFile) {
    std::string path = dir_ / "r";
    spill(path, std::string(5000, 'o'));
    EXPECT_TRUE(vl_file_replace(path.c_str(), "new", 3));
    EXPECT_EQ(slurp(path), "new");
    EXPECT_TRUE(vl_file_replace((dir_ / "fresh").c_str(), "a\0b", 3));
    EXPECT_EQ(slurp(dir_ / "fresh"), std::string("a\0b", 3));
    EXPECT_EQ(dir_.entry_count(), 2u);
}

TEST_F(FileHelpers, ReplaceThroughASymbolicLinkRewritesTheFileItNames) {
    std::string real = dir_ / "real.velm", link = dir_ / "link.velm";
    spill(real, "old");
    std::error_code error;
    fs::create_symlink(real, link, error);
    if (error) GTEST_SKIP() << "symbolic links unavailable: " << error.message();
    EXPECT_TRUE(vl_file_replace(link.c_str(), "new", 3));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(slurp(real), "new");
    EXPECT_EQ(dir_.entry_count(), 2u);
}

TEST_F(FileHelpers, ReplaceNeverWritesThroughALinkWhereItsTemporaryFileWouldGo) {
    std::string path = dir_ / "r", planted = dir_ / "r.vltmp0", victim = dir_ / "victim";
    spill(path, "old");
    std::error_code error;
    fs::create_symlink(victim, planted, error);
    if (error) GTEST_SKIP() << "symbolic links unavailable: " << error.message();
    EXPECT_TRUE(vl_file_replace(path.c_str(), "new", 3));
    EXPECT_EQ(slurp(path), "new");
    EXPECT_FALSE(fs::exists(victim));
    EXPECT_TRUE(fs::is_symlink(planted));
}

TEST_F(FileHelpers, ReplaceLeavesADirectoryInTheTargetsPlaceAlone) {
    fs::create_directory(dir_ / "d");
    spill(dir_ / "d/inner", "kept");
    EXPECT_FALSE(vl_file_replace((dir_ / "d").c_str(), "x", 1));
    EXPECT_EQ(slurp(dir_ / "d/inner"), "kept");
    EXPECT_EQ(dir_.entry_count(), 1u);
}

TEST_F(FileHelpers, ReplaceWritesNothingOverAFileThatTookTheReadOnesPlace) {
    std::string path = dir_ / "s.velm";
    spill(path, "read");
    VlFileIdentity read_from{};
    ASSERT_TRUE(vl_file_identity(path.c_str(), &read_from));
    spill(dir_ / "saved", "saved by another program");
    fs::rename(dir_ / "saved", path);
    EXPECT_EQ(vl_file_replace_same(path.c_str(), "new", 3, &read_from), VL_REPLACE_CHANGED);
    EXPECT_EQ(slurp(path), "saved by another program");

    ASSERT_TRUE(vl_file_identity(path.c_str(), &read_from));
    EXPECT_EQ(vl_file_replace_same(path.c_str(), "new", 3, &read_from), VL_REPLACE_OK);
    EXPECT_EQ(slurp(path), "new");
    fs::remove(path);
    EXPECT_EQ(vl_file_replace_same(path.c_str(), "new", 3, &read_from), VL_REPLACE_CHANGED);
    EXPECT_EQ(dir_.entry_count(), 0u);
}

#ifndef _WIN32
TEST_F(FileHelpers, AFullDeviceFailsWriteAndAppend) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    // Small texts sit in the stream buffer until the flush: the failure
    // must still be seen.
    EXPECT_FALSE(vl_file_write("/dev/full", "x"));
    EXPECT_FALSE(vl_file_append("/dev/full", std::string(100000, 'x').c_str()));
}

// Lowers the file size limit for the scope; writes past it fail with EFBIG
// instead of raising the signal that would end the test.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lower = saved_;
        lower.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

TEST_F(FileHelpers, AFileSizeLimitFailsWritesAndReplaceKeepsTheOriginal) {
    std::string path = dir_ / "script";
    const std::string original(3000, 'o');
    spill(path, original);
    {
        FileSizeLimit limit(4096);
        EXPECT_FALSE(vl_file_write((dir_ / "other").c_str(), std::string(10000, 'x').c_str()));
        EXPECT_FALSE(vl_file_append((dir_ / "other2").c_str(), std::string(10000, 'x').c_str()));
        EXPECT_FALSE(vl_file_replace(path.c_str(), std::string(10000, 'n').data(), 10000));
    }
    EXPECT_EQ(slurp(path), original);
    EXPECT_FALSE(fs::exists(path + ".vltmp0")) << "the temporary file stayed behind";
}

TEST_F(FileHelpers, ReadsANonSeekableInputWhole) {
    std::string path = dir_ / "fifo";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    std::string sent;
    for (int i = 0; i < 30000; i++) sent += "line " + std::to_string(i) + "\n";
    std::thread writer([&] {
        int fd = open(path.c_str(), O_WRONLY);
        size_t done = 0;
        while (fd >= 0 && done < sent.size()) {
            ssize_t n = write(fd, sent.data() + done, sent.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        if (fd >= 0) close(fd);
    });
    VlReadStatus status = VL_READ_UNREADABLE;
    std::string got = read_heap(path, &status);
    writer.join();
    EXPECT_EQ(status, VL_READ_OK);
    EXPECT_EQ(got, sent);
}

TEST_F(FileHelpers, RefusesAFileOf2GiBOrMore) {
    std::string path = dir_ / "huge";
    spill(path, "");
    fs::resize_file(path, 0x80000000ull);  // sparse: takes no disk space
    VlReadStatus status = VL_READ_OK;
    EXPECT_EQ(read_heap(path, &status), "<null>");
    EXPECT_EQ(status, VL_READ_TOO_LARGE);
    EXPECT_EQ(vl_file_read(arena_, path.c_str()), nullptr);
}
#endif

}  // namespace
