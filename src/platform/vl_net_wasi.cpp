// WASI preview 1 has no sockets of its own making: every request fails, as
// it does where the socket library cannot start.
#include "vl_platform_net.h"

bool vl_net_start() { return false; }

void vl_net_stop() {}

VlSocket vl_net_listen(uint16_t, int) { return VL_SOCKET_NONE; }

int32_t vl_net_local_port(VlSocket) { return -1; }

VlSocket vl_net_accept(VlSocket) { return VL_SOCKET_NONE; }

ptrdiff_t vl_net_receive(VlSocket, char*, size_t, int) { return -1; }

bool vl_net_send_all(VlSocket, const char*, size_t) { return false; }

void vl_net_shutdown_send(VlSocket) {}

void vl_net_close(VlSocket) {}
