// Document analysis for the language server: the project's own lexer and
// parser run over the editor's text, and byte offsets are translated to the
// editor's positions (lines end at LF, CR LF or CR; characters count UTF-16
// code units).
#include "vllsp_document.h"
#include "vl_arena.h"
#include "vl_lexer.h"
#include "vl_parser.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>

namespace {

struct ArenaDeleter {
    void operator()(VlArena* arena) const { vl_arena_destroy(arena); }
};
using ArenaPtr = std::unique_ptr<VlArena, ArenaDeleter>;

ArenaPtr new_arena() {
    VlArena* arena = vl_arena_create(VL_ARENA_MIN_BLOCK);
    if (!arena) vl_out_of_memory();
    return ArenaPtr(arena);
}

// Byte length of the UTF-8 sequence that `lead` starts, and its UTF-16 units.
size_t sequence_length(unsigned char lead) {
    if (lead < 0xC0) return 1;  // ASCII, or a stray continuation byte
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    return 4;
}

int64_t utf16_units(unsigned char lead) { return lead >= 0xF0 ? 2 : 1; }

// The text as the lexer sees it (up to its first zero byte), with the start
// of every editor line and of every lexer line (which end at LF only).
class Text {
public:
    explicit Text(const std::string& text) : bytes_(text.c_str(), std::strlen(text.c_str())) {
        editor_lines_.push_back(0);
        lexer_lines_.push_back(0);
        for (size_t i = 0; i < bytes_.size(); ++i) {
            if (bytes_[i] == '\n') {
                editor_lines_.push_back(i + 1);
                lexer_lines_.push_back(i + 1);
            } else if (bytes_[i] == '\r' && (i + 1 == bytes_.size() || bytes_[i + 1] != '\n')) {
                editor_lines_.push_back(i + 1);
            }
        }
    }

    const char* data() const { return bytes_.data(); }

    // Byte offset of a token's first byte; EOF has no start, only a line and column.
    size_t offset_of(const VlToken& token) const {
        if (token.start) return size_t(token.start - bytes_.data());
        size_t line = std::clamp<size_t>(size_t(std::max(token.line, 1)) - 1, 0, lexer_lines_.size() - 1);
        return std::min(bytes_.size(), lexer_lines_[line] + size_t(std::max(token.column, 1)) - 1);
    }

    // Editor position of a byte offset; inside a character it moves to the
    // character's start, or past its end with `round_up`.
    VlLspPosition position(size_t offset, bool round_up) const {
        offset = std::min(offset, bytes_.size());
        auto next = std::upper_bound(editor_lines_.begin(), editor_lines_.end(), offset);
        size_t line = size_t(next - editor_lines_.begin()) - 1;
        int64_t units = 0;
        for (size_t i = editor_lines_[line]; i < offset;) {
            auto lead = static_cast<unsigned char>(bytes_[i]);
            size_t end = i + sequence_length(lead);
            if (end > offset && !round_up) break;
            units += utf16_units(lead);
            i = end;
        }
        return {int64_t(line), units};
    }

    VlLspRange range(size_t offset, size_t length) const {
        return {position(offset, false), position(offset + length, true)};
    }

