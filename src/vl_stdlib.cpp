// Runtime library: whole-file helpers.
#include "vl_stdlib.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

File open_file(const char* path, const char* mode) { return File(std::fopen(path, mode)); }

bool is_directory(const char* path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

// Size of a regular file, or -1 when it cannot be taken (pipes, devices).
// Taken from the file system, not by seeking: a 32-bit ftell cannot report
// 2 GiB or more and would leave the stream at the end of the file.
long long regular_size(const char* path) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return -1;
    uintmax_t size = fs::file_size(path, error);
    if (error) return -1;
    return size > VL_FILE_MAX_SIZE ? static_cast<long long>(VL_FILE_MAX_SIZE) + 1 : static_cast<long long>(size);
}

void* reserve_heap(void*, size_t size) { return std::malloc(size); }

void* reserve_arena(void* arena, size_t size) { return vl_arena_alloc(static_cast<VlArena*>(arena), size); }

bool write_all(const char* path, const char* mode, const char* bytes, size_t length) {
    File file = open_file(path, mode);
    if (!file) return false;
    bool ok = std::fwrite(bytes, 1, length, file.get()) == length;
    ok = std::fflush(file.get()) == 0 && ok;
    return std::fclose(file.release()) == 0 && ok;
}

}  // namespace

char* vl_file_read_whole(const char* path, void* (*reserve)(void*, size_t), void* context, size_t* length,
                         VlReadStatus* status) {
    auto fail = [&](VlReadStatus why) -> char* {
        if (status) *status = why;
        return nullptr;
    };
    if (!path || is_directory(path)) return fail(VL_READ_UNREADABLE);
    File file = open_file(path, "rb");
    if (!file) return fail(VL_READ_UNREADABLE);

    // The size, where it can be taken, is only a hint: a file that grows or
    // shrinks while it is read is still read whole, up to its end.
    long long hint = regular_size(path);
    if (hint > static_cast<long long>(VL_FILE_MAX_SIZE)) return fail(VL_READ_TOO_LARGE);
    size_t first = hint > 0 ? static_cast<size_t>(hint) : 0;
    auto* buffer = static_cast<char*>(reserve(context, first + 1));
    if (!buffer) return fail(VL_READ_NO_MEMORY);
    // Arena buffers go with their arena; a heap buffer must not outlive a failure.
    auto drop = [&](VlReadStatus why) -> char* {
        if (reserve == reserve_heap) std::free(buffer);
        return fail(why);
    };
    size_t got = std::fread(buffer, 1, first + 1, file.get());
    if (std::ferror(file.get())) return drop(VL_READ_UNREADABLE);
    if (got <= first) {
        buffer[got] = '\0';
        if (length) *length = got;
        if (status) *status = VL_READ_OK;
        return buffer;
    }

    // More bytes than the hint promised: collect the rest in a growing buffer.
    std::string whole;
    try {
        whole.assign(buffer, got);
        char chunk[65536];
        for (;;) {
            size_t n = std::fread(chunk, 1, sizeof chunk, file.get());
            whole.append(chunk, n);
            if (whole.size() > VL_FILE_MAX_SIZE) return drop(VL_READ_TOO_LARGE);
            if (n < sizeof chunk) break;
        }
    } catch (const std::bad_alloc&) {
        return drop(VL_READ_NO_MEMORY);
    }
    if (std::ferror(file.get())) return drop(VL_READ_UNREADABLE);
    if (reserve == reserve_heap) std::free(buffer);
    buffer = static_cast<char*>(reserve(context, whole.size() + 1));
    if (!buffer) return fail(VL_READ_NO_MEMORY);
    std::memcpy(buffer, whole.data(), whole.size());
    buffer[whole.size()] = '\0';
    if (length) *length = whole.size();
    if (status) *status = VL_READ_OK;
    return buffer;
}

char* vl_file_read_heap(const char* path, size_t* length, VlReadStatus* status) {
    return vl_file_read_whole(path, reserve_heap, nullptr, length, status);
}

char* vl_file_read_sized(VlArena* arena, const char* path, size_t* length, VlReadStatus* status) {
    if (!arena) {
        if (status) *status = VL_READ_NO_MEMORY;
        return nullptr;
    }
    return vl_file_read_whole(path, reserve_arena, arena, length, status);
}

char* vl_file_read(VlArena* arena, const char* path) {
    return vl_file_read_sized(arena, path, nullptr, nullptr);
}

bool vl_file_write(const char* path, const char* text) {
    if (!path || !text) return false;
    return write_all(path, "wb", text, std::strlen(text));
}

