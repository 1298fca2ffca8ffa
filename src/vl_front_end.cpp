// The front end: statements parsed into a scratch arena that is rewound
// once it has grown.
#include "vl_front_end.h"

namespace {

// Above this much scratch memory the trees handed out so far are dropped.
constexpr size_t SCRATCH_RECYCLE_AT = 48 * 1024;

bool crowded(const VlArena* scratch) {
    return scratch->current != scratch->first || scratch->first->used > SCRATCH_RECYCLE_AT;
}

}  // namespace

VlFrontEnd::VlFrontEnd(const VlFrontEndSetup& setup)
    : arena_(setup.arena), scratch_(vl_arena_create(VL_ARENA_MIN_BLOCK)) {
    if (!scratch_) vl_out_of_memory();
    lexer_ = vl_lexer_create_from(arena_, VlLexerSetup{setup.source, setup.feed, scratch_, setup.names});
    parser_ = vl_parser_create_with(arena_, lexer_, scratch_, setup.observer);
}

VlFrontEnd::~VlFrontEnd() {
    vl_parser_keep_texts(parser_, arena_);
    vl_parser_use_arena(parser_, arena_);
    vl_lexer_detach(lexer_);  // the feed goes with its owner
    vl_arena_destroy(scratch_);
}

const VlNode* VlFrontEnd::next_statement() {
    // The tree handed out last is done with: if the scratch memory has grown,
    // it is rewound, after the look-ahead tokens' texts have moved out of it.
    if (crowded(scratch_)) {
        vl_parser_keep_texts(parser_, arena_);
        vl_arena_reset(scratch_);
    }
    const VlNode* statement = vl_parse_next_statement(parser_);
    if (statement) statement_count_++;
    return statement;
}
