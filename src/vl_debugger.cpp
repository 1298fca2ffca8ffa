// The debugger's engine; see vl_debugger.h.
#include "vl_debugger.h"
#include "vl_analysis.h"
#include "vl_disasm.h"
#include "vl_front_end.h"
#include "vl_platform.h"
#include "vl_source_stream.h"
#include "vl_utf8.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_map>

namespace {

constexpr uint64_t NEVER = UINT64_MAX;

VlEvaluation evaluation_of(const VlValue& value) {
    VlEvaluation result{};
    result.ok = true;
    result.plain = vlvm_display_text(value);
    result.number = value.type == VALUE_NUMBER;
    result.number_value = result.number ? value.number : 0.0;
    result.type = result.number ? "number" : "text";
    result.value = result.number ? result.plain : "\"" + result.plain + "\"";
    return result;
}

VlEvaluation failure(std::string message) {
    VlEvaluation result{};
    result.value = std::move(message);
    return result;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n' || text.front() == '\r'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// Code units of UTF-16 in the UTF-8 bytes [from, to), as editors count
// columns and as the language server counts them (a malformed sequence is one
// U+FFFD).  `to` is inside the same NUL-terminated text.
int32_t utf16_units(const char* from, const char* to) {
    int32_t units = 0;
    const auto* end = reinterpret_cast<const unsigned char*>(to);
    for (const auto* p = reinterpret_cast<const unsigned char*>(from); p < end;) {
        const VlCodePoint point = vl_utf8_next(p);
        units += static_cast<int32_t>(point.units);
        p += point.bytes;
    }
    return units;
}

// "3", "==3", ">= 3", "%2": the comparison and the count; false for anything else.
bool parse_hit_condition(std::string_view text, char* op, uint64_t* count) {
    text = trim(text);
    *op = '=';
    if (text.rfind(">=", 0) == 0) {
        *op = 'g';
        text.remove_prefix(2);
    } else if (text.rfind("<=", 0) == 0) {
        *op = 'l';
        text.remove_prefix(2);
    } else if (text.rfind("==", 0) == 0) {
        text.remove_prefix(2);
    } else if (!text.empty() && (text.front() == '>' || text.front() == '<' || text.front() == '%' || text.front() == '=')) {
        *op = text.front();
        text.remove_prefix(1);
    }
    text = trim(text);
    if (text.empty() || text.size() > 18) return false;
    uint64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (*op == '%' && n == 0) return false;
    *count = n;
    return true;
}

bool hit_matches(char op, uint64_t count, uint64_t hits) {
    switch (op) {
        case 'g': return hits >= count;
        case 'l': return hits <= count;
        case '>': return hits > count;
        case '<': return hits < count;
        case '%': return hits % count == 0;
        default: return hits == count;
    }
}

}  // namespace

struct VlDebugger::Checkpoint {
    uint64_t time;
    // A text that a collection may move is copied into `texts`, its string
    // then the offset there; any other text stays where it is.
    std::array<VlValue, VL_REGISTER_COUNT> registers;
    std::bitset<VL_REGISTER_COUNT> copied;
    std::string texts;
    [[nodiscard]] size_t bytes() const { return sizeof(Checkpoint) + texts.capacity(); }
};

struct VlDebugger::Edit {
    uint64_t time;
    uint8_t reg;
    VlValue value;  // a text copied into the program's arena, where it stays
};

struct VlDebugger::Breakpoint {
    uint64_t instruction;
    VlBreakpointRequest request;
    char hit_op;
    uint64_t hit_count;  // 0: no hit condition
    uint64_t hits;
};

// What the parser and the compiler tell while the script is built.
struct VlDebugger::Build {
    VlDebugger* debugger;
    struct Place {
        int32_t line;
        int32_t column;
    };
    struct Placed {
        const VlNode* node;
        Place place;
    };
    // This top-level statement's statements as they were made.  They are
    // compiled mostly in that order, so a search starts after the last found.
    std::vector<Placed> places;
    size_t next_place = 0;
    std::vector<int32_t> open;  // statements being compiled, innermost last
    std::array<int32_t, VL_REGISTER_COUNT> name_of_register;
    // The table's pages are backed a stretch at a time, ahead of its writes:
    // on some virtual machines a fault a page costs more than the rest of
    // the table's work.
    const VlDebugStatement* prepared_in = nullptr;
    size_t prepared = 0;

