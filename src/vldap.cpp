// The debug adapter's protocol layer over the debugger's engine; see vldap.h.
#include "vldap.h"
#include "vl_debugger.h"
#include "vl_files.h"
#include "vl_output.h"
#include "vl_platform.h"
#include "vllsp_json.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

namespace {

using json = nlohmann::json;

constexpr int MAX_DEPTH = 64;  // nesting in one message; protocol messages need a few levels
// Instructions per stretch of a run, between which breakpoints_wanted are read: well
// under a millisecond of arithmetic, and a few of joins of the longest texts,
// so that a pause or a disconnect is seen at once.
constexpr uint64_t STRETCH = 1 << 16;
constexpr int THREAD_ID = 1;
constexpr int NAMES_REFERENCE = 1;
constexpr int MACHINE_REFERENCE = 2;

enum class Phase { idle, launched, running, stopped, ended };

std::string address_of(uint64_t index) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%04llx", static_cast<unsigned long long>(index));
    return text;
}

// An instruction reference as the adapter writes it ("0x002a"), or a plain number.
bool parse_address(const std::string& text, int64_t* out) {
    if (text.empty() || text.size() > 18) return false;
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, text.rfind("0x", 0) == 0 ? 16 : 10);
    if (*end != '\0' || value < 0) return false;
    *out = value;
    return true;
}

std::string base_name(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

const char* reason_name(VlStopReason reason) {
    switch (reason) {
        case VlStopReason::entry: return "entry";
        case VlStopReason::breakpoint: return "breakpoint";
        case VlStopReason::pause: return "pause";
        default: return "step";
    }
}

}  // namespace

struct VlDapSession::State {
    std::function<void(const std::string&)> send;
    int64_t seq = 1;
    Phase phase = Phase::idle;
    bool configured = false;  // configurationDone has come
    bool finished = false;
    bool no_debug = false;
    bool stop_on_entry = false;
    int line_base = 1;    // the client's first line and column
    int column_base = 1;
    std::string program;  // as launch gave it
    VlDebugger debugger;
    // Breakpoints set before launch, given their place once it has loaded.
    std::vector<VlBreakpointRequest> breakpoints_wanted;
    std::vector<int64_t> breakpoint_ids;
    bool breakpoints_pending = false;
    int64_t next_breakpoint_id = 1;

    void message(json body) {
        body["seq"] = seq++;
        send(body.dump(-1, ' ', false, json::error_handler_t::replace));
    }
    void event(const char* name, json body = json::object()) {
        message({{"type", "event"}, {"event", name}, {"body", std::move(body)}});
    }
    void respond(const json& request, json body = json::object()) {
        message({{"type", "response"},
                 {"request_seq", request.value("seq", 0)},
                 {"success", true},
                 {"command", request.value("command", "")},
                 {"body", std::move(body)}});
    }
    void refuse(const json& request, const std::string& why) {
        message({{"type", "response"},
                 {"request_seq", request.is_object() ? request.value("seq", 0) : 0},
                 {"success", false},
                 {"command", request.is_object() ? request.value("command", "") : ""},
                 {"message", why},
                 {"body", {{"error", {{"id", 1}, {"format", why}, {"showUser", false}}}}}});
    }
    void console(const std::string& text, const char* category = "console") {
        event("output", {{"category", category}, {"output", text}});
    }

    json source() const { return {{"name", base_name(program)}, {"path", program}}; }

    json breakpoint_json(int64_t id, const VlBreakpointResult& result, int32_t asked) const {
        json breakpoint = {{"id", id}, {"verified", result.verified},
                           {"line", (result.line ? result.line : asked) - 1 + line_base},
                           {"source", source()}};
        if (!result.message.empty()) breakpoint["message"] = result.message;
        return breakpoint;
    }

    // Gives the breakpoints their places in the loaded script.
    std::vector<VlBreakpointResult> place_breakpoints() {
        if (!no_debug) return debugger.set_breakpoints(breakpoints_wanted);
        return std::vector<VlBreakpointResult>(breakpoints_wanted.size(), {false, 0, "The script runs without debugging."});
    }

