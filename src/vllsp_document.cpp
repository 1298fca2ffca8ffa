// Document analysis for the language server: the project's own lexer and
// parser run over the editor's text, and byte offsets are translated to the
// editor's positions (lines end at LF, CR LF or CR; characters count UTF-16
// code units).
#include "vllsp_document.h"
#include "vl_arena.h"
#include "vl_lexer.h"
#include "vl_front_end.h"
#include "vl_parser.h"
#include "vl_utf8.h"

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
            VlCodePoint point = vl_utf8_next(reinterpret_cast<const unsigned char*>(bytes_.data() + i));
            size_t end = i + point.bytes;
            if (end > offset && !round_up) break;
            units += int64_t(point.units);
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
            VlCodePoint point = vl_utf8_next(reinterpret_cast<const unsigned char*>(bytes_.data() + i));
            units += int64_t(point.units);
            if (units > at.character) break;
            i += point.bytes;
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
    const VlParseObserver observer{&analysis, on_error, on_binding};
    {
        VlFrontEnd front(VlFrontEndSetup{text.data(), nullptr, arena.get(), nullptr, &observer});
        while (front.next_statement()) {
        }
    }
    return analysis;
}

constexpr std::string_view OPERATOR_NOTE =
    "\n\nAll operators share one precedence and group from the left: `1 plus 2 into 3` is 9.";

// What each keyword does in this language, as programs really run.
std::string_view keyword_text(VlTokenType type) {
    switch (type) {
#define VL_KEYWORD(token, spelling, detail, meaning) \
    case token: return meaning;
#include "vl_keywords.h"
        default: return {};
    }
}

std::string keyword_markdown(const VlToken& token) {
    std::string_view text = keyword_text(token.type);
    if (text.empty()) return {};
    std::string word = token.text ? token.text : std::string(vl_token_type_name(token.type));
    std::string body(text);
    if (size_t mark = body.find('%'); mark != std::string::npos) body.replace(mark, 1, word);
    std::string markdown = "**" + word + "** — " + body;
    if (vl_token_is_operator(token.type)) markdown += OPERATOR_NOTE;
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
