// The executable writer: the image byte for byte, and what happens to the
// target when the write cannot be done.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "temp_dir.h"
#include "vl_arena.h"
#include "vl_pe.h"

namespace {

struct Field {
    size_t offset;
    uint64_t value;
    int size;
};

// Every non-zero field of the image; all other bytes must be zero.
const Field IMAGE_FIELDS[] = {
    {0x000, 0x5A4D, 2},      {0x03C, 0x40, 4},       {0x040, 0x00004550, 4}, {0x044, 0x8664, 2},
    {0x046, 1, 2},           {0x054, 0xF0, 2},       {0x056, 0x0022, 2},     {0x058, 0x020B, 2},
    {0x068, 0x1000, 4},      {0x06C, 0x1000, 4},     {0x070, 0x400000, 8},   {0x078, 0x1000, 4},
    {0x07C, 0x200, 4},       {0x088, 6, 2},          {0x090, 0x2000, 4},     {0x094, 0x200, 4},
    {0x09C, 3, 2},           {0x0C4, 16, 4},         {0x148, 0x747865742E, 8},  // ".text"
    {0x150, 0x200, 4},       {0x154, 0x1000, 4},     {0x158, 0x200, 4},      {0x15C, 0x200, 4},
    {0x16C, 0x60000020, 4},  {0x200, 0xC3C03148, 4},
};

std::string expected_image() {
    std::string image(VL_PE_IMAGE_SIZE, '\0');
    for (const Field& f : IMAGE_FIELDS)
        for (int i = 0; i < f.size; i++) image[f.offset + i] = static_cast<char>(f.value >> (8 * i));
    return image;
}

class PeWriter : public ::testing::Test {
protected:
    void SetUp() override { arena_ = vl_arena_create(65536); }
    void TearDown() override { vl_arena_destroy(arena_); }
    bool write(const std::string& path) {
        return vl_pe_generate_exe(vl_pe_create(arena_, nullptr, path.c_str()));
    }
    VlArena* arena_ = nullptr;
    TempDir dir_;
};

TEST_F(PeWriter, WritesTheFixedImageByteForByte) {
    std::string path = dir_ / "app.exe";
    ASSERT_TRUE(write(path));
    std::string image = slurp(path);
    ASSERT_EQ(image.size(), 1024u);
    for (size_t i = 0; i < image.size(); i++)
        ASSERT_EQ(static_cast<uint8_t>(image[i]), static_cast<uint8_t>(expected_image()[i])) << "offset " << i;
    EXPECT_EQ(dir_.entry_count(), 1u) << "a temporary file stayed behind";
}

TEST_F(PeWriter, ReplacesALargerFileWithExactly1024Bytes) {
    std::string path = dir_ / "big.exe";
    spill(path, std::string(100000, 'x'));
    ASSERT_TRUE(write(path));
    EXPECT_EQ(slurp(path), expected_image());
    EXPECT_EQ(dir_.entry_count(), 1u);
}

TEST_F(PeWriter, FailsWithoutCreatingAnythingWhenTheTargetCannotBeWritten) {
    EXPECT_FALSE(vl_pe_generate_exe(nullptr));
    EXPECT_FALSE(vl_pe_generate_exe(vl_pe_create(arena_, nullptr, nullptr)));

    EXPECT_FALSE(write(dir_ / "missing/app.exe"));
    EXPECT_EQ(dir_.entry_count(), 0u);

    // A regular file where a directory is expected.
    spill(dir_ / "plain", "keep");
    EXPECT_FALSE(write(dir_ / "plain/app.exe"));
    EXPECT_EQ(slurp(dir_ / "plain"), "keep");

    // A directory in the target's place stays a directory, with its contents.
    std::filesystem::create_directory(dir_ / "taken.exe");
    spill(dir_ / "taken.exe/inside", "kept");
    EXPECT_FALSE(write(dir_ / "taken.exe"));
    EXPECT_EQ(slurp(dir_ / "taken.exe/inside"), "kept");
    EXPECT_EQ(dir_.entry_count(), 2u) << "a temporary file stayed behind";
}

}  // namespace
