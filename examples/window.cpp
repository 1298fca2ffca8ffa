// Opens the runtime library's native window and waits until it is closed.
//   example_window <title | @title-file> [<width> <height>]
// A title file holds UTF-8 bytes, for consoles whose arguments cannot carry
// them.  The exit code is the library's result: 1 once the window was
// closed, 0 when it could not be opened, 2 for bad arguments.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "vl_stdlib.h"

static bool parse_size(const char* text, int32_t* value) {
    const char* end = text + std::strlen(text);
    auto [stop, error] = std::from_chars(text, end, *value);
    return error == std::errc() && stop == end;
}

int main(int argc, char** argv) {
    int32_t width = 480, height = 320;
    if ((argc != 2 && argc != 4) || (argc == 4 && !(parse_size(argv[2], &width) && parse_size(argv[3], &height)))) {
        std::fprintf(stderr, "usage: example_window <title | @title-file> [<width> <height>]\n");
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
    return vl_gui_create_window(title, width, height);
}