    // Called for every node: the leaves and operations leave at once.
    static void node(void* context, const VlNode* node, const VlToken& token) {
        if (node->type == NODE_STORE || node->type == NODE_DISPLAY || node->type == NODE_COUNT)
            static_cast<Build*>(context)->place(node, token);
    }
    [[gnu::noinline]] void place(const VlNode* node, const VlToken& token) {
        // The token's line is whole in the text the lexer holds now.
        int32_t column = token.start ? utf16_units(token.start - (token.column - 1), token.start) + 1 : token.column;
        places.push_back(Placed{node, Place{token.line, column}});
    }
    static void begins(void* context, const VlNode* statement, uint64_t first, int depth) {
        auto* build = static_cast<Build*>(context);
        Place place{0, 1};
        const size_t count = build->places.size();
        for (size_t i = 0, at = build->next_place; i < count; i++, at++) {
            if (at == count) at = 0;
            if (build->places[at].node == statement) {
                place = build->places[at].place;
                build->next_place = at + 1;
                break;
            }
        }
        auto& statements = build->debugger->statements_;
        if (statements.data() != build->prepared_in || statements.size() >= build->prepared) {
            constexpr size_t STRETCH = (size_t{256} << 10) / sizeof(VlDebugStatement);
            const size_t from = statements.size();
            const size_t more = std::min(STRETCH, statements.capacity() - from);
            vl_platform_pages_prepare(statements.data() + from, more * sizeof(VlDebugStatement));
            build->prepared_in = statements.data();
            build->prepared = from + more;
        }
        statements.push_back(VlDebugStatement{first, first, place.line, place.column, depth,
                                              build->open.empty() ? -1 : build->open.back()});
        build->open.push_back(static_cast<int32_t>(statements.size() - 1));
    }
    static void ends(void* context, const VlNode*, uint64_t end) {
        auto* build = static_cast<Build*>(context);
        build->debugger->statements_[static_cast<size_t>(build->open.back())].end = end;
        build->open.pop_back();
    }
    static void symbol(void* context, const char* name, uint8_t reg, uint64_t from) {
        auto* build = static_cast<Build*>(context);
        build->name_of_register[reg] = static_cast<int32_t>(build->debugger->names_.size());
        build->debugger->names_.push_back(Name{name, reg, from, NEVER});
    }
    static void stored(void* context, uint8_t reg, uint64_t at) {
        auto* build = static_cast<Build*>(context);
        int32_t index = build->name_of_register[reg];
        if (index < 0) return;  // a count's nameless variable
        Name& name = build->debugger->names_[static_cast<size_t>(index)];
        if (name.first_store == NEVER) name.first_store = at;
    }
};

VlDebugger::VlDebugger(size_t history_bytes) : history_bytes_(history_bytes) {}

VlDebugger::~VlDebugger() {
    if (arena_) vl_arena_destroy(arena_);
}

void VlDebugger::reset() {
    if (arena_) vl_arena_destroy(arena_);
    arena_ = vl_arena_create(65536);
    if (!arena_) vl_out_of_memory();
    loaded_ = false;
    statements_.clear();
    names_.clear();
    checkpoints_.clear();
    checkpoint_bytes_ = 0;
    edits_.clear();
    breakpoints_.clear();
    furthest_shown_ = 0;
    processed_ = 0;
}

bool VlDebugger::load(std::string_view source) {
    reset();
    // A run reads the script up to its first NUL byte, as a C string.
    const std::string text(source.substr(0, std::min(source.size(), source.find('\0'))));
    return build_script(text.c_str(), nullptr);
}

bool VlDebugger::load_file(const char* path) {
    reset();
    // Read while it is built, as a run reads it: a long script is never held whole.
    VlSourceStream stream(path);
    size_t length = 0;
    bool built = stream.status() == VL_READ_OK && build_script(stream.first_window(&length), stream.feed());
    if (stream.status() == VL_READ_NO_MEMORY) vl_out_of_memory();
    if (stream.status() == VL_READ_TOO_LARGE) {
        error_ = std::string("Error: File '") + path + "' is too large (2 GiB or more).";
        loaded_ = false;
    } else if (stream.status() != VL_READ_OK) {
        error_ = std::string("Error: Could not open source file '") + path + "'";
        loaded_ = false;
    }
    return built && loaded_;
}

bool VlDebugger::build_script(const char* source, const VlSourceFeed* feed) {
    machine_ = vlvm_create(arena_);
    compiler_ = vl_compiler_create(arena_, &machine_->chunk);
    Build build{this, {}, 0, {}, {}, nullptr, 0};
    build.name_of_register.fill(-1);
    VlParseObserver parse_observer{};
    parse_observer.context = &build;
    parse_observer.node = &Build::node;
    VlCompileObserver compile_observer{&build, &Build::begins, &Build::ends, &Build::symbol, &Build::stored};
    // A run without debugging never stops, so it needs no line table.
    compiler_->observer = keep_history_ ? &compile_observer : nullptr;
    bool syntax_error = false;
    std::string message;
    {
        VlFrontEnd front(
            VlFrontEndSetup{source, feed, arena_, compiler_->names, keep_history_ ? &parse_observer : nullptr});
        while (const VlNode* statement = front.next_statement()) {
            if (!front.had_error()) vl_compile_statement(compiler_, statement);
            build.places.clear();
            build.next_place = 0;
        }
        syntax_error = front.had_error();
        message = front.error_message();
    }
    bool compiled = vl_compile_finish(compiler_);
    compiler_->observer = nullptr;
    if (syntax_error) {
        error_ = "Syntax Error: " + message;
        return false;
    }
    if (!compiled) {
        error_ = "Compilation Error: Failed to generate VLVM bytecode.\n";
        error_ += compiler_->error_message;
        return false;
    }
    error_.clear();
    machine_->output = VlOutputSink{this, [](void* context, const char* line, size_t length) {
                                        static_cast<VlDebugger*>(context)->displayed(line, length);
                                    }};
    loaded_ = true;
    unchecked_start_ = true;
    if (keep_history_) take_checkpoint();
    return true;
}

// ---- the script ----

std::vector<int32_t> VlDebugger::breakpoint_lines(int32_t from, int32_t to) const {
    std::vector<int32_t> lines;
    for (const VlDebugStatement& statement : statements_)
        if (statement.line >= from && statement.line <= to && (lines.empty() || lines.back() != statement.line))
            lines.push_back(statement.line);
    return lines;
}

std::vector<VlBreakpointResult> VlDebugger::set_breakpoints(const std::vector<VlBreakpointRequest>& requests) {
    std::vector<VlBreakpointResult> results;
    breakpoints_.clear();
    for (const VlBreakpointRequest& request : requests) {
        // Lines only grow along the chunk: the first statement at or after the line.
        auto at = std::find_if(statements_.begin(), statements_.end(),
                               [&](const VlDebugStatement& s) { return s.line >= request.line; });
        if (at == statements_.end()) {
            std::string why = statements_.empty()
                                  ? "The script has no statement to stop at."
                                  : "No statement at or after line " + std::to_string(request.line) +
                                        ": the last one is on line " + std::to_string(statements_.back().line) + ".";
            results.push_back({false, request.line, why});
            continue;
        }
        Breakpoint breakpoint{at->first, request, '=', 0, 0};
        if (!trim(request.hit_condition).empty() &&
            !parse_hit_condition(request.hit_condition, &breakpoint.hit_op, &breakpoint.hit_count)) {
            results.push_back({false, request.line,
                               "The hit count must be a whole number, after ==, >=, >, <=, < or % if you like: '" +
                                   request.hit_condition + "'."});
            continue;
        }
        if (!trim(request.condition).empty()) {
            VlScopedArena scratch;
            bool stored = false;
            uint8_t reg = 0;
            VlValue value{};
            VlEvaluation check = evaluate_at(request.condition, false, &stored, &reg, &value, scratch.get());
            if (!check.ok) {
                results.push_back({false, request.line, "The condition cannot be evaluated: " + check.value});
                continue;
            }
        }
        std::string moved;
        if (at->line != request.line)
            moved = "Moved to line " + std::to_string(at->line) + ", the next line with a statement.";
        results.push_back({true, at->line, moved});
        breakpoints_.push_back(std::move(breakpoint));
    }
    std::stable_sort(breakpoints_.begin(), breakpoints_.end(),
                     [](const Breakpoint& a, const Breakpoint& b) { return a.instruction < b.instruction; });
    return results;
}

// ---- where it stands ----

uint64_t VlDebugger::pc() const { return machine_ ? machine_->pc : 0; }

uint64_t VlDebugger::instruction_count() const { return machine_ ? machine_->chunk.count : 0; }

bool VlDebugger::ended() const { return !loaded_ || machine_->pc + 1 >= machine_->chunk.count; }

const VlDebugStatement* VlDebugger::statement_holding(uint64_t index) const {
    auto after = std::upper_bound(statements_.begin(), statements_.end(), index,
                                  [](uint64_t i, const VlDebugStatement& s) { return i < s.first; });
    if (after == statements_.begin()) return nullptr;
    int32_t at = static_cast<int32_t>(after - statements_.begin()) - 1;
    while (at >= 0 && statements_[static_cast<size_t>(at)].end <= index) at = statements_[static_cast<size_t>(at)].parent;
    return at >= 0 ? &statements_[static_cast<size_t>(at)] : nullptr;
}

const VlDebugStatement* VlDebugger::current_statement() const { return loaded_ ? statement_holding(pc()) : nullptr; }

uint64_t VlDebugger::next_statement_after(uint64_t index) const {
    auto after = std::upper_bound(statements_.begin(), statements_.end(), index,
                                  [](uint64_t i, const VlDebugStatement& s) { return i < s.first; });
    return after != statements_.end() ? after->first : machine_->chunk.count - 1;
}

int64_t VlDebugger::statement_before(uint64_t index) const {
    auto at = std::lower_bound(statements_.begin(), statements_.end(), index,
                               [](const VlDebugStatement& s, uint64_t i) { return s.first < i; });
    if (at == statements_.begin()) return -1;
    return static_cast<int64_t>((at - 1)->first);
}

uint64_t VlDebugger::history_start() const {
    if (!keep_history_ || checkpoints_.empty()) return pc();
    return checkpoints_.front().time;
}

uint64_t VlDebugger::history_statements() const {
    uint64_t start = history_start();
    return static_cast<uint64_t>(std::count_if(statements_.begin(), statements_.end(), [&](const VlDebugStatement& s) {
        return s.first >= start && s.first < pc();
    }));
}

std::vector<VlDebugVariable> VlDebugger::names() const {
    std::vector<const Name*> stored;
    for (const Name& name : names_)
        if (name.first_store < pc()) stored.push_back(&name);
    std::sort(stored.begin(), stored.end(), [](const Name* a, const Name* b) { return a->first_store < b->first_store; });
    std::vector<VlDebugVariable> variables;
    for (const Name* name : stored) {
        VlEvaluation shown = evaluation_of(machine_->registers[name->reg]);
        variables.push_back({name->name, shown.value, shown.type});
    }
    return variables;
}

std::string VlDebugger::instruction_text(uint64_t index) const {
    if (!machine_ || index >= machine_->chunk.count) return {};
    std::string text;
    vl_disassemble_instruction(machine_->chunk.code[index], index, text);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

std::vector<VlDebugVariable> VlDebugger::machine() const {
    std::vector<VlDebugVariable> variables;
    if (!loaded_) return variables;
    variables.push_back({"pc", std::to_string(pc()), "instruction index"});
    variables.push_back({"instruction", instruction_text(pc()), "instruction"});
    for (uint16_t r = 0; r < compiler_->registers.never_used; r++) {
        VlEvaluation shown = evaluation_of(machine_->registers[r]);
        variables.push_back({"r" + std::to_string(r), shown.value, shown.type});
    }
    return variables;
}

// ---- running ----

void VlDebugger::displayed(const char* line, size_t length) {
    uint64_t index = machine_->pc - 1;  // the machine has moved past the display
    if (index < furthest_shown_) return;  // shown before, on the way to here
    furthest_shown_ = index + 1;
    if (output_) output_(std::string_view(line, length), VlDebugOutputKind::display);
}

// Runs the machine from its program counter until it stands at `halt_at`,
// by putting a halt there for the while.
void VlDebugger::run_until(uint64_t halt_at) {
    VlChunk& chunk = machine_->chunk;
    if (halt_at <= machine_->pc) return;
    if (halt_at + 1 >= chunk.count) {
        vlvm_run(machine_);
        return;
    }
    const VlInstruction saved = chunk.code[halt_at];
    chunk.code[halt_at] = VlInstruction{};
    chunk.code[halt_at].opcode = OP_HALT;
    vlvm_run(machine_);
    chunk.code[halt_at] = saved;
}

void VlDebugger::run_forward_to(uint64_t target) {
    target = std::min(target, machine_->chunk.count - 1);
    while (machine_->pc < target) {
        uint64_t next = target;
        if (keep_history_) next = std::min(next, (machine_->pc / VL_DEBUG_CHECKPOINT_EVERY + 1) * VL_DEBUG_CHECKPOINT_EVERY);
        for (const Edit& edit : edits_)
            if (edit.time > machine_->pc && edit.time < next) next = edit.time;
        run_until(next);
        apply_edits_at(machine_->pc);
        if (keep_history_ && machine_->pc % VL_DEBUG_CHECKPOINT_EVERY == 0 &&
            (checkpoints_.empty() || machine_->pc > checkpoints_.back().time))
            take_checkpoint();
    }
}

void VlDebugger::apply_edits_at(uint64_t time) {
    for (const Edit& edit : edits_)
        if (edit.time == time) machine_->registers[edit.reg] = edit.value;
}

void VlDebugger::take_checkpoint() {
    Checkpoint checkpoint{};
    checkpoint.time = machine_->pc;
    std::unordered_map<const char*, size_t> offsets;
    for (size_t r = 0; r < VL_REGISTER_COUNT; r++) {
        VlValue value = machine_->registers[r];
        if (value.type == VALUE_STRING && value.string && vl_strings_may_move(&machine_->strings, value.string)) {
            auto [where, added] = offsets.try_emplace(value.string, checkpoint.texts.size());
            if (added) checkpoint.texts.append(value.string).push_back('\0');
            value.string = reinterpret_cast<const char*>(where->second);
            checkpoint.copied.set(r);
        }
        checkpoint.registers[r] = value;
    }
    checkpoint.texts.shrink_to_fit();
    checkpoint_bytes_ += checkpoint.bytes();
    checkpoints_.push_back(std::move(checkpoint));
    // The oldest states go first; the history then starts later.
    while (checkpoint_bytes_ > history_bytes_ && checkpoints_.size() > 1) {
        checkpoint_bytes_ -= checkpoints_.front().bytes();
        checkpoints_.pop_front();
    }
}

void VlDebugger::restore(const Checkpoint& checkpoint) {
    VlValue* registers = machine_->registers;
    // Copied texts first point into the checkpoint, which no collection
    // moves, and then each goes back into the machine's strings.
    for (size_t r = 0; r < VL_REGISTER_COUNT; r++) {
        registers[r] = checkpoint.registers[r];
        if (checkpoint.copied.test(r))
            registers[r].string = checkpoint.texts.data() + reinterpret_cast<uintptr_t>(checkpoint.registers[r].string);
    }
    for (size_t r = 0; r < VL_REGISTER_COUNT; r++) {
        if (!checkpoint.copied.test(r)) continue;
        const char* text = registers[r].string;
        const char* copy =
            vl_strings_store(&machine_->strings, arena_, registers, VL_REGISTER_COUNT, text, std::strlen(text));
        if (!copy) vl_out_of_memory();
        registers[r].string = copy;
    }
    machine_->pc = checkpoint.time;
}

// To any point in the history: forward by running, back by restoring the
// latest state before it and running from there.
bool VlDebugger::travel_to(uint64_t target) {
    if (target < machine_->pc) {
        auto after = std::upper_bound(checkpoints_.begin(), checkpoints_.end(), target,
                                      [](uint64_t t, const Checkpoint& c) { return t < c.time; });
        if (after == checkpoints_.begin()) return false;
        restore(*(after - 1));
    }
    run_forward_to(target);
    return true;
}

// An edit at the current point makes a new future: what was run and shown
// after it is forgotten, and will be run and shown again.
void VlDebugger::forget_future() {
    uint64_t now = machine_->pc;
    while (!checkpoints_.empty() && checkpoints_.back().time >= now) {
        checkpoint_bytes_ -= checkpoints_.back().bytes();
        checkpoints_.pop_back();
    }
    edits_.erase(std::remove_if(edits_.begin(), edits_.end(), [&](const Edit& e) { return e.time > now; }), edits_.end());
    furthest_shown_ = std::min(furthest_shown_, now);
    processed_ = std::min(processed_, now + 1);
}

VlStopReason VlDebugger::enter() {
    if (!loaded_) return VlStopReason::ended;
    if (statements_.empty()) {
        run_forward_to(machine_->chunk.count - 1);
        return VlStopReason::ended;
    }
    run_forward_to(statements_.front().first);
    unchecked_start_ = false;
    return VlStopReason::entry;
}

VlStopReason VlDebugger::start(VlMotion motion) {
    refusal_.clear();
    pause_requested_ = false;
    motion_ = motion;
    if (ended()) {
        refusal_ = "The program has ended.";
        return VlStopReason::refused;
    }
    const uint64_t now = machine_->pc;
    const uint64_t end = machine_->chunk.count - 1;
    switch (motion) {
        case VlMotion::step: goal_ = next_statement_after(now); break;
        case VlMotion::proceed: goal_ = end; break;
        case VlMotion::instruction: goal_ = now + 1; break;
        case VlMotion::step_out: {
            const VlDebugStatement* current = current_statement();
            goal_ = end;
            if (current && current->parent >= 0) {
                uint64_t after = statements_[static_cast<size_t>(current->parent)].end;
                goal_ = after > 0 ? next_statement_after(after - 1) : end;
            }
            break;
        }
        case VlMotion::back:
        case VlMotion::back_instruction: {
            int64_t before = motion == VlMotion::back ? statement_before(now) : static_cast<int64_t>(now) - 1;
            if (before < 0) {
                refusal_ = "This is the start of the program: there is nothing before it.";
                return VlStopReason::refused;
            }
            goal_ = static_cast<uint64_t>(before);
            [[fallthrough]];
        }
        case VlMotion::reverse: {
            uint64_t start = history_start();
            uint64_t wanted = motion == VlMotion::reverse ? now - (now > 0) : goal_;
            if (!keep_history_ || wanted < start || now == 0) {
                if (!keep_history_)
                    refusal_ = "There is no history to go back in: the program runs without debugging.";
                else if (now == 0)
                    refusal_ = "This is the start of the program: there is nothing before it.";
                else
                    refusal_ = "The history reaches back only " + std::to_string(history_statements()) +
                               " statements from here; it keeps the latest within " +
                               std::to_string(history_bytes_ >> 20) + " MiB.";
                return VlStopReason::refused;
            }
            break;
        }
    }
    return VlStopReason::running;
}

bool VlDebugger::breakpoint_stops(Breakpoint& breakpoint) {
    // Going forward over the history meets a breakpoint at a point it has
    // met before: its hit was counted and its log message written then.
    const bool again = machine_->pc < processed_;
    if (!again) breakpoint.hits++;
    if (breakpoint.hit_count && !hit_matches(breakpoint.hit_op, breakpoint.hit_count, breakpoint.hits)) return false;
    if (!trim(breakpoint.request.condition).empty()) {
        VlEvaluation value = evaluate(breakpoint.request.condition, false);
        if (value.ok && value.number && value.number_value == 0.0) return false;
    }
    if (!breakpoint.request.log_message.empty()) {
        if (output_ && !again) output_(interpolate(breakpoint.request.log_message) + "\n", VlDebugOutputKind::log);
        return false;
    }
    return true;
}

std::string VlDebugger::interpolate(const std::string& message) {
    std::string text;
    for (size_t i = 0; i < message.size(); i++) {
        size_t close = message[i] == '{' ? message.find('}', i + 1) : std::string::npos;
        if (close == std::string::npos) {
            text += message[i];
            continue;
        }
        VlEvaluation value = evaluate(std::string_view(message).substr(i + 1, close - i - 1), false);
        text += value.ok ? value.plain : "{" + value.value + "}";
        i = close;
    }
    return text;
}

VlStopReason VlDebugger::advance(uint64_t budget) {
    if (!loaded_) return VlStopReason::ended;
    if (pause_requested_) {
        pause_requested_ = false;
        return VlStopReason::pause;
    }
    if (motion_ == VlMotion::back || motion_ == VlMotion::back_instruction) {
        return travel_to(goal_) ? VlStopReason::step : VlStopReason::refused;
    }
    if (motion_ == VlMotion::reverse) {
        const uint64_t start = history_start();
        const uint64_t now = machine_->pc;
        for (auto b = breakpoints_.rbegin(); b != breakpoints_.rend(); ++b) {
            if (b->instruction >= now || b->instruction < start) continue;
            if (!travel_to(b->instruction)) break;
            if (!b->request.log_message.empty()) continue;
            if (!trim(b->request.condition).empty()) {
                VlEvaluation value = evaluate(b->request.condition, false);
                if (value.ok && value.number && value.number_value == 0.0) continue;
            }
            return VlStopReason::breakpoint;
        }
        uint64_t first = next_statement_after(start == 0 ? 0 : start - 1);
        if (start == 0 && !statements_.empty()) first = statements_.front().first;
        if (!travel_to(first)) return VlStopReason::refused;
        return first == (statements_.empty() ? 0 : statements_.front().first) ? VlStopReason::entry
                                                                               : VlStopReason::step;
    }

    const uint64_t end = machine_->chunk.count - 1;
    if (unchecked_start_) {
        // A breakpoint on the first statement, where a run without a stop on entry begins.
        unchecked_start_ = false;
        bool stops = false;
        for (Breakpoint& b : breakpoints_)
            if (b.instruction == machine_->pc) stops = breakpoint_stops(b) || stops;
        processed_ = std::max(processed_, machine_->pc + 1);
        if (stops) return VlStopReason::breakpoint;
    }
    uint64_t spent = 0;
    while (spent < budget) {
        const uint64_t now = machine_->pc;
        if (now >= end) return VlStopReason::ended;
        auto next_breakpoint = std::upper_bound(breakpoints_.begin(), breakpoints_.end(), now,
                                                [](uint64_t i, const Breakpoint& b) { return i < b.instruction; });
        uint64_t stop_at = goal_;
        if (next_breakpoint != breakpoints_.end()) stop_at = std::min(stop_at, next_breakpoint->instruction);
        run_forward_to(std::min(stop_at, now + (budget - spent)));
        spent += machine_->pc - now;
        if (machine_->pc >= end) return VlStopReason::ended;
        bool stops = false, at_breakpoint = false;
        for (auto b = next_breakpoint; b != breakpoints_.end() && b->instruction == machine_->pc; ++b) {
            at_breakpoint = true;
            stops = breakpoint_stops(*b) || stops;
        }
        if (at_breakpoint) processed_ = std::max(processed_, machine_->pc + 1);
        if (machine_->pc == goal_) return at_breakpoint && stops ? VlStopReason::breakpoint : VlStopReason::step;
        if (stops) return VlStopReason::breakpoint;
        if (pause_requested_) {
            pause_requested_ = false;
            return VlStopReason::pause;
        }
    }
    return VlStopReason::running;
}

// ---- evaluating ----

VlEvaluation VlDebugger::evaluate_at(std::string_view text, bool allow_store, bool* stored, uint8_t* stored_reg,
                                     VlValue* stored_value, VlArena* scratch) {
    *stored = false;
    if (!loaded_) return failure("No program is loaded.");
    if (text.find('\0') != std::string_view::npos) return failure("The expression holds a NUL byte.");
    text = trim(text);
    if (text.empty()) return failure("There is nothing to evaluate.");
    const bool is_store = text.rfind("store", 0) == 0 && (text.size() == 5 || text[5] == ' ' || text[5] == '\t');
    if (is_store && !allow_store)
        return failure("A store changes the run: type it in the debug console, or set the name in the variables.");
    std::string program = is_store ? std::string(text) : "display " + std::string(text);

    VlVM* machine = vlvm_create(scratch);
    VlCompiler* compiler = vl_compiler_create(scratch, &machine->chunk);
    vl_compiler_continue_from(compiler, compiler_);
    struct Leftovers {
        size_t skipped = 0;
    } leftovers;
    VlParseObserver observer{};
    observer.context = &leftovers;
    observer.skipped = [](void* context, const VlToken&) { static_cast<Leftovers*>(context)->skipped++; };
    size_t statements = 0;
    VlNodeType kind = NODE_PROGRAM;
    std::string syntax_error;
    {
        VlFrontEnd front(VlFrontEndSetup{program.c_str(), nullptr, scratch, compiler->names, &observer});
        while (const VlNode* statement = front.next_statement()) {
            statements++;
            kind = statement->type;
            if (!front.had_error() && statements == 1) vl_compile_statement(compiler, statement);
        }
        if (front.had_error()) syntax_error = std::string("Syntax Error: ") + front.error_message();
    }
    if (!syntax_error.empty()) return failure(syntax_error);
    if (statements != 1 || leftovers.skipped || kind != (is_store ? NODE_STORE : NODE_DISPLAY))
        return failure(is_store ? "Only one store statement can be run here." : "Only one expression can be evaluated here.");
    if (!vl_compile_finish(compiler)) return failure("The expression needs more registers than the machine has free.");
    if (compiler->symbol_count > compiler_->symbol_count)
        return failure(std::string("'") + compiler->symbols[compiler_->symbol_count].name +
                       "' is not a name in this script.");

    // The program's registers as they are now, but a name that has not come
    // to hold its value yet reads 0, as the run would read it.
    std::memcpy(machine->registers, machine_->registers, sizeof machine->registers);
    for (const Name& name : names_)
        if (name.from > machine_->pc) machine->registers[name.reg] = VlValue{};
    machine->output = VlOutputSink{nullptr, [](void*, const char*, size_t) {}};
    vlvm_run(machine);
    const VlInstruction& last = machine->chunk.code[machine->chunk.count - 2];  // the display's print or the store's move
    const uint8_t reg = is_store ? last.dst : last.src1;
    VlValue value = machine->registers[reg];
    if (is_store) {
        *stored = true;
        *stored_reg = reg;
        *stored_value = value;
    }
    return evaluation_of(value);
}

VlEvaluation VlDebugger::evaluate(std::string_view text, bool allow_store) {
    VlScopedArena scratch;
    bool stored = false;
    uint8_t reg = 0;
    VlValue value{};
    VlEvaluation result = evaluate_at(text, allow_store, &stored, &reg, &value, scratch.get());
    if (!stored) return result;
    if (ended()) return failure("The program has ended.");
    forget_future();
    if (value.type == VALUE_STRING)
        value.string = value.string ? vl_arena_must_strndup(arena_, value.string, std::strlen(value.string)) : nullptr;
    machine_->registers[reg] = value;
    edits_.push_back(Edit{machine_->pc, reg, value});
    if (keep_history_) take_checkpoint();
    return result;
}

VlEvaluation VlDebugger::set_name(std::string_view name, std::string_view expression) {
    if (!vl_is_name(name)) return failure("'" + std::string(name) + "' is not a name.");
    return evaluate("store " + std::string(name) + " = " + std::string(trim(expression)), true);
}
