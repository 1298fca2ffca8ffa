// A script read a window at a time while it is compiled, so that a long one
// never sits in memory whole: the lexer's VlSourceFeed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include "vl_lexer.h"
#include "vl_files.h"

class VlSourceStream {
public:
    // Opens `path` (a file, a pipe or a device); status() says whether it could be.
    explicit VlSourceStream(const char* path);
    VlSourceStream(const VlSourceStream&) = delete;
    VlSourceStream& operator=(const VlSourceStream&) = delete;
    ~VlSourceStream();

    // VL_READ_OK, or why the file could not be opened or read to its end.
    [[nodiscard]] VlReadStatus status() const { return status_; }
    // The first window, NUL-terminated, and its length.
    [[nodiscard]] const char* first_window(size_t* length) { return more(this, nullptr, length); }
    [[nodiscard]] const VlSourceFeed* feed() const { return &feed_; }

private:
    static const char* more(void* self, const char* keep, size_t* length);
    bool read_more();

    std::FILE* file_ = nullptr;
    char* buffer_ = nullptr;
    size_t capacity_ = 0;     // one byte is always spare for the window's NUL
    size_t window_end_ = 0;   // what the lexer sees: [0, window_end_)
    size_t data_end_ = 0;     // bytes read: [0, data_end_)
    char held_ = '\0';        // the byte the window's NUL covers
    uint64_t total_ = 0;      // bytes read from the file
    bool input_ended_ = false;
    VlReadStatus status_ = VL_READ_OK;
    VlSourceFeed feed_{this, &VlSourceStream::more};
};