    // Byte offset of an editor position; past the line's end it stops there.
    std::optional<size_t> offset(VlLspPosition at) const {
        if (at.line < 0 || at.character < 0 || size_t(at.line) >= editor_lines_.size()) return std::nullopt;
        size_t i = editor_lines_[size_t(at.line)];
        size_t line_end = size_t(at.line) + 1 < editor_lines_.size() ? editor_lines_[size_t(at.line) + 1]
                                                                     : bytes_.size();
        for (int64_t units = 0; i < line_end && bytes_[i] != '\n' && bytes_[i] != '\r';) {
            auto lead = static_cast<unsigned char>(bytes_[i]);
            units += utf16_units(lead);
            if (units > at.character) break;
            i += sequence_length(lead);
        }
        return std::min(i, line_end);
    }

private:
    std::string_view bytes_;
    std::vector<size_t> editor_lines_;
    std::vector<size_t> lexer_lines_;
};

struct Binding {
    size_t offset;
    size_t length;
    int32_t line;  // 1-based, for the hover text
    bool loop;     // named by a count, not a store
};

struct SyntaxError {
    size_t offset;
    size_t length;
    std::string message;
};

// One parse of the text: its errors, and where each name is first bound.
struct Analysis {
    const Text& text;
    std::vector<SyntaxError> errors;
    std::unordered_map<std::string, Binding> bindings;
};

void on_error(void* context, const VlToken& at, const char* message) {
    auto& analysis = *static_cast<Analysis*>(context);
    size_t offset = analysis.text.offset_of(at);
    size_t length = at.length;
    if (at.type == TOKEN_NEWLINE) {  // no width: the error sits at the end of the line
        if (offset > 0 && analysis.text.data()[offset - 1] == '\r') --offset;
        length = 0;
    }
    std::string text;
    if (message) {
        text = message;
    } else {  // the parser writes no message for this one
        text = "Expected a variable name after 'store' at line " + std::to_string(at.line);
    }
    analysis.errors.push_back({offset, length, std::move(text)});
}

void on_binding(void* context, const VlToken& name, VlNodeType statement) {
    auto& analysis = *static_cast<Analysis*>(context);
    analysis.bindings.try_emplace(name.text, Binding{analysis.text.offset_of(name), name.length, name.line,
                                                     statement == NODE_COUNT});
}

Analysis analyse(const Text& text) {
    Analysis analysis{text, {}, {}};
    ArenaPtr arena = new_arena();
    VlParser* parser = vl_parser_create(arena.get(), vl_lexer_create(arena.get(), text.data()));
    const VlParseObserver observer{&analysis, on_error, on_binding};
    parser->observer = &observer;
    (void)vl_parse_program(parser);
    return analysis;
}

// What each keyword does in this language, as programs really run.
constexpr std::string_view OPERATOR_NOTE =
    "\n\nAll operators share one precedence and group from the left: `1 plus 2 into 3` is 9.";
constexpr std::string_view RESERVED =
    "Reserved: it begins no statement and is skipped, and it is not a value (`display %` is a syntax error).";
constexpr std::string_view TYPE_NAME =
    "A type name for `store … as`. It is read and has no effect: any value can be stored.";
constexpr std::string_view SAME_AS_PLUS =
    "Adds, exactly like `plus` (text is joined): `2 % 3` is 5. It does not compare.";

std::string_view keyword_text(VlTokenType type) {
    switch (type) {
        case TOKEN_START:
            return "Opens the program. It is optional and counts only as the first word of the script; "
                   "anywhere else it is skipped.";
        case TOKEN_STOP:
            return "Closes the innermost `count` loop. Outside a loop it ends the program: nothing after it "
                   "is read. A `stop` written to close a `check` ends the program (or the loop) there.";
        case TOKEN_STORE:
            return "`store name [as type] [=] expression` puts the value in the variable. The type after "
                   "`as` has no effect. A variable read before it is stored holds the number 0.";
        case TOKEN_DISPLAY:
            return "`display expression` prints the value on a line of its own: a whole number as an "
                   "integer, any other number with six significant digits, text as it is.";
        case TOKEN_CHECK:
            return "Not a condition. The word is skipped, and so are the words after it on the line "
                   "(a `display`, `store` or `count` among them still runs), so the lines below always run. "
                   "The `stop` written to close it ends the program or the loop around it.";
        case TOKEN_OTHERWISE:
            return "Skipped like `check`: the lines after it run every time.";
        case TOKEN_COUNT:
            return "`count name [from] start [to] end` … `stop` runs its body **once**, with the variable "
                   "holding the start value. The end value is worked out but not used. After the loop the "
                   "variable holds the start value plus 1.";
        case TOKEN_FROM: return "The optional word before a `count` loop's start value.";
        case TOKEN_TO:
            return "The optional word before a `count` loop's end value, which is worked out but not used: "
                   "the body runs once.";
        case TOKEN_AS: return "In `store x as number = 5`, the type after `as` is read and has no effect.";
        case TOKEN_CREATE: case TOKEN_BLUEPRINT: case TOKEN_OPEN: case TOKEN_FREEZE:
        case TOKEN_MOVE: case TOKEN_YES: case TOKEN_NO:
            return RESERVED;
        case TOKEN_TYPE_NUMBER: case TOKEN_TYPE_WORD: case TOKEN_TYPE_FLAG: case TOKEN_TYPE_LIST:
            return TYPE_NAME;
        case TOKEN_SAME: case TOKEN_BIG: case TOKEN_SMALL:
            return SAME_AS_PLUS;
        case TOKEN_PLUS:
            return "Adds two numbers (`+` is the same). With text on either side it joins both as text, a number "
                   "rounded to a whole one.";
        case TOKEN_MINUS: return "Subtracts (`-` is the same); text counts as 0.";
        case TOKEN_MULTIPLY: return "Multiplies (`*` is the same); text counts as 0.";
        case TOKEN_DIVIDE: return "Divides (`/` is the same); dividing by zero gives 0, and text counts as 0.";
        default: return {};
    }
}

bool is_operator(VlTokenType type) {
    return type == TOKEN_SAME || type == TOKEN_BIG || type == TOKEN_SMALL ||
           (type >= TOKEN_PLUS && type <= TOKEN_DIVIDE);
}

std::string keyword_markdown(const VlToken& token) {
    std::string_view text = keyword_text(token.type);
    if (text.empty()) return {};
    std::string word = token.text ? token.text : std::string(vl_token_type_name(token.type));
    std::string body(text);
    if (size_t mark = body.find('%'); mark != std::string::npos) body.replace(mark, 1, word);
    std::string markdown = "**" + word + "** — " + body;
    if (is_operator(token.type)) markdown += OPERATOR_NOTE;
    return markdown;
}

std::string variable_markdown(const std::string& name, const Binding* binding) {
    std::string head = "**" + name + "** ";
    if (!binding) return head + "is never stored: it reads as the number 0.";
    if (binding->loop) return head + "is the variable of the `count` loop on line " + std::to_string(binding->line) + ".";
    return head + "is first stored on line " + std::to_string(binding->line) + ".";
}

// The token that covers `offset`, if any (line feeds and the end cover nothing).
std::optional<VlToken> token_at(const Text& text, size_t offset, VlArena* arena) {
    VlLexer* lexer = vl_lexer_create(arena, text.data());
    for (;;) {
        VlToken token = vl_lexer_next_token(lexer);
        if (token.type == TOKEN_EOF) return std::nullopt;
        if (token.type == TOKEN_NEWLINE) continue;
        size_t start = text.offset_of(token);
        if (start > offset) return std::nullopt;
        if (offset < start + token.length) return token;
    }
}

}  // namespace

