// The front end of a build: a lexer and a parser over one script, which
// hand out its top-level statements one at a time.  Each statement's tree
// lives in a scratch arena that is rewound once it has grown, so a long
// script never holds its whole tree; the front end alone decides when, and
// keeps the look-ahead tokens' texts alive across it.
#pragma once
#include <cstddef>
#include "vl_arena.h"
#include "vl_lexer.h"
#include "vl_names.h"
#include "vl_parser.h"

struct VlFrontEndSetup {
    const char* source;               // the whole text, or the first window of `feed`
    const VlSourceFeed* feed;         // null: `source` is the whole text
    VlArena* arena;                   // the command's: the lexer and parser records live here
    VlNameTable* names;               // words are interned here; null: copied
    const VlParseObserver* observer;  // told every error and binding; may be null
};

class VlFrontEnd {
public:
    explicit VlFrontEnd(const VlFrontEndSetup& setup);
    VlFrontEnd(const VlFrontEnd&) = delete;
    VlFrontEnd& operator=(const VlFrontEnd&) = delete;
    // The texts of the tokens still held move to the command's arena first.
    ~VlFrontEnd();

    // The next top-level statement, or null once the program has ended.
    // Its tree lives until the next call.
    [[nodiscard]] const VlNode* next_statement();

    [[nodiscard]] size_t statement_count() const { return statement_count_; }
    [[nodiscard]] bool had_error() const { return parser_->had_error; }
    // The last syntax error's message ("" when there was none, or when the
    // error writes none).
    [[nodiscard]] const char* error_message() const { return parser_->error_message; }
    // Where the parser stands: once the program has ended, where it stopped.
    [[nodiscard]] const VlToken& current() const { return vl_parser_current(parser_); }

private:
    VlArena* arena_;
    VlArena* scratch_;
    VlLexer* lexer_;
    VlParser* parser_;
    size_t statement_count_ = 0;
};