    void stopped(VlStopReason reason, const std::string& description = {}) {
        phase = Phase::stopped;
        json body = {{"reason", reason_name(reason)}, {"threadId", THREAD_ID}, {"allThreadsStopped", true}};
        if (!description.empty()) body["description"] = description;
        event("stopped", std::move(body));
    }

    void ended() {
        phase = Phase::ended;
        event("exited", {{"exitCode", debugger.exit_code()}});
        event("terminated");
    }

    // configurationDone and launch have both come: the run begins.
    void begin() {
        if (phase != Phase::launched || !configured) return;
        if (stop_on_entry && !no_debug) {
            VlStopReason reason = debugger.enter();
            if (reason == VlStopReason::ended) return ended();
            return stopped(reason);
        }
        (void)debugger.start(VlMotion::proceed);
        phase = Phase::running;
    }

    void launch(const json& request, const json& arguments) {
        if (phase != Phase::idle) return refuse(request, "A program has been launched already.");
        const std::string* program_path = vl_lsp_string_at(arguments, {"program"});
        if (!program_path || program_path->empty())
            return refuse(request, "launch needs \"program\": the path of the .velm script to debug.");
        program = *program_path;
        // Clients send null (or leave it out) for an option that is not set.
        auto flag = [&arguments](const char* key) {
            const json* value = vl_lsp_member(arguments, key);
            return value && value->is_boolean() && value->get<bool>();
        };
        no_debug = flag("noDebug");
        stop_on_entry = flag("stopOnEntry");
        debugger.keep_history(!no_debug);
        if (!debugger.load_file(program.c_str())) return refuse(request, debugger.error());
        debugger.set_output([this](std::string_view output, VlDebugOutputKind kind) {
            console(std::string(output), kind == VlDebugOutputKind::display ? "stdout" : "console");
        });
        phase = Phase::launched;
        respond(request);
        if (breakpoints_pending) {
            std::vector<VlBreakpointResult> results = place_breakpoints();
            for (size_t i = 0; i < results.size(); i++)
                event("breakpoint", {{"reason", "changed"},
                                     {"breakpoint", breakpoint_json(breakpoint_ids[i], results[i], breakpoints_wanted[i].line)}});
            breakpoints_pending = false;
        }
        event("initialized");
        begin();
    }

    bool same_file(const std::string& path) const {
        if (path == program) return true;
        VlFileIdentity a{}, b{};
        return vl_platform_file_identity(path.c_str(), &a) && vl_platform_file_identity(program.c_str(), &b) && a == b;
    }

    void set_breakpoints(const json& request, const json& arguments) {
        const std::string* path = vl_lsp_string_at(arguments, {"source", "path"});
        const json* given = vl_lsp_member(arguments, "breakpoints");
        std::vector<VlBreakpointRequest> wanted;
        auto text_of = [](const json& item, const char* key) {
            const std::string* text = vl_lsp_string_at(item, {key});
            return text ? *text : std::string();
        };
        if (given && given->is_array()) {
            for (const json& item : *given) {
                const json* line = vl_lsp_member(item, "line");
                if (!line || !line->is_number_integer()) return refuse(request, "Each breakpoint needs a \"line\".");
                int64_t at = line->get<int64_t>() - line_base + 1;
                at = std::max<int64_t>(0, std::min<int64_t>(at, INT32_MAX));
                wanted.push_back({static_cast<int32_t>(at), text_of(item, "condition"), text_of(item, "hitCondition"),
                                  text_of(item, "logMessage")});
            }
        }
        std::vector<int64_t> ids;
        for (size_t i = 0; i < wanted.size(); i++) ids.push_back(next_breakpoint_id++);
        json list = json::array();
        auto unverified = [&](const std::string& message) {
            for (size_t i = 0; i < wanted.size(); i++)
                list.push_back({{"id", ids[i]}, {"verified", false}, {"line", wanted[i].line - 1 + line_base},
                                {"message", message}});
            respond(request, {{"breakpoints", list}});
        };
        if (phase == Phase::idle) {
            breakpoints_wanted = wanted;
            breakpoint_ids = ids;
            breakpoints_pending = true;
            return unverified("The program is not loaded yet.");
        }
        if (!path || !same_file(*path))
            return unverified("Only the script being debugged, " + base_name(program) + ", takes breakpoints.");
        breakpoints_wanted = wanted;
        breakpoint_ids = ids;
        std::vector<VlBreakpointResult> results = place_breakpoints();
        for (size_t i = 0; i < results.size(); i++) list.push_back(breakpoint_json(ids[i], results[i], wanted[i].line));
        respond(request, {{"breakpoints", list}});
    }

