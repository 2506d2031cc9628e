#pragma once
// A listener on 127.0.0.1 that never accepts, standing in for an unreachable server.
// A mute one lets the kernel complete the TCP handshake, then nothing answers. A silent
// one has no backlog, and one connection takes it, so the kernel drops every further
// SYN as a host that does not answer would. A closed port: ClosedPort().

#include <string>

class Listener {
public:
    explicit Listener(bool silent = false);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    const std::string& port() const { return m_port; }

private:
    int m_fd = -1, m_filler = -1;
    std::string m_port;
};

// A port on 127.0.0.1 that was free a moment ago: connecting to it is refused.
std::string ClosedPort();
