// The analysis of a script's text.  One lexer pass lists the tokens and the
// comments between them; the front end then parses the text with an observer
// that says which token each node, group, skip and loop end came from; each
// statement is walked as the compiler compiles it, keeping what every name
// holds, so that a finding is raised exactly where a run does the surprising
// thing and nowhere else.
#include "vl_analysis.h"

#include "vl_arena.h"
#include "vl_front_end.h"
#include "vl_parser.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

namespace {

// What a value is, as far as the run's arithmetic cares.
enum class Kind : uint8_t { number, text };

struct Extent {
    size_t start;
    size_t end;
};

struct Walked {
    Kind kind;
    Extent extent;
};

struct NameState {
    bool has_value = false;
    bool fixed = false;      // the quick fix for its first read is offered
    bool read = false;
    bool loop = false;       // a count binds it
    bool bound = false;      // its first binding is in the outline
    Kind kind = Kind::number;
    std::vector<size_t> stores;  // offsets of its store names, for "never read"
};

struct Group {
    size_t open;
    size_t end;
};

struct Analyser {
    explicit Analyser(const char* source) : text(source), size(std::strlen(source)) {}

    const char* text;
    size_t size;
    VlAnalysis result;

    // Per statement, keyed by the nodes of its tree (gone once it is walked).
    std::unordered_map<const VlNode*, size_t> node_token;   // offset of the token a node came from
    std::unordered_map<const VlNode*, size_t> name_token;   // offset of a store's or count's name
    std::unordered_map<const VlNode*, Group> groups;        // the outermost parentheses around a node
    std::unordered_map<const VlNode*, VlToken> loop_end;    // what closed a count's body

    std::unordered_set<size_t> skipped;       // offsets of tokens that began no statement
    std::unordered_set<size_t> error_tokens;  // offsets where a syntax error stands
    std::unordered_set<size_t> loop_stops;    // offsets of stops that closed a count
    std::vector<VlFinding> errors;
    std::vector<VlFinding> surprises;

    std::unordered_map<std::string, NameState> names;
    std::vector<VlOutlineItem*> containers;  // open count loops of the outline
    std::vector<size_t> statements;          // keyword offsets of the statements being walked
    std::vector<const VlNode*> spine;        // the left spines of the chains being walked

    size_t offset_of(const VlToken& token) const {
        if (token.start) return size_t(token.start - text);
        return size_t(-1);
    }

    // The index of the token at `offset` (which must start one).
    size_t index_of(size_t offset) const {
        auto it = std::lower_bound(result.tokens.begin(), result.tokens.end(), offset,
                                   [](const VlLexeme& t, size_t o) { return t.offset < o; });
        return size_t(it - result.tokens.begin());
    }

    const VlLexeme& token(size_t offset) const { return result.tokens[index_of(offset)]; }

    VlSpan span_of(size_t offset) const {
        const VlLexeme& t = token(offset);
        return {t.offset, t.length};
    }

    std::string_view source(size_t offset) const {
        const VlLexeme& t = token(offset);
        return {text + t.offset, t.length};
    }

    std::vector<size_t> line_starts;  // of the lexer's lines, which end at LF only

    int32_t line_of(size_t offset) const {
        auto next = std::upper_bound(line_starts.begin(), line_starts.end(), offset);
        return int32_t(next - line_starts.begin());
    }

    void surprise(VlSpan span, VlSeverity severity, bool unnecessary, std::string_view code,
                  std::string_view section, std::string message) {
        surprises.push_back({span, severity, unnecessary, code, section, std::move(message)});
    }

    void fix(std::string title, VlSpan span, std::string replacement, bool preferred) {
        result.fixes.push_back({surprises.size() - 1, std::move(title), span, std::move(replacement), preferred});
    }

    // ---- the tokens and comments ----

    void lex() {
        VlScopedArena arena;
        VlScopedArena texts;  // the words' copies, dropped as they pile up
        VlLexer* lexer = vl_lexer_create_from(arena.get(), VlLexerSetup{text, nullptr, texts.get(), nullptr});
        size_t gap = 0;  // where the text after the last token begins
        for (;;) {
            VlToken t = vl_lexer_next_token(lexer);
            size_t start = t.start ? size_t(t.start - text) : size;
            comment_in(gap, start);
            if (t.type == TOKEN_EOF) break;
            size_t end = std::min(size, start + t.length);  // an unclosed string claims one byte more
            result.tokens.push_back({uint32_t(start), uint32_t(end - start), t.type});
            gap = end;
            if (texts->current != texts->first) vl_arena_reset(texts.get());
        }
    }