std::optional<size_t> vl_lsp_offset(const std::string& source, VlLspPosition at) {
    return Text(source).offset(at);
}

std::vector<VlLspDiagnostic> vl_lsp_diagnostics(const std::string& source) {
    Text text(source);
    Analysis analysis = analyse(text);
    std::vector<VlLspDiagnostic> diagnostics;
    diagnostics.reserve(analysis.errors.size());
    for (auto& error : analysis.errors)
        diagnostics.push_back({text.range(error.offset, error.length), std::move(error.message)});
    return diagnostics;
}

std::optional<VlLspHover> vl_lsp_hover(const std::string& source, VlLspPosition at) {
    Text text(source);
    std::optional<size_t> offset = text.offset(at);
    if (!offset) return std::nullopt;
    ArenaPtr arena = new_arena();
    std::optional<VlToken> token = token_at(text, *offset, arena.get());
    if (!token) return std::nullopt;
    std::string markdown;
    if (token->type == TOKEN_IDENTIFIER) {
        Analysis analysis = analyse(text);
        auto found = analysis.bindings.find(token->text);
        markdown = variable_markdown(token->text, found == analysis.bindings.end() ? nullptr : &found->second);
    } else {
        markdown = keyword_markdown(*token);
    }
    if (markdown.empty()) return std::nullopt;
    return VlLspHover{text.range(text.offset_of(*token), token->length), std::move(markdown)};
}

std::optional<VlLspRange> vl_lsp_definition(const std::string& source, VlLspPosition at) {
    Text text(source);
    std::optional<size_t> offset = text.offset(at);
    if (!offset) return std::nullopt;
    ArenaPtr arena = new_arena();
    std::optional<VlToken> token = token_at(text, *offset, arena.get());
    if (!token || token->type != TOKEN_IDENTIFIER) return std::nullopt;
    Analysis analysis = analyse(text);
    auto found = analysis.bindings.find(token->text);
    if (found == analysis.bindings.end()) return std::nullopt;
    return text.range(found->second.offset, found->second.length);
}
