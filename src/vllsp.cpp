// Language server: JSON-RPC 2.0 messages over standard input and output, each
// framed by a "Content-Length" header block.  Initialize, completion and
// shutdown get fixed bodies in which only the id changes; the open documents
// are kept so that their syntax errors, hovers and definitions can be given.
// A client that asks for the full feature set ("initializationOptions":
// {"features": "all"}) gets the surprises and the editing features too
// (vllsp_features).  After shutdown the server waits for exit, as the
// protocol has it.
#include "vllsp.h"
#include "vl_exceptions.h"
#include "vl_framing.h"
#include "vl_output.h"
#include "vllsp_document.h"
#include "vllsp_features.h"
#include "vllsp_json.h"
#include "vl_platform.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <initializer_list>
#include <optional>
#include <new>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace {

using json = nlohmann::json;

constexpr size_t MAX_CONTENT = size_t{64} << 20;  // larger contents are skipped unread
constexpr int MAX_DEPTH = 256;                      // nesting of arrays and objects in one message

constexpr std::string_view STARTUP_LINE = "[VLLSP] Pure C Language Server v3.0 Started over stdio.\n";

// Response bodies around the request's id.
constexpr std::string_view REPLY_HEAD = "{\"jsonrpc\":\"2.0\",\"id\":";
constexpr std::string_view INITIALIZE_RESULT =
    ",\"result\":{\"capabilities\":{\"textDocumentSync\":1,\"completionProvider\":"
    "{\"resolveProvider\":true},\"hoverProvider\":true,\"definitionProvider\":true}}}";
// The keywords that have a completion detail, in the keyword list's order.
const std::string& completion_result() {
    static const std::string result = [] {
        std::string items;
        auto add = [&items](std::string_view spelling, std::string_view detail) {
            if (detail.empty()) return;
            if (!items.empty()) items += ',';
            items += "{\"label\":\"" + std::string(spelling) + "\",\"kind\":14,\"detail\":\"" + std::string(detail) + "\"}";
        };
#define VL_KEYWORD(token, spelling, detail, meaning) add(spelling, detail);
#include "vl_keywords.h"
        return ",\"result\":[" + items + "]}";
    }();
    return result;
}
constexpr std::string_view NULL_RESULT = ",\"result\":null}";

// JSON-RPC error codes.
constexpr int PARSE_ERROR = -32700;
constexpr int INVALID_REQUEST = -32600;
constexpr int METHOD_NOT_FOUND = -32601;
constexpr int INVALID_PARAMS = -32602;

// Writes one frame and flushes it; false once nobody reads our output.
bool send_frame(std::string_view body) {
    return vl_frame_write(stdout, body, "Content-Type: application/vscode-jsonrpc; charset=utf-8\r\n");
}

bool send_reply(std::string_view id, std::string_view tail) {
    std::string body;
    body.reserve(REPLY_HEAD.size() + id.size() + tail.size());
    body.append(REPLY_HEAD).append(id).append(tail);
    return send_frame(body);
}

bool send_error(std::string_view id, int code, std::string_view message) {
    std::string tail = ",\"error\":{\"code\":" + std::to_string(code) + ",\"message\":";
    tail.append(json(message).dump()).append("}}");
    return send_reply(id, tail);
}

// A window/showMessage error.
bool send_notice(std::string_view message) {
    json note = {{"jsonrpc", "2.0"},
                 {"method", "window/showMessage"},
                 {"params", {{"type", 1}, {"message", message}}}};
    return send_frame(note.dump());
}

// ---- messages -------------------------------------------------------------

json version_of(const json& params) {
    const json* version = vl_lsp_path(params, {"textDocument", "version"});
    return version ? *version : json();
}

// ---- the language guide ----

