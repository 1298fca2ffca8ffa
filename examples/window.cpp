// Opens the runtime library's native window and waits until it is closed,
// `count` times one after the other (1 unless given).
//   example_window <title | @title-file> [<width> <height> [<count>]]
// A title file holds UTF-8 bytes, for consoles whose arguments cannot carry
// them.  The exit code is the library's result: 1 once every window was
// closed, 0 when one could not be opened (no later one is tried), 2 for bad
// arguments.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "vl_stdlib.h"

static bool parse_number(const char* text, int32_t* value) {
    const char* end = text + std::strlen(text);
    auto [stop, error] = std::from_chars(text, end, *value);
    return error == std::errc() && stop == end;
}

int main(int argc, char** argv) {
    int32_t width = 480, height = 320, count = 1;
    bool sized = argc >= 4 && parse_number(argv[2], &width) && parse_number(argv[3], &height);
    bool counted = argc == 5 && parse_number(argv[4], &count) && count >= 1;
    if (!(argc == 2 || (argc == 4 && sized) || (argc == 5 && sized && counted))) {
        std::fprintf(stderr, "usage: example_window <title | @title-file> [<width> <height> [<count>]]\n");
        return 2;
    }
    std::unique_ptr<char, decltype(&std::free)> file_title(nullptr, &std::free);
    const char* title = argv[1];
    if (title[0] == '@') {
        size_t length = 0;
        VlReadStatus status;
        file_title.reset(vl_file_read_heap(title + 1, &length, &status));
        if (!file_title) {
            std::fprintf(stderr, "example_window: cannot read '%s'\n", title + 1);
            return 2;
        }
        title = file_title.get();
    }
    int32_t result = 0;
    for (int32_t i = 0; i < count; i++) {
        result = vl_gui_create_window(title, width, height);
        if (result != 1) break;
    }
    return result;
}
