// The playground's module: the analysis and the debugger's engine behind a
// few exported functions that take and give text (JSON answers), for
// playground/velmorine.mjs.  Runs go through the driver itself
// (velmorine.wasm), so that they print what `velmorine script.velm` prints.
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <vector>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "vl_analysis.h"
#include "vl_debugger.h"
#include "vl_utf8.h"

#if defined(__wasm__)
#define VL_EXPORT(name) extern "C" __attribute__((export_name(name)))
#else
#define VL_EXPORT(name) extern "C"
#endif

namespace {

// JSON text for bytes that may not be UTF-8: a byte outside a valid
// sequence becomes U+FFFD, so the answer always parses.
void append_json_string(std::string& out, const std::string& text) {
    out += '"';
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.c_str());
    for (size_t i = 0; i < text.size();) {
        const unsigned char byte = bytes[i];
        if (byte >= 0x80) {
            VlCodePoint point = vl_utf8_next(bytes + i);
            if (point.well_formed)
                out.append(text, i, point.bytes);
            else
                out += "\xEF\xBF\xBD";
            i += point.bytes;
            continue;
        }
        switch (byte) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (byte < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                    out += escaped;
                } else {
                    out += static_cast<char>(byte);
                }
        }
        i++;
    }
    out += '"';
}

// Where a byte offset is for the editor: its UTF-16 offset in the text, and
// its line and column (from 1, the column in UTF-16 units).
struct Place {
    size_t utf16;
    int32_t line;
    int32_t column;
};

class Places {
public:
    explicit Places(std::string_view text) : text_(text) {}
    // Offsets must come in increasing order.
    Place at(size_t offset) {
        offset = std::min(offset, text_.size());
        while (byte_ < offset) {
            const auto byte = static_cast<unsigned char>(text_[byte_]);
            if ((byte & 0xC0) != 0x80) {
                unit_ += byte >= 0xF0 ? 2 : 1;
                column_ += byte >= 0xF0 ? 2 : 1;
            }
            if (byte == '\n') {
                line_++;
                column_ = 1;
            }
            byte_++;
        }
        return Place{unit_, line_, column_};
    }

private:
    std::string_view text_;
    size_t byte_ = 0, unit_ = 0;
    int32_t line_ = 1, column_ = 1;
};

const char* severity_name(VlSeverity severity) {
    switch (severity) {
        case VlSeverity::error: return "error";
        case VlSeverity::warning: return "warning";
        case VlSeverity::information: return "info";
        default: return "hint";
    }
}

std::string answer;  // the last answer, alive until the next call

std::unique_ptr<VlDebugger> session;
std::string session_output;  // displays since the last answer

const char* reason_name(VlStopReason reason) {
    switch (reason) {
        case VlStopReason::running: return "running";
        case VlStopReason::entry: return "entry";
        case VlStopReason::step: return "step";
        case VlStopReason::breakpoint: return "breakpoint";
        case VlStopReason::pause: return "pause";
        case VlStopReason::refused: return "refused";
        case VlStopReason::ended: return "ended";
    }
    return "step";
}

const char* state(VlStopReason reason) {
    answer = "{\"reason\":\"";
    answer += reason_name(reason);
    answer += "\"";
    if (const VlDebugStatement* statement = session->current_statement()) {
        answer += ",\"line\":" + std::to_string(statement->line) + ",\"column\":" + std::to_string(statement->column);
    }
    answer += ",\"ended\":";
    answer += session->ended() ? "true" : "false";
    answer += ",\"history\":" + std::to_string(session->history_statements());
    if (reason == VlStopReason::refused) {
        answer += ",\"refusal\":";
        append_json_string(answer, session->refusal());
    }
    answer += ",\"output\":";
    append_json_string(answer, session_output);
    session_output.clear();
    answer += ",\"names\":[";
    bool first = true;
    for (const VlDebugVariable& name : session->ended() ? std::vector<VlDebugVariable>{} : session->names()) {
        if (!first) answer += ',';
        first = false;
        answer += "{\"name\":";
        append_json_string(answer, name.name);
        answer += ",\"value\":";
        append_json_string(answer, name.value);
        answer += ",\"type\":";
        append_json_string(answer, name.type);
        answer += '}';
    }
    answer += "]}";
    return answer.c_str();
}

}  // namespace

VL_EXPORT("pg_alloc") char* pg_alloc(size_t size) { return static_cast<char*>(std::malloc(size + 1)); }

VL_EXPORT("pg_free") void pg_free(char* memory) { std::free(memory); }

// The keywords with the meaning that a hover shows.
VL_EXPORT("pg_keywords") const char* pg_keywords() {
    answer = "[";
#define VL_KEYWORD(token, spelling, detail, meaning)                                \
    if (answer.size() > 1) answer += ',';                                           \
    answer += "{\"word\":";                                                          \
    append_json_string(answer, spelling);                                           \
    answer += ",\"meaning\":";                                                       \
    append_json_string(answer, meaning);                                            \
    answer += '}';
#include "vl_keywords.h"
#undef VL_KEYWORD
    answer += ']';
    return answer.c_str();
}

// The syntax errors and the surprises of `text` (NUL-terminated), in text order.
VL_EXPORT("pg_analyse") const char* pg_analyse(const char* text) {
    VlAnalysis analysis = vl_analyse(text);
    std::string_view source(text);
    Places places(source);
    answer = "[";
    for (const VlFinding& finding : analysis.findings) {
        Place from = places.at(finding.span.offset);
        if (answer.size() > 1) answer += ',';
        answer += "{\"from\":" + std::to_string(from.utf16) + ",\"line\":" + std::to_string(from.line) +
                  ",\"column\":" + std::to_string(from.column);
        // The end's place without disturbing the walk: the span is on one line or a few.
        Places ahead = places;
        Place to = ahead.at(finding.span.end());
        answer += ",\"to\":" + std::to_string(to.utf16) + ",\"severity\":\"" + severity_name(finding.severity) +
                  "\",\"code\":";
        append_json_string(answer, std::string(finding.code));
        answer += ",\"message\":";
        append_json_string(answer, finding.message);
        answer += '}';
    }
    answer += ']';
    return answer.c_str();
}

// A debugging session over `text`, stopped at its first statement:
// {"error": ...} when it would not run.
VL_EXPORT("pg_debug_load") const char* pg_debug_load(const char* text) {
    session = std::make_unique<VlDebugger>();
    session_output.clear();
    session->set_output([](std::string_view line, VlDebugOutputKind) { session_output += line; });
    if (!session->load(text)) {
        answer = "{\"error\":";
        append_json_string(answer, session->error());
        answer += '}';
        session.reset();
        return answer.c_str();
    }
    return state(session->enter());
}

// One motion: 0 the next statement, 1 back, 2 to the end (or a breakpoint),
// 3 out of a count, 4 one instruction, 5 one instruction back.
VL_EXPORT("pg_debug_move") const char* pg_debug_move(int motion) {
    if (!session) return "{\"error\":\"No script is being stepped through.\"}";
    static constexpr VlMotion MOTIONS[] = {VlMotion::step,     VlMotion::back,        VlMotion::proceed,
                                           VlMotion::step_out, VlMotion::instruction, VlMotion::back_instruction};
    if (motion < 0 || motion >= static_cast<int>(std::size(MOTIONS))) return "{\"error\":\"No such motion.\"}";
    VlStopReason reason = session->start(MOTIONS[motion]);
    while (reason == VlStopReason::running) reason = session->advance(uint64_t{1} << 20);
    return state(reason);
}
