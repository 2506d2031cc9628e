#include "code/syslog_sink.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "code/char2wchar.h"
#include "code/ipv4.h"

namespace {

sockaddr_in destination(uint32_t address, uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = port;
    to.sin_addr.s_addr = address;
    return to;
}

}  // namespace

Syslog::Syslog(const char* host, int port)
    : m_address(ipv4_resolve(host)),
      m_port(htons(port >= 0 && port <= 65535 ? static_cast<uint16_t>(port) : 0)),
      m_destination(destination(m_address, m_port)),
      m_socket(create_socket()) {}

Syslog::~Syslog() {
    if (m_socket >= 0) close(m_socket);
}

int Syslog::create_socket() {
    if (!ipv4_init()) {
        std::fputs("\nSyslog::create_socket() call to ipv4_init() failed!", stderr);
    }
    return socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
}

bool Syslog::send(const wchar_t* line, unsigned severity, unsigned facility) {
    try {
        std::string text;
        if (!line || !wchar_to_mbchar(line, text)) return false;
        return send_text(text.c_str(), severity, facility);
    } catch (...) {
        return false;
    }
}

bool Syslog::send_text(const char* text, unsigned severity, unsigned facility) {
    // On Linux a datagram to 0.0.0.0 goes to this host, so a receiver that could not
    // be resolved must not be "sent" to: it could reach an unrelated local listener.
    if (!text || m_socket < 0 || m_address == 0 || m_port == 0) return false;
    char datagram[kMaxDatagram];
    const int prefix = std::snprintf(datagram, sizeof datagram, "<%u>", severity + 8u * facility);
    if (prefix < 0) return false;
    const size_t length = std::strlen(text);
    if (static_cast<size_t>(prefix) + length > sizeof datagram) return false;
    std::memcpy(datagram + prefix, text, length);
    const ssize_t sent =
        sendto(m_socket, datagram, static_cast<size_t>(prefix) + length, 0,
               reinterpret_cast<const sockaddr*>(&m_destination), sizeof m_destination);
    return sent >= 0;
}
