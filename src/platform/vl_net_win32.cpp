// Winsock 2 behind the runtime library's socket interface.
#include "vl_platform_net.h"

#include <winsock2.h>

bool vl_net_start() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void vl_net_stop() { WSACleanup(); }

static SOCKET as_socket(VlSocket socket) { return static_cast<SOCKET>(socket); }

VlSocket vl_net_listen(uint16_t port, int backlog) {
    SOCKET fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd == INVALID_SOCKET) return VL_SOCKET_NONE;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, backlog) != 0) {
        closesocket(fd);
        return VL_SOCKET_NONE;
    }
    return static_cast<VlSocket>(fd);
}

int32_t vl_net_local_port(VlSocket socket) {
    sockaddr_in address{};
    int size = sizeof address;
    if (getsockname(as_socket(socket), reinterpret_cast<sockaddr*>(&address), &size) != 0) return -1;
    return ntohs(address.sin_port);
}

VlSocket vl_net_accept(VlSocket listener) {
    SOCKET fd = accept(as_socket(listener), nullptr, nullptr);
    return fd == INVALID_SOCKET ? VL_SOCKET_NONE : static_cast<VlSocket>(fd);
}

ptrdiff_t vl_net_receive(VlSocket socket, char* buffer, size_t capacity, int timeout_ms) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(as_socket(socket), &readable);
    if (timeout_ms < 0) timeout_ms = 0;
    timeval wait{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    if (select(0, &readable, nullptr, nullptr, &wait) <= 0) return -1;
    int count = recv(as_socket(socket), buffer, capacity > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(capacity), 0);
    return count < 0 ? -1 : count;
}

bool vl_net_send_all(VlSocket socket, const char* bytes, size_t length) {
    while (length > 0) {
        int chunk = length > 0x40000000 ? 0x40000000 : static_cast<int>(length);
        int sent = send(as_socket(socket), bytes, chunk, 0);
        if (sent == SOCKET_ERROR) return false;
        bytes += sent;
        length -= static_cast<size_t>(sent);
    }
    return true;
}

void vl_net_shutdown_send(VlSocket socket) { shutdown(as_socket(socket), SD_SEND); }

void vl_net_close(VlSocket socket) { closesocket(as_socket(socket)); }
