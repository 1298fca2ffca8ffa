// Text to standard output and standard error; see vl_output.h.
#include "vl_output.h"

#include <cstdarg>
#include <string>

#include "vl_platform.h"

void vl_write(std::FILE* stream, std::string_view text) {
    if (vl_platform_is_console(stream))
        vl_platform_console_write(stream, text.data(), text.size());
    else
        std::fwrite(text.data(), 1, text.size(), stream);
}

void vl_puts(const char* line) {
    if (!vl_platform_is_console(stdout)) {
        std::puts(line);
        return;
    }
    vl_write(stdout, line);
    vl_write(stdout, "\n");
}

void vl_printf(std::FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (!vl_platform_is_console(stream)) {
        std::vfprintf(stream, format, args);
        va_end(args);
        return;
    }
    va_list again;
    va_copy(again, args);
    char small[1024];
    int length = std::vsnprintf(small, sizeof small, format, args);
    if (length >= 0 && static_cast<size_t>(length) < sizeof small) {
        vl_platform_console_write(stream, small, static_cast<size_t>(length));
    } else if (length > 0) {
        std::string text(static_cast<size_t>(length), '\0');
        std::vsnprintf(text.data(), text.size() + 1, format, again);
        vl_platform_console_write(stream, text.data(), text.size());
    }
    va_end(again);
    va_end(args);
}