// A file URL of a path: "/" and the drive of a Windows path kept, every
// other byte outside the unreserved set percent-encoded.
std::string file_url(std::string path) {
    if (path.rfind("\\\\?\\", 0) == 0) path.erase(0, 4);  // a Windows final path's prefix
    for (char& c : path)
        if (c == '\\') c = '/';
    if (path.size() > 1 && path[1] == ':') path.insert(0, "/");
    static constexpr char HEX[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     std::string_view("-._~/:").find(char(c)) != std::string_view::npos;
        if (plain) {
            url += char(c);
        } else {
            url += '%';
            url += HEX[c >> 4];
            url += HEX[c & 15];
        }
    }
    return url;
}

// The language guide beside the program, for the links of the surprises:
// in an unpacked download (bin/../docs), a Debian install
// (bin/../share/doc/velmorine/docs) or a build tree (build/<lane>/../../docs).
// Empty when it is in none of those places.
std::string guide_url() {
    std::string program = vl_platform_executable_path();
    size_t slash = program.find_last_of("/\\");
    if (slash == std::string::npos) return {};
    std::string folder = program.substr(0, slash + 1);
    for (const char* place : {"../docs/language.md", "../share/doc/velmorine/docs/language.md", "../../docs/language.md"}) {
        std::string found = vl_platform_link_target((folder + place).c_str());
        if (!found.empty() && vl_platform_path_info(found.c_str()).kind == VlPathKind::regular) return file_url(found);
    }
    return {};
}

struct Document {
    std::string text;
    json version;  // as the client numbered it, or null
    std::unique_ptr<VlLspDocument> analysed;  // made when first needed after a change

    const VlLspDocument& view() {
        if (!analysed) analysed = std::make_unique<VlLspDocument>(text);
        return *analysed;
    }
};

struct Server {
    bool shut_down = false;
    bool publishes_diagnostics = false;  // the client said it wants them
    bool full = false;                   // the client asked for the full feature set
    VlLspClient client;
    std::string guide;                   // URL of the language guide, or empty
    std::unordered_map<std::string, Document> documents;
};

enum class Next { serve, end_ok, end_failed };

Next served(bool sent) { return sent ? Next::serve : Next::end_ok; }

bool publish(const Server& server, const std::string& uri, Document* document) {
    if (!server.publishes_diagnostics && !server.full) return true;
    json diagnostics = document ? vl_lsp_diagnostics(document->view(), server.full, server.guide) : json::array();
    json params = {{"uri", uri}, {"diagnostics", std::move(diagnostics)}};
    if (document && document->version.is_number_integer()) params["version"] = document->version;
    json note = {{"jsonrpc", "2.0"}, {"method", "textDocument/publishDiagnostics"}, {"params", std::move(params)}};
    return send_frame(note.dump(-1, ' ', false, json::error_handler_t::replace));
}

// Full text, or (from a client that sends them although we ask for full
// text) a replacement of the range.
void apply_change(Document& document, const json& change) {
    const json* text = vl_lsp_member(change, "text");
    if (!text || !text->is_string()) return;
    const std::string& replacement = text->get_ref<const std::string&>();
    document.analysed.reset();
    const json* range = vl_lsp_member(change, "range");
    if (!range) {
        document.text = replacement;
        return;
    }
    std::optional<VlLspPosition> start = vl_lsp_position_of(vl_lsp_member(*range, "start"));
    std::optional<VlLspPosition> end = vl_lsp_position_of(vl_lsp_member(*range, "end"));
    if (!start || !end) return;
    const VlLspDocument view(document.text, false);
    std::optional<size_t> from = view.offset(*start);
    std::optional<size_t> to = view.offset(*end);
    if (from && to && *from <= *to) document.text.replace(*from, *to - *from, replacement);
}

