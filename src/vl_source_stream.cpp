// Reading a script in windows that end on a line feed.
#include "vl_source_stream.h"

#include "vl_arena.h"
#include "vl_fault.h"

#include <cstdlib>
#include <cstring>

namespace {

// Small enough to stay in the cache between the read and the lexer; a line
// longer than this grows the buffer.
constexpr size_t FIRST_CAPACITY = 256 * 1024;

}  // namespace

VlSourceStream::VlSourceStream(const char* path) {
    long long size = -1;
    file_ = vl_file_open_read(path, &size, &status_);
    if (!file_) return;
    std::setvbuf(file_, nullptr, _IONBF, 0);  // reads go straight into the window
    capacity_ = FIRST_CAPACITY;
    buffer_ = static_cast<char*>(vl_fault_refuse_memory() ? nullptr : std::malloc(capacity_));
    if (!buffer_) vl_out_of_memory();
}

VlSourceStream::~VlSourceStream() {
    if (file_) std::fclose(file_);
    std::free(buffer_);
}

// Appends what the file has next, growing a full buffer; false once the
// input has ended.  A NUL byte ends the script, as it ends a text read whole.
bool VlSourceStream::read_more() {
    if (input_ended_) return false;
    if (data_end_ + 1 >= capacity_) {
        if (capacity_ > SIZE_MAX / 2) vl_out_of_memory();
        auto* grown = static_cast<char*>(vl_fault_refuse_memory() ? nullptr : std::realloc(buffer_, capacity_ * 2));
        if (!grown) vl_out_of_memory();
        buffer_ = grown;
        capacity_ *= 2;
    }
    size_t room = capacity_ - 1 - data_end_;
    size_t got = std::fread(buffer_ + data_end_, 1, room, file_);
    if (got < room) {
        input_ended_ = true;
        if (std::ferror(file_)) status_ = VL_READ_UNREADABLE;
    }
    total_ += got;
    if (total_ > VL_FILE_MAX_SIZE) {
        status_ = VL_READ_TOO_LARGE;  // a pipe, or a file that grew while it was read
        input_ended_ = true;
    }
    if (const void* nul = std::memchr(buffer_ + data_end_, '\0', got)) {
        got = static_cast<size_t>(static_cast<const char*>(nul) - (buffer_ + data_end_));
        input_ended_ = true;
    }
    data_end_ += got;
    return got > 0 || !input_ended_;
}

const char* VlSourceStream::more(void* self, const char* keep, size_t* length) {
    auto* stream = static_cast<VlSourceStream*>(self);
    if (!stream->buffer_) {
        *length = 0;
        return "";
    }
    char* buffer = stream->buffer_;
    size_t keep_at = keep ? static_cast<size_t>(keep - buffer) : stream->window_end_;
    buffer[stream->window_end_] = stream->held_;
    size_t seen = stream->window_end_ - keep_at;  // bytes the lexer has had already
    std::memmove(buffer, buffer + keep_at, stream->data_end_ - keep_at);
    stream->data_end_ -= keep_at;

    // The next window ends after the last line feed read, once there is one
    // past what the lexer has seen; at the end of the input, with the input.
    size_t end = 0;
    for (size_t searched = seen;;) {
        for (size_t i = stream->data_end_; i > searched; i--) {
            if (stream->buffer_[i - 1] == '\n') {
                end = i;
                break;
            }
        }
        if (end) break;
        searched = stream->data_end_;
        if (!stream->read_more()) {
            end = stream->data_end_;
            break;
        }
    }
    buffer = stream->buffer_;
    stream->window_end_ = end;
    stream->held_ = end < stream->data_end_ ? buffer[end] : '\0';
    buffer[end] = '\0';
    *length = end;
    return buffer;
}
