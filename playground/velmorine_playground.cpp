// The playground's module: the analysis and the debugger's engine behind a
// few exported functions that take and give text (JSON answers), for
// playground/velmorine.mjs.  Runs go through the driver itself
// (velmorine.wasm), so that they print what `velmorine script.velm` prints.
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "vl_analysis.h"
#include "vl_debugger.h"
#include "vllsp_document.h"

#if defined(__wasm__)
#define VL_EXPORT(name) extern "C" __attribute__((export_name(name)))
#else
#define VL_EXPORT(name) extern "C"
#endif

using json = nlohmann::json;

namespace {

std::string answer;  // the last answer, alive until the next call

// Bytes that are not UTF-8 become U+FFFD, so that the answer always parses.
const char* answer_with(const json& value) {
    answer = value.dump(-1, ' ', false, json::error_handler_t::replace);
    return answer.c_str();
}

const char* severity_name(VlSeverity severity) {
    switch (severity) {
        case VlSeverity::error: return "error";
        case VlSeverity::warning: return "warning";
        case VlSeverity::information: return "info";
        default: return "hint";
    }
}

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
    json answer_value = {{"reason", reason_name(reason)},
                         {"ended", session->ended()},
                         {"history", session->history_statements()},
                         {"output", session_output},
                         {"names", json::array()}};
    session_output.clear();
    if (const VlDebugStatement* statement = session->current_statement()) {
        answer_value["line"] = statement->line;
        answer_value["column"] = statement->column;
    }
    if (reason == VlStopReason::refused) answer_value["refusal"] = session->refusal();
    if (!session->ended()) {
        for (const VlDebugVariable& name : session->names())
            answer_value["names"].push_back({{"name", name.name}, {"value", name.value}, {"type", name.type}});
    }
    return answer_with(answer_value);
}

}  // namespace

VL_EXPORT("pg_alloc") char* pg_alloc(size_t size) { return static_cast<char*>(std::malloc(size + 1)); }

VL_EXPORT("pg_free") void pg_free(char* memory) { std::free(memory); }

// The keywords with the meaning that a hover shows.
VL_EXPORT("pg_keywords") const char* pg_keywords() {
    json keywords = json::array();
#define VL_KEYWORD(token, spelling, detail, meaning) keywords.push_back({{"word", spelling}, {"meaning", meaning}});
#include "vl_keywords.h"
#undef VL_KEYWORD
    return answer_with(keywords);
}

// The syntax errors and the surprises of `text` (NUL-terminated), in text
// order, at the editor's places: 0-based lines (ending at LF, CR LF or CR)
// and UTF-16 units within the line, as the language server gives them.
VL_EXPORT("pg_analyse") const char* pg_analyse(const char* text) {
    VlLspDocument document(text);
    json findings = json::array();
    for (const VlFinding& finding : document.analysis().findings) {
        VlLspRange range = document.range(finding.span);
        findings.push_back({{"line", range.start.line},
                            {"character", range.start.character},
                            {"endLine", range.end.line},
                            {"endCharacter", range.end.character},
                            {"severity", severity_name(finding.severity)},
                            {"code", finding.code},
                            {"message", finding.message}});
    }
    return answer_with(findings);
}

// A debugging session over `text`, stopped at its first statement:
// {"error": ...} when it would not run.
VL_EXPORT("pg_debug_load") const char* pg_debug_load(const char* text) {
    session = std::make_unique<VlDebugger>();
    session_output.clear();
    session->set_output([](std::string_view line, VlDebugOutputKind) { session_output += line; });
    if (!session->load(text)) {
        const char* error = answer_with({{"error", session->error()}});
        session.reset();
        return error;
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
