// An open document: positions in the editor's terms, hover and definition.
#include "vllsp_document.h"
#include "vl_utf8.h"

#include <algorithm>
#include <cstring>

VlLspDocument::VlLspDocument(std::string text, bool analysed)
    : text_(std::move(text)), size_(std::strlen(text_.c_str())), analysis_(analysed ? vl_analyse(text_.c_str()) : VlAnalysis{}) {
    line_starts_.push_back(0);
    const char* bytes = text_.c_str();
    for (size_t i = 0; i < size_; ++i) {
        if (bytes[i] == '\n' || (bytes[i] == '\r' && (i + 1 == size_ || bytes[i + 1] != '\n')))
            line_starts_.push_back(i + 1);
    }
}

VlLspPosition VlLspDocument::position(size_t offset, bool round_up) const {
    offset = std::min(offset, size_);
    auto next = std::upper_bound(line_starts_.begin(), line_starts_.end(), offset);
    size_t line = size_t(next - line_starts_.begin()) - 1;
    int64_t units = 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text_.c_str());
    for (size_t i = line_starts_[line]; i < offset;) {
        VlCodePoint point = vl_utf8_next(bytes + i);
        size_t end = i + point.bytes;
        if (end > offset && !round_up) break;
        units += int64_t(point.units);
        i = end;
    }
    return {int64_t(line), units};
}

VlLspPosition VlLspDocument::Walker::at(size_t offset) {
    const auto& starts = document_.line_starts_;
    offset = std::min(offset, document_.size_);
    if (offset < offset_) return document_.position(offset);  // not in order: the slow way
    while (line_ + 1 < starts.size() && starts[line_ + 1] <= offset) {
        offset_ = starts[++line_];
        units_ = 0;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(document_.text_.c_str());
    while (offset_ < offset) {
        VlCodePoint point = vl_utf8_next(bytes + offset_);
        if (offset_ + point.bytes > offset) break;
        offset_ += point.bytes;
        units_ += int64_t(point.units);
    }
    return {int64_t(line_), units_};
}

size_t VlLspDocument::Walker::line_content_end(size_t offset) const {
    const auto& starts = document_.line_starts_;
    auto next = std::upper_bound(starts.begin(), starts.end(), offset);
    size_t end = next == starts.end() ? document_.size_ : *next;
    const char* bytes = document_.text_.c_str();
    while (end > offset && (bytes[end - 1] == '\n' || bytes[end - 1] == '\r')) --end;
    return end;
}

VlLspRange VlLspDocument::range(VlSpan span) const {
    return {position(span.offset, false), position(span.offset + span.length, true)};
}

std::optional<size_t> VlLspDocument::offset(VlLspPosition at) const {
    if (at.line < 0 || at.character < 0 || size_t(at.line) >= line_starts_.size()) return std::nullopt;
    size_t i = line_starts_[size_t(at.line)];
    size_t line_end = size_t(at.line) + 1 < line_starts_.size() ? line_starts_[size_t(at.line) + 1] : size_;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text_.c_str());
    for (int64_t units = 0; i < line_end && bytes[i] != '\n' && bytes[i] != '\r';) {
        VlCodePoint point = vl_utf8_next(bytes + i);
        units += int64_t(point.units);
        if (units > at.character) break;
        i += point.bytes;
    }
    return std::min(i, line_end);
}

namespace {

constexpr std::string_view OPERATOR_NOTE =
    "\n\nAll operators share one precedence and group from the left: `1 plus 2 into 3` is 9.";

std::string keyword_markdown(VlTokenType type, std::string_view source) {
    std::string_view text = vl_lsp_keyword_meaning(type);
    if (text.empty()) return {};
    // A symbol is named by its word: "+" is "plus".
    bool symbolic = type == TOKEN_DIVIDE || type == TOKEN_PLUS || type == TOKEN_MINUS || type == TOKEN_MULTIPLY;
    std::string word = symbolic ? std::string(vl_token_type_name(type)) : std::string(source);
    std::string body(text);
    if (size_t mark = body.find('%'); mark != std::string::npos) body.replace(mark, 1, word);
    std::string markdown = "**" + word + "** — " + body;
    if (vl_token_is_operator(type)) markdown += OPERATOR_NOTE;
    return markdown;
}

const VlBinding* binding_of(const VlAnalysis& analysis, std::string_view name) {
    for (const VlBinding& binding : analysis.bindings)
        if (binding.name == name) return &binding;
    return nullptr;
}

std::string variable_markdown(std::string_view name, const VlBinding* binding) {
    std::string head = "**" + std::string(name) + "** ";
    if (!binding) return head + "is never stored: it reads as the number 0.";
    if (binding->loop) return head + "is the variable of the `count` loop on line " + std::to_string(binding->line) + ".";
    return head + "is first stored on line " + std::to_string(binding->line) + ".";
}

}  // namespace

std::string_view vl_lsp_keyword_meaning(VlTokenType type) {
    switch (type) {
#define VL_KEYWORD(token, spelling, detail, meaning) \
    case token: return meaning;
#include "vl_keywords.h"
        default: return {};
    }
}

std::optional<VlLspHover> VlLspDocument::hover(VlLspPosition at) const {
    std::optional<size_t> where = offset(at);
    if (!where) return std::nullopt;
    const VlLexeme* token = vl_analysis_token_at(analysis_, *where);
    if (!token) return std::nullopt;
    std::string_view source(bytes() + token->offset, token->length);
    std::string markdown = token->type == TOKEN_IDENTIFIER ? variable_markdown(source, binding_of(analysis_, source))
                                                           : keyword_markdown(token->type, source);
    if (markdown.empty()) return std::nullopt;
    return VlLspHover{range({token->offset, token->length}), std::move(markdown)};
}

std::optional<VlSpan> VlLspDocument::name_at(VlLspPosition at) const {
    std::optional<size_t> where = offset(at);
    if (!where) return std::nullopt;
    const VlLexeme* token = vl_analysis_token_at(analysis_, *where);
    // The end of a word counts as on it, as editors put the cursor there.
    if (!token && *where > 0) token = vl_analysis_token_at(analysis_, *where - 1);
    if (!token || token->type != TOKEN_IDENTIFIER) return std::nullopt;
    return VlSpan{token->offset, token->length};
}

std::optional<VlLspRange> VlLspDocument::definition(VlLspPosition at) const {
    std::optional<size_t> where = offset(at);
    if (!where) return std::nullopt;
    const VlLexeme* token = vl_analysis_token_at(analysis_, *where);
    if (!token || token->type != TOKEN_IDENTIFIER) return std::nullopt;
    const VlBinding* binding = binding_of(analysis_, std::string_view(bytes() + token->offset, token->length));
    if (!binding) return std::nullopt;
    return range(binding->span);
}
