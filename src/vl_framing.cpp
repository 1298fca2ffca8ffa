// The Content-Length framing that both protocol servers speak; see vl_framing.h.
#include "vl_framing.h"
#include "vl_exceptions.h"

#include <array>
#include <cstdint>
#include <new>

namespace {

constexpr size_t MAX_HEADER_LINE = 4096;  // a longer header line keeps only its tail

enum class Block { ended, unusable, ready };

struct Header {
    Block block;
    size_t length;  // content bytes announced, when ready
};

bool iequals_prefix(std::string_view text, std::string_view lower) {
    if (text.size() < lower.size()) return false;
    for (size_t i = 0; i < lower.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (c != lower[i]) return false;
    }
    return true;
}

size_t find_content_length(std::string_view line) {
    for (size_t i = 0; i < line.size(); ++i)
        if (iequals_prefix(line.substr(i), "content-length:")) return i;
    return std::string_view::npos;
}

// Parses the value of a Content-Length header; false if it is not a number.
bool parse_length(std::string_view value, size_t* out) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    if (value.empty()) return false;
    size_t n = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return false;
        size_t digit = size_t(c - '0');
        if (n > (SIZE_MAX - digit) / 10) return false;
        n = n * 10 + digit;
    }
    *out = n;
    return true;
}

// Reads header lines up to the empty line that ends the block.  A line that
// carries "Content-Length:" after other bytes starts a new block there: that
// is how the reader finds its feet again after content of a wrong length.
Header read_header(std::FILE* input) {
    bool have_length = false, bad = false;
    size_t length = 0;
    std::string line;
    for (;;) {
        line.clear();
        bool cut = false;
        int c;
        while ((c = std::getc(input)) != EOF && c != '\n') {
            if (line.size() >= 2 * MAX_HEADER_LINE) {  // keep only the tail
                line.erase(0, line.size() - MAX_HEADER_LINE);
                cut = true;
            }
            line.push_back(char(c));
        }
        if (c == EOF) return {Block::ended, 0};
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() && !cut) break;

        std::string_view text = line;
        size_t at = find_content_length(text);
        if (at == std::string_view::npos) {  // other headers do not matter
            bad = bad || cut;
            continue;
        }
        if (at > 0 || cut) {  // what came before was not a header
            have_length = bad = false;
            text.remove_prefix(at);
        }
        size_t n = 0;
        if (!parse_length(text.substr(15), &n) || (have_length && n != length)) bad = true;
        have_length = true;
        length = n;
    }
    if (bad || !have_length) return {Block::unusable, 0};
    return {Block::ready, length};
}

// Reads and drops `n` bytes; false at the end of input.
bool skip_bytes(std::FILE* input, size_t n) {
    std::array<char, 16384> scratch;
    while (n > 0) {
        size_t want = n < scratch.size() ? n : scratch.size();
        size_t got = std::fread(scratch.data(), 1, want, input);
        if (got == 0) return false;
        n -= got;
    }
    return true;
}

}  // namespace

VlFrame VlFrameReader::next() {
    VlFrame frame{VlFrameStatus::ended, 0, {}};
    Header header = read_header(input_);
    if (header.block == Block::ended) return frame;
    frame.length = header.length;
    if (header.block == Block::unusable) {
        frame.status = VlFrameStatus::unusable;
        return frame;
    }
    bool stored = header.length <= max_content_;
    if (stored) {
        VL_TRY {
            frame.content.resize(header.length);
        } VL_CATCH(const std::bad_alloc&) {
            stored = false;
        }
    }
    if (!stored) {
        frame.status = VlFrameStatus::too_large;
        return frame;
    }
    if (std::fread(frame.content.data(), 1, frame.content.size(), input_) != frame.content.size()) {
        frame.content.clear();
        return frame;  // ended in the middle of a message
    }
    frame.status = VlFrameStatus::message;
    return frame;
}

bool VlFrameReader::skip(const VlFrame& frame) {
    return frame.status != VlFrameStatus::too_large || skip_bytes(input_, frame.length);
}

bool vl_frame_write(std::FILE* output, std::string_view body, std::string_view extra_headers) {
    char header[64];
    int n = std::snprintf(header, sizeof header, "Content-Length: %zu\r\n", body.size());
    if (n <= 0 || std::fwrite(header, 1, size_t(n), output) != size_t(n)) return false;
    if (!extra_headers.empty() &&
        std::fwrite(extra_headers.data(), 1, extra_headers.size(), output) != extra_headers.size())
        return false;
    if (std::fwrite("\r\n", 1, 2, output) != 2) return false;
    if (std::fwrite(body.data(), 1, body.size(), output) != body.size()) return false;
    return std::fflush(output) == 0;
}