    // Between two tokens the lexer skips only blanks and at most one comment.
    void comment_in(size_t from, size_t to) {
        const void* slash = std::memchr(text + from, '/', to - from);
        if (!slash) return;
        size_t at = size_t(static_cast<const char*>(slash) - text);
        const void* line_end = std::memchr(text + at, '\n', to - at);
        size_t end = line_end ? size_t(static_cast<const char*>(line_end) - text) : to;
        result.comments.push_back({at, end - at});
    }

    // ---- the observer ----

    static Analyser& of(void* context) { return *static_cast<Analyser*>(context); }

    static void on_error(void* context, const VlToken& at, const char* message) {
        Analyser& a = of(context);
        size_t offset = at.start ? a.offset_of(at) : a.eof_offset(at);
        size_t length = at.type == TOKEN_EOF ? 0 : at.length;
        if (at.type == TOKEN_NEWLINE) {  // no width: the error sits at the end of the line
            if (offset > 0 && a.text[offset - 1] == '\r') --offset;
            length = 0;
        }
        a.error_tokens.insert(offset);
        std::string words = message ? std::string(message)
                                    : "Expected a variable name after 'store' at line " + std::to_string(at.line);
        a.errors.push_back({{offset, std::min(length, a.size - std::min(offset, a.size))}, VlSeverity::error, false,
                            "syntax-error", "errors", std::move(words)});
    }

    // EOF has no start, only a line and a column.
    size_t eof_offset(const VlToken& at) const {
        size_t line = std::clamp<size_t>(size_t(std::max(at.line, 1)) - 1, 0, line_starts.size() - 1);
        return std::min(size, line_starts[line] + size_t(std::max(at.column, 1)) - 1);
    }

    static void on_binding(void* context, const VlNode* statement, const VlToken& name) {
        if (name.start) of(context).name_token[statement] = of(context).offset_of(name);
    }

    static void on_node(void* context, const VlNode* node, const VlToken& token) {
        if (token.start) of(context).node_token[node] = of(context).offset_of(token);
    }

    static void on_group(void* context, const VlNode* inner, const char* open, const VlToken& close) {
        Analyser& a = of(context);
        size_t end = close.type == TOKEN_RPAREN ? a.offset_of(close) + 1 : size_t(-1);
        a.groups[inner] = Group{size_t(open - a.text), end};  // the outer of nested groups comes last
    }

    static void on_closed(void* context, const VlNode* count, const VlToken& end) {
        Analyser& a = of(context);
        a.loop_end[count] = end;
        if (end.type == TOKEN_STOP) a.loop_stops.insert(a.offset_of(end));
    }

    static void on_skipped(void* context, const VlToken& token) {
        if (token.start) of(context).skipped.insert(of(context).offset_of(token));
    }

    // ---- the walk, in the compiler's order ----

    NameState& state(const char* name) { return names[name]; }

    Extent extent_of_token(const VlNode* node) const {
        auto it = node_token.find(node);
        if (it == node_token.end()) return {0, 0};
        VlSpan s = span_of(it->second);
        return {s.offset, s.end()};
    }

    Extent grouped(const VlNode* node, Extent inner) const {
        auto it = groups.find(node);
        if (it == groups.end()) return inner;
        return {it->second.open, it->second.end == size_t(-1) ? inner.end : it->second.end};
    }

    bool is_grouped(const VlNode* node) const { return groups.count(node) != 0; }

    void read(const VlNode* node) {
        const char* name = node->as.identifier.name;
        auto at = node_token.find(node);
        if (!name || at == node_token.end()) return;
        result.reads.push_back(uint32_t(at->second));
        NameState& s = state(name);
        s.read = true;
        if (s.has_value) return;
        VlSpan span = span_of(at->second);
        surprise(span, VlSeverity::warning, false, "reads-zero", "a-name-read-before-any-store-is-0",
                 "'" + std::string(name) + "' has no value here: nothing stores it before this point, so it reads 0");
        if (s.fixed || statements.empty()) return;
        s.fixed = true;
        size_t before = statements.back();
        size_t line_start = before;
        while (line_start > 0 && (text[line_start - 1] == ' ' || text[line_start - 1] == '\t')) --line_start;
        std::string store = "store " + std::string(name) + " = 0";
        if (line_start == 0 || text[line_start - 1] == '\n' || text[line_start - 1] == '\r')
            store += "\n" + std::string(text + line_start, before - line_start);
        else
            store += " ";
        fix("Store 0 in '" + std::string(name) + "' before its first read", {before, 0}, std::move(store), false);
    }

