// The compiler: one recursive pass over the tree; every value-producing node
// leaves its value in a register and answers with that register.
#include "vl_compiler.h"
#include "vl_output.h"

#include <bit>
#include <cstring>

namespace {

struct Operand {
    uint8_t reg;
    bool temporary;  // dies once read
};

constexpr Operand NOTHING{0, false};  // what a missing node yields

// Out of registers: stop emitting, remember the cause.  The pass still walks
// the rest of the tree but emits nothing more.
void fail_out_of_registers(VlCompiler* c) {
    if (c->failed) return;
    c->failed = true;
    std::snprintf(c->error_message, sizeof c->error_message,
                  "More than 256 values are live at once near line %d (%llu variables); "
                  "the machine has 256 registers.",
                  c->line, static_cast<unsigned long long>(c->symbol_count));
}

enum class Holds : bool { variable, temporary };

uint8_t allocate(VlCompiler* c, Holds what) {
    uint8_t reg = 0;
    if (!vl_regalloc_take(&c->registers, what == Holds::temporary, &reg)) fail_out_of_registers(c);
    return reg;
}

void release(VlCompiler* c, Operand operand) {
    if (operand.temporary) vl_regalloc_release(&c->registers, operand.reg);
}

// Every field that the opcode does not use is zero.
void emit(VlCompiler* c, VlOpcode opcode, uint8_t dst, uint8_t src1 = 0, uint8_t src2 = 0, double number = 0.0,
          const char* string = nullptr) {
    if (c->failed) return;
    vl_chunk_append_fields(c->chunk, c->arena, opcode, dst, src1, src2, number, string);
}

// A variable's register.  A register that held a temporary before is cleared
// first, so that a name read before any store reads 0 as on a fresh machine.
uint8_t bind_variable(VlCompiler* c) {
    uint8_t reg = allocate(c, Holds::variable);
    if (vl_regalloc_was_written(&c->registers, reg)) emit(c, OP_LOAD_CONST, reg);
    return reg;
}

// Where the symbol named by the interned pointer `name` is in the index, or
// the empty slot it would take.
size_t symbol_slot(const VlCompiler* c, const char* name) {
    size_t slot = (reinterpret_cast<uintptr_t>(name) >> 3) % VL_NAME_SLOTS;
    while (uint16_t entry = c->name_slots[slot]) {
        if (c->symbols[entry - 1].name == name) break;
        slot = (slot + 1) % VL_NAME_SLOTS;
    }
    return slot;
}

uint8_t resolve(VlCompiler* c, const char* name) {
    if (!name) return bind_variable(c);  // a loop variable that is no word: nameless
    size_t slot = symbol_slot(c, name);
    if (!c->name_slots[slot]) {
        // Not this pointer: a new name, or one from a tree whose lexer did
        // not intern into this table (a parser of its own), taken in here
        // so that it resolves like the others.
        const char* interned = vl_names_intern(c->names, name, std::strlen(name));
        if (interned != name) {
            name = interned;
            slot = symbol_slot(c, name);
        }
    }
    if (uint16_t entry = c->name_slots[slot]) return c->symbols[entry - 1].reg;
    uint8_t reg = bind_variable(c);
    if (c->failed || c->symbol_count == 256) return reg;  // each name holds a register: 256 at most
    const uint16_t index = static_cast<uint16_t>(c->symbol_count++);
    c->symbols[index] = VlSymbol{name, reg};
    c->name_slots[slot] = static_cast<uint16_t>(index + 1);
    if (c->observer && c->observer->symbol) c->observer->symbol(c->observer->context, name, reg, c->chunk->count);
    return reg;
}

// The compiler's own copy of a string literal.  Equal texts share one copy
// while the table is small; past that every literal gets a copy of its own,
// so the table's memory stays bounded whatever the program.
constexpr uint32_t MAX_LITERAL_SLOTS = 8192;

const char* own_literal(VlCompiler* c, const char* text) {
    return text ? vl_names_intern(c->literals, text, std::strlen(text)) : nullptr;
}

void push_spine(VlCompiler* c, const VlNode* node) {
    if (c->spine_size == c->spine_capacity) {
        size_t capacity = c->spine_capacity ? c->spine_capacity * 2 : 64;
        auto** grown = static_cast<const VlNode**>(vl_arena_must_alloc(c->arena, capacity * sizeof(VlNode*)));
        if (c->spine_size) std::memcpy(grown, c->spine, c->spine_size * sizeof(VlNode*));
        c->spine = grown;
        c->spine_capacity = capacity;
    }
    c->spine[c->spine_size++] = node;
}

VlOpcode opcode_for(VlTokenType op) {
    switch (op) {
        case TOKEN_MINUS: return OP_SUB;
        case TOKEN_MULTIPLY: return OP_MUL;
        case TOKEN_DIVIDE: return OP_DIV;
        default: return OP_ADD;  // plus, and also same, big and small
    }
}

Operand compile_node(VlCompiler* c, const VlNode* node);

Operand compile_binary(VlCompiler* c, const VlNode* node) {
    // Chains like a plus b plus c are left-deep and may be very long: the
    // left spine goes on the compiler's stack, innermost last; only right
    // operands (parenthesised, and so of bounded depth) recurse.
    const size_t base = c->spine_size;
    for (const VlNode* n = node; n && n->type == NODE_BINARY; n = n->as.binary.left) push_spine(c, n);
    Operand left = compile_node(c, c->spine[c->spine_size - 1]->as.binary.left);
    while (c->spine_size > base) {
        const VlNode* binary = c->spine[--c->spine_size];
        Operand right = compile_node(c, binary->as.binary.right);
        release(c, left);
        release(c, right);
        uint8_t dst = allocate(c, Holds::temporary);
        emit(c, opcode_for(binary->as.binary.op), dst, left.reg, right.reg);
        left = Operand{dst, true};
    }
    return left;
}

void tell_stored(VlCompiler* c, uint8_t variable) {
    if (c->observer && c->observer->stored && !c->failed)
        c->observer->stored(c->observer->context, variable, c->chunk->count - 1);
}

void compile_statement(VlCompiler* c, const VlNode* statement) {
    const VlCompileObserver* observer = statement ? c->observer : nullptr;
    if (observer && observer->statement_begins)
        observer->statement_begins(observer->context, statement, c->chunk->count, c->depth);
    release(c, compile_node(c, statement));
    if (observer && observer->statement_ends) observer->statement_ends(observer->context, statement, c->chunk->count);
}

void compile_statements(VlCompiler* c, const VlNode* list) {
    for (size_t i = 0; i < list->as.list.count; i++) compile_statement(c, list->as.list.items[i]);
}

// A count loop runs its body once with the start value, then adds 1.
Operand compile_count(VlCompiler* c, const VlNode* node) {
    uint8_t variable = resolve(c, node->as.count.name);
    Operand start = compile_node(c, node->as.count.from);
    release(c, compile_node(c, node->as.count.to));  // evaluated, never used
    emit(c, OP_MOVE, variable, start.reg);
    tell_stored(c, variable);
    release(c, start);
    const VlNode* body = node->as.count.body;
    if (body && body->type == NODE_BLOCK) {
        c->depth++;
        compile_statements(c, body);
        c->depth--;
    }
    uint8_t one = allocate(c, Holds::temporary);
    emit(c, OP_LOAD_CONST, one, 0, 0, 1.0);
    emit(c, OP_ADD, variable, variable, one);
    release(c, Operand{one, true});
    return Operand{variable, false};
}

// A literal goes into a fresh temporary.
Operand load_literal(VlCompiler* c, const VlNode* node, VlOpcode opcode, double number, const char* string) {
    c->line = node->line;
    uint8_t dst = allocate(c, Holds::temporary);
    emit(c, opcode, dst, 0, 0, number, string);
    return Operand{dst, true};
}

Operand compile_node(VlCompiler* c, const VlNode* node) {
    if (!node) return NOTHING;
    switch (node->type) {
        case NODE_NUMBER:
            return load_literal(c, node, OP_LOAD_CONST, node->as.number.number, nullptr);
        case NODE_STRING:
            return load_literal(c, node, OP_LOAD_STR, 0.0, own_literal(c, node->as.string.text));
        case NODE_IDENTIFIER:
            c->line = node->line;
            return Operand{resolve(c, node->as.identifier.name), false};
        case NODE_BINARY:
            return compile_binary(c, node);
        case NODE_STORE: {
            Operand value = compile_node(c, node->as.store.value);
            uint8_t variable = resolve(c, node->as.store.name);
            emit(c, OP_MOVE, variable, value.reg);
            tell_stored(c, variable);
            release(c, value);
            return Operand{variable, false};
        }
        case NODE_DISPLAY: {
            Operand value = compile_node(c, node->as.display.expr);
            emit(c, OP_PRINT, 0, value.reg);
            return value;  // the caller releases it
        }
        case NODE_COUNT:
            return compile_count(c, node);
        default:
            return NOTHING;  // program, block and unused kinds compile to nothing
    }
}

void compile_program(VlCompiler* c, const VlNode* program) {
    if (program->type == NODE_PROGRAM || program->type == NODE_BLOCK)
        compile_statements(c, program);
    else
        compile_statement(c, program);
}

}  // namespace