bool vl_file_append(const char* path, const char* text) {
    if (!path || !text) return false;
    return write_all(path, "ab", text, std::strlen(text));
}

bool vl_file_exists(const char* path) {
    if (!path) return false;
    return open_file(path, "rb") != nullptr;
}

bool vl_file_replace(const char* path, const char* bytes, size_t length) {
    namespace fs = std::filesystem;
    if (!path || (!bytes && length)) return false;
    std::error_code error;
    fs::path target(path);
    // Through a symbolic link the file it names is replaced, not the link.
    if (fs::is_symlink(target, error)) {
        fs::path resolved = fs::canonical(target, error);
        if (error) return false;
        target = resolved;
    }
    fs::file_status original = fs::status(target, error);
    if (error) original = fs::file_status();

    // A name beside the target, so that the final rename stays on one file system.
    fs::path temporary;
    for (int attempt = 0;; attempt++) {
        temporary = target;
        temporary += ".vltmp" + std::to_string(attempt);
        if (!fs::exists(temporary, error)) break;
        if (attempt == 999) return false;
    }
    std::string name = temporary.string();
    if (!write_all(name.c_str(), "wb", bytes ? bytes : "", length)) {
        fs::remove(temporary, error);
        return false;
    }
    if (fs::exists(original)) {
        fs::permissions(temporary, original.permissions(), error);
        if (error) {
            fs::remove(temporary, error);
            return false;
        }
    }
    fs::rename(temporary, target, error);
    if (error) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return false;
    }
    return true;
}

// ---- services: the one-shot HTTP responder, the native window and the assistant sentence ----
// They reach the system through the platform layer: our socket interface, and
// Win32 windowing (the real one on Windows, a headless subset elsewhere).
#include <algorithm>
#include <chrono>
#include <new>

#include "vl_platform_net.h"
#include "vl_platform_window.h"

namespace {

constexpr char DEFAULT_BODY[] = "<h1>VELMORINE Native HTTP Server Live!</h1>";

// A client is answered once its request head has arrived, or after
// REQUEST_WAIT_MS whatever it sent.  After the answer it may finish sending
// (a request body, say) for DRAIN_WAIT_MS before the connection closes.
constexpr int REQUEST_WAIT_MS = 2000;
constexpr int DRAIN_WAIT_MS = 5000;
constexpr size_t REQUEST_HEAD_LIMIT = 64 * 1024;
constexpr size_t REQUEST_DRAIN_LIMIT = 16 * 1024 * 1024;

struct NetLibrary {
    bool started = vl_net_start();
    NetLibrary() = default;
    NetLibrary(const NetLibrary&) = delete;
    NetLibrary& operator=(const NetLibrary&) = delete;
    ~NetLibrary() {
        if (started) vl_net_stop();
    }
};

struct Socket {
    VlSocket handle;
    explicit Socket(VlSocket opened) : handle(opened) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() { close(); }
    bool valid() const { return handle != VL_SOCKET_NONE; }
    void close() {
        if (valid()) vl_net_close(handle);
        handle = VL_SOCKET_NONE;
    }
};

using Clock = std::chrono::steady_clock;

int milliseconds_left(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Reads until the blank line that ends the request head, the size limit, the
// client's end of sending, or the deadline.  The request itself is not used:
// every request gets the same answer.
void read_request_head(VlSocket client) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(REQUEST_WAIT_MS);
    std::string head;
    char chunk[4096];
    while (head.size() < REQUEST_HEAD_LIMIT) {
        ptrdiff_t count = vl_net_receive(client, chunk, sizeof chunk, milliseconds_left(deadline));
        if (count <= 0) return;
        size_t from = head.size() < 3 ? 0 : head.size() - 3;
        head.append(chunk, static_cast<size_t>(count));
        if (head.find("\r\n\r\n", from) != std::string::npos || head.find("\n\n", from) != std::string::npos)
            return;
    }
}

// Discards what the client still sends until it closes, so that closing our
// end does not reset the connection while the answer is on its way.
void drain_request(VlSocket client) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(DRAIN_WAIT_MS);
    char chunk[16384];
    for (size_t drained = 0; drained < REQUEST_DRAIN_LIMIT;) {
        ptrdiff_t count = vl_net_receive(client, chunk, sizeof chunk, milliseconds_left(deadline));
        if (count <= 0) return;
        drained += static_cast<size_t>(count);
    }
}