    bool needs_stopped(const json& request) {
        if (phase == Phase::stopped) return true;
        if (phase == Phase::idle || phase == Phase::launched)
            refuse(request, "No program is stopped: launch one and wait until it stops.");
        else if (phase == Phase::running)
            refuse(request, "The program is running: pause it first.");
        else
            refuse(request, "The program has ended.");
        return false;
    }

    void move(const json& request, const json& arguments, VlMotion motion, VlMotion by_instruction) {
        if (!needs_stopped(request)) return;
        const std::string* granularity = vl_lsp_string_at(arguments, {"granularity"});
        if (granularity && *granularity == "instruction") motion = by_instruction;
        if (debugger.start(motion) == VlStopReason::refused) return refuse(request, debugger.refusal());
        if (motion == VlMotion::proceed)
            respond(request, {{"allThreadsContinued", true}});
        else
            respond(request);
        phase = Phase::running;
    }

    json frame() const {
        json frame = {{"id", 1}, {"name", "script"}, {"source", source()},
                      {"instructionPointerReference", address_of(debugger.pc())}};
        if (const VlDebugStatement* statement = debugger.current_statement()) {
            frame["line"] = statement->line - 1 + line_base;
            frame["column"] = statement->column - 1 + column_base;
        } else {
            frame["line"] = 0;
            frame["column"] = 0;
        }
        return frame;
    }

    json variables(const std::vector<VlDebugVariable>& list, bool names) const {
        json out = json::array();
        for (const VlDebugVariable& variable : list) {
            json item = {{"name", variable.name}, {"value", variable.value}, {"type", variable.type},
                         {"variablesReference", 0}};
            if (names) item["evaluateName"] = variable.name;
            out.push_back(std::move(item));
        }
        return out;
    }

    void disassemble(const json& request, const json& arguments) {
        if (phase == Phase::idle) return refuse(request, "No program is loaded: launch one first.");
        const std::string* reference = vl_lsp_string_at(arguments, {"memoryReference"});
        int64_t base = 0;
        if (!reference || !parse_address(*reference, &base))
            return refuse(request, "disassemble needs a \"memoryReference\" such as 0x0000.");
        const json* count_value = vl_lsp_member(arguments, "instructionCount");
        if (!count_value || !count_value->is_number_integer() || count_value->get<int64_t>() < 0)
            return refuse(request, "disassemble needs an \"instructionCount\".");
        int64_t count = std::min<int64_t>(count_value->get<int64_t>(), 100000);
        int64_t first = base + arguments.value("offset", int64_t{0}) + arguments.value("instructionOffset", int64_t{0});
        json list = json::array();
        const int64_t total = static_cast<int64_t>(debugger.instruction_count());
        for (int64_t i = first; i < first + count; i++) {
            if (i < 0 || i >= total) {
                list.push_back({{"address", address_of(static_cast<uint64_t>(std::max<int64_t>(i, 0)))},
                                {"instruction", ""},
                                {"presentationHint", "invalid"}});
                continue;
            }
            std::string text = debugger.instruction_text(static_cast<uint64_t>(i));
            size_t fields = text.find_first_not_of(' ', text.find(' '));  // past the index column
            json item = {{"address", address_of(static_cast<uint64_t>(i))},
                         {"instruction", fields == std::string::npos ? text : text.substr(fields)}};
            if (const VlDebugStatement* statement = debugger.statement_holding(static_cast<uint64_t>(i))) {
                item["line"] = statement->line - 1 + line_base;
                item["location"] = source();
            }
            list.push_back(std::move(item));
        }
        respond(request, {{"instructions", list}});
    }

