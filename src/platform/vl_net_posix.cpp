// POSIX sockets behind the runtime library's socket interface.
#include "vl_platform_net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

bool vl_net_start() { return true; }

void vl_net_stop() {}

VlSocket vl_net_listen(uint16_t port, int backlog) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return VL_SOCKET_NONE;
    // Lets a restarted responder take its port back while the last connection
    // lingers in TIME_WAIT; a port that another socket listens on stays refused.
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, backlog) != 0) {
        close(fd);
        return VL_SOCKET_NONE;
    }
    return fd;
}

int32_t vl_net_local_port(VlSocket socket) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &size) != 0) return -1;
    return ntohs(address.sin_port);
}

VlSocket vl_net_accept(VlSocket listener) {
    for (;;) {
        int fd = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) return fd;
        if (errno != EINTR) return VL_SOCKET_NONE;
    }
}

ptrdiff_t vl_net_receive(VlSocket socket, char* buffer, size_t capacity, int timeout_ms) {
    pollfd waiting{static_cast<int>(socket), POLLIN, 0};
    int ready;
    do ready = poll(&waiting, 1, timeout_ms < 0 ? 0 : timeout_ms);
    while (ready < 0 && errno == EINTR);
    if (ready <= 0) return -1;
    ssize_t count;
    do count = recv(static_cast<int>(socket), buffer, capacity, 0);
    while (count < 0 && errno == EINTR);
    return count < 0 ? -1 : count;
}

bool vl_net_send_all(VlSocket socket, const char* bytes, size_t length) {
    while (length > 0) {
        // MSG_NOSIGNAL: a client that went away is an error result, not SIGPIPE.
        ssize_t sent = send(static_cast<int>(socket), bytes, length, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += sent;
        length -= static_cast<size_t>(sent);
    }
    return true;
}

void vl_net_shutdown_send(VlSocket socket) { shutdown(static_cast<int>(socket), SHUT_WR); }

void vl_net_close(VlSocket socket) { close(static_cast<int>(socket)); }
