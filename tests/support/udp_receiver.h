#pragma once
// A syslog receiver for tests: a UDP socket on 127.0.0.1, at a free port by default.

#include <cstdint>
#include <string>
#include <vector>

class UdpReceiver {
public:
    explicit UdpReceiver(uint16_t port = 0);
    ~UdpReceiver();
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;

    uint16_t port() const { return m_port; }
    // The datagrams that arrive until none has come for `quiet_ms` milliseconds.
    std::vector<std::string> receive(int quiet_ms = 200) const;

private:
    int m_socket = -1;
    uint16_t m_port = 0;
};
