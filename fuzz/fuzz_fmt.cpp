// Any text through the formatter: the output must fit its buffer and be
// a re-indentation of the input (same text once blanks are removed).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "vl_tools.h"

static std::string without_blanks(const char* text) {
    std::string kept;
    for (; *text; text++)
        if (*text != ' ' && *text != '\t' && *text != '\n') kept += *text;
    return kept;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string source(reinterpret_cast<const char*>(data), size);
    source = source.c_str();  // the formatter sees text up to the first NUL
    VlArena* arena = vl_arena_create(0);
    const char* formatted = vl_fmt_format_code(arena, source.c_str());
    if (!formatted || without_blanks(formatted) != without_blanks(source.c_str())) std::abort();
    vl_arena_destroy(arena);
    return 0;
}
