// The debug adapter on a byte stream: either the input itself, read by the
// framing reader, or requests decoded from it (every command, with arguments
// of every shape, over scripts that run, fail to load or do not exist).
// Whatever comes in, every message the adapter sends must be a protocol
// message, and a run must come to a stop or an end.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "fuzz_input.h"
#include "vl_framing.h"
#include "vldap.h"

namespace {

using json = nlohmann::json;

constexpr const char* SCRIPT = "fuzz_dap_script.velm";
constexpr const char* BROKEN = "fuzz_dap_broken.velm";
constexpr const char* PROGRAMS[] = {SCRIPT, BROKEN, "fuzz_dap_missing.velm", ""};
constexpr const char* COMMANDS[] = {
    "initialize", "launch", "configurationDone", "setBreakpoints", "breakpointLocations",
    "setExceptionBreakpoints", "threads", "stackTrace", "scopes", "variables", "next", "stepIn", "stepOut",
    "continue", "pause", "stepBack", "reverseContinue", "evaluate", "setVariable", "disassemble", "terminate",
    "disconnect", "attach", "restart"};
constexpr const char* EXPRESSIONS[] = {"total",      "total plus 1", "store total = 5", "name plus \"x\"", "(",
                                       "i divided by 0", "nope",     "store nope = 1", "check 1",        "{",
                                       "display 1",  "1 2"};
constexpr const char* MESSAGES[] = {"at {total}", "{", "{nope} {i plus 1}", "plain"};

template <typename T, size_t N>
constexpr size_t count_of(T (&)[N]) {
    return N;
}

void check_sent(const std::string& body) {
    json message = json::parse(body, nullptr, false);
    if (message.is_discarded() || !message.is_object() || !message.contains("seq") || !message.contains("type")) {
        std::fprintf(stderr, "not a protocol message: %s\n", body.c_str());
        std::abort();
    }
}

json text_or_other(FuzzInput& in, const char* const* choices, size_t count) {
    switch (in.pick(4)) {
        case 0: return in.bytes(12);
        case 1: return in.pick(2) ? json(static_cast<int>(in.byte()) - 8) : json(nullptr);
        default: return choices[in.pick(count)];
    }
}

json arguments(FuzzInput& in, const std::string& command) {
    json a = json::object();
    if (command == "launch") {
        a["program"] = text_or_other(in, PROGRAMS, count_of(PROGRAMS));
        a["stopOnEntry"] = in.pick(3) != 0;
        if (in.pick(4) == 0) a["noDebug"] = true;
    } else if (command == "setBreakpoints") {
        a["source"] = {{"path", in.pick(4) ? json(SCRIPT) : json(in.bytes(8))}};
        json list = json::array();
        for (size_t n = in.pick(4); n > 0; n--) {
            json b = {{"line", static_cast<int>(in.byte() % 12) - 1}};
            if (in.pick(3) == 0) b["condition"] = text_or_other(in, EXPRESSIONS, count_of(EXPRESSIONS));
            if (in.pick(4) == 0) b["hitCondition"] = in.pick(2) ? json(">=1") : json(in.bytes(4));
            if (in.pick(4) == 0) b["logMessage"] = text_or_other(in, MESSAGES, count_of(MESSAGES));
            list.push_back(b);
        }
        a["breakpoints"] = list;
    } else if (command == "evaluate" || command == "setVariable") {
        a["expression"] = text_or_other(in, EXPRESSIONS, count_of(EXPRESSIONS));
        a["value"] = a["expression"];
        a["name"] = in.pick(2) ? json("total") : json(in.bytes(5));
        a["variablesReference"] = in.pick(3);
        a["context"] = in.pick(2) ? "repl" : "watch";
    } else if (command == "disassemble") {
        a["memoryReference"] = in.pick(3) ? json("0x" + std::to_string(in.pick(16))) : json(in.bytes(6));
        a["instructionOffset"] = static_cast<int>(in.byte()) - 128;
        a["instructionCount"] = in.pick(40);
    } else if (command == "variables") {
        a["variablesReference"] = in.pick(4);
    } else if (command == "breakpointLocations") {
        a["line"] = in.pick(12);
        a["endLine"] = in.pick(12);
    } else {
        if (in.pick(2)) a["granularity"] = in.pick(2) ? "instruction" : "statement";
        a["threadId"] = 1;
    }
    if (in.pick(16) == 0) return in.pick(2) ? json::array() : json("not an object");
    return a;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FILE* script = std::fopen(SCRIPT, "wb");
    FILE* broken = std::fopen(BROKEN, "wb");
    if (!script || !broken) std::abort();
    std::fputs("store total = 0\nstore name = \"n\"\ncount i from 1 to 3\n    display i\n"
               "    store total = total plus i\nstop\ndisplay name plus total\nstore total = total into 2\n",
               script);
    std::fputs("store = 5\n", broken);
    std::fclose(script);
    std::fclose(broken);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VlDapSession session(check_sent);
    auto settle = [&session] {
        for (int stretch = 0; stretch < 64 && session.running(); stretch++) session.work();
    };
    FuzzInput in{data, size};
    if (in.pick(4) == 0) {
        // The raw bytes, framed or not.
        FILE* input = fmemopen(const_cast<uint8_t*>(data + 1), size - 1, "rb");
        if (!input) return 0;
        VlFrameReader reader(input, 4096);
        for (VlFrame frame = reader.next(); frame.status != VlFrameStatus::ended; frame = reader.next()) {
            if (frame.status == VlFrameStatus::message) session.handle(frame.content);
            if (frame.status == VlFrameStatus::too_large && (session.skipped(frame.length), !reader.skip(frame))) break;
            settle();
        }
        std::fclose(input);
        return 0;
    }
    for (int seq = 1; in.more() && !session.finished(); seq++) {
        std::string command = COMMANDS[in.pick(count_of(COMMANDS))];
        json request = {{"seq", seq}, {"type", "request"}, {"command", command}, {"arguments", arguments(in, command)}};
        if (in.pick(32) == 0) request.erase(in.pick(2) ? "seq" : "command");
        session.handle(request.dump(-1, ' ', false, json::error_handler_t::replace));
        settle();
    }
    return 0;
}
