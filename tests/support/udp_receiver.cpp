#include "tests/support/udp_receiver.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

UdpReceiver::UdpReceiver(uint16_t port) {
    m_socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    if (bind(m_socket, raw, length) != 0 || getsockname(m_socket, raw, &length) != 0)
        throw std::runtime_error("cannot bind a UDP socket on 127.0.0.1");
    m_port = ntohs(address.sin_port);
}

UdpReceiver::~UdpReceiver() { close(m_socket); }

std::vector<std::string> UdpReceiver::receive(int quiet_ms) const {
    std::vector<std::string> datagrams;
    pollfd p{m_socket, POLLIN, 0};
    while (poll(&p, 1, quiet_ms) > 0) {
        char buffer[65536];
        const ssize_t n = recv(m_socket, buffer, sizeof buffer, 0);
        if (n < 0) break;
        datagrams.emplace_back(buffer, static_cast<size_t>(n));
    }
    return datagrams;
}
