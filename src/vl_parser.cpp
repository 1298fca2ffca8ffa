// The parser: two tokens of look-ahead, recursive descent, one precedence
// level.  It never stops at an error: it records the last message, skips
// what it cannot use and carries on.
#include "vl_parser.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

// Parentheses inside parentheses and loops inside loops nest at most this
// deep, so that parsing and compiling stay far inside a 1 MiB stack.
static constexpr int32_t MAX_NESTING = 200;

static VlNode* parse_statement(VlParser* parser);
static VlNode* parse_expression(VlParser* parser);

// The two tokens take turns in the `current` and `next` records instead of
// being copied from one to the other: a token copied right after the lexer
// wrote it stalls on store forwarding, and that was a third of the parser's
// time.  A reference to the current token goes stale at the next advance,
// when its record is reused for the token after next: read what is needed
// before advancing.
static const VlToken& current(const VlParser* parser) { return *parser->at; }

static void advance(VlParser* parser) {
    VlToken* spent = parser->at;
    parser->at = parser->ahead;
    parser->ahead = spent;
    vl_lexer_read_token(parser->lexer, spent);
}

static void settle(VlParser* parser) {
    if (parser->at != &parser->current) {
        VlToken swapped = parser->current;
        parser->current = parser->next;
        parser->next = swapped;
    }
    parser->at = &parser->current;
    parser->ahead = &parser->next;
}

static VlNode* new_node(VlParser* parser, VlNodeType type) {
    auto* node = static_cast<VlNode*>(vl_arena_must_alloc_zero(parser->arena, sizeof(VlNode)));
    node->type = type;
    return node;
}

static VlNode* new_leaf(VlParser* parser, VlNodeType type, const VlToken& token) {
    VlNode* node = new_node(parser, type);
    node->line = token.line;
    node->column = token.column;
    return node;
}

// Lists (program and block) grow by doubling; the capacity lives here, not in the node.
struct NodeList {
    VlNode* node;
    size_t capacity;
};

static NodeList new_list(VlParser* parser, VlNodeType type, size_t capacity) {
    VlNode* node = new_node(parser, type);
    node->as.list.items = static_cast<VlNode**>(vl_arena_must_alloc(parser->arena, capacity * sizeof(VlNode*)));
    return NodeList{node, capacity};
}

static void append(VlParser* parser, NodeList& list, VlNode* item) {
    auto& items = list.node->as.list;
    if (items.count == list.capacity) {
        auto* grown = static_cast<VlNode**>(vl_arena_must_alloc(parser->arena, 2 * list.capacity * sizeof(VlNode*)));
        std::memcpy(grown, items.items, items.count * sizeof(VlNode*));
        items.items = grown;
        list.capacity *= 2;
    }
    items.items[items.count++] = item;
}

// Each hook is tested where it is called: a parse without an observer pays
// one predictable branch.
#define NOTIFY(parser, hook, ...)                                                 \
    do {                                                                          \
        if ((parser)->observer && (parser)->observer->hook)                       \
            (parser)->observer->hook((parser)->observer->context, __VA_ARGS__);  \
    } while (0)

static void notify_error(VlParser* parser, const VlToken& token, const char* message) {
    NOTIFY(parser, error, token, message);
}

static void error_at_operand(VlParser* parser, const VlToken& token) {
    parser->had_error = true;
    std::snprintf(parser->error_message, sizeof parser->error_message,
                  "Unexpected token in expression: %s at line %d", token.text ? token.text : "EOF", token.line);
    notify_error(parser, token, parser->error_message);
}

static void error_too_deep(VlParser* parser, const char* what, const VlToken& token) {
    parser->had_error = true;
    std::snprintf(parser->error_message, sizeof parser->error_message,
                  "%s nested more than %d levels deep at line %d", what, MAX_NESTING, token.line);
    notify_error(parser, token, parser->error_message);
}

// One operand; null (after recording an error where one is due) when missing.
static VlNode* parse_operand(VlParser* parser) {
    switch (current(parser).type) {
        case TOKEN_NUMBER: {
            VlNode* node = new_leaf(parser, NODE_NUMBER, current(parser));
            NOTIFY(parser, node, node, current(parser));
            node->as.number.number = current(parser).number;
            advance(parser);
            return node;
        }
        case TOKEN_STRING: {
            VlNode* node = new_leaf(parser, NODE_STRING, current(parser));
            NOTIFY(parser, node, node, current(parser));
            node->as.string.text = current(parser).text;
            advance(parser);
            return node;
        }
        case TOKEN_IDENTIFIER: {
            VlNode* node = new_leaf(parser, NODE_IDENTIFIER, current(parser));
            NOTIFY(parser, node, node, current(parser));
            node->as.identifier.name = current(parser).text;
            advance(parser);
            return node;
        }
        case TOKEN_LPAREN: {
            if (parser->depth >= MAX_NESTING) {
                error_too_deep(parser, "Parentheses", current(parser));
                return nullptr;
            }
            const char* open = current(parser).start;
            advance(parser);
            parser->depth++;
            VlNode* inner = parse_expression(parser);
            parser->depth--;
            if (inner) NOTIFY(parser, group, inner, open, current(parser));
            if (current(parser).type == TOKEN_RPAREN) advance(parser);  // a missing ")" is tolerated
            return inner;
        }
        default:
            error_at_operand(parser, current(parser));
            return nullptr;
    }
}

