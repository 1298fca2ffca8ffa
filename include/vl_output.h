// Text the program prints on standard output and standard error.  The bytes
// go out as they are, except to a Windows console, which is given the
// characters that the UTF-8 encodes (it would show each byte on its own).
#pragma once
#include <cstdio>
#include <string_view>

void vl_write(std::FILE* stream, std::string_view text);

// `line` and a line feed on standard output, as puts.
void vl_puts(const char* line);

// The C++ runtime's printf on Windows is the standard one (%zu, %lld), not
// the system's, and the checks must know it.
#if defined(__MINGW32__)
#define VL_PRINTF_STYLE gnu_printf
#else
#define VL_PRINTF_STYLE printf
#endif

[[gnu::format(VL_PRINTF_STYLE, 2, 3)]] void vl_printf(std::FILE* stream, const char* format, ...);
