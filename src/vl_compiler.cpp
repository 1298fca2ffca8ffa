// The compiler: one recursive pass over the tree; every value-producing node
// leaves its value in a register and answers with that register.
#include "vl_compiler.h"

#include <cstring>
#include <vector>

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

// A fresh register.  In order while they last; in reuse mode the lowest free one.
uint8_t allocate(VlCompiler* c, VlRegisterUse use) {
    if (!c->reuse) {
        if (c->handed_out == 256) {
            fail_out_of_registers(c);
            return 0;
        }
        uint8_t reg = static_cast<uint8_t>(c->handed_out++);
        c->next_register = static_cast<uint8_t>(c->handed_out);  // wraps only when all 256 are out
        c->use[reg] = use;
        return reg;
    }
    for (int reg = 0; reg < 256; reg++) {
        if (c->use[reg] == VL_REG_FREE) {
            c->use[reg] = use;
            return static_cast<uint8_t>(reg);
        }
    }
    fail_out_of_registers(c);
    return 0;
}

void release(VlCompiler* c, Operand operand) {
    if (c->reuse && operand.temporary && c->use[operand.reg] == VL_REG_TEMPORARY) {
        c->use[operand.reg] = VL_REG_FREE;
        c->dirty[operand.reg] = true;
    }
}

void emit(VlCompiler* c, VlInstruction instruction) {
    if (c->failed) return;
    vlvm_write_instruction(c->chunk, instruction, c->arena);
}

VlInstruction make(VlOpcode opcode) {
    VlInstruction instruction{};
    instruction.opcode = opcode;
    return instruction;
}

// A variable's register.  A register that held a temporary before is cleared
// first, so that a name read before any store reads 0 as on a fresh machine.
uint8_t bind_variable(VlCompiler* c) {
    uint8_t reg = allocate(c, VL_REG_VARIABLE);
    if (c->reuse && c->dirty[reg]) {
        VlInstruction clear = make(OP_LOAD_CONST);
        clear.dst = reg;
        emit(c, clear);
    }
    return reg;
}

uint8_t resolve(VlCompiler* c, const char* name) {
    if (!name) return bind_variable(c);  // a loop variable that is no word: nameless
    for (uint64_t i = 0; i < c->symbol_count; i++)
        if (std::strcmp(c->symbols[i].name, name) == 0) return c->symbols[i].reg;
    uint8_t reg = bind_variable(c);
    if (c->failed || c->symbol_count == 256) return reg;  // each name holds a register: 256 at most
    c->symbols[c->symbol_count++] = VlSymbol{name, reg};
    return reg;
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
    // Chains like a plus b plus c are left-deep and may be very long: walk the
    // left spine with a loop; only right operands (parenthesised, and so of
    // bounded depth) recurse.
    std::vector<const VlNode*> spine;
    for (const VlNode* n = node; n && n->type == NODE_BINARY; n = n->as.binary.left) spine.push_back(n);
    Operand left = compile_node(c, spine.back()->as.binary.left);
    for (auto it = spine.rbegin(); it != spine.rend(); ++it) {
        Operand right = compile_node(c, (*it)->as.binary.right);
        release(c, left);
        release(c, right);
        VlInstruction instruction = make(opcode_for((*it)->as.binary.op));
        instruction.dst = allocate(c, VL_REG_TEMPORARY);
        instruction.src1 = left.reg;
        instruction.src2 = right.reg;
        emit(c, instruction);
        left = Operand{instruction.dst, true};
    }
    return left;
}

void compile_statements(VlCompiler* c, const VlNode* list) {
    for (size_t i = 0; i < list->as.list.count; i++) release(c, compile_node(c, list->as.list.items[i]));
}

// A count loop runs its body once with the start value, then adds 1.
Operand compile_count(VlCompiler* c, const VlNode* node) {
    uint8_t variable = resolve(c, node->as.count.name);
    Operand start = compile_node(c, node->as.count.from);
    release(c, compile_node(c, node->as.count.to));  // evaluated, never used
    VlInstruction move = make(OP_MOVE);
    move.dst = variable;
    move.src1 = start.reg;
    emit(c, move);
    release(c, start);
    const VlNode* body = node->as.count.body;
    if (body && body->type == NODE_BLOCK) compile_statements(c, body);
    VlInstruction one = make(OP_LOAD_CONST);
    one.dst = allocate(c, VL_REG_TEMPORARY);
    one.number = 1;
    emit(c, one);
    VlInstruction add = make(OP_ADD);
    add.dst = variable;
    add.src1 = variable;
    add.src2 = one.dst;
    emit(c, add);
    release(c, Operand{one.dst, true});
    return Operand{variable, false};
}

// A literal goes into a fresh temporary.
Operand load_literal(VlCompiler* c, const VlNode* node, VlInstruction load) {
    c->line = node->line;
    load.dst = allocate(c, VL_REG_TEMPORARY);
    emit(c, load);
    return Operand{load.dst, true};
}

Operand compile_node(VlCompiler* c, const VlNode* node) {
    if (!node) return NOTHING;
    switch (node->type) {
        case NODE_NUMBER: {
            VlInstruction load = make(OP_LOAD_CONST);
            load.number = node->as.number.number;
            return load_literal(c, node, load);
        }
        case NODE_STRING: {
            VlInstruction load = make(OP_LOAD_STR);
            load.string = node->as.string.text;  // shared with the tree, not copied
            return load_literal(c, node, load);
        }
        case NODE_IDENTIFIER:
            c->line = node->line;
            return Operand{resolve(c, node->as.identifier.name), false};
        case NODE_BINARY:
            return compile_binary(c, node);
        case NODE_STORE: {
            Operand value = compile_node(c, node->as.store.value);
            VlInstruction move = make(OP_MOVE);
            move.dst = resolve(c, node->as.store.name);
            move.src1 = value.reg;
            emit(c, move);
            release(c, value);
            return Operand{move.dst, false};
        }
        case NODE_DISPLAY: {
            Operand value = compile_node(c, node->as.display.expr);
            VlInstruction print = make(OP_PRINT);
            print.src1 = value.reg;
            emit(c, print);
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
        release(c, compile_node(c, program));
    emit(c, make(OP_HALT));
}

void reset_registers(VlCompiler* c) {
    c->symbol_count = 0;
    c->next_register = 0;
    c->handed_out = 0;
    c->failed = false;
    c->line = 0;
    std::memset(c->use, 0, sizeof c->use);
    std::memset(c->dirty, 0, sizeof c->dirty);
}

}  // namespace

VlCompiler* vl_compiler_create(VlArena* arena, VlChunk* chunk) {
    auto* compiler = static_cast<VlCompiler*>(vl_arena_must_alloc_zero(arena, sizeof(VlCompiler)));
    compiler->arena = arena;
    compiler->chunk = chunk;
    return compiler;
}

bool vl_compile(VlCompiler* compiler, VlNode* program) {
    if (!compiler || !program) return false;
    uint64_t first = compiler->chunk->count;
    compile_program(compiler, program);
    if (compiler->failed && !compiler->reuse) {
        // More than 256 registers in order: compile again, reusing dead temporaries.
        compiler->chunk->count = first;
        reset_registers(compiler);
        compiler->reuse = true;
        compile_program(compiler, program);
    }
    if (compiler->failed) {
        compiler->chunk->count = first;
        return false;
    }
    return true;
}

void vl_compiler_report(const VlCompiler* compiler, FILE* out) {
    if (compiler && compiler->failed) std::fprintf(out, "%s\n", compiler->error_message);
}
