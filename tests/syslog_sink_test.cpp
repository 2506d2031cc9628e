// The syslog sink and address resolution, against a real UDP receiver on 127.0.0.1.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "code/ipv4.h"
#include "code/syslog_sink.h"
#include "tests/support/log_capture.h"
#include "tests/support/udp_receiver.h"

namespace {

TEST(Ipv4Resolve, AddressesNamesAndFailures) {
    LogCapture log;
    const std::pair<const char*, uint32_t> cases[] = {
        {"127.0.0.1", htonl(0x7F000001)},
        {"10.1.2.3", htonl(0x0A010203)},
        {"localhost", htonl(0x7F000001)},
        {"255.255.255.255", 0xFFFFFFFFu},
        {"0.0.0.0", 0},  // looked up as a name, and 0.0.0.0 is no receiver
        {nullptr, 0},
        {"", 0},
        {"no..such-host", 0},
    };
    for (const auto& [host, address] : cases) {
        EXPECT_EQ(ipv4_resolve(host), address) << (host ? host : "(null)");
    }
    // Only the failures are reported: a dotted address needs no lookup.
    EXPECT_EQ(
        log.messages(),
        (std::vector<std::string>{
            "Assertion failure: ip != 0", "verify((hostname && (hostname[0] != 0))) failure",
            "verify((hostname && (hostname[0] != 0))) failure", "Unknown host 'no..such-host'"}));
    EXPECT_TRUE(ipv4_init());
}

// An unresolved receiver (0.0.0.0 would reach this host on Linux) or port gets nothing.
TEST(SyslogSink, DatagramIsPriorityThenTextOfAtMost1020Bytes) {
    UdpReceiver receiver;
    Syslog sink("localhost", receiver.port());
    const std::string fits(1020, 'x');
    EXPECT_TRUE(sink.send_text("hello\n", 3, 1));
    EXPECT_TRUE(sink.send(L"caf\u00e9", 0, 23));
    EXPECT_TRUE(sink.send_text(fits.c_str(), 3, 1));
    LogCapture log;
    EXPECT_FALSE(sink.send_text(std::string(1021, 'y').c_str(), 3, 1) ||
                 sink.send(std::wstring(2000, L'z').c_str(), 3, 1) ||
                 sink.send(L"bad \xDC00 surrogate", 3, 1) || sink.send(nullptr, 3, 1) ||
                 sink.send_text(nullptr, 3, 1) ||
                 Syslog("no..such-host", receiver.port()).send_text("lost", 3, 1) ||
                 Syslog("127.0.0.1", 70000).send_text("lost", 3, 1));
    EXPECT_EQ(log.messages(), std::vector<std::string>{"Unknown host 'no..such-host'"});
    EXPECT_EQ(receiver.receive(),
              (std::vector<std::string>{"<11>hello\n", "<184>caf\xC3\xA9", "<11>" + fits}));
}

}  // namespace