    Walked leaf(const VlNode* node) {
        Extent e = extent_of_token(node);
        switch (node->type) {
            case NODE_STRING: return {Kind::text, grouped(node, e)};
            case NODE_IDENTIFIER: {
                read(node);
                Kind kind = node->as.identifier.name ? state(node->as.identifier.name).kind : Kind::number;
                return {kind, grouped(node, e)};
            }
            default: return {Kind::number, grouped(node, e)};
        }
    }

    std::string operator_word(size_t offset) const {
        std::string_view word = source(offset);
        if (word.size() > 2 && word[0] == 'd') return "divided by";  // however many blanks it holds
        return std::string(word);
    }

    // A binary chain is left-deep and may be very long: its left spine is
    // walked without recursion; only parenthesised right operands recurse.
    Walked expression(const VlNode* node) {
        if (!node) return {Kind::number, {0, 0}};
        if (node->type != NODE_BINARY) return leaf(node);
        const size_t base = spine.size();  // the spines of enclosing chains lie below
        for (const VlNode* n = node; n && n->type == NODE_BINARY; n = n->as.binary.left) spine.push_back(n);
        const VlNode* first = spine.back()->as.binary.left;
        Walked left = first ? expression(first) : Walked{Kind::number, {0, 0}};
        bool left_is_chain = false;  // the left operand is an ungrouped operation
        while (spine.size() > base) {
            const VlNode* binary = spine.back();
            spine.pop_back();
            auto op_at = node_token.find(binary);
            size_t op = op_at == node_token.end() ? size_t(-1) : op_at->second;
            const VlNode* right_node = binary->as.binary.right;
            Walked right = right_node ? expression(right_node) : Walked{Kind::number, {0, 0}};
            if (left_is_chain && op != size_t(-1) && first) {
                result.hints.push_back({left.extent.start, "("});
                result.hints.push_back({left.extent.end, ")"});
            }
            Kind kind = Kind::number;
            VlTokenType type = binary->as.binary.op;
            if (type == TOKEN_PLUS || type == TOKEN_SAME || type == TOKEN_BIG || type == TOKEN_SMALL) {
                if (left.kind == Kind::text || right.kind == Kind::text) kind = Kind::text;
                if (type != TOKEN_PLUS && op != size_t(-1)) {
                    std::string word = operator_word(op);
                    surprise(span_of(op), VlSeverity::information, false, "adds-like-plus", "same-big-and-small-add",
                             "'" + word + "' adds, like 'plus': it does not compare");
                    fix("Replace '" + word + "' with 'plus'", span_of(op), "plus", true);
                }
            } else if ((left.kind == Kind::text || right.kind == Kind::text) && op != size_t(-1)) {
                const char* side = left.kind == right.kind ? "on both sides" : left.kind == Kind::text ? "on its left" : "on its right";
                surprise(span_of(op), VlSeverity::warning, false, "text-counts-as-zero", "arithmetic",
                         "'" + operator_word(op) + "' works on numbers only: the text " + side + " counts as 0");
            }
            size_t end = right_node ? right.extent.end : (op != size_t(-1) ? span_of(op).end() : left.extent.end);
            left = {kind, grouped(binary, {left.extent.start, end})};
            left_is_chain = !is_grouped(binary);
        }
        return left;
    }

    void write(const VlNode* statement, const char* name, Kind kind, bool loop, size_t keyword) {
        if (!name) return;
        NameState& s = state(name);
        s.has_value = true;
        s.kind = kind;
        auto at = name_token.find(statement);
        size_t offset = at == name_token.end() ? size_t(-1) : at->second;
        if (offset != size_t(-1)) result.writes.push_back(uint32_t(offset));
        if (loop) s.loop = true;
        else if (offset != size_t(-1)) s.stores.push_back(offset);
        if (s.bound || offset == size_t(-1)) return;
        s.bound = true;
        VlSpan name_span = span_of(offset);
        int32_t line = line_of(offset);
        result.bindings.push_back({name, name_span, line, loop});
        result.declarations.push_back(uint32_t(offset));
        VlOutlineItem item{name, false, {keyword, name_span.end() - keyword}, name_span, line, {}};
        (containers.empty() ? result.outline : containers.back()->children).push_back(std::move(item));
    }

