// Who is on the other end of a TCP connection made on this machine: the
// kernel knows the user that owns every socket.
#pragma once

#include <cstdint>

// The uid owning the peer end of the connected TCP socket `fd` (whose peer
// is on this machine: a loopback connection), asked of the kernel's socket
// diagnostics (sock_diag over netlink) or, where that cannot be had, read
// from /proc/net/tcp. False with lastError() when neither knows it (ENOENT:
// the peer's socket has gone).
bool peerOwner(int fd, std::uint32_t& uid);

// Each way on its own.
bool peerOwnerByNetlink(int fd, std::uint32_t& uid);
bool peerOwnerByProcNet(int fd, std::uint32_t& uid);
