// A program generated from the input (program_generator.h) runs through the
// pipeline and the machine; what it displays must match what the generator's
// reference evaluator says it displays.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "program_generator.h"
#include "vl_pipeline.h"

namespace {

using vl_generated::Generator;

// The machine prints through stdio; its output goes to a file while it runs.
std::string run_captured(VlVM* machine) {
    static FILE* capture = std::tmpfile();
    if (!capture) std::abort();
    int fd = fileno(capture);
    std::fflush(stdout);
    int saved = dup(1);
    if (saved < 0 || dup2(fd, 1) < 0) std::abort();
    vlvm_run(machine);
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string output(static_cast<size_t>(lseek(fd, 0, SEEK_END)), '\0');
    if (pread(fd, output.data(), output.size(), 0) != static_cast<ssize_t>(output.size())) std::abort();
    if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) std::abort();
    return output;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Generator generator;
    generator.in = {data, size};
    uint8_t frame = generator.in.byte();
    if (frame & 1) generator.source += "start\n";
    generator.statements(0, "");
    if (frame & 2) generator.source += "stop\ndisplay \"after the end\"\n";

    VlArena* arena = vl_arena_create(0);
    VlPipeline pipeline = vl_pipeline_build(arena, generator.source.c_str(), VL_GOAL_RUN);
    if (pipeline.status != VL_PIPELINE_OK) {
        std::fprintf(stderr, "not compiled:\n%s", generator.source.c_str());
        std::abort();
    }
    std::string output = run_captured(pipeline.machine);
    vl_arena_destroy(arena);
    if (output != generator.expected) {
        std::fprintf(stderr, "program:\n%s\nexpected:\n%s\ngot:\n%s\n", generator.source.c_str(),
                     generator.expected.c_str(), output.c_str());
        std::abort();
    }
    return 0;
}
