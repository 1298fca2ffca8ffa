// One open document as the language server sees it: its text, the analysis
// of that text (made once per change), and the translation between byte
// offsets and the editor's positions: 0-based lines (ending at LF, CR LF or
// CR) and UTF-16 code units within the line.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vl_analysis.h"

struct VlLspPosition {
    int64_t line;
    int64_t character;
};

struct VlLspRange {
    VlLspPosition start;
    VlLspPosition end;
};

struct VlLspHover {
    VlLspRange range;  // the token under the position
    std::string markdown;
};

// What a keyword does as programs really run (include/vl_keywords.h, with
// % standing for the word); empty for a token that is no keyword.
[[nodiscard]] std::string_view vl_lsp_keyword_meaning(VlTokenType type);

class VlLspDocument {
public:
    // Without `analysed` only the positions work: enough to apply an edit.
    explicit VlLspDocument(std::string text, bool analysed = true);

    [[nodiscard]] const std::string& text() const { return text_; }
    // The text as the lexer sees it: up to its first zero byte.
    [[nodiscard]] const char* bytes() const { return text_.c_str(); }
    [[nodiscard]] const VlAnalysis& analysis() const { return analysis_; }

    // Byte offset of a position; a character past the line's end stops
    // there.  Null for a line the text does not have.
    [[nodiscard]] std::optional<size_t> offset(VlLspPosition at) const;
    // Inside a character a position moves to its start, or past its end with `round_up`.
    [[nodiscard]] VlLspPosition position(size_t offset, bool round_up = false) const;
    [[nodiscard]] VlLspRange range(VlSpan span) const;
    [[nodiscard]] VlLspPosition end() const { return position(size_); }

    // Null when the position is on no keyword and no variable.
    [[nodiscard]] std::optional<VlLspHover> hover(VlLspPosition at) const;
    // Where the variable under the position is first bound: the name after
    // its first "store", or after the "count" that names it.
    [[nodiscard]] std::optional<VlLspRange> definition(VlLspPosition at) const;
    // The name token under the position, if any.
    [[nodiscard]] std::optional<VlSpan> name_at(VlLspPosition at) const;

    // Positions of offsets asked for in increasing order, each found from the
    // one before: a pass over the whole text walks it once.
    class Walker {
    public:
        explicit Walker(const VlLspDocument& document) : document_(document) {}
        [[nodiscard]] VlLspPosition at(size_t offset);
        // Where the content of the line holding `offset` ends (before its LF, CR LF or CR).
        [[nodiscard]] size_t line_content_end(size_t offset) const;

    private:
        const VlLspDocument& document_;
        size_t line_ = 0;
        size_t offset_ = 0;
        int64_t units_ = 0;
    };

private:
    std::string text_;
    size_t size_;                     // bytes before the first zero byte
    std::vector<size_t> line_starts_;  // of the editor's lines
    VlAnalysis analysis_;
};
