// Throughput of each stage: lexing and parsing in lines per second, the
// compiler per script, the machine per instruction, the arena per request.
//   build/gcc/bench/bench_pipeline --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <string>

#include "test_support.h"
#include "vl_compiler.h"
#include "vl_lexer.h"
#include "vl_parser.h"
#include "vl_pipeline.h"
#include "vlvm.h"

namespace {

// A script of `lines` ordinary lines: stores, arithmetic, strings, loops.
std::string make_script(int lines) {
    static const char* const shapes[] = {
        "store total = total plus 3 into 2\n",
        "store name = \"item \" plus total\n",
        "count i from 1 to 10\n",
        "    store x = (i plus 1) divided by 2 minus 0.5 // halves\n",
        "stop\n",
        "store y = x * 4 - total / 3\n",
    };
    std::string script;
    for (int i = 0; i < lines; i++) script += shapes[i % 6];
    return script;
}

void BM_Lexer(benchmark::State& state) {
    std::string script = make_script(10000);
    VlArena* arena = vl_arena_create(1 << 20);
    for (auto _ : state) {
        vl_arena_reset(arena);
        VlLexer* lexer = vl_lexer_create(arena, script.c_str());
        size_t tokens = 0;
        while (vl_lexer_next_token(lexer).type != TOKEN_EOF) tokens++;
        benchmark::DoNotOptimize(tokens);
    }
    vl_arena_destroy(arena);
    state.counters["lines/s"] = benchmark::Counter(10000.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Lexer);

void BM_Parser(benchmark::State& state) {
    std::string script = make_script(10000);
    VlArena* arena = vl_arena_create(1 << 20);
    for (auto _ : state) {
        vl_arena_reset(arena);
        VlParser* parser = vl_parser_create(arena, vl_lexer_create(arena, script.c_str()));
        benchmark::DoNotOptimize(vl_parse_program(parser));
    }
    vl_arena_destroy(arena);
    state.counters["lines/s"] = benchmark::Counter(10000.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Parser);

// Parse and compile a 100-line script, as a run of a typical script does.
void BM_Compile(benchmark::State& state) {
    std::string script = make_script(100);
    VlArena* arena = vl_arena_create(1 << 20);
    for (auto _ : state) {
        vl_arena_reset(arena);
        benchmark::DoNotOptimize(vl_pipeline_build(arena, script.c_str(), VL_GOAL_RUN));
    }
    vl_arena_destroy(arena);
}
BENCHMARK(BM_Compile)->Unit(benchmark::kMicrosecond);

// A counted loop of 1,000,000 turns, four instructions each: the cost of
// dispatch and of the numeric handlers.
void BM_MachineLoop(benchmark::State& state) {
    constexpr double turns = 1000000;
    VlArena* arena = vl_arena_create(0);
    VlVM* vm = vlvm_create(arena);
    const VlInstruction code[] = {
        ins(OP_LOAD_CONST, 0, 0, 0, turns), ins(OP_LOAD_CONST, 1, 0, 0, 1), ins(OP_LOAD_CONST, 2, 0, 0, 0),
        ins(OP_JUMP_IF_ZERO, 0, 0, 0, 0, 8),  ins(OP_SUB, 0, 0, 1),         ins(OP_ADD, 2, 2, 1),
        ins(OP_MUL, 3, 2, 1),                 ins(OP_JUMP, 0, 0, 0, 0, 3),  ins(OP_HALT, 0, 0, 0),
    };
    for (const VlInstruction& instruction : code) vl_chunk_append(&vm->chunk, arena, instruction);
    for (auto _ : state) {
        vm->pc = 0;
        benchmark::DoNotOptimize(vlvm_run(vm));
    }
    double executed = 3 + turns * 5 + 2;
    state.counters["ns/instr"] = benchmark::Counter(executed * double(state.iterations()),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    vl_arena_destroy(arena);
}
BENCHMARK(BM_MachineLoop)->Unit(benchmark::kMillisecond);

// String joins: formatting and an arena copy each.
void BM_MachineConcat(benchmark::State& state) {
    static const char text[] = "item ";
    VlArena* arena = vl_arena_create(1 << 20);
    for (auto _ : state) {
        state.PauseTiming();
        vl_arena_reset(arena);
        VlVM* vm = vlvm_create(arena);
        VlInstruction load = ins(OP_LOAD_STR, 0, 0, 0);
        load.string = text;
        vl_chunk_append(&vm->chunk, arena, load);
        vl_chunk_append(&vm->chunk, arena, ins(OP_LOAD_CONST, 1, 0, 0, 42));
        for (int i = 0; i < 1000; i++) vl_chunk_append(&vm->chunk, arena, ins(OP_ADD, 2, 0, 1));
        vl_chunk_append(&vm->chunk, arena, ins(OP_HALT, 0, 0, 0));
        state.ResumeTiming();
        benchmark::DoNotOptimize(vlvm_run(vm));
    }
    state.counters["ns/join"] = benchmark::Counter(1000.0 * double(state.iterations()),
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    vl_arena_destroy(arena);
}
BENCHMARK(BM_MachineConcat)->Unit(benchmark::kMicrosecond);

void BM_ArenaAlloc(benchmark::State& state) {
    VlArena* arena = vl_arena_create(0);
    for (auto _ : state) {
        for (int i = 0; i < 1000; i++) benchmark::DoNotOptimize(vl_arena_alloc(arena, 24));
        vl_arena_reset(arena);
    }
    state.counters["ns/alloc"] = benchmark::Counter(1000.0 * double(state.iterations()),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    vl_arena_destroy(arena);
}
BENCHMARK(BM_ArenaAlloc);

// Straight-line arithmetic, as compiled programs run it: no jumps, every
// instruction once.  The figure the machine is held to (1.5 ns at most).
void BM_MachineStraightLine(benchmark::State& state) {
    constexpr int instructions = 8000;  // 256 KiB of code: the cost of dispatch, not of memory
    VlArena* arena = vl_arena_create(0);
    VlVM* vm = vlvm_create(arena);
    vl_chunk_append(&vm->chunk, arena, ins(OP_LOAD_CONST, 0, 0, 0, 3));
    vl_chunk_append(&vm->chunk, arena, ins(OP_LOAD_CONST, 1, 0, 0, 7));
    const uint32_t ops[] = {OP_ADD, OP_MUL, OP_SUB, OP_DIV, OP_MOVE, OP_LOAD_CONST};
    for (int i = 2; i < instructions - 1; i++) {
        auto dst = static_cast<uint8_t>(2 + i % 200);
        vl_chunk_append(&vm->chunk, arena, ins(ops[i % 6], dst, static_cast<uint8_t>(i % 2), 1, 2));
    }
    vl_chunk_append(&vm->chunk, arena, ins(OP_HALT, 0, 0, 0));
    for (auto _ : state) {
        vm->pc = 0;
        benchmark::DoNotOptimize(vlvm_run(vm));
    }
    state.counters["ns/instr"] = benchmark::Counter(double(instructions) * double(state.iterations()),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    vl_arena_destroy(arena);
}
BENCHMARK(BM_MachineStraightLine)->Unit(benchmark::kMicrosecond);

// Stores of mixed arithmetic on five variables, as bench/compare's arith
// workload writes them: the source the front end is held to 200 MB/s on.
std::string make_arith_source(int statements) {
    static const char* const names[] = {"a", "b", "c", "d", "e"};
    static const char* const ops[] = {" + ", " - ", " * ", " / "};
    std::string source;
    unsigned seed = 12345;
    auto next = [&seed](unsigned range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % range;
    };
    for (int i = 0; i < statements; i++) {
        source += "store ";
        source += names[next(5)];
        source += " = ";
        unsigned operands = 3 + next(3);
        for (unsigned k = 0; k < operands; k++) {
            if (k) source += ops[next(4)];
            if (next(2))
                source += names[next(5)];
            else
                source += std::to_string(1 + next(9));
        }
        source += "\n";
    }
    return source;
}

// Throughput in decimal megabytes a second.  Google Benchmark's own
// bytes_per_second prints binary megabytes (2^20) as "M/s", 4.9% fewer.
void count_megabytes(benchmark::State& state, size_t bytes_per_iteration) {
    state.counters["MB/s"] = benchmark::Counter(double(bytes_per_iteration) * 1e-6 * double(state.iterations()),
                                                benchmark::Counter::kIsRate);
}

// Lexing and parsing (`lint`'s work), and lexing, parsing and compiling
// (what a run does before the machine starts), in bytes of source per second.
void BM_FrontEnd(benchmark::State& state) {
    const auto goal = static_cast<VlPipelineGoal>(state.range(0));
    std::string source = make_arith_source(100000);
    for (auto _ : state) {
        VlArena* arena = vl_arena_create(0);
        benchmark::DoNotOptimize(vl_pipeline_build(arena, source.c_str(), goal));
        vl_arena_destroy(arena);
    }
    count_megabytes(state, source.size());
    state.SetLabel(goal == VL_GOAL_CHECK ? "lex+parse" : "lex+parse+compile");
}
BENCHMARK(BM_FrontEnd)->Arg(VL_GOAL_CHECK)->Arg(VL_GOAL_RUN)->Unit(benchmark::kMillisecond);

// The lexer's share of BM_FrontEnd: the same source, every token read and dropped.
void BM_LexerArith(benchmark::State& state) {
    std::string source = make_arith_source(100000);
    for (auto _ : state) {
        VlArena* arena = vl_arena_create(0);
        VlLexer* lexer = vl_lexer_create(arena, source.c_str());
        VlToken token;
        do vl_lexer_read_token(lexer, &token);
        while (token.type != TOKEN_EOF);
        vl_arena_destroy(arena);
    }
    count_megabytes(state, source.size());
}
BENCHMARK(BM_LexerArith)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