    void statement(const VlNode* node) {
        if (!node) return;
        auto at = node_token.find(node);
        size_t keyword = at == node_token.end() ? 0 : at->second;
        statements.push_back(keyword);
        switch (node->type) {
            case NODE_DISPLAY: expression(node->as.display.expr); break;
            case NODE_STORE: {
                Kind kind = expression(node->as.store.value).kind;
                write(node, node->as.store.name, kind, false, keyword);
                break;
            }
            case NODE_COUNT: loop(node, keyword); break;
            default: break;
        }
        statements.pop_back();
    }

    void loop(const VlNode* node, size_t keyword) {
        const char* name = node->as.count.name;
        std::string holder = name ? "'" + std::string(name) + "'" : "its variable";
        surprise(span_of(keyword), VlSeverity::information, false, "count-runs-once", "count-runs-its-body-once",
                 "count runs its body once, with " + holder + " holding the start value; the end value is not used");

        // The loop's place in the outline, holding what its body binds first.
        VlOutlineItem item{name ? "count " + std::string(name) : "count", true, {keyword, 5}, {keyword, 5},
                           line_of(keyword), {}};
        VlToken end = loop_end.count(node) ? loop_end[node] : VlToken{};
        size_t last = end.type == TOKEN_STOP ? offset_of(end) + 4 : last_token_end();
        item.range.length = std::max(last, keyword + 5) - keyword;
        auto& siblings = containers.empty() ? result.outline : containers.back()->children;
        siblings.push_back(std::move(item));
        containers.push_back(&siblings.back());

        Kind start = expression(node->as.count.from).kind;
        expression(node->as.count.to);
        write(node, name, start, true, keyword);
        const VlNode* body = node->as.count.body;
        if (body && body->type == NODE_BLOCK)
            for (size_t i = 0; i < body->as.list.count; i++) statement(body->as.list.items[i]);
        if (name) state(name).kind = start;  // plus 1: text stays text, a number a number
        containers.pop_back();

        if (end.type == TOKEN_STOP)
            result.folds.push_back({keyword, offset_of(end), true, false});
        else
            result.folds.push_back({keyword, last == 0 ? keyword : last - 1, false, false});
    }

    size_t last_token_end() const {
        for (auto it = result.tokens.rbegin(); it != result.tokens.rend(); ++it)
            if (it->type != TOKEN_NEWLINE) return size_t(it->offset) + it->length;
        return 0;
    }

    void forget_statement() {
        node_token.clear();
        name_token.clear();
        groups.clear();
        loop_end.clear();
    }

    // ---- after the parse ----

    // Runs of skipped tokens, each on one line; a check or an otherwise
    // begins a run of its own.
    void skips() {
        const auto& tokens = result.tokens;
        for (size_t i = 0; i < tokens.size();) {
            if (!skipped.count(tokens[i].offset)) {
                ++i;
                continue;
            }
            size_t first = i++;
            while (i < tokens.size() && skipped.count(tokens[i].offset) && tokens[i].type != TOKEN_CHECK &&
                   tokens[i].type != TOKEN_OTHERWISE)
                ++i;
            size_t from = tokens[first].offset;
            size_t to = size_t(tokens[i - 1].offset) + tokens[i - 1].length;
            VlSpan span{from, to - from};
            VlTokenType type = tokens[first].type;
            if (type == TOKEN_CHECK || type == TOKEN_OTHERWISE) {
                // A check run may stop at a second check: the line goes on skipped.
                size_t j = i;
                while (j < tokens.size() && skipped.count(tokens[j].offset)) ++j;
                bool whole_line = j == tokens.size() || tokens[j].type == TOKEN_NEWLINE;
                std::string word = type == TOKEN_CHECK ? "check" : "otherwise";
                std::string what = whole_line ? "this line is skipped, and the lines after it always run"
                                              : "it is skipped, and what follows it always runs";
                surprise(span, VlSeverity::warning, true, type == TOKEN_CHECK ? "check-skipped" : "otherwise-skipped",
                         "check-and-otherwise-are-skipped", "'" + word + "' is not a condition: " + what);
                size_t last = j - 1;
                bool one_line = std::memchr(text + from, '\n', size_t(tokens[last].offset) + tokens[last].length - from) == nullptr;
                if (whole_line && one_line)
                    fix("Turn the skipped line into a comment", {from, 0}, "// ", false);
                continue;
            }
            if (error_tokens.count(from)) continue;  // the syntax error says it already
            std::string word = shown(from, size_t(tokens[first].offset) + tokens[first].length);
            surprise(span, VlSeverity::warning, true, "skipped-word", "a-word-that-begins-no-statement-is-skipped",
                     "'" + word + "' begins no statement: it is skipped with what follows it up to the next statement, and does nothing");
        }
    }