// The answer is sized to the body: the client always gets all of it.
void send_response(VlSocket client, const char* body) {
    size_t length = std::strlen(body);
    char head[160];
    int head_length = std::snprintf(head, sizeof head,
                                    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %zu\r\n"
                                    "Connection: close\r\n\r\n",
                                    length);
    std::string response;
    try {
        response.reserve(static_cast<size_t>(head_length) + length);
    } catch (const std::bad_alloc&) {
        // No room for one buffer: send the two parts one after the other.
        if (vl_net_send_all(client, head, static_cast<size_t>(head_length))) (void)vl_net_send_all(client, body, length);
        return;
    }
    response.append(head, static_cast<size_t>(head_length)).append(body, length);
    (void)vl_net_send_all(client, response.data(), response.size());
}

}  // namespace

// Serves one HTTP response on `port` (0: a free port the system picks).  The
// start-up line names the machine "localhost", which always resolves here,
// and the port actually bound.
bool vl_http_server_start(void*, int32_t port, const char* body) {
    if (port < 0 || port > 65535) return false;
    NetLibrary net;
    if (!net.started) return false;
    Socket listener(vl_net_listen(static_cast<uint16_t>(port), 5));
    if (!listener.valid()) return false;
    int32_t bound = port != 0 ? port : vl_net_local_port(listener.handle);
    if (bound <= 0) return false;
    std::printf("[VLWeb] HTTP Server live at http://localhost:%d\n", static_cast<int>(bound));
    std::fflush(stdout);

    Socket client(vl_net_accept(listener.handle));
    listener.close();  // later clients are refused at once instead of waiting in the backlog
    if (!client.valid()) return true;
    read_request_head(client.handle);
    send_response(client.handle, body ? body : DEFAULT_BODY);
    vl_net_shutdown_send(client.handle);
    drain_request(client.handle);
    return true;
}

namespace {

constexpr WCHAR GUI_CLASS_NAME[] = VL_W("VELMORINE_GUI_CLASS");
constexpr int TITLE_UNITS = 256;

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

// UTF-16 units that the first `bytes` bytes of `text` become.
int utf16_units(const char* text, int bytes) {
    return bytes == 0 ? 0 : MultiByteToWideChar(CP_UTF8, 0, text, bytes, nullptr, 0);
}

// Converts a UTF-8 title into `wide` (zeroed by the caller).  A title that
// needs more units than the buffer holds beside its NUL is cut at the last
// code point that fits, never inside one.
void convert_title(const char* title, WCHAR (&wide)[TITLE_UNITS]) {
    if (!title) return;
    constexpr int room = TITLE_UNITS - 1;
    // Every unit comes from at least one byte and at most three, so a fitting
    // prefix is shorter than 3 * TITLE_UNITS bytes.
    size_t full = std::strlen(title);
    int length = static_cast<int>(std::min(full, static_cast<size_t>(4 * TITLE_UNITS)));
    int fit = length;
    if (full != static_cast<size_t>(length) || utf16_units(title, length) > room) {
        int low = 0, high = length;  // the longest prefix that fits, found by bisection
        while (low < high) {
            int middle = (low + high + 1) / 2;
            if (utf16_units(title, middle) <= room)
                low = middle;
            else
                high = middle - 1;
        }
        fit = low;
        while (fit > 0 && (static_cast<unsigned char>(title[fit]) & 0xC0) == 0x80) fit--;
    }
    if (fit > 0) MultiByteToWideChar(CP_UTF8, 0, title, fit, wide, room);
}

}  // namespace

int32_t vl_gui_create_window(const char* title, int32_t width, int32_t height) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = WndProc;
    window_class.hInstance = instance;
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<intptr_t>(COLOR_WINDOW + 1));
    window_class.lpszClassName = GUI_CLASS_NAME;
    RegisterClassW(&window_class);  // fails once the class exists, which then serves again

    WCHAR wide_title[TITLE_UNITS] = {};
    convert_title(title, wide_title);
    HWND window = CreateWindowExW(0, GUI_CLASS_NAME, wide_title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT,
                                  CW_USEDEFAULT, width, height, nullptr, nullptr, instance, nullptr);
    if (!window) return 0;

    MSG message;
    for (;;) {
        BOOL status = GetMessageA(&message, nullptr, 0, 0);
        if (status == 0) return 1;  // the quit message: the window was destroyed
        if (status == -1) {
            // Without a working queue the window could never be closed: close
            // it now and take back the quit message its destruction posts.
            DestroyWindow(window);
            PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
            return 0;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

char* vl_ai_prompt(VlArena* arena, const char* query) {
    if (!arena) return nullptr;
    char sentence[512];  // a longer sentence is cut to 511 bytes
    std::snprintf(sentence, sizeof sentence, "[VLAI Brain] Processed query: '%s'. Status: 100%% Operational.",
                  query ? query : "");
    return vl_arena_strdup(arena, sentence);
}