// Notifications: never answered.
Next notice(Server& server, const std::string& method, const json& params) {
    if (method == "exit") return server.shut_down ? Next::end_ok : Next::end_failed;
    if (server.shut_down) return Next::serve;
    const std::string* uri = vl_lsp_string_at(params, {"textDocument", "uri"});
    if (!uri) return Next::serve;
    if (method == "textDocument/didOpen") {
        const std::string* text = vl_lsp_string_at(params, {"textDocument", "text"});
        if (!text) return Next::serve;
        Document& document = server.documents[*uri];
        document.text = *text;
        document.version = version_of(params);
        document.analysed.reset();
        return served(publish(server, *uri, &document));
    }
    if (method == "textDocument/didChange") {
        auto it = server.documents.find(*uri);
        const json* changes = vl_lsp_member(params, "contentChanges");
        if (it == server.documents.end() || !changes || !changes->is_array()) return Next::serve;
        for (const json& change : *changes) apply_change(it->second, change);
        it->second.version = version_of(params);
        return served(publish(server, *uri, &it->second));
    }
    if (method == "textDocument/didClose") {
        if (server.documents.erase(*uri) == 0) return Next::serve;
        return served(publish(server, *uri, nullptr));
    }
    return Next::serve;
}

// Hover and definition: null for a document that was never opened.
std::string answer_at(Server& server, const std::string& method, const json& params, bool* valid) {
    const std::string* uri = vl_lsp_string_at(params, {"textDocument", "uri"});
    std::optional<VlLspPosition> at = vl_lsp_position_of(vl_lsp_member(params, "position"));
    *valid = uri && at;
    if (!*valid) return {};
    auto it = server.documents.find(*uri);
    if (it == server.documents.end()) return "null";
    if (method == "textDocument/hover") {
        std::optional<VlLspHover> hover = it->second.view().hover(*at);
        if (!hover) return "null";
        json result = {{"contents", {{"kind", "markdown"}, {"value", hover->markdown}}},
                       {"range", vl_lsp_json(hover->range)}};
        return result.dump();
    }
    std::optional<VlLspRange> place = it->second.view().definition(*at);
    if (!place) return "null";
    return json({{"uri", *uri}, {"range", vl_lsp_json(*place)}}).dump();
}

Next request(Server& server, const std::string& id, const std::string& method, const json* params) {
    if (server.shut_down) return served(send_error(id, INVALID_REQUEST, "Invalid Request"));
    if (method == "initialize") {
        server.publishes_diagnostics =
            params && vl_lsp_path(*params, {"capabilities", "textDocument", "publishDiagnostics"}) != nullptr;
        const std::string* features = params ? vl_lsp_string_at(*params, {"initializationOptions", "features"}) : nullptr;
        server.full = features && *features == "all";
        if (server.full) server.guide = guide_url();
        const json* hierarchical =
            params ? vl_lsp_path(*params, {"capabilities", "textDocument", "documentSymbol", "hierarchicalDocumentSymbolSupport"})
                   : nullptr;
        server.client.hierarchical_symbols = hierarchical && hierarchical->is_boolean() && hierarchical->get<bool>();
        if (!server.full) return served(send_reply(id, INITIALIZE_RESULT));
        json result = {{"capabilities", vl_lsp_full_capabilities()}};
        return served(send_reply(id, ",\"result\":" + result.dump() + "}"));
    }
    if (server.full && params && params->is_object()) {
        const std::string* uri = vl_lsp_string_at(*params, {"textDocument", "uri"});
        auto it = uri ? server.documents.find(*uri) : server.documents.end();
        const VlLspDocument* document = it == server.documents.end() ? nullptr : &it->second.view();
        VlLspReply reply;
        if (uri && vl_lsp_answer(method, *params, document, *uri, server.client, &reply)) {
            if (!reply.notice.empty() && !send_notice(reply.notice)) return Next::end_ok;
            if (reply.error_code) return served(send_error(id, reply.error_code, reply.error_message));
            std::string result = reply.written.empty()
                                     ? reply.result.dump(-1, ' ', false, json::error_handler_t::replace)
                                     : std::move(reply.written);
            return served(send_reply(id, ",\"result\":" + result + "}"));
        }
    }
    if (method == "textDocument/completion") return served(send_reply(id, completion_result()));
    if (method == "shutdown") {
        server.shut_down = true;
        return served(send_reply(id, NULL_RESULT));
    }
    if (method == "completionItem/resolve") {
        if (!params || !params->is_object()) return served(send_error(id, INVALID_PARAMS, "Invalid params"));
        return served(send_reply(id, ",\"result\":" + params->dump() + "}"));
    }
    if (method == "textDocument/hover" || method == "textDocument/definition") {
        bool valid = false;
        std::string result = params ? answer_at(server, method, *params, &valid) : std::string();
        if (!valid) return served(send_error(id, INVALID_PARAMS, "Invalid params"));
        return served(send_reply(id, ",\"result\":" + result + "}"));
    }
    return served(send_error(id, METHOD_NOT_FOUND, "Method not found"));
}

