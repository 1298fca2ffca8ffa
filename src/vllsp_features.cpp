// The answers of the full feature set, as JSON, from a document's analysis.
// Every request tolerates what an editor or a fuzzer may send: an unknown
// document, a position past the end, a range turned round; such a request
// gets an empty result, never a changed document.
#include "vllsp_features.h"
#include "vllsp_json.h"

#include "vl_arena.h"
#include "vl_lexer.h"
#include "vl_tools.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>

namespace {

using json = nlohmann::json;

constexpr int INVALID_PARAMS = -32602;
constexpr int REQUEST_FAILED = -32803;

// The legend of semantic tokens, in the order of their numbers.
enum SemanticType : int { SEM_KEYWORD, SEM_VARIABLE, SEM_NUMBER, SEM_STRING, SEM_COMMENT, SEM_OPERATOR, SEM_NONE };
constexpr int SEM_DECLARATION = 1;

json edit(const VlLspDocument& document, VlSpan span, const std::string& text) {
    return {{"range", vl_lsp_json(document.range(span))}, {"newText", text}};
}

// The byte range that a request's "range" covers; null when it is missing,
// outside the text or turned round.
std::optional<VlSpan> range_of(const VlLspDocument& document, const json& params) {
    const json* range = vl_lsp_member(params, "range");
    if (!range) return std::nullopt;
    std::optional<VlLspPosition> start = vl_lsp_position_of(vl_lsp_member(*range, "start"));
    std::optional<VlLspPosition> end = vl_lsp_position_of(vl_lsp_member(*range, "end"));
    if (!start || !end) return std::nullopt;
    if (end->line < start->line || (end->line == start->line && end->character < start->character)) return std::nullopt;
    std::optional<size_t> from = document.offset(*start);
    if (!from) return std::nullopt;
    // An end past the last line is the end of the text.
    std::optional<size_t> to = document.offset(*end);
    size_t last = to ? *to : std::strlen(document.bytes());
    return VlSpan{*from, std::max(last, *from) - *from};
}

std::optional<VlLspPosition> position_param(const json& params) { return vl_lsp_position_of(vl_lsp_member(params, "position")); }

json finding_json(const VlLspDocument& document, const VlFinding& finding, bool surprises, std::string_view guide) {
    json out = {{"range", vl_lsp_json(document.range(finding.span))},
                {"severity", int(finding.severity)},
                {"source", "velmorine"},
                {"message", finding.message}};
    if (!surprises) return out;
    out["code"] = finding.code;
    if (!guide.empty() && !finding.section.empty())
        out["codeDescription"] = {{"href", std::string(guide) + "#" + std::string(finding.section)}};
    if (finding.unnecessary) out["tags"] = json::array({1});
    return out;
}

// ---- the requests ----

json code_actions(const VlLspDocument& document, const json& params, const std::string& uri) {
    json actions = json::array();
    std::optional<VlSpan> range = range_of(document, params);
    if (!range) return actions;
    const VlAnalysis& analysis = document.analysis();
    for (const VlFix& fix : analysis.fixes) {
        const VlFinding& finding = analysis.findings[fix.finding];
        if (finding.span.offset > range->end() || finding.span.end() < range->offset) continue;
        json action = {{"title", fix.title},
                       {"kind", "quickfix"},
                       {"diagnostics", json::array({finding_json(document, finding, true, {})})},
                       {"edit", {{"changes", {{uri, json::array({edit(document, fix.span, fix.text)})}}}}}};
        if (fix.preferred) action["isPreferred"] = true;
        actions.push_back(std::move(action));
    }
    return actions;
}

json inlay_hints(const VlLspDocument& document, const json& params) {
    json hints = json::array();
    std::optional<VlSpan> range = range_of(document, params);
    if (!range) return hints;
    const auto& all = document.analysis().hints;
    auto it = std::lower_bound(all.begin(), all.end(), range->offset,
                               [](const VlHint& h, size_t o) { return h.offset < o; });
    for (; it != all.end() && it->offset <= range->end(); ++it)
        hints.push_back({{"position", vl_lsp_json(document.position(it->offset))},
                         {"label", it->label},
                         {"paddingLeft", false},
                         {"paddingRight", false}});
    return hints;
}

void formatting(const VlLspDocument& document, VlLspReply* reply) {
    reply->result = json::array();
    const std::string& text = document.text();
    if (text.find('\0') != std::string::npos) {
        reply->notice = "velmorine: this text holds a NUL byte, which velmorine fmt does not format; nothing was changed.";
        return;
    }
    VlScopedArena scratch;
    const char* formatted = vl_fmt_format_code(scratch.get(), text.c_str());
    if (!formatted) {
        reply->notice = "velmorine: the formatted text would be too large; nothing was changed.";
        return;
    }
    if (text == formatted) return;
    reply->result.push_back(
        {{"range", {{"start", vl_lsp_json(VlLspPosition{0, 0})}, {"end", vl_lsp_json(document.end())}}}, {"newText", formatted}});
}

json symbol_tree(const VlLspDocument& document, const VlOutlineItem& item) {
    json symbol = {{"name", item.name},
                   {"detail", item.loop ? "runs its body once" : "line " + std::to_string(item.line)},
                   {"kind", item.loop ? 3 : 13},
                   {"range", vl_lsp_json(document.range(item.range))},
                   {"selectionRange", vl_lsp_json(document.range(item.selection))}};
    json children = json::array();
    for (const VlOutlineItem& child : item.children) children.push_back(symbol_tree(document, child));
    if (!children.empty()) symbol["children"] = std::move(children);
    return symbol;
}

void symbol_list(const VlLspDocument& document, const VlOutlineItem& item, const std::string& uri,
                 const std::string* container, json& out) {
    json symbol = {{"name", item.name},
                   {"kind", item.loop ? 3 : 13},
                   {"location", {{"uri", uri}, {"range", vl_lsp_json(document.range(item.range))}}}};
    if (container) symbol["containerName"] = *container;
    out.push_back(std::move(symbol));
    for (const VlOutlineItem& child : item.children) symbol_list(document, child, uri, &item.name, out);
}

json symbols(const VlLspDocument& document, const std::string& uri, const VlLspClient& client) {
    json out = json::array();
    for (const VlOutlineItem& item : document.analysis().outline) {
        if (client.hierarchical_symbols)
            out.push_back(symbol_tree(document, item));
        else
            symbol_list(document, item, uri, nullptr, out);
    }
    return out;
}

std::string name_text(const VlLspDocument& document, VlSpan span) { return std::string(document.bytes() + span.offset, span.length); }

json references(const VlLspDocument& document, const json& params, const std::string& uri) {
    std::optional<VlLspPosition> at = position_param(params);
    std::optional<VlSpan> name = at ? document.name_at(*at) : std::nullopt;
    if (!name) return nullptr;
    const json* include = vl_lsp_path(params, {"context", "includeDeclaration"});
    bool with_declaration = !include || !include->is_boolean() || include->get<bool>();
    const auto& declarations = document.analysis().declarations;
    json out = json::array();
    for (const VlUse& use : vl_analysis_uses(document.analysis(), document.bytes(), name_text(document, *name))) {
        bool declaration = std::binary_search(declarations.begin(), declarations.end(), use.span.offset);
        if (declaration && !with_declaration) continue;
        out.push_back({{"uri", uri}, {"range", vl_lsp_json(document.range(use.span))}});
    }
    return out;
}

json highlights(const VlLspDocument& document, const json& params) {
    std::optional<VlLspPosition> at = position_param(params);
    std::optional<VlSpan> name = at ? document.name_at(*at) : std::nullopt;
    if (!name) return nullptr;
    json out = json::array();
    for (const VlUse& use : vl_analysis_uses(document.analysis(), document.bytes(), name_text(document, *name))) {
        int kind = use.kind == VlUseKind::write ? 3 : use.kind == VlUseKind::read ? 2 : 1;
        out.push_back({{"range", vl_lsp_json(document.range(use.span))}, {"kind", kind}});
    }
    return out;
}

json prepare_rename(const VlLspDocument& document, const json& params) {
    std::optional<VlLspPosition> at = position_param(params);
    std::optional<VlSpan> name = at ? document.name_at(*at) : std::nullopt;
    if (!name) return nullptr;
    return {{"range", vl_lsp_json(document.range(*name))}, {"placeholder", name_text(document, *name)}};
}

// The token types of a text, in order: a rename must leave them as they are.
std::vector<VlTokenType> token_types(const VlAnalysis& analysis) {
    std::vector<VlTokenType> types;
    types.reserve(analysis.tokens.size());
    for (const VlLexeme& token : analysis.tokens) types.push_back(token.type);
    return types;
}

void rename(const VlLspDocument& document, const json& params, const std::string& uri, VlLspReply* reply) {
    auto fail = [reply](int code, std::string message) {
        reply->error_code = code;
        reply->error_message = std::move(message);
    };
    std::optional<VlLspPosition> at = position_param(params);
    const json* wanted = vl_lsp_member(params, "newName");
    if (!at || !wanted || !wanted->is_string()) return fail(INVALID_PARAMS, "Invalid params");
    const std::string& new_name = wanted->get_ref<const std::string&>();
    std::optional<VlSpan> name = document.name_at(*at);
    if (!name) {
        std::optional<size_t> offset = document.offset(*at);
        const VlLexeme* token = offset ? vl_analysis_token_at(document.analysis(), *offset) : nullptr;
        if (token && vl_lsp_keyword_meaning(token->type).size())
            return fail(REQUEST_FAILED, "'" + name_text(document, {token->offset, token->length}) +
                                            "' is a keyword: only names can be renamed");
        return fail(REQUEST_FAILED, "There is no name here to rename");
    }
    std::string old_name = name_text(document, *name);
    if (!vl_is_name(new_name)) {
        std::vector<VlTokenType> types = new_name.find('\0') == std::string::npos && new_name.size() <= 4096
                                             ? token_types(vl_analyse(new_name.c_str()))
                                             : std::vector<VlTokenType>{};
        std::string shown = new_name.substr(0, 64);
        if (types.size() == 1 && vl_lsp_keyword_meaning(types[0]).size())
            return fail(REQUEST_FAILED, "'" + shown + "' is a keyword and cannot be a name");
        return fail(REQUEST_FAILED, "'" + shown + "' is not a name: a name is a letter or '_' followed by letters, digits and '_'");
    }
    std::vector<VlUse> uses = vl_analysis_uses(document.analysis(), document.bytes(), old_name);
    if (new_name != old_name) {
        bool taken = !vl_analysis_uses(document.analysis(), document.bytes(), new_name).empty();
        for (const VlBinding& binding : document.analysis().bindings) taken = taken || binding.name == new_name;
        if (taken) return fail(REQUEST_FAILED, "'" + new_name + "' is already a name in this script");
        // The renamed text must read as the same tokens ("divided" before a "by" would not).
        std::string renamed = document.text();
        for (auto it = uses.rbegin(); it != uses.rend(); ++it) renamed.replace(it->span.offset, it->span.length, new_name);
        if (token_types(vl_analyse(renamed.c_str())) != token_types(document.analysis()))
            return fail(REQUEST_FAILED, "Renaming '" + old_name + "' to '" + new_name + "' would change how the script reads");
    }
    json edits = json::array();
    for (const VlUse& use : uses) edits.push_back(edit(document, use.span, new_name));
    reply->result = {{"changes", {{uri, std::move(edits)}}}};
}

json folding(const VlLspDocument& document) {
    json out = json::array();
    for (const VlFold& fold : document.analysis().folds) {
        int64_t first = document.position(fold.from).line;
        int64_t last = document.position(fold.to).line - (fold.before_to ? 1 : 0);
        if (last <= first) continue;
        json range = {{"startLine", first}, {"endLine", last}};
        if (fold.comment) range["kind"] = "comment";
        out.push_back(std::move(range));
    }
    return out;
}

int semantic_type(VlTokenType type) {
    switch (type) {
        case TOKEN_IDENTIFIER: return SEM_VARIABLE;
        case TOKEN_NUMBER: return SEM_NUMBER;
        case TOKEN_STRING: return SEM_STRING;
        case TOKEN_ASSIGN: return SEM_OPERATOR;
        default:
            if (vl_token_is_operator(type)) return SEM_OPERATOR;
            if (type >= TOKEN_START && type <= TOKEN_TYPE_LIST) return SEM_KEYWORD;
            return SEM_NONE;
    }
}

// Written out directly: a JSON array of a number per value costs several
// times the work of finding the tokens.
std::string semantic_tokens(const VlLspDocument& document) {
    const VlAnalysis& analysis = document.analysis();
    const auto& declarations = analysis.declarations;
    std::vector<int64_t> data;
    data.reserve(analysis.tokens.size() * 5);
    int64_t last_line = 0, last_start = 0;
    VlLspDocument::Walker walker(document);
    auto put = [&](size_t from, size_t to, int type, int modifiers) {
        // One entry per editor line: a string may span several.
        while (from < to) {
            size_t piece_end = std::min(to, walker.line_content_end(from));
            VlLspPosition start = walker.at(from);
            VlLspPosition end = walker.at(piece_end);
            if (end.line == start.line && end.character > start.character) {
                data.push_back(start.line - last_line);
                data.push_back(start.line == last_line ? start.character - last_start : start.character);
                data.push_back(end.character - start.character);
                data.push_back(type);
                data.push_back(modifiers);
                last_line = start.line;
                last_start = start.character;
            }
            if (piece_end >= to) break;
            // On to the next line's start, past what ends this one.
            const char* bytes = document.bytes();
            from = piece_end;
            if (bytes[from] == '\r') ++from;
            if (from < to && bytes[from] == '\n') ++from;
        }
    };
    size_t c = 0;
    const auto& comments = analysis.comments;
    for (const VlLexeme& token : analysis.tokens) {
        for (; c < comments.size() && comments[c].offset < token.offset; ++c)
            put(comments[c].offset, comments[c].end(), SEM_COMMENT, 0);
        int type = semantic_type(token.type);
        if (type == SEM_NONE) continue;
        int modifiers = type == SEM_VARIABLE && std::binary_search(declarations.begin(), declarations.end(), token.offset)
                            ? SEM_DECLARATION
                            : 0;
        put(token.offset, size_t(token.offset) + token.length, type, modifiers);
    }
    for (; c < comments.size(); ++c) put(comments[c].offset, comments[c].end(), SEM_COMMENT, 0);
    std::string out = "{\"data\":[";
    out.reserve(out.size() + data.size() * 3 + 2);
    char digits[24];
    for (size_t i = 0; i < data.size(); ++i) {
        if (i) out += ',';
        auto written = std::to_chars(digits, digits + sizeof digits, data[i]);
        out.append(digits, size_t(written.ptr - digits));
    }
    out += "]}";
    return out;
}

json completion(const VlLspDocument* document, const json& params) {
    json items = json::array();
    std::optional<VlLspPosition> at = position_param(params);
    std::optional<size_t> cursor = document && at ? document->offset(*at) : std::nullopt;
    if (!cursor) return items;  // no document, or no such place in it
    {
        for (const VlBinding& binding : document->analysis().bindings) {
            if (binding.span.offset >= *cursor) continue;
            std::string detail = binding.loop ? "count variable, line " + std::to_string(binding.line)
                                              : "stored on line " + std::to_string(binding.line);
            items.push_back({{"label", binding.name}, {"kind", 6}, {"detail", detail}});
        }
    }
    auto add = [&items](std::string_view spelling, std::string_view detail, std::string_view meaning) {
        std::string text(meaning);
        if (size_t mark = text.find('%'); mark != std::string::npos) text.replace(mark, 1, spelling);
        items.push_back({{"label", spelling},
                         {"kind", 14},
                         {"detail", detail.empty() ? std::string_view("keyword") : detail},
                         {"documentation", {{"kind", "markdown"}, {"value", text}}}});
    };
#define VL_KEYWORD(token, spelling, detail, meaning) add(spelling, detail, meaning);
#include "vl_keywords.h"
    return items;
}

}  // namespace