VlCompiler* vl_compiler_create(VlArena* arena, VlChunk* chunk) {
    auto* compiler = static_cast<VlCompiler*>(vl_arena_must_alloc_zero(arena, sizeof(VlCompiler)));
    compiler->arena = arena;
    compiler->chunk = chunk;
    compiler->names = vl_names_create(arena);
    compiler->literals = vl_names_create_bounded(arena, MAX_LITERAL_SLOTS);
    compiler->first_instruction = chunk ? chunk->count : 0;
    return compiler;
}

void vl_compiler_continue_from(VlCompiler* compiler, const VlCompiler* from) {
    compiler->registers = from->registers;
    compiler->symbol_count = 0;
    std::memset(compiler->name_slots, 0, sizeof compiler->name_slots);
    for (uint64_t i = 0; i < from->symbol_count; i++) {
        const VlSymbol& symbol = from->symbols[i];
        const char* name = vl_names_intern(compiler->names, symbol.name, std::strlen(symbol.name));
        size_t slot = symbol_slot(compiler, name);
        compiler->symbols[compiler->symbol_count] = VlSymbol{name, symbol.reg};
        compiler->name_slots[slot] = static_cast<uint16_t>(++compiler->symbol_count);
    }
}

void vl_compile_statement(VlCompiler* compiler, const VlNode* statement) {
    if (compiler && statement) compile_statement(compiler, statement);
}

bool vl_compile_finish(VlCompiler* compiler) {
    if (!compiler) return false;
    emit(compiler, OP_HALT, 0);
    if (compiler->failed) {
        vl_chunk_truncate(compiler->chunk, compiler->first_instruction);
        return false;
    }
    return true;
}

bool vl_compile(VlCompiler* compiler, VlNode* program) {
    if (!compiler || !program) return false;
    compile_program(compiler, program);
    return vl_compile_finish(compiler);
}

void vl_compiler_report(const VlCompiler* compiler, FILE* out) {
    if (compiler && compiler->failed) vl_printf(out, "%s\n", compiler->error_message);
}