    // Up to 24 bytes of the text, never ending inside a character.
    std::string shown(size_t from, size_t to) const {
        size_t end = std::min(to, from + 24);
        if (end < to)
            while (end > from && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
        return std::string(text + from, end - from);
    }

    bool first_on_line(size_t offset) const {
        while (offset > 0 && (text[offset - 1] == ' ' || text[offset - 1] == '\t')) --offset;
        return offset == 0 || text[offset - 1] == '\n';
    }

    // Where the program ended, and what follows its closing stop.
    void ending(const VlToken& current) {
        const auto& tokens = result.tokens;
        size_t at = current.type == TOKEN_EOF ? tokens.size() : index_of(offset_of(current));
        if (at == 0) return;
        const VlLexeme& before = tokens[at - 1];
        if (before.type != TOKEN_STOP || loop_stops.count(before.offset)) return;  // the end of input ended it
        if (!tokens.empty() && tokens[0].type == TOKEN_START)
            result.folds.push_back({tokens[0].offset, before.offset, true, false});
        size_t first = at;
        while (first < tokens.size() && tokens[first].type == TOKEN_NEWLINE) ++first;
        if (first == tokens.size()) return;
        size_t from = tokens[first].offset;
        size_t to = last_token_end();
        surprise({from, to - from}, VlSeverity::hint, true, "after-stop", "the-program-start-and-stop",
                 "nothing after the program's closing 'stop' on line " + std::to_string(line_of(before.offset)) +
                     " is read");
    }

    void unread_names() {
        for (auto& [name, s] : names) {
            if (s.read || s.loop) continue;
            for (size_t offset : s.stores)
                surprise(span_of(offset), VlSeverity::hint, true, "never-read", "names-and-store",
                         "'" + name + "' is stored here and never read");
        }
    }

    // Runs of two or more lines that hold only a comment.
    void comment_folds() {
        const auto& comments = result.comments;
        for (size_t i = 0; i < comments.size();) {
            if (!first_on_line(comments[i].offset)) {
                ++i;
                continue;
            }
            size_t j = i;
            while (j + 1 < comments.size() && first_on_line(comments[j + 1].offset) &&
                   next_line_start(comments[j].end()) != size_t(-1) &&
                   line_starts_with_comment(next_line_start(comments[j].end()), comments[j + 1].offset))
                ++j;
            if (j > i) result.folds.push_back({comments[i].offset, comments[j].offset, false, true});
            i = j + 1;
        }
    }

    size_t next_line_start(size_t offset) const {
        const void* nl = std::memchr(text + offset, '\n', size - offset);
        return nl ? size_t(static_cast<const char*>(nl) - text) + 1 : size_t(-1);
    }

    bool line_starts_with_comment(size_t line, size_t comment) const {
        if (comment < line) return false;
        for (size_t i = line; i < comment; ++i)
            if (text[i] != ' ' && text[i] != '\t') return false;
        return true;
    }

    void run() {
        line_starts.push_back(0);
        for (const char* p = text; (p = static_cast<const char*>(std::memchr(p, '\n', size_t(text + size - p))));)
            line_starts.push_back(size_t(++p - text));
        lex();
        VlParseObserver observer{this, on_error, on_binding, on_node, on_group, on_closed, on_skipped};
        VlScopedArena arena;
        {
            VlFrontEnd front(VlFrontEndSetup{text, nullptr, arena.get(), nullptr, &observer});
            while (const VlNode* node = front.next_statement()) {
                statement(node);
                forget_statement();
            }
            VlToken current = front.current();
            ending(current);
        }
        skips();
        unread_names();
        comment_folds();
        finish();
    }

    // Syntax errors all stay; the surprises fill what room is left, in text
    // order, and the fixes follow their findings.
    void finish() {
        std::vector<VlFinding> all = std::move(errors);
        size_t room = all.size() >= VL_MAX_FINDINGS ? 0 : VL_MAX_FINDINGS - all.size();
        std::vector<size_t> order(surprises.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
            return surprises[a].span.offset < surprises[b].span.offset;
        });
        if (order.size() > room) order.resize(room);
        std::vector<size_t> placed(surprises.size(), size_t(-1));
        for (size_t index : order) {
            placed[index] = all.size();
            all.push_back(std::move(surprises[index]));
        }
        std::vector<size_t> sorted(all.size());
        for (size_t i = 0; i < sorted.size(); ++i) sorted[i] = i;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [&all](size_t a, size_t b) { return all[a].span.offset < all[b].span.offset; });
        std::vector<size_t> rank(all.size());
        for (size_t k = 0; k < sorted.size(); ++k) rank[sorted[k]] = k;
        result.findings.reserve(all.size());
        for (size_t index : sorted) result.findings.push_back(std::move(all[index]));
        std::vector<VlFix> fixes;
        for (VlFix& f : result.fixes) {
            if (placed[f.finding] == size_t(-1)) continue;
            f.finding = rank[placed[f.finding]];
            fixes.push_back(std::move(f));
        }
        result.fixes = std::move(fixes);

