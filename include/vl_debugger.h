// The debugger's engine: a script built with a table of where each
// statement's instructions are, run a stretch at a time towards a goal
// (the next statement, the next breakpoint, out of a count body, one
// instruction, or back), with the names and the machine readable whenever it
// stands still.  The protocol front ends (velmorine-dap, the playground) are
// thin layers over it.
//
// Time is the program counter.  A compiled chunk has no jumps, so every
// instruction runs once, in order, and "where the run is" and "how far it
// has come" are the same number.  That makes going back cheap: the engine
// keeps the machine's state every few thousand instructions (within a
// memory budget, dropping the oldest), and reaching an earlier point is
// restoring the state before it and running forward to it, with the
// displays already shown kept quiet.  A plain run pays nothing for any of
// this: the engine stops the machine by putting a halt where it should
// stop, and puts the instruction back afterwards.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>
#include "vl_arena.h"
#include "vl_compiler.h"
#include "vl_lexer.h"
#include "vlvm.h"

// A store, display or count statement: its instructions are [first, end)
// (a count's body lies inside its own), its keyword's place in the script.
struct VlDebugStatement {
    uint64_t first;
    uint64_t end;
    int32_t line;
    int32_t column;  // in UTF-16 code units from 1, as editors count
    int32_t depth;   // count bodies around it
    int32_t parent;  // the count whose body holds it, or -1
};

struct VlDebugVariable {
    std::string name;
    std::string value;  // as display writes it, a text in double quotes
    std::string type;   // "number" or "text"
};

struct VlBreakpointRequest {
    int32_t line;
    std::string condition;      // an expression: stops where it is not the number 0
    std::string hit_condition;  // a count, optionally after ==, >=, >, <, <= or %
    std::string log_message;    // written with its {expression} parts instead of stopping
};

struct VlBreakpointResult {
    bool verified;
    int32_t line;         // where it was put, the line asked for when not verified
    std::string message;  // why not verified, or that it moved
};

enum class VlMotion : uint8_t {
    step,              // to the next statement that runs
    step_out,          // to the first statement after the count whose body it is in
    proceed,           // to the next breakpoint or the end
    instruction,       // one instruction
    back,              // to the statement before
    back_instruction,  // one instruction back
    reverse,           // back to the breakpoint before, or the start of the history
};

enum class VlStopReason : uint8_t {
    running,   // still on the way: advance again
    entry,     // at the first statement
    step,      // the motion's goal
    breakpoint,
    pause,
    refused,   // the motion could not start (refusal() says why); nothing moved
    ended,     // the program has halted
};

struct VlEvaluation {
    bool ok;
    std::string value;  // as shown in the variables (texts in quotes); the error when not ok
    std::string plain;  // as display writes it, without the line feed
    std::string type;
    bool number;
    double number_value;
};

enum class VlDebugOutputKind : uint8_t { display, log };
using VlDebugOutput = std::function<void(std::string_view text, VlDebugOutputKind kind)>;

inline constexpr size_t VL_DEBUG_HISTORY_BYTES = size_t{64} << 20;
inline constexpr uint64_t VL_DEBUG_CHECKPOINT_EVERY = 4096;  // instructions between kept states

class VlDebugger {
public:
    explicit VlDebugger(size_t history_bytes = VL_DEBUG_HISTORY_BYTES);
    ~VlDebugger();
    VlDebugger(const VlDebugger&) = delete;
    VlDebugger& operator=(const VlDebugger&) = delete;

    // Builds the script.  False, with error() the line a run of it would
    // write on standard error (without its line feed), when it would not run.
    [[nodiscard]] bool load(std::string_view source);
    // The same for the script at `path`, read as a run reads it; error() is
    // then also the run's message for a file it cannot read.
    [[nodiscard]] bool load_file(const char* path);
    [[nodiscard]] const std::string& error() const { return error_; }
    // What a run of the script ends with: 0 once it loads, 1 when it does not.
    [[nodiscard]] int exit_code() const { return loaded_ ? 0 : 1; }

    // Where displays (kind display, each line with its line feed, once) and
    // log points' lines (kind log) go.
    void set_output(VlDebugOutput output) { output_ = std::move(output); }
    // Without history nothing is kept for going back, and no line table is
    // made: a run without debugging, which never stops.  Set before loading.
    void keep_history(bool keep) { keep_history_ = keep; }

