#include "IPv4Address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct TextCase {
    const char* text;
    uint32_t hostOrder;
};

TEST(IPv4AddressTest, ReadsTheNumbersAndDotsForms)
{
    const TextCase cases[] = {
        {"10.0.0.1", 0x0A000001u},
        {"0.0.0.0", 0},
        {"255.255.255.254", 0xFFFFFFFEu},
        {"192.168.1.2", 0xC0A80102u},
        {"127.1", 0x7F000001u},             // a.b: b fills 24 bits
        {"10.1.258", 0x0A010102u},          // a.b.c: c fills 16 bits
        {"3232235777", 0xC0A80101u},        // a: all 32 bits
        {"4294967294", 0xFFFFFFFEu},
        {"010.0.0.1", 0x08000001u},         // octal part
        {"0x7f.0.0.0X1", 0x7F000001u},      // hexadecimal parts
        {"0xFF.0xff.00.0", 0xFFFF0000u},
        {"1.0xffffff", 0x01FFFFFFu},
    };
    for (const TextCase& c : cases) {
        const CIPv4Address address{std::string(c.text)};
        EXPECT_EQ(htonl(c.hostOrder), address.GetAddress()) << c.text;
    }
}

TEST(IPv4AddressTest, TextThatIsNoAddressStoresNone)
{
    const char* const cases[] = {
        "",           "localhost",   " ",           "1.2.3.4 ",     " 1.2.3.4",
        "1.2.3.4.",   "1.2.3.4.5",   "1..2.3",      ".1.2.3",       "256.0.0.1",
        "1.2.3.256",  "1.2.65536",   "1.16777216",  "4294967296",   "08.0.0.1",
        "0x.1.2.3",   "1.2.3.0x100", "-1.2.3.4",    "+1.2.3.4",     "1.2.3.4a",
        "１.2.3.4",   "99999999999999999999",
    };
    for (const char* text : cases) {
        CIPv4Address address(0x01020304u);
        address.SetText(text);
        EXPECT_EQ(CIPv4Address::kNone, address.GetAddress()) << '"' << text << '"';
    }
}

TEST(IPv4AddressTest, NoneAndBroadcastPrintTheSame)
{
    EXPECT_EQ("255.255.255.255", CIPv4Address(std::string("localhost")).ToString());
    EXPECT_EQ(CIPv4Address::kNone, CIPv4Address(std::string("255.255.255.255")).GetAddress());
}

TEST(IPv4AddressTest, PrintsDottedDecimal)
{
    EXPECT_EQ("10.0.0.1", CIPv4Address(std::string("10.0.0.1")).ToString());
    EXPECT_EQ("127.0.0.1", CIPv4Address(std::string("127.1")).ToString());
    EXPECT_EQ("0.0.0.0", CIPv4Address().ToString());
    EXPECT_EQ("1.2.3.4", CIPv4Address(0x01020304u).ToString());
}

TEST(IPv4AddressTest, ByteOrderOfEachSetter)
{
    const uint32_t network = htonl(0x0A000001u);
    CIPv4Address fromSocket;
    fromSocket.SetAddress(network);
    const CIPv4Address fromHost(0x0A000001u);
    CIPv4Address setHost;
    setHost.SetHostOrder(0x0A000001u);

    EXPECT_EQ("10.0.0.1", fromSocket.ToString());
    EXPECT_TRUE(fromSocket == fromHost);
    EXPECT_TRUE(fromSocket == setHost);
    EXPECT_EQ(network, fromHost.GetAddress());
    EXPECT_FALSE(fromSocket == CIPv4Address(0x0A000002u));
}

TEST(IPv4AddressTest, LoopbackHasAHostName)
{
    // The standard hosts file names 127.0.0.1 "localhost".
    EXPECT_EQ("localhost", CIPv4Address(static_cast<uint32_t>(INADDR_LOOPBACK)).GetHostName());
}

TEST(IPv4AddressTest, AddressWithoutANameGivesItsDottedText)
{
    // RFC 5737 documentation range: no reverse entry.
    EXPECT_EQ("192.0.2.1", CIPv4Address(std::string("192.0.2.1")).GetHostName());
}

}  // namespace
