// Language server: JSON-RPC 2.0 messages over standard input and output, each
// framed by a "Content-Length" header block.  Requests are answered with fixed
// bodies in which only the id changes; notifications are never answered.  The
// server keeps no document state and never runs the lexer or the parser.
#include "vllsp.h"
#include "vl_platform.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <string_view>

namespace {

using json = nlohmann::json;

constexpr size_t MAX_CONTENT = size_t{64} << 20;  // larger contents are skipped unread
constexpr size_t MAX_HEADER_LINE = 4096;            // a longer header line keeps only its tail

constexpr std::string_view STARTUP_LINE = "[VLLSP] Pure C Language Server v3.0 Started over stdio.\n";

// Response bodies around the request's id.
constexpr std::string_view REPLY_HEAD = "{\"jsonrpc\":\"2.0\",\"id\":";
constexpr std::string_view INITIALIZE_RESULT =
    ",\"result\":{\"capabilities\":{\"textDocumentSync\":1,\"completionProvider\":"
    "{\"resolveProvider\":true},\"hoverProvider\":true,\"definitionProvider\":true}}}";
constexpr std::string_view COMPLETION_RESULT =
    ",\"result\":[{\"label\":\"display\",\"kind\":14,\"detail\":\"Print to console\"},"
    "{\"label\":\"store\",\"kind\":14,\"detail\":\"Declare variable\"},"
    "{\"label\":\"check\",\"kind\":14,\"detail\":\"If condition\"},"
    "{\"label\":\"count\",\"kind\":14,\"detail\":\"Count loop\"},"
    "{\"label\":\"start\",\"kind\":14,\"detail\":\"Program entry\"},"
    "{\"label\":\"stop\",\"kind\":14,\"detail\":\"Program exit\"}]}";
constexpr std::string_view NULL_RESULT = ",\"result\":null}";

// JSON-RPC error codes.
constexpr int PARSE_ERROR = -32700;
constexpr int INVALID_REQUEST = -32600;
constexpr int METHOD_NOT_FOUND = -32601;
constexpr int INVALID_PARAMS = -32602;

// Writes one frame and flushes it; false once nobody reads our output.
bool send_frame(std::string_view body) {
    char header[128];
    int n = std::snprintf(header, sizeof header,
                          "Content-Length: %zu\r\nContent-Type: application/vscode-jsonrpc; "
                          "charset=utf-8\r\n\r\n",
                          body.size());
    if (n <= 0 || std::fwrite(header, 1, size_t(n), stdout) != size_t(n)) return false;
    if (std::fwrite(body.data(), 1, body.size(), stdout) != body.size()) return false;
    return std::fflush(stdout) == 0;
}

bool send_reply(std::string_view id, std::string_view tail) {
    std::string body;
    body.reserve(REPLY_HEAD.size() + id.size() + tail.size());
    body.append(REPLY_HEAD).append(id).append(tail);
    return send_frame(body);
}

bool send_error(std::string_view id, int code, std::string_view message) {
    std::string tail = ",\"error\":{\"code\":" + std::to_string(code) + ",\"message\":\"";
    tail.append(message).append("\"}}");
    return send_reply(id, tail);
}

// ---- raw member lookup ----------------------------------------------------
// Ids and echoed items are copied exactly as the client wrote them, so the
// reply matches byte for byte whatever number or string form it used.

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// End of the string token that starts at s[i] (a quote), or npos if unclosed.
size_t string_end(std::string_view s, size_t i) {
    for (++i; i < s.size(); ++i) {
        if (s[i] == '\\') ++i;
        else if (s[i] == '"') return i + 1;
    }
    return std::string_view::npos;
}

// End of the value that starts at s[i], or npos if it is cut off.
size_t value_end(std::string_view s, size_t i) {
    if (i >= s.size()) return std::string_view::npos;
    if (s[i] == '"') return string_end(s, i);
    if (s[i] != '{' && s[i] != '[') {  // number or literal
        while (i < s.size() && !is_space(s[i]) && s[i] != ',' && s[i] != '}' && s[i] != ']') ++i;
        return i;
    }
    size_t depth = 0;
    for (; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            i = string_end(s, i);
            if (i == std::string_view::npos) return i;
            --i;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if ((c == '}' || c == ']') && --depth == 0) {
            return i + 1;
        }
    }
    return std::string_view::npos;
}

// Whether the string token `quoted` names `key` once its escapes are decoded.
bool key_is(std::string_view quoted, std::string_view key) {
    std::string_view inner = quoted.substr(1, quoted.size() - 2);
    if (inner.find('\\') == std::string_view::npos) return inner == key;
    json decoded = json::parse(quoted, nullptr, false);
    return decoded.is_string() && decoded.get_ref<const std::string&>() == key;
}

// The text of the last member `key` of the top-level object, as written.  In
// valid JSON this is the member the parser keeps; in broken JSON it is the
// last one complete before the damage, or empty.
std::string_view raw_member(std::string_view s, std::string_view key) {
    std::string_view found;
    size_t i = 0;
    while (i < s.size() && is_space(s[i])) ++i;
    if (i >= s.size() || s[i] != '{') return found;
    size_t depth = 0;
    while (i < s.size()) {
        char c = s[i];
        if (c == '"') {
            size_t end = string_end(s, i);
            if (end == std::string_view::npos) return found;
            std::string_view name = s.substr(i, end - i);
            i = end;
            if (depth != 1) continue;
            while (i < s.size() && is_space(s[i])) ++i;
            if (i >= s.size() || s[i] != ':') continue;  // a value, not a key
            for (++i; i < s.size() && is_space(s[i]);) ++i;
            size_t value = value_end(s, i);
            if (value == std::string_view::npos) return found;
            if (key_is(name, key)) found = s.substr(i, value - i);
            i = value;
            continue;
        }
        if (c == '{' || c == '[') ++depth;
        else if ((c == '}' || c == ']') && --depth == 0) break;
        ++i;
    }
    return found;
}

// The id of a message that is not valid JSON, if one can still be read.
std::string_view salvage_id(std::string_view content) {
    std::string_view id = raw_member(content, "id");
    if (id.empty()) return id;
    json value = json::parse(id, nullptr, false);
    return value.is_number() || value.is_string() ? id : std::string_view{};
}

// ---- dispatch -------------------------------------------------------------

// Answers one message; false when the server should end.
bool handle_message(std::string_view content) {
    json msg = json::parse(content, nullptr, false);
    if (msg.is_discarded()) {
        std::string_view id = salvage_id(content);
        return id.empty() || send_error(id, PARSE_ERROR, "Parse error");
    }
    if (!msg.is_object()) return true;

    // Only a number or a string is a usable id; without one the message is a
    // notification (or a malformed one) and gets no answer.
    std::string id;
    auto id_it = msg.find("id");
    if (id_it != msg.end() && (id_it->is_number() || id_it->is_string())) {
        id = raw_member(content, "id");
        if (id.empty()) id = id_it->dump();  // unreachable for valid JSON; be safe
    }

    auto method_it = msg.find("method");
    if (method_it == msg.end() || !method_it->is_string()) {
        // A response to a request of ours (we send none) or a broken request.
        bool response = msg.contains("result") || msg.contains("error");
        return id.empty() || response || send_error(id, INVALID_REQUEST, "Invalid Request");
    }
    if (id.empty()) return true;

    const std::string& method = method_it->get_ref<const std::string&>();
    if (method == "initialize") return send_reply(id, INITIALIZE_RESULT);
    if (method == "textDocument/completion") return send_reply(id, COMPLETION_RESULT);
    if (method == "shutdown") {
        send_reply(id, NULL_RESULT);
        return false;
    }
    if (method == "completionItem/resolve") {
        auto params = msg.find("params");
        if (params == msg.end() || !params->is_object())
            return send_error(id, INVALID_PARAMS, "Invalid params");
        std::string tail = ",\"result\":";
        std::string_view item = raw_member(content, "params");
        if (item.empty()) tail += params->dump(-1, ' ', false, json::error_handler_t::replace);
        else tail += item;
        tail += '}';
        return send_reply(id, tail);
    }
    if (method == "textDocument/hover" || method == "textDocument/definition")
        return send_reply(id, NULL_RESULT);
    return send_error(id, METHOD_NOT_FOUND, "Method not found");
}

// ---- framing --------------------------------------------------------------

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
Header read_header() {
    bool have_length = false, bad = false;
    size_t length = 0;
    std::string line;
    for (;;) {
        line.clear();
        bool cut = false;
        int c;
        while ((c = std::getc(stdin)) != EOF && c != '\n') {
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
bool skip_bytes(size_t n) {
    std::array<char, 16384> scratch;
    while (n > 0) {
        size_t want = n < scratch.size() ? n : scratch.size();
        size_t got = std::fread(scratch.data(), 1, want, stdin);
        if (got == 0) return false;
        n -= got;
    }
    return true;
}

}  // namespace

void vl_lsp_start_server(VlArena*) {
    vl_platform_stdin_binary();
    vl_platform_stdout_binary();
    vl_platform_ignore_broken_pipe();  // an editor that goes away ends the server quietly
    std::fwrite(STARTUP_LINE.data(), 1, STARTUP_LINE.size(), stderr);
    std::fflush(stderr);

    for (;;) {
        Header header = read_header();
        if (header.block == Block::ended) return;
        if (header.block == Block::unusable) continue;
        std::string content;
        bool stored = header.length <= MAX_CONTENT;
        if (stored) {
            try {
                content.resize(header.length);
            } catch (const std::bad_alloc&) {
                stored = false;
            }
        }
        if (!stored) {
            if (!skip_bytes(header.length)) return;
            continue;
        }
        if (std::fread(content.data(), 1, content.size(), stdin) != content.size()) return;
        bool go_on = true;
        try {
            go_on = handle_message(content);
        } catch (const std::exception&) {
            // Only memory exhaustion gets here; the message is dropped.
        }
        if (!go_on) return;
    }
}
