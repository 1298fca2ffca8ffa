// TCP over IPv4 for the runtime library: the small socket interface that the
// one-shot HTTP responder is written against.  Winsock on Windows, POSIX
// sockets elsewhere; WASI has none, and every call fails.
#pragma once
#include <cstddef>
#include <cstdint>

using VlSocket = intptr_t;  // a SOCKET on Windows, a descriptor elsewhere
inline constexpr VlSocket VL_SOCKET_NONE = -1;

// Starts and stops the socket library (Winsock 2.2); calls must pair.
[[nodiscard]] bool vl_net_start();
void vl_net_stop();

// A stream socket bound to every IPv4 address at `port` (0: the system picks
// one) and listening; VL_SOCKET_NONE when any step fails.
[[nodiscard]] VlSocket vl_net_listen(uint16_t port, int backlog);

// The port a bound socket actually holds; -1 when it cannot be told.
[[nodiscard]] int32_t vl_net_local_port(VlSocket socket);

// Waits for one connection; VL_SOCKET_NONE on failure.
[[nodiscard]] VlSocket vl_net_accept(VlSocket listener);

// Waits at most `timeout_ms` for bytes.  The count read; 0 once the peer has
// finished sending; -1 on timeout or error.
[[nodiscard]] ptrdiff_t vl_net_receive(VlSocket socket, char* buffer, size_t capacity, int timeout_ms);

// Sends every byte, resuming after partial sends; false when the connection fails.
[[nodiscard]] bool vl_net_send_all(VlSocket socket, const char* bytes, size_t length);

// Ends our direction of the connection (FIN); the peer can still send.
void vl_net_shutdown_send(VlSocket socket);

void vl_net_close(VlSocket socket);
