#include "code/ipv4.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>

#include "code/syserrx.h"

namespace {
std::atomic<bool> g_ipv4_started{false};
}  // namespace

bool ipv4_init() {
    g_ipv4_started.store(true, std::memory_order_release);
    return true;
}

uint32_t ipv4_resolve(const char* host) {
    if (!host || host[0] == '\0') {
        SYSERR_VERIFY_FAILED(L"(hostname && (hostname[0] != 0))");
        return 0;
    }
    const in_addr_t dotted = inet_addr(host);
    if (dotted != 0 && dotted != INADDR_NONE) return dotted;
    if (!ipv4_init()) {
        SYSERR_VERIFY_FAILED(L"ipv4_init()");
        return 0;
    }

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) {
        syserr_report(SYSERR_FILE, __LINE__, 4, L"Unknown host '%s'", host);
        return 0;
    }
    uint32_t ip = 0;
    if (found->ai_addr && found->ai_addr->sa_family == AF_INET) {
        ip = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    }
    freeaddrinfo(found);
    if (ip == 0) SYSERR_ASSERT_FAILED(L"ip != 0");
    return ip;
}