    // ---- the script ----
    [[nodiscard]] const std::vector<VlDebugStatement>& statements() const { return statements_; }
    // The lines that take a breakpoint, from `from` to `to`.
    [[nodiscard]] std::vector<int32_t> breakpoint_lines(int32_t from, int32_t to) const;
    // Replaces every breakpoint.
    std::vector<VlBreakpointResult> set_breakpoints(const std::vector<VlBreakpointRequest>& requests);

    // ---- moving ----
    // Sets the goal; VlStopReason::refused when it cannot start (at the end,
    // or going back past the history), else running.
    VlStopReason start(VlMotion motion);
    // Runs towards the goal, at most about `budget` instructions; running
    // while still on the way.
    VlStopReason advance(uint64_t budget);
    // The next advance stops where it is, with reason pause.
    void pause() { pause_requested_ = true; }
    // Runs to the first statement (stopOnEntry); ended when there is none.
    VlStopReason enter();
    [[nodiscard]] const std::string& refusal() const { return refusal_; }
    [[nodiscard]] bool ended() const;

    // ---- where it stands ----
    [[nodiscard]] uint64_t pc() const;
    // The statement whose instructions hold the program counter (innermost),
    // or null at the halt.
    [[nodiscard]] const VlDebugStatement* current_statement() const;
    [[nodiscard]] const VlDebugStatement* statement_holding(uint64_t index) const;
    [[nodiscard]] std::vector<VlDebugVariable> names() const;
    // The program counter, the instruction about to run, and the registers
    // that the program uses.
    [[nodiscard]] std::vector<VlDebugVariable> machine() const;
    [[nodiscard]] uint64_t instruction_count() const;
    // An instruction as velmorine-dis lists it.
    [[nodiscard]] std::string instruction_text(uint64_t index) const;
    // How many statements back the history reaches from here.
    [[nodiscard]] uint64_t history_statements() const;

    // An expression over the names as they are now, with no effect on the
    // run; with `allow_store`, a store statement too, which changes the name.
    VlEvaluation evaluate(std::string_view text, bool allow_store);
    // store `name` = `expression`, as an edit of the run from here on.
    VlEvaluation set_name(std::string_view name, std::string_view expression);

private:
    struct Checkpoint;
    struct Edit;
    struct Breakpoint;
    struct Build;

    void reset();
    bool build_script(const char* source, const VlSourceFeed* feed);
    void run_until(uint64_t halt_at);
    void run_forward_to(uint64_t target);
    bool travel_to(uint64_t target);
    void take_checkpoint();
    void restore(const Checkpoint& checkpoint);
    void forget_future();
    void apply_edits_at(uint64_t time);
    void displayed(const char* line, size_t length);
    // What to do on arriving at a breakpoint going forward: true to stop.
    bool breakpoint_stops(Breakpoint& breakpoint);
    [[nodiscard]] uint64_t next_statement_after(uint64_t index) const;
    [[nodiscard]] int64_t statement_before(uint64_t index) const;
    [[nodiscard]] uint64_t history_start() const;
    VlEvaluation evaluate_at(std::string_view text, bool allow_store, bool* stored, uint8_t* stored_reg,
                             VlValue* stored_value, VlArena* scratch);
    std::string interpolate(const std::string& message);

    size_t history_bytes_;
    bool keep_history_ = true;
    bool loaded_ = false;
    std::string error_;
    VlArena* arena_ = nullptr;
    VlVM* machine_ = nullptr;
    VlCompiler* compiler_ = nullptr;
    std::vector<VlDebugStatement> statements_;
    struct Name {
        std::string name;
        uint8_t reg;
        uint64_t from;         // holds the name's value from this instruction on
        uint64_t first_store;  // the first move into it (UINT64_MAX: never stored)
    };
    std::vector<Name> names_;
    std::deque<Checkpoint> checkpoints_;
    size_t checkpoint_bytes_ = 0;
    std::vector<Edit> edits_;
    std::vector<Breakpoint> breakpoints_;  // sorted by instruction
    uint64_t furthest_shown_ = 0;          // displays before this instruction have been shown
    uint64_t processed_ = 0;               // breakpoints before this instruction have been met
    VlDebugOutput output_;

    VlMotion motion_ = VlMotion::proceed;
    uint64_t goal_ = 0;
    bool pause_requested_ = false;
    bool unchecked_start_ = false;  // breakpoints where the run begins are still to be looked at
    std::string refusal_;
};
