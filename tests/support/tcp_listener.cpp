#include "tests/support/tcp_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

Listener::Listener(bool silent) {
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (bind(m_fd, raw, size) != 0 || listen(m_fd, silent ? 0 : 8) != 0 ||
        getsockname(m_fd, raw, &size) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    m_port = std::to_string(ntohs(address.sin_port));
    if (!silent) return;
    m_filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval bound{2, 0};  // without SYN cookies, even this one goes unanswered
    setsockopt(m_filler, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    (void)connect(m_filler, raw, size);
}

Listener::~Listener() {
    close(m_fd);
    if (m_filler >= 0) close(m_filler);
}

std::string ClosedPort() { return Listener().port(); }