    void request(const json& request) {
        const std::string& command = request["command"].get_ref<const std::string&>();
        static const json no_arguments = json::object();
        const json* given = vl_lsp_member(request, "arguments");
        const json& arguments = given && given->is_object() ? *given : no_arguments;

        if (command == "initialize") {
            line_base = arguments.value("linesStartAt1", true) == false ? 0 : 1;
            column_base = arguments.value("columnsStartAt1", true) == false ? 0 : 1;
            return respond(request, {{"supportsConfigurationDoneRequest", true},
                                     {"supportsConditionalBreakpoints", true},
                                     {"supportsHitConditionalBreakpoints", true},
                                     {"supportsLogPoints", true},
                                     {"supportsEvaluateForHovers", true},
                                     {"supportsSetVariable", true},
                                     {"supportsStepBack", true},
                                     {"supportsDisassembleRequest", true},
                                     {"supportsSteppingGranularity", true},
                                     {"supportsInstructionBreakpoints", false},
                                     {"supportsBreakpointLocationsRequest", true},
                                     {"supportsTerminateRequest", true},
                                     {"exceptionBreakpointFilters", json::array()}});
        }
        if (command == "launch") return launch(request, arguments);
        if (command == "attach") return refuse(request, "velmorine-dap launches its script; it cannot attach.");
        if (command == "setBreakpoints") return set_breakpoints(request, arguments);
        if (command == "setExceptionBreakpoints") return respond(request, {{"breakpoints", json::array()}});
        if (command == "configurationDone") {
            configured = true;
            respond(request);
            return begin();
        }
        if (command == "threads") return respond(request, {{"threads", {{{"id", THREAD_ID}, {"name", "main"}}}}});
        if (command == "disconnect" || command == "terminate") {
            bool running_still = phase == Phase::running || phase == Phase::stopped || phase == Phase::launched;
            respond(request);
            if (running_still) {
                phase = Phase::ended;
                event("terminated");
            }
            if (command == "disconnect") finished = true;
            return;
        }
        if (command == "breakpointLocations") {
            if (phase == Phase::idle) return refuse(request, "No program is loaded: launch one first.");
            const json* line = vl_lsp_member(arguments, "line");
            if (!line || !line->is_number_integer()) return refuse(request, "breakpointLocations needs a \"line\".");
            int64_t from = line->get<int64_t>() - line_base + 1;
            int64_t to = arguments.value("endLine", line->get<int64_t>()) - line_base + 1;
            json list = json::array();
            for (int32_t at : debugger.breakpoint_lines(static_cast<int32_t>(std::clamp<int64_t>(from, 0, INT32_MAX)),
                                                        static_cast<int32_t>(std::clamp<int64_t>(to, 0, INT32_MAX))))
                list.push_back({{"line", at - 1 + line_base}});
            return respond(request, {{"breakpoints", list}});
        }
        if (command == "pause") {
            if (no_debug && phase == Phase::running) return refuse(request, "A run without debugging does not pause.");
            if (phase == Phase::running) debugger.pause();
            else if (phase != Phase::stopped) return refuse(request, "No program is running.");
            return respond(request);
        }
        if (command == "continue") return move(request, arguments, VlMotion::proceed, VlMotion::proceed);
        if (command == "next" || command == "stepIn")
            return move(request, arguments, VlMotion::step, VlMotion::instruction);
        if (command == "stepOut") return move(request, arguments, VlMotion::step_out, VlMotion::step_out);
        if (command == "stepBack") return move(request, arguments, VlMotion::back, VlMotion::back_instruction);
        if (command == "reverseContinue") return move(request, arguments, VlMotion::reverse, VlMotion::reverse);
        if (command == "disassemble") return disassemble(request, arguments);

        if (command == "stackTrace") {
            if (!needs_stopped(request)) return;
            return respond(request, {{"stackFrames", {frame()}}, {"totalFrames", 1}});
        }
        if (command == "scopes") {
            if (!needs_stopped(request)) return;
            return respond(request, {{"scopes",
                                      {{{"name", "Names"}, {"variablesReference", NAMES_REFERENCE},
                                        {"presentationHint", "locals"}, {"expensive", false}},
                                       {{"name", "Machine"}, {"variablesReference", MACHINE_REFERENCE},
                                        {"presentationHint", "registers"}, {"expensive", true}}}}});
        }
        if (command == "variables") {
            if (!needs_stopped(request)) return;
            int64_t reference = arguments.value("variablesReference", int64_t{0});
            if (reference == NAMES_REFERENCE) return respond(request, {{"variables", variables(debugger.names(), true)}});
            if (reference == MACHINE_REFERENCE)
                return respond(request, {{"variables", variables(debugger.machine(), false)}});
            return refuse(request, "There are no variables under reference " + std::to_string(reference) + ".");
        }
        if (command == "evaluate") {
            if (!needs_stopped(request)) return;
            const std::string* expression = vl_lsp_string_at(arguments, {"expression"});
            if (!expression) return refuse(request, "evaluate needs an \"expression\".");
            const std::string* context = vl_lsp_string_at(arguments, {"context"});
            VlEvaluation value = debugger.evaluate(*expression, context && *context == "repl");
            if (!value.ok) return refuse(request, value.value);
            return respond(request, {{"result", value.value}, {"type", value.type}, {"variablesReference", 0}});
        }
        if (command == "setVariable") {
            if (!needs_stopped(request)) return;
            if (arguments.value("variablesReference", int64_t{0}) != NAMES_REFERENCE)
                return refuse(request, "Only names can be set; the machine's registers are shown as they are.");
            const std::string* name = vl_lsp_string_at(arguments, {"name"});
            const std::string* value_text = vl_lsp_string_at(arguments, {"value"});
            if (!name || !value_text) return refuse(request, "setVariable needs a \"name\" and a \"value\".");
            VlEvaluation value = debugger.set_name(*name, *value_text);
            if (!value.ok) return refuse(request, value.value);
            return respond(request, {{"value", value.value}, {"type", value.type}, {"variablesReference", 0}});
        }
        refuse(request, "velmorine-dap does not know the request '" + command + "'.");
    }
};