        std::sort(result.declarations.begin(), result.declarations.end());
        std::sort(result.reads.begin(), result.reads.end());
        std::sort(result.writes.begin(), result.writes.end());
        std::sort(result.hints.begin(), result.hints.end(), [](const VlHint& a, const VlHint& b) {
            if (a.offset != b.offset) return a.offset < b.offset;
            return a.label == ")" && b.label == "(";  // what closes comes before what opens
        });
        std::vector<VlHint> merged;
        for (VlHint& hint : result.hints) {
            if (!merged.empty() && merged.back().offset == hint.offset)
                merged.back().label += hint.label;
            else
                merged.push_back(std::move(hint));
        }
        result.hints = std::move(merged);
        std::stable_sort(result.folds.begin(), result.folds.end(),
                         [](const VlFold& a, const VlFold& b) { return a.from < b.from; });
    }
};

}  // namespace

VlAnalysis vl_analyse(const char* text) {
    Analyser analyser(text);
    analyser.run();
    return std::move(analyser.result);
}

std::vector<VlUse> vl_analysis_uses(const VlAnalysis& analysis, const char* text, std::string_view name) {
    std::vector<VlUse> uses;
    for (const VlLexeme& token : analysis.tokens) {
        if (token.type != TOKEN_IDENTIFIER || std::string_view(text + token.offset, token.length) != name) continue;
        VlUseKind kind = VlUseKind::mention;
        if (std::binary_search(analysis.writes.begin(), analysis.writes.end(), token.offset))
            kind = VlUseKind::write;
        else if (std::binary_search(analysis.reads.begin(), analysis.reads.end(), token.offset))
            kind = VlUseKind::read;
        uses.push_back({{token.offset, token.length}, kind});
    }
    return uses;
}

const VlLexeme* vl_analysis_token_at(const VlAnalysis& analysis, size_t offset) {
    auto it = std::upper_bound(analysis.tokens.begin(), analysis.tokens.end(), offset,
                               [](size_t o, const VlLexeme& t) { return o < t.offset; });
    if (it == analysis.tokens.begin()) return nullptr;
    --it;
    if (it->type == TOKEN_NEWLINE || offset >= size_t(it->offset) + it->length) return nullptr;
    return &*it;
}

bool vl_is_name(std::string_view word) {
    if (word.empty() || word.size() > 4096) return false;
    std::string copy(word);
    if (copy.find('\0') != std::string::npos) return false;
    VlScopedArena arena;
    VlLexer* lexer = vl_lexer_create(arena.get(), copy.c_str());
    VlToken first = vl_lexer_next_token(lexer);
    return first.type == TOKEN_IDENTIFIER && first.length == word.size() && first.column == 1;
}
