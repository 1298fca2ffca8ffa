// The pipeline: statements are parsed into a scratch arena, compiled, and the
// scratch memory is recycled, so a long program never holds its whole tree.
#include "vl_pipeline.h"
#include "vl_output.h"
#include "vl_source_stream.h"
#include "vl_files.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

// Above this much scratch memory the trees compiled so far are dropped.
constexpr size_t SCRATCH_RECYCLE_AT = 48 * 1024;

class ScratchArena {
public:
    ScratchArena() : arena_(vl_arena_create(VL_ARENA_MIN_BLOCK)) {
        if (!arena_) vl_out_of_memory();
    }
    ScratchArena(const ScratchArena&) = delete;
    ScratchArena& operator=(const ScratchArena&) = delete;
    ~ScratchArena() { vl_arena_destroy(arena_); }
    VlArena* get() const { return arena_; }
    bool crowded() const { return arena_->current != arena_->first || arena_->first->used > SCRATCH_RECYCLE_AT; }

private:
    VlArena* arena_;
};

// The parser has read up to two tokens past the statement it returned; their
// texts move to `to` before the arena that held them is rewound or destroyed.
void move_token_texts(VlParser* parser, VlArena* to) {
    char* kept[2] = {nullptr, nullptr};
    VlToken* tokens[2] = {&parser->current, &parser->next};
    for (int i = 0; i < 2; i++) {
        if (char* text = tokens[i]->text) kept[i] = vl_arena_must_strndup(to, text, std::strlen(text));
    }
    for (int i = 0; i < 2; i++) tokens[i]->text = kept[i];
}

// Drops the trees compiled so far.  The texts of the two look-ahead tokens
// wait in stack buffers while the scratch arena is rewound.
void recycle(ScratchArena& scratch, VlParser* parser) {
    char buffers[2][256];
    std::string_view keep[2];
    VlToken* tokens[2] = {&parser->current, &parser->next};
    bool fits = true;
    for (int i = 0; i < 2; i++) {
        if (tokens[i]->text && std::strlen(tokens[i]->text) >= sizeof buffers[i]) fits = false;
    }
    if (!fits) return;  // a long text in the look-ahead: recycle after a later statement
    for (int i = 0; i < 2; i++) {
        if (!tokens[i]->text) continue;
        size_t length = std::strlen(tokens[i]->text);
        std::memcpy(buffers[i], tokens[i]->text, length);
        keep[i] = std::string_view(buffers[i], length);
    }
    vl_arena_reset(scratch.get());
    for (int i = 0; i < 2; i++) {
        if (tokens[i]->text) tokens[i]->text = vl_arena_must_strndup(scratch.get(), keep[i].data(), keep[i].size());
    }
}

void report_unreadable(const char* path, const char* noun, VlReadStatus status) {
    if (status == VL_READ_NO_MEMORY) vl_out_of_memory();
    if (status == VL_READ_TOO_LARGE)
        vl_printf(stderr, "Error: File '%s' is too large (2 GiB or more).\n", path);
    else
        vl_printf(stderr, "Error: Could not open %s '%s'\n", noun, path);
}

VlPipeline build(VlArena* arena, const char* source, const VlSourceFeed* feed, VlPipelineGoal goal) {
    VlPipeline result{};
    ScratchArena scratch;
    // The lexer and the parser records live as long as the command; token
    // texts and tree nodes only as long as their statement.
    VlLexer* lexer = vl_lexer_create(arena, source);
    lexer->feed = feed;
    lexer->arena = scratch.get();
    if (goal != VL_GOAL_CHECK) {
        result.machine = vlvm_create(arena);
        result.compiler = vl_compiler_create(arena, &result.machine->chunk);
        lexer->names = result.compiler->names;  // words come interned: names resolve by pointer
    }
    VlParser* parser = vl_parser_create(arena, lexer);
    parser->arena = scratch.get();
    result.parser = parser;

    while (const VlNode* statement = vl_parse_next_statement(parser)) {
        result.statement_count++;
        // After a syntax error a run is off; only the executable writer wants the rest.
        if (result.compiler && (goal == VL_GOAL_IMAGE || !parser->had_error))
            vl_compile_statement(result.compiler, statement);
        if (scratch.crowded()) recycle(scratch, parser);
    }

    move_token_texts(parser, arena);
    lexer->arena = arena;
    parser->arena = arena;
    bool compiled = !result.compiler || vl_compile_finish(result.compiler);
    if (parser->had_error)
        result.status = VL_PIPELINE_SYNTAX_ERROR;
    else if (!compiled)
        result.status = VL_PIPELINE_COMPILE_ERROR;
    lexer->feed = nullptr;  // the stream goes when the caller returns
    return result;
}

}  // namespace

char* vl_source_read(const char* path, const char* noun) {
    VlReadStatus status = VL_READ_OK;
    char* buffer = vl_file_read_heap(path, nullptr, &status);
    if (!buffer) report_unreadable(path, noun, status);
    return buffer;
}

bool vl_pipeline_build_file(VlArena* arena, const char* path, const char* noun, VlPipelineGoal goal,
                            VlPipeline* result) {
    VlSourceStream stream(path);
    size_t length = 0;
    if (stream.status() == VL_READ_OK) *result = build(arena, stream.first_window(&length), stream.feed(), goal);
    if (stream.status() != VL_READ_OK) {
        report_unreadable(path, noun, stream.status());
        return false;
    }
    return true;
}

VlPipeline vl_pipeline_build(VlArena* arena, const char* source, VlPipelineGoal goal) {
    return build(arena, source, nullptr, goal);
}

bool vl_pipeline_report_error(const VlPipeline& built) {
    if (built.status == VL_PIPELINE_SYNTAX_ERROR) {
        vl_printf(stderr, "Syntax Error: %s\n", built.parser->error_message);
        return true;
    }
    if (built.status == VL_PIPELINE_COMPILE_ERROR) {
        vl_write(stderr, "Compilation Error: Failed to generate VLVM bytecode.\n");
        vl_compiler_report(built.compiler, stderr);
        return true;
    }
    return false;
}