static VlNode* parse_expression(VlParser* parser) {
    VlNode* expression = parse_operand(parser);
    if (!expression) return nullptr;
    while (vl_token_is_operator(current(parser).type)) {
        // Made before its right operand, so that an observer is told the
        // operator without a copy of its token.
        VlNode* binary = new_node(parser, NODE_BINARY);
        NOTIFY(parser, node, binary, current(parser));
        binary->as.binary.op = current(parser).type;
        binary->as.binary.left = expression;
        advance(parser);
        binary->as.binary.right = parse_operand(parser);  // may be null; the expression goes on
        expression = binary;
    }
    return expression;
}

// `keyword` is the "store", kept only for an observer.
static VlNode* parse_store(VlParser* parser, const VlToken* keyword) {
    if (current(parser).type != TOKEN_IDENTIFIER) {
        parser->had_error = true;  // no message: the last one stays
        notify_error(parser, current(parser), nullptr);
        return nullptr;
    }
    VlNode* node = new_node(parser, NODE_STORE);
    if (keyword) NOTIFY(parser, node, node, *keyword);
    NOTIFY(parser, binding, node, current(parser));
    node->as.store.name = current(parser).text;
    node->as.store.var_type = TOKEN_TYPE_WORD;
    advance(parser);
    if (current(parser).type == TOKEN_AS) {
        advance(parser);
        node->as.store.var_type = current(parser).type;
        advance(parser);
    }
    if (current(parser).type == TOKEN_ASSIGN) advance(parser);
    node->as.store.value = parse_expression(parser);
    return node;
}

static VlNode* parse_count(VlParser* parser, const VlToken& keyword) {
    if (parser->depth >= MAX_NESTING) {
        error_too_deep(parser, "Loops", keyword);
        return nullptr;
    }
    VlNode* node = new_node(parser, NODE_COUNT);
    NOTIFY(parser, node, node, keyword);
    node->as.count.name = current(parser).text;  // null when the token has no text
    if (current(parser).text) NOTIFY(parser, binding, node, current(parser));
    advance(parser);
    if (current(parser).type == TOKEN_FROM) advance(parser);
    node->as.count.from = parse_expression(parser);
    if (current(parser).type == TOKEN_TO) advance(parser);
    node->as.count.to = parse_expression(parser);

    NodeList body = new_list(parser, NODE_BLOCK, 16);
    parser->depth++;
    while (current(parser).type != TOKEN_STOP && current(parser).type != TOKEN_EOF) {
        if (current(parser).type == TOKEN_NEWLINE) {
            advance(parser);
        } else if (VlNode* statement = parse_statement(parser)) {
            append(parser, body, statement);
        }
    }
    parser->depth--;
    node->as.count.body = body.node;
    NOTIFY(parser, closed, node, current(parser));
    if (current(parser).type == TOKEN_STOP) advance(parser);
    return node;
}

static VlNode* parse_statement(VlParser* parser) {
    // The keyword is told before the advance reuses its record; a copy is
    // made only where it is read later (a count's, for the report of a loop
    // nested too deep, and a store's, for an observer).
    const VlToken& keyword = current(parser);
    switch (keyword.type) {
        case TOKEN_COUNT: {
            const VlToken count = keyword;
            advance(parser);
            return parse_count(parser, count);
        }
        case TOKEN_DISPLAY: {
            VlNode* node = new_node(parser, NODE_DISPLAY);
            NOTIFY(parser, node, node, keyword);
            advance(parser);
            node->as.display.expr = parse_expression(parser);
            return node;
        }
        case TOKEN_STORE: {
            if (!parser->observer) {
                advance(parser);
                return parse_store(parser, nullptr);
            }
            const VlToken store = keyword;
            advance(parser);
            return parse_store(parser, &store);
        }
        default:  // a word that begins no statement is skipped
            NOTIFY(parser, skipped, keyword);
            advance(parser);
            return nullptr;
    }
}

VlParser* vl_parser_create(VlArena* arena, VlLexer* lexer) { return vl_parser_create_with(arena, lexer, nullptr, nullptr); }

VlParser* vl_parser_create_with(VlArena* arena, VlLexer* lexer, VlArena* nodes, const VlParseObserver* observer) {
    auto* parser = static_cast<VlParser*>(vl_arena_must_alloc_zero(arena, sizeof(VlParser)));
    parser->lexer = lexer;
    parser->arena = nodes ? nodes : arena;
    parser->observer = observer;
    parser->had_error = false;
    settle(parser);
    advance(parser);
    advance(parser);
    settle(parser);
    return parser;
}

static VlNode* next_statement(VlParser* parser) {
    if (!parser->started) {
        parser->started = true;
        if (current(parser).type == TOKEN_START) advance(parser);
    }
    while (!parser->finished) {
        switch (current(parser).type) {
            case TOKEN_EOF: parser->finished = true; break;
            case TOKEN_STOP: advance(parser); parser->finished = true; break;
            case TOKEN_NEWLINE: advance(parser); break;
            default:
                if (VlNode* statement = parse_statement(parser)) return statement;
                break;
        }
    }
    return nullptr;
}

VlNode* vl_parse_next_statement(VlParser* parser) { return next_statement(parser); }

VlNode* vl_parse_program(VlParser* parser) {
    NodeList program = new_list(parser, NODE_PROGRAM, 32);
    while (VlNode* statement = next_statement(parser)) append(parser, program, statement);
    settle(parser);
    return program.node;
}

const VlToken& vl_parser_current(const VlParser* parser) { return current(parser); }

void vl_parser_keep_texts(VlParser* parser, VlArena* to) {
    for (VlToken* token : {parser->at, parser->ahead}) {
        if (token->text && !vl_lexer_text_is_interned(parser->lexer, *token))
            token->text = vl_arena_must_strndup(to, token->text, std::strlen(token->text));
    }
}

void vl_parser_use_arena(VlParser* parser, VlArena* arena) {
    parser->arena = arena;
    parser->lexer->arena = arena;
}
