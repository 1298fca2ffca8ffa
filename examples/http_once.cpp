// Serves one HTTP response with the runtime library's responder.
//   example_http_once <port> [<body-file> | -null]
// The body is the file's text (up to its first NUL byte); -null or no second
// argument selects the default body.  Exit code 0 when the responder ran,
// 1 when it could not listen, 2 for bad arguments.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "vl_stdlib.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: example_http_once <port> [<body-file> | -null]\n");
        return 2;
    }
    int32_t port = 0;
    const char* end = argv[1] + std::strlen(argv[1]);
    auto [stop, error] = std::from_chars(argv[1], end, port);
    if (error != std::errc() || stop != end) {
        std::fprintf(stderr, "example_http_once: '%s' is not a 32-bit port number\n", argv[1]);
        return 2;
    }
    std::unique_ptr<char, decltype(&std::free)> body(nullptr, &std::free);
    if (argc == 3 && std::strcmp(argv[2], "-null") != 0) {
        size_t length = 0;
        VlReadStatus status;
        body.reset(vl_file_read_heap(argv[2], &length, &status));
        if (!body) {
            std::fprintf(stderr, "example_http_once: cannot read '%s'\n", argv[2]);
            return 2;
        }
    }
    return vl_http_server_start(nullptr, port, body.get()) ? 0 : 1;
}
