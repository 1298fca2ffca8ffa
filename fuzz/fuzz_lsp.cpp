// The language server on a byte stream: either the input itself (framing),
// or messages decoded from it (every method, documents opened and changed
// in whole or by range, every request at any position or range, with or
// without the full feature set asked for in initialize).  Whatever comes in,
// the server must end with 0 or 1 and write nothing but frames whose
// Content-Length is right and whose body is a JSON-RPC message.
#include <stdio_ext.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "fuzz_input.h"

#include "vllsp.h"

namespace {

using json = nlohmann::json;

using Input = FuzzInput;

constexpr const char* URIS[] = {"file:///a.velm", "file:///b.velm", "untitled:1"};

int64_t coordinate(Input& in) {
    static constexpr int64_t far[] = {-1, 1 << 16, int64_t{1} << 31, int64_t{1} << 53, INT64_MAX, INT64_MIN};
    uint8_t b = in.byte();
    return b < 0xF0 ? b % 24 : far[b % 6];
}

json position(Input& in) { return {{"line", coordinate(in)}, {"character", coordinate(in)}}; }

json document_id(Input& in) {
    size_t which = in.pick(6);  // mostly the first: the one a stream may begin by opening
    return {{"uri", URIS[which < 4 ? 0 : which - 3]}, {"version", in.pick(4) ? json(in.byte()) : json("seven")}};
}

// Text from the input; bytes that are not UTF-8 become U+FFFD on the way
// into JSON, as an editor would have to send them.
json text(Input& in) {
    return json::parse(json(in.bytes(200)).dump(-1, ' ', false, json::error_handler_t::replace));
}

// A document: the input's bytes, or often a script of statements and
// surprises, so that the requests meet names, loops, skipped lines and
// groupings to work on.
json document_text(Input& in) {
    static constexpr const char* pieces[] = {
        "store x = 1\n", "display x plus y\n", "count i from 1 to 3\n", "stop\n", "check x same 2\n",
        "otherwise\n",   "x = 5\n",            "// a comment\n",        "display \"a\" minus i\n",
        "display 2 plus 3 into 4 divided by x\n", "    ", "\r\n", "store y (x big 1\n", "display é😀 ", "start\n",
        "store 5 = 1\n"};
    if (in.pick(3) == 0) return text(in);
    std::string script;
    for (size_t n = in.pick(16); n > 0; n--) script += pieces[in.pick(std::size(pieces))];
    return script;
}

json range(Input& in) { return {{"start", position(in)}, {"end", position(in)}}; }

// Names that the rename checks tell apart: fresh, a keyword, not a name,
// likely already in the document, or anything.
json new_name(Input& in) {
    static constexpr const char* names[] = {"fresh", "count", "1x", "x", "i", "", "divided by", "_a9"};
    return in.pick(4) ? json(names[in.pick(8)]) : text(in);
}

json initialize(Input& in) {
    json capabilities = json::object();
    if (in.pick(2)) capabilities["textDocument"]["publishDiagnostics"] = json::object();
    if (in.pick(2)) capabilities["textDocument"]["documentSymbol"]["hierarchicalDocumentSymbolSupport"] = in.pick(2) == 1;
    json params = {{"capabilities", capabilities}};
    switch (in.pick(4)) {
        case 0: break;
        case 1: params["initializationOptions"] = {{"features", in.pick(8) ? json("all") : text(in)}}; break;
        default: params["initializationOptions"] = {{"features", "all"}}; break;  // most runs get the full set
    }
    return params;
}

// The requests of the full feature set.  A code action's context names
// made-up diagnostics, which the server must not take on trust.
constexpr const char* AT_POSITION[] = {"textDocument/references", "textDocument/documentHighlight",
                                       "textDocument/prepareRename", "textDocument/rename",
                                       "textDocument/completion"};
constexpr const char* ON_DOCUMENT[] = {"textDocument/documentSymbol", "textDocument/formatting",
                                       "textDocument/foldingRange", "textDocument/semanticTokens/full"};
constexpr const char* ON_RANGE[] = {"textDocument/codeAction", "textDocument/inlayHint"};

json full_request(Input& in, json& m) {
    json params = {{"textDocument", document_id(in)}};
    switch (in.pick(3)) {
        case 0: {
            const char* method = AT_POSITION[in.pick(5)];
            m["method"] = method;
            params["position"] = position(in);
            if (std::string_view(method) == "textDocument/references")
                params["context"] = {{"includeDeclaration", in.pick(2) == 1}};
            if (std::string_view(method) == "textDocument/rename") params["newName"] = new_name(in);
            break;
        }
        case 1:
            m["method"] = ON_DOCUMENT[in.pick(4)];
            if (in.pick(2)) params["options"] = {{"tabSize", in.byte()}, {"insertSpaces", in.pick(2) == 1}};
            break;
        default: {
            const char* method = ON_RANGE[in.pick(2)];
            m["method"] = method;
            params["range"] = range(in);
            if (std::string_view(method) == "textDocument/codeAction") {
                json diagnostics = json::array();
                for (size_t n = in.pick(3); n > 0; n--)
                    diagnostics.push_back({{"range", range(in)}, {"message", text(in)}, {"code", "reads-zero"}});
                params["context"] = {{"diagnostics", diagnostics}};
            }
            break;
        }
    }
    if (in.pick(16) == 0) params.erase(in.pick(2) ? "textDocument" : "position");  // a malformed one
    return params;
}

json message(Input& in, int& next_id) {
    json m = {{"jsonrpc", "2.0"}};
    json id = next_id++;
    switch (in.pick(4)) {
        case 0: id = std::to_string(next_id); break;
        case 1: if (in.pick(8) == 0) id = json::array({1}); break;
        default: break;
    }
    json params;
    switch (in.pick(19)) {
        case 0:
            m["method"] = "initialize";
            params = in.pick(8) ? initialize(in) : json::object();
            break;
        case 1: m["method"] = "initialized"; id = nullptr; params = json::object(); break;
        case 2:
        case 3: {
            m["method"] = "textDocument/didOpen";
            id = nullptr;
            json doc = document_id(in);
            doc["languageId"] = "velmorine";
            doc["text"] = document_text(in);
            params = {{"textDocument", doc}};
            break;
        }
        case 4:
        case 5: {
            m["method"] = "textDocument/didChange";
            id = nullptr;
            json changes = json::array();
            for (size_t n = in.pick(3) + 1; n > 0; n--) {
                json change = {{"text", in.pick(2) ? text(in) : document_text(in)}};
                if (in.pick(2)) change["range"] = range(in);
                changes.push_back(change);
            }
            params = {{"textDocument", document_id(in)}, {"contentChanges", changes}};
            break;
        }
        case 6: m["method"] = "textDocument/didClose"; id = nullptr; params = {{"textDocument", document_id(in)}}; break;
        case 7:
        case 8:
            m["method"] = "textDocument/hover";
            params = {{"textDocument", document_id(in)}, {"position", position(in)}};
            break;
        case 9:
        case 10:
            m["method"] = "textDocument/definition";
            params = {{"textDocument", document_id(in)}, {"position", position(in)}};
            break;
        case 11: m["method"] = "textDocument/completion"; params = {{"textDocument", document_id(in)}}; break;
        case 15:
        case 16:
        case 17:
        case 18: params = full_request(in, m); break;
        case 12: m["method"] = "completionItem/resolve"; params = in.pick(2) ? json{{"label", text(in)}} : json(7); break;
        case 13: m["method"] = in.pick(8) ? "shutdown" : "exit"; break;
        default: m["method"] = in.pick(2) ? "$/cancelRequest" : "workspace/unknown"; params = {{"id", 1}}; break;
    }
    if (!id.is_null()) m["id"] = id;
    if (!params.is_null()) m["params"] = params;
    return m;
}

std::string frame(const json& message) {
    std::string body = message.dump();
    return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string stream(Input& in) {
    std::string out;
    int next_id = 1;
    // Half the streams begin as a client of the full feature set that has
    // opened a script, so that the requests after it reach their answers.
    if (in.pick(2)) {
        out += frame({{"jsonrpc", "2.0"}, {"id", 0}, {"method", "initialize"},
                      {"params", {{"capabilities", json::object()}, {"initializationOptions", {{"features", "all"}}}}}});
        out += frame({{"jsonrpc", "2.0"}, {"method", "textDocument/didOpen"},
                      {"params", {{"textDocument", {{"uri", URIS[0]}, {"languageId", "velmorine"}, {"version", 1},
                                                    {"text", document_text(in)}}}}}});
    }
    while (in.more()) {
        std::string body = message(in, next_id).dump();
        size_t length = body.size();
        switch (in.pick(16)) {
            case 0: length += in.pick(5); break;                       // too long: eats the next header
            case 1: length -= in.pick(std::min<size_t>(length, 5)); break;  // too short
            case 2: body = in.bytes(64); length = body.size(); break;  // content that is no JSON
            default: break;
        }
        out += "Content-Length: " + std::to_string(length) + "\r\n";
        if (in.pick(4) == 0) out += "Content-Type: application/vscode-jsonrpc; charset=utf-8\r\n";
        out += "\r\n" + body;
    }
    return out;
}

// Every frame the server wrote: header, empty line, exactly that many bytes
// of JSON-RPC.
void check_frames(std::string_view out) {
    while (!out.empty()) {
        constexpr std::string_view head = "Content-Length: ";
        size_t end = out.find("\r\n\r\n");
        if (out.substr(0, head.size()) != head || end == std::string_view::npos) std::abort();
        size_t length = std::strtoull(std::string(out.substr(head.size(), end)).c_str(), nullptr, 10);
        out.remove_prefix(end + 4);
        if (length > out.size()) std::abort();
        json body = json::parse(out.substr(0, length), nullptr, false);
        if (body.is_discarded() || !body.is_object() || body.value("jsonrpc", "") != "2.0") std::abort();
        out.remove_prefix(length);
    }
}

FILE* scratch() {
    FILE* file = std::tmpfile();
    if (!file) std::abort();
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FILE* input = scratch();
    static FILE* output = scratch();
    Input in{data, size};
    std::string bytes = in.byte() & 1 ? std::string(reinterpret_cast<const char*>(data + 1), size ? size - 1 : 0)
                                      : stream(in);
    int in_fd = fileno(input), out_fd = fileno(output);
    if (ftruncate(in_fd, 0) != 0 || pwrite(in_fd, bytes.data(), bytes.size(), 0) != ssize_t(bytes.size()) ||
        lseek(in_fd, 0, SEEK_SET) != 0)
        std::abort();

    std::fflush(stdout);
    int saved_in = dup(0), saved_out = dup(1);
    if (saved_in < 0 || saved_out < 0 || dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0) std::abort();
    __fpurge(stdin);  // what an earlier run left unread
    clearerr(stdin);
    VlArena* arena = vl_arena_create(0);
    int code = vl_lsp_start_server(arena);
    vl_arena_destroy(arena);
    std::fflush(stdout);
    dup2(saved_in, 0);
    dup2(saved_out, 1);
    close(saved_in);
    close(saved_out);
    __fpurge(stdin);
    clearerr(stdin);

    std::string written(size_t(lseek(out_fd, 0, SEEK_END)), '\0');
    if (pread(out_fd, written.data(), written.size(), 0) != ssize_t(written.size())) std::abort();
    if (ftruncate(out_fd, 0) != 0 || lseek(out_fd, 0, SEEK_SET) != 0) std::abort();
    if (code != 0 && code != 1) std::abort();
    check_frames(written);
    return 0;
}
