#pragma once
// IPv4 addresses for the syslog sink.

#include <cstdint>

// True when the socket layer is ready. BSD sockets need no start-up, so this only
// keeps the once-per-process flag that callers rely on.
bool ipv4_init();

// The host's IPv4 address in network byte order, or 0 (reported to the log) when
// the host is empty or cannot be resolved. A dotted address is taken as it stands
// without a name lookup, except 0.0.0.0 and 255.255.255.255, which are looked up.
uint32_t ipv4_resolve(const char* host);
