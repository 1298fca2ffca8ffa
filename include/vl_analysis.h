// What a script will really do, worked out from its text without running
// it: the syntax errors, the language's surprises where they stand, how each
// expression groups, and where every name is bound, read and mentioned.  The
// real lexer and parser read the text; a walk in run order (a count body
// once, no jumps) follows what each name holds.  The language server and the
// playground both present this; positions here are byte offsets.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vl_lexer.h"

struct VlSpan {
    size_t offset;
    size_t length;
    [[nodiscard]] size_t end() const { return offset + length; }
};

enum class VlSeverity : uint8_t { error = 1, warning = 2, information = 3, hint = 4 };

struct VlFinding {
    VlSpan span;
    VlSeverity severity;
    bool unnecessary;         // the text does nothing: an editor may fade it
    std::string_view code;    // stable, e.g. "count-runs-once"
    std::string_view section; // heading anchor in docs/language.md; may be empty
    std::string message;
};

// A change that makes a finding go away: replace `span` with `text`.
struct VlFix {
    size_t finding;  // index into VlAnalysis::findings
    std::string title;
    VlSpan span;
    std::string text;
    bool preferred;
};

// A word of the text (never inside a string or a comment) that names a variable.
enum class VlUseKind : uint8_t { mention, read, write };  // mention: in text the parser skips
struct VlUse {
    VlSpan span;
    VlUseKind kind;
};

// Grouping shown without changing the text: `label` goes at `offset`.
struct VlHint {
    size_t offset;
    std::string label;
};

// A block of lines an editor may fold: from the line of `from` to the line
// of `to`, or to the line before it when `before_to` (the closing word stays).
struct VlFold {
    size_t from;
    size_t to;
    bool before_to;
    bool comment;
};

struct VlOutlineItem {
    std::string name;       // a variable's name, or "count i" for a loop
    bool loop;
    VlSpan range;           // the whole construct
    VlSpan selection;       // its name
    int32_t line;           // 1-based line of the binding
    std::vector<VlOutlineItem> children;
};

// A name at its first binding, in the order the run binds them.
struct VlBinding {
    std::string name;
    VlSpan span;
    int32_t line;  // 1-based
    bool loop;     // bound by a count, not a store
};

struct VlLexeme {
    uint32_t offset;
    uint32_t length;
    VlTokenType type;
};

struct VlAnalysis {
    std::vector<VlLexeme> tokens;      // every token but the end, line feeds too
    std::vector<VlSpan> comments;
    std::vector<VlFinding> findings;   // in text order, syntax errors among them
    std::vector<VlFix> fixes;
    std::vector<VlHint> hints;         // in text order
    std::vector<VlFold> folds;
    std::vector<VlOutlineItem> outline;
    std::vector<VlBinding> bindings;
    std::vector<uint32_t> declarations;  // offsets of the name tokens in `bindings`, sorted
    std::vector<uint32_t> reads;         // offsets of names the run reads, sorted
    std::vector<uint32_t> writes;        // offsets of names stores and counts bind, sorted
};

// `text` is read up to its first zero byte, as the lexer reads it; it must
// be shorter than 4 GiB.  Never fails.
[[nodiscard]] VlAnalysis vl_analyse(const char* text);

// The surprises of one document are capped here; syntax errors always stay.
inline constexpr size_t VL_MAX_FINDINGS = 1000;

// Every use of the name spelled `name`, in text order.
[[nodiscard]] std::vector<VlUse> vl_analysis_uses(const VlAnalysis& analysis, const char* text, std::string_view name);

// The token that covers `offset`, or null.
[[nodiscard]] const VlLexeme* vl_analysis_token_at(const VlAnalysis& analysis, size_t offset);

// Whether `word` would be read as one name, and as nothing else.
[[nodiscard]] bool vl_is_name(std::string_view word);
