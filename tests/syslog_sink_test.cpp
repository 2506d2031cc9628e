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

TEST(Ipv4Resolve, DottedAddressesNeedNoLookup) {
    LogCapture log;
    EXPECT_EQ(ipv4_resolve("127.0.0.1"), htonl(0x7F000001));
    EXPECT_EQ(ipv4_resolve("10.1.2.3"), htonl(0x0A010203));
    EXPECT_EQ(ipv4_resolve("localhost"), htonl(0x7F000001));
    EXPECT_TRUE(log.messages().empty());
}

TEST(Ipv4Resolve, ZeroAndBroadcastAreLookedUpAsNames) {
    LogCapture log;
    // The lookup gives 0.0.0.0 back, which is no receiver.
    EXPECT_EQ(ipv4_resolve("0.0.0.0"), 0u);
    EXPECT_EQ(log.messages(), std::vector<std::string>{"Assertion failure: ip != 0"});
    EXPECT_EQ(ipv4_resolve("255.255.255.255"), 0xFFFFFFFFu);
}

TEST(Ipv4Resolve, EmptyAndUnknownHostsGiveZeroAndAReport) {
    LogCapture log;
    EXPECT_EQ(ipv4_resolve(nullptr), 0u);
    EXPECT_EQ(ipv4_resolve(""), 0u);
    EXPECT_EQ(ipv4_resolve("no..such-host"), 0u);
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{"verify((hostname && (hostname[0] != 0))) failure",
                                        "verify((hostname && (hostname[0] != 0))) failure",
                                        "Unknown host 'no..such-host'"}));
    EXPECT_TRUE(ipv4_init());
}

TEST(SyslogSink, DatagramIsPriorityThenTextWithoutTerminator) {
    UdpReceiver receiver;
    Syslog sink("127.0.0.1", receiver.port());
    EXPECT_TRUE(sink.send_text("hello\n", 3, 1));
    EXPECT_TRUE(sink.send(L"caf\u00e9", 0, 23));
    EXPECT_EQ(receiver.receive(), (std::vector<std::string>{"<11>hello\n", "<184>caf\xC3\xA9"}));
}

TEST(SyslogSink, A1020ByteTextFillsTheDatagramAndLongerIsNotSent) {
    UdpReceiver receiver;
    Syslog sink("localhost", receiver.port());
    const std::string fits(1020, 'x'), too_long(1021, 'y');
    EXPECT_TRUE(sink.send_text(fits.c_str(), 3, 1));
    EXPECT_FALSE(sink.send_text(too_long.c_str(), 3, 1));
    EXPECT_FALSE(sink.send(std::wstring(2000, L'z').c_str(), 3, 1));
    const std::vector<std::string> datagrams = receiver.receive();
    ASSERT_EQ(datagrams.size(), 1u);
    EXPECT_EQ(datagrams[0], "<11>" + fits);
}

TEST(SyslogSink, UnconvertibleTextAndUnknownReceiversSendNothing) {
    UdpReceiver receiver;
    Syslog sink("127.0.0.1", receiver.port());
    EXPECT_FALSE(sink.send(L"bad \xDC00 surrogate", 3, 1));
    EXPECT_FALSE(sink.send(nullptr, 3, 1));
    EXPECT_FALSE(sink.send_text(nullptr, 3, 1));

    LogCapture log;
    Syslog unknown("no..such-host", receiver.port());
    EXPECT_EQ(log.messages(), std::vector<std::string>{"Unknown host 'no..such-host'"});
    // 0.0.0.0 would reach this host on Linux; an unresolved receiver gets nothing.
    EXPECT_FALSE(unknown.send_text("lost", 3, 1));
    Syslog bad_port("127.0.0.1", 70000);
    EXPECT_FALSE(bad_port.send_text("lost", 3, 1));
    EXPECT_TRUE(receiver.receive(100).empty());
}

}  // namespace
