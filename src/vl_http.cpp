// Runtime library: the one-shot HTTP responder, written against the
// platform layer's socket interface.
#include "vl_stdlib.h"
#include "vl_output.h"
#include "vl_exceptions.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "vl_platform_net.h"

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
    VL_TRY {
        response.reserve(static_cast<size_t>(head_length) + length);
    } VL_CATCH(const std::bad_alloc&) {
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
    vl_printf(stdout, "[VLWeb] HTTP Server live at http://localhost:%d\n", static_cast<int>(bound));
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
