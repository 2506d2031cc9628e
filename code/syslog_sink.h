#pragma once
// Sends the diagnostic log's lines as BSD syslog datagrams ("<priority>text") over
// UDP to one receiver. Built once by the log and used only under the log's lock.

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>

class Syslog {
public:
    // Resolves the host once (0.0.0.0 on failure, reported by ipv4_resolve) and
    // opens the socket. A port outside 0..65535 is taken as 0, which never sends.
    Syslog(const char* host, int port);
    virtual ~Syslog();
    Syslog(const Syslog&) = delete;
    Syslog& operator=(const Syslog&) = delete;

    // The largest datagram sent; a longer one is not sent at all.
    static constexpr size_t kMaxDatagram = 1024;

    // Converts the wide line by the process locale and sends it with send_text.
    // False when it cannot be converted or was not sent. Never throws.
    bool send(const wchar_t* line, unsigned severity, unsigned facility);

    // Sends "<severity + 8 * facility>text" as one datagram without a terminating
    // zero. False when it would exceed kMaxDatagram bytes, when the receiver's
    // address is unknown, or when the socket layer refuses it.
    bool send_text(const char* text, unsigned severity, unsigned facility);

protected:
    // Opens the UDP socket; -1 when it cannot be opened.
    int create_socket();

private:
    // Initialised in this order, each from the ones before it.
    uint32_t m_address;  // network byte order; 0 when the host could not be resolved
    uint16_t m_port;     // network byte order
    sockaddr_in m_destination;
    int m_socket;
};