Next handle_message(Server& server, std::string_view content) {
    int depth = 0;
    json::parser_callback_t measure = [&depth](int level, json::parse_event_t, json&) {
        depth = std::max(depth, level);
        return true;
    };
    json msg = json::parse(content, measure, false);
    if (msg.is_discarded()) return served(send_error("null", PARSE_ERROR, "Parse error"));
    if (!msg.is_object()) return Next::serve;

    // Only a number or a string is a usable id; without one the message is a
    // notification (or a malformed one) and gets no answer.
    std::string id;
    if (const json* given = vl_lsp_member(msg, "id"); given && (given->is_number() || given->is_string()))
        id = given->dump();

    const json* method = vl_lsp_member(msg, "method");
    if (!method || !method->is_string()) {
        // A response to a request of ours (we send none) or a broken request.
        bool response = msg.contains("result") || msg.contains("error");
        if (id.empty() || response) return Next::serve;
        return served(send_error(id, INVALID_REQUEST, "Invalid Request"));
    }
    // Writing a value out again recurses once per level, so a message nested
    // deeper than any protocol message is refused before anything reads it.
    if (depth > MAX_DEPTH) return id.empty() ? Next::serve : served(send_error(id, INVALID_REQUEST, "Invalid Request"));
    const std::string& name = method->get_ref<const std::string&>();
    const json* params = vl_lsp_member(msg, "params");
    if (id.empty()) return notice(server, name, params ? *params : json());
    return request(server, id, name, params);
}

// A window/showMessage error saying that a message of `length` bytes was
// skipped unread; built without the heap, which may be what refused it.
bool send_skip_notice(size_t length) {
    char body[320];
    int n = std::snprintf(body, sizeof body,
                          "{\"jsonrpc\":\"2.0\",\"method\":\"window/showMessage\",\"params\":{\"type\":1,"
                          "\"message\":\"velmorine: a message of %zu bytes is larger than the server can hold "
                          "(%zu bytes at most); it was skipped.\"}}",
                          length, MAX_CONTENT);
    return n > 0 && static_cast<size_t>(n) < sizeof body && send_frame(std::string_view(body, static_cast<size_t>(n)));
}

}  // namespace

int vl_lsp_start_server(VlArena*) {
    vl_platform_stdin_binary();
    vl_platform_stdout_binary();
    vl_platform_ignore_broken_pipe();  // an editor that goes away ends the server quietly
    vl_write(stderr, STARTUP_LINE);
    std::fflush(stderr);

    Server server;
    VlFrameReader reader(stdin, MAX_CONTENT);
    for (;;) {
        VlFrame frame = reader.next();
        if (frame.status == VlFrameStatus::ended) return 0;
        if (frame.status == VlFrameStatus::unusable) continue;
        if (frame.status == VlFrameStatus::too_large) {
            // The client hears why nothing comes of its message (a document
            // too large to hold, say) before the server reads past it.
            if (!send_skip_notice(frame.length) || !reader.skip(frame)) return 0;
            continue;
        }
        const std::string& content = frame.content;
        Next next = Next::serve;
        VL_TRY {
            next = handle_message(server, content);
        } VL_CATCH(const std::exception&) {
            // Only memory exhaustion gets here; the message is dropped.
        }
        if (next == Next::end_ok) return 0;
        if (next == Next::end_failed) return 1;
    }
}