VlDapSession::VlDapSession(std::function<void(const std::string&)> send) : state_(std::make_unique<State>()) {
    state_->send = std::move(send);
}

VlDapSession::~VlDapSession() = default;

void VlDapSession::handle(std::string_view content) {
    int depth = 0;
    json::parser_callback_t measure = [&depth](int level, json::parse_event_t, json&) {
        depth = std::max(depth, level);
        return depth <= MAX_DEPTH;
    };
    json message = json::parse(content, measure, false);
    if (message.is_discarded() || depth > MAX_DEPTH || !message.is_object()) {
        state_->console("velmorine-dap: a message that is not a JSON object was ignored.\n", "important");
        return;
    }
    const json* type = vl_lsp_member(message, "type");
    const json* command = vl_lsp_member(message, "command");
    const json* seq = vl_lsp_member(message, "seq");
    if (!type || *type != "request") return;  // responses to breakpoints_wanted we never make, events
    if (!command || !command->is_string() || !seq || !seq->is_number_integer()) {
        if (!seq || !seq->is_number_integer()) message["seq"] = 0;
        if (!command || !command->is_string()) message["command"] = "";
        return state_->refuse(message, "A request needs a whole-number \"seq\" and a \"command\".");
    }
#if defined(__cpp_exceptions)
    try {
        state_->request(message);
    } catch (const json::exception& error) {
        // A member of the wrong type that a default did not cover.
        state_->refuse(message, std::string("The request's arguments are not usable: ") + error.what());
    }
#else
    state_->request(message);  // without exceptions such a member ends the program (JSON_NOEXCEPTION)
#endif
}

void VlDapSession::skipped(size_t length) {
    state_->console("velmorine-dap: a message of " + std::to_string(length) + " bytes is larger than the " +
                        std::to_string(VL_DAP_MAX_CONTENT) + " the adapter reads; it was skipped.\n",
                    "important");
}

bool VlDapSession::running() const { return state_->phase == Phase::running; }

bool VlDapSession::finished() const { return state_->finished; }

void VlDapSession::work() {
    if (state_->phase != Phase::running) return;
    VlStopReason reason = state_->debugger.advance(STRETCH);
    switch (reason) {
        case VlStopReason::running: return;
        case VlStopReason::ended: return state_->ended();
        case VlStopReason::refused:
            state_->console(state_->debugger.refusal() + "\n");
            return state_->stopped(VlStopReason::step);
        default: return state_->stopped(reason);
    }
}
