// Messages framed by a "Content-Length" header block, as the language server
// and the debug adapter both read and write them on standard input and
// output.  One reader for both: it skips header blocks it cannot use, finds
// its feet again after content of a wrong length, and never holds a message
// larger than it was told to.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

enum class VlFrameStatus {
    ended,      // the input has ended (or failed)
    unusable,   // a header block without a usable length: nothing to answer
    too_large,  // the content is larger than the limit (or than memory): skip() reads past it
    message,    // `content` holds one message
};

struct VlFrame {
    VlFrameStatus status;
    size_t length;  // the length the header announced (message and too_large)
    std::string content;
};

class VlFrameReader {
public:
    VlFrameReader(std::FILE* input, size_t max_content) : input_(input), max_content_(max_content) {}
    [[nodiscard]] VlFrame next();
    // Reads past the content of a too_large frame, so that the sender may be
    // told first why nothing comes of it; false at the end of input.
    [[nodiscard]] bool skip(const VlFrame& frame);

private:
    std::FILE* input_;
    size_t max_content_;
};

// Writes one frame and flushes it; false once nobody reads the output.
// `extra_headers` go between the length and the empty line, each ending in
// "\r\n".
[[nodiscard]] bool vl_frame_write(std::FILE* output, std::string_view body, std::string_view extra_headers = {});