const nlohmann::json& vl_lsp_full_capabilities() {
    static const json capabilities = {
        {"textDocumentSync", {{"openClose", true}, {"change", 2}}},
        {"completionProvider", {{"resolveProvider", true}}},
        {"hoverProvider", true},
        {"definitionProvider", true},
        {"referencesProvider", true},
        {"documentHighlightProvider", true},
        {"documentSymbolProvider", true},
        {"documentFormattingProvider", true},
        {"renameProvider", {{"prepareProvider", true}}},
        {"foldingRangeProvider", true},
        {"semanticTokensProvider",
         {{"legend",
           {{"tokenTypes", {"keyword", "variable", "number", "string", "comment", "operator"}},
            {"tokenModifiers", {"declaration"}}}},
          {"full", true}}},
        {"codeActionProvider", {{"codeActionKinds", {"quickfix"}}}},
        {"inlayHintProvider", true},
    };
    return capabilities;
}

nlohmann::json vl_lsp_diagnostics(const VlLspDocument& document, bool surprises, std::string_view guide) {
    json out = json::array();
    for (const VlFinding& finding : document.analysis().findings) {
        if (!surprises && finding.severity != VlSeverity::error) continue;
        out.push_back(finding_json(document, finding, surprises, guide));
    }
    return out;
}

