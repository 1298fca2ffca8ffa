// What the language server knows about one open document: its syntax
// errors, and hover texts and definitions at a position.  Positions are the
// editor's: 0-based lines and UTF-16 code units within the line.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct VlLspPosition {
    int64_t line;
    int64_t character;
};

struct VlLspRange {
    VlLspPosition start;
    VlLspPosition end;
};

struct VlLspDiagnostic {
    VlLspRange range;
    std::string message;
};

struct VlLspHover {
    VlLspRange range;      // the token under the position
    std::string markdown;
};

// Byte offset of a position; a character past the line's end stops there.
// Null for a line the text does not have.
[[nodiscard]] std::optional<size_t> vl_lsp_offset(const std::string& text, VlLspPosition at);

// Every syntax error the lexer and the parser find, in source order.
[[nodiscard]] std::vector<VlLspDiagnostic> vl_lsp_diagnostics(const std::string& text);

// Null when the position is on no keyword and no variable.
[[nodiscard]] std::optional<VlLspHover> vl_lsp_hover(const std::string& text, VlLspPosition at);

// Where the variable under the position is first bound: the name after its
// first "store", or after the "count" that names it.  Null otherwise.
[[nodiscard]] std::optional<VlLspRange> vl_lsp_definition(const std::string& text, VlLspPosition at);
