// The driver: banner, version, command dispatch, and the run and compile paths.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vl_arena.h"
#include "vl_output.h"
#include "vl_pe.h"
#include "vl_pipeline.h"
#include "vl_platform.h"
#include "vl_files.h"
#include "vl_tools.h"
#include "vllsp.h"
#include "vlpkg.h"
#include "vlvm.h"

namespace {

const char* const USAGE_LINES[] = {
    "",
    "Usage:",
    "  velmorine <script.velm>             Run script using Register VLVM",
    "  velmorine compile <script> -o <exe> Generate standalone Windows .exe binary",
    "  velmorine fmt <script.velm>         Format VELMORINE code",
    "  velmorine lint <script.velm>        Run static code analyzer",
    "  velmorine repl                      Launch interactive REPL terminal",
    "  velmorine test                      Run test suites",
    "  velmorine bench <script.velm>       Run benchmark profiler",
    "  velmorine lsp                       Start Language Server Protocol (LSP)",
    "  velmorine pkg init <name>           Initialize VLPKG package manifest",
    "  velmorine pkg install <package>     Install package from VLPKG registry",
    "  velmorine --version                 Print engine version",
    "",
};

void print_banner() {
    const char* rule = "=====================================================";
    vl_printf(stdout, "%s\n", rule);
    vl_printf(stdout, "     VELMORINE v3.0 Native Engine (100%% Pure C)     \n");
    vl_printf(stdout, "   Standalone Toolchain & Developer Suite \xE2\x80\x94 0 Depts  \n");
    vl_printf(stdout, "%s\n", rule);
    for (const char* line : USAGE_LINES) vl_printf(stdout, "%s\n", line);
}

// Reads a whole script into a heap buffer.  On failure prints the message
// for `path` ("Could not open <noun> '<path>'" when unreadable) and returns null.
char* read_file_content(const char* path, const char* noun) { return vl_source_read(path, noun); }

int compile_command(VlArena* arena, int argc, char** argv) {
    const char* script = argv[2];
    const char* output = "app.exe";
    for (int i = 3; i <= argc - 2; i++) {
        if (std::strcmp(argv[i], "-o") == 0) {
            output = argv[i + 1];
            break;
        }
    }
    char* source = read_file_content(script, "file");
    if (!source) return 1;
    VlFileIdentity script_file{}, output_file{};
    if (vl_file_identity(script, &script_file) && vl_file_identity(output, &output_file) &&
        script_file == output_file) {
        // Writing the image there would destroy the script it was asked to compile.
        vl_printf(stderr, "Error: Output file '%s' is the script itself.\n", output);
        std::free(source);
        return 1;
    }

    // The image does not depend on the script, so syntax and compilation
    // errors do not stop this path.
    VlPipeline built = vl_pipeline_build(arena, source, VL_GOAL_IMAGE);
    VlPeWriter* writer = vl_pe_create(arena, &built.machine->chunk, output);
    int code = 0;
    if (vl_pe_generate_exe(writer)) {
        vl_printf(stdout, "[VL-PE Linker] Compiled '%s' into standalone binary: %s\n", script, output);
    } else {
        vl_write(stderr, "[VL-PE Linker] Failed to generate executable.\n");
        code = 1;  // a build script must see the failure
    }
    std::free(source);
    return code;
}

int run_script(VlArena* arena, const char* path) {
    VlPipeline built{};
    if (!vl_pipeline_build_file(arena, path, "source file", VL_GOAL_RUN, &built)) return 1;
    if (vl_pipeline_report_error(built)) return 1;
    vlvm_run(built.machine);
    return 0;
}

int dispatch(VlArena* arena, int argc, char** argv) {
    const char* command = argv[1];
    auto is = [command](const char* word) { return std::strcmp(command, word) == 0; };

    if (is("fmt") && argc > 2) {
        return vl_fmt_format_file(arena, argv[2]) == 1 ? 0 : 1;
    }
    if (is("lint") && argc > 2) return vl_lint_check_file(arena, argv[2]);
    if (is("repl")) {
        vl_repl_run(arena);
        return 0;
    }
    if (is("test")) {
        vl_test_run_all(arena);
        return 0;
    }
    if (is("bench")) {
        vl_bench_run(arena, argc > 2 ? argv[2] : nullptr);
        return 0;
    }
    if (is("lsp")) return vl_lsp_start_server(arena);
    if (is("pkg")) {
        // A manifest or lock file that could not be written fails the command.
        if (argc > 3 && std::strcmp(argv[2], "init") == 0) return vlpkg_init_project(arena, argv[3]) ? 0 : 1;
        if (argc > 3 && std::strcmp(argv[2], "install") == 0)
            return vlpkg_install_package(arena, argv[3]) ? 0 : 1;
        vl_printf(stdout, "Usage: velmorine pkg [init <name> | install <package>]\n");
        return 0;
    }
    if (is("compile") && argc > 2) return compile_command(arena, argc, argv);
    return run_script(arena, command);
}

// Banner and version need no memory; every other command works in one arena.
int run_command(int argc, char** argv) {
    if (argc < 2) {
        print_banner();
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-v") == 0) {
        vl_printf(stdout, "VELMORINE Native Engine v3.0 (Pure C99/C11)\n");
        return 0;
    }
    VlArena* arena = vl_arena_create(65536);
    if (!arena) vl_out_of_memory();
    int code = dispatch(arena, argc, argv);
    vl_arena_destroy(arena);
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    argv = vl_platform_utf8_arguments(&argc, argv);
    vl_platform_console_detect();
    int code = run_command(argc, argv);
    // Output that never arrived (a full disk, say) is a failure, not a success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        vl_write(stderr, "Error: Could not write to standard output.\n");
        code = 1;
    }
    return code;
}