bool vl_lsp_answer(std::string_view method, const nlohmann::json& params, const VlLspDocument* document,
                   const std::string& uri, const VlLspClient& client, VlLspReply* reply) {
    static constexpr std::string_view LISTS[] = {"textDocument/codeAction", "textDocument/inlayHint",
                                                 "textDocument/formatting", "textDocument/documentSymbol",
                                                 "textDocument/foldingRange"};
    static constexpr std::string_view AT_NAME[] = {"textDocument/references", "textDocument/documentHighlight",
                                                   "textDocument/prepareRename", "textDocument/rename",
                                                   "textDocument/semanticTokens/full"};
    if (method == "textDocument/completion") {
        reply->result = completion(document, params);
        return true;
    }
    bool list = std::find(std::begin(LISTS), std::end(LISTS), method) != std::end(LISTS);
    bool other = std::find(std::begin(AT_NAME), std::end(AT_NAME), method) != std::end(AT_NAME);
    if (!list && !other) return false;
    if (!document) {  // not open: nothing to say about it
        reply->result = list ? json::array() : json();
        if (method == "textDocument/rename") {
            reply->error_code = REQUEST_FAILED;
            reply->error_message = "The document is not open";
        }
        return true;
    }
    if (method == "textDocument/codeAction") reply->result = code_actions(*document, params, uri);
    else if (method == "textDocument/inlayHint") reply->result = inlay_hints(*document, params);
    else if (method == "textDocument/formatting") formatting(*document, reply);
    else if (method == "textDocument/documentSymbol") reply->result = symbols(*document, uri, client);
    else if (method == "textDocument/foldingRange") reply->result = folding(*document);
    else if (method == "textDocument/references") reply->result = references(*document, params, uri);
    else if (method == "textDocument/documentHighlight") reply->result = highlights(*document, params);
    else if (method == "textDocument/prepareRename") reply->result = prepare_rename(*document, params);
    else if (method == "textDocument/rename") rename(*document, params, uri, reply);
    else reply->written = semantic_tokens(*document);
    return true;
}
