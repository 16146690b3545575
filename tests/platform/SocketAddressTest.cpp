#include "platform/SocketAddress.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace vantel {
namespace {

SocketAddress IPv6(std::initializer_list<unsigned> groups, std::uint16_t port) {
    SocketAddress address;
    address.family = SocketAddress::Family::IPv6;
    address.port = port;
    int i = 0;
    for (unsigned group : groups) {
        address.bytes[i++] = static_cast<std::uint8_t>(group >> 8);
        address.bytes[i++] = static_cast<std::uint8_t>(group & 0xff);
    }
    return address;
}

TEST(SocketAddressTest, WritesIPv4DottedWithThePort) {
    SocketAddress address;
    address.bytes[0] = 127;
    address.bytes[3] = 1;
    address.port = 25;
    EXPECT_EQ(address.ToString(), "127.0.0.1:25");
    address.bytes[0] = 255;
    address.bytes[1] = 255;
    address.bytes[2] = 255;
    address.bytes[3] = 255;
    address.port = 65535;
    EXPECT_EQ(address.ToString(), "255.255.255.255:65535");
}

TEST(SocketAddressTest, WritesIPv6InBracketsInItsShortestForm) {
    EXPECT_EQ(IPv6({0, 0, 0, 0, 0, 0, 0, 1}, 25).ToString(), "[::1]:25");
    EXPECT_EQ(IPv6({0, 0, 0, 0, 0, 0, 0, 0}, 0).ToString(), "[::]:0");
    EXPECT_EQ(IPv6({0x2001, 0xdb8, 0, 0, 0, 0, 0, 0}, 587).ToString(), "[2001:db8::]:587");
    // Only the longest zero run is compressed, the first of two equal ones, never one alone.
    EXPECT_EQ(IPv6({0x2001, 0xdb8, 0, 0, 1, 0, 0, 0}, 1).ToString(), "[2001:db8:0:0:1::]:1");
    EXPECT_EQ(IPv6({0x2001, 0, 0, 1, 0, 0, 0xabcd, 0x12}, 1).ToString(), "[2001::1:0:0:abcd:12]:1");
    EXPECT_EQ(IPv6({0x2001, 0xdb8, 0, 1, 1, 1, 1, 1}, 1).ToString(), "[2001:db8:0:1:1:1:1:1]:1");
    EXPECT_EQ(IPv6({0xfe80, 0, 0, 0, 0x1ff, 0xfe23, 0x4567, 0x890a}, 1).ToString(),
              "[fe80::1ff:fe23:4567:890a]:1");
    EXPECT_EQ(IPv6({0, 0, 0, 0, 0, 0xffff, 0xc000, 0x0201}, 25).ToString(),
              "[::ffff:192.0.2.1]:25");
}

TEST(SocketAddressTest, ReadsDottedIPv4AndNothingElse) {
    SocketAddress address;
    ASSERT_TRUE(SocketAddress::ParseIPv4("192.0.2.255", 110, address));
    EXPECT_EQ(address.ToString(), "192.0.2.255:110");
    for (const char* text : {"", "1.2.3", "1.2.3.4.", "1.2.3.4.5", "256.1.1.1", "1..2.3", "a.b.c.d",
                             "1.2.3.4 ", "mail.example.org", "::1", "0001.2.3.4"}) {
        EXPECT_FALSE(SocketAddress::ParseIPv4(text, 25, address)) << text;
    }
}

}  // namespace
}  // namespace vantel
