// SPDX-License-Identifier: GPL-3.0-or-later
// The connection flags read from sample routing tables.
#include "platform/net/RouteTable.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

namespace postlark::win {
namespace {

const std::string kHeader =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU"
    "\tWindow\tIRTT                                                       \n";

std::string Ipv4(const std::string& iface, const char* dest, const char* flags, const char* mask) {
    return iface + "\t" + dest + "\t010200C0\t" + flags + "\t0\t0\t0\t" + mask + "\t0\t0\t0\n";
}
std::string Ipv4Default(const std::string& iface, const char* flags = "0003") {
    return Ipv4(iface, "00000000", flags, "00000000");
}
std::string Ipv6(const char* dest, const char* prefix, const char* flags, const std::string& dev) {
    return std::string(dest) + " " + prefix +
           " 00000000000000000000000000000000 00 fd000000000000000000000000000001 00000400 "
           "00000002 00000000 " +
           flags + "     " + dev + "\n";
}
const char* const kZero6 = "00000000000000000000000000000000";
// Every machine has these: the loopback address and the "unreachable" IPv6 default on lo.
const std::string kLoopback6 = Ipv6("00000000000000000000000000000001", "80", "80200001", "lo") +
                               Ipv6(kZero6, "00", "00200200", "lo");

const InterfaceUpFn kAllUp = [](const std::string&) { return true; };

DWORD Flags(const std::string& v4, const std::string& v6, const InterfaceUpFn& up = kAllUp,
            bool proxy = false) {
    return ConnectionFlagsFromRoutes(v4, v6, up, proxy);
}

TEST(RouteTable, DefaultRouteKindDecidesLanOrModem) {
    const std::string subnet = Ipv4("eth0", "000200C0", "0001", "00FFFFFF");
    EXPECT_EQ(Flags(kHeader + Ipv4Default("eth0") + subnet, kLoopback6), INTERNET_CONNECTION_LAN);
    EXPECT_EQ(Flags(kHeader + Ipv4Default("ppp0"), kLoopback6), INTERNET_CONNECTION_MODEM);
    EXPECT_EQ(Flags(kHeader + Ipv4Default("wwan0"), ""), INTERNET_CONNECTION_MODEM);
    EXPECT_EQ(Flags(kHeader + Ipv4Default("wwp0s20f0u6"), ""), INTERNET_CONNECTION_MODEM);
    // Wireless LAN is a LAN, not a wireless modem.
    EXPECT_EQ(Flags(kHeader + Ipv4Default("wlan0"), ""), INTERNET_CONNECTION_LAN);
    EXPECT_EQ(Flags(kHeader + Ipv4Default("ppp0") + Ipv4Default("eth1"), ""),
              INTERNET_CONNECTION_MODEM | INTERNET_CONNECTION_LAN);
    // An IPv6-only network.
    EXPECT_EQ(Flags(kHeader, kLoopback6 + Ipv6(kZero6, "00", "00450003", "wlp2s0")),
              INTERNET_CONNECTION_LAN);
    EXPECT_EQ(Flags("", Ipv6(kZero6, "00", "00000003", "ppp0")), INTERNET_CONNECTION_MODEM);
}

TEST(RouteTable, NoUsableDefaultRouteIsNoConnection) {
    // Only the local subnet: reachable neighbours are not the Internet.
    EXPECT_EQ(
        Flags(kHeader + Ipv4("eth0", "000200C0", "0001", "00FFFFFF"),
              kLoopback6 + Ipv6("fe800000000000000000000000000000", "40", "00000001", "eth0")),
        0u);
    // Loopback alone, an empty or unreadable table.
    EXPECT_EQ(Flags(kHeader + Ipv4Default("lo", "0001"), kLoopback6), 0u);
    EXPECT_EQ(Flags("", ""), 0u);
    // A rejecting default ("unreachable default") and a route the kernel marks as not up.
    EXPECT_EQ(Flags(kHeader + Ipv4Default("*", "0201") + Ipv4Default("eth0", "0000"), ""), 0u);
    EXPECT_EQ(Flags("", Ipv6(kZero6, "00", "00200200", "eth0")), 0u);
    // A default route whose interface is down (cable out, radio off).
    const InterfaceUpFn ethDown = [](const std::string& name) { return name != "eth0"; };
    EXPECT_EQ(Flags(kHeader + Ipv4Default("eth0"), "", ethDown), 0u);
    EXPECT_EQ(Flags(kHeader + Ipv4Default("eth0") + Ipv4Default("ppp0"), "", ethDown),
              INTERNET_CONNECTION_MODEM);
    // A route to one network that happens to start with zeros is not a default route.
    EXPECT_EQ(Flags(kHeader + Ipv4("eth0", "00000000", "0003", "000000FF"), ""), 0u);
    EXPECT_EQ(Flags("", Ipv6(kZero6, "08", "00000003", "eth0")), 0u);
}

TEST(RouteTable, ProxyIsAddedWheneverOneIsConfigured) {
    EXPECT_EQ(Flags(kHeader + Ipv4Default("eth0"), "", kAllUp, true),
              INTERNET_CONNECTION_LAN | INTERNET_CONNECTION_PROXY);
    // A network that reaches the Internet only through its proxy still says so.
    EXPECT_EQ(Flags(kHeader, kLoopback6, kAllUp, true), INTERNET_CONNECTION_PROXY);
}

TEST(RouteTable, GarbledLinesAreSkipped) {
    const std::string garbage = "eth0\tnonsense\n\n \t \nppp0 00000000 zz 00000000\n" +
                                std::string(5000, 'x') + "\n" + kZero6 + " 00 truncated\n";
    EXPECT_EQ(Flags(kHeader + garbage + Ipv4Default("eth0"), garbage), INTERNET_CONNECTION_LAN);
    // Lines ending in CR LF read the same.
    EXPECT_EQ(Flags("eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\r\n", ""),
              INTERNET_CONNECTION_LAN);
}

TEST(RouteTable, InterfaceStateComesFromSysfsAndNamesCannotEscapeIt) {
    EXPECT_TRUE(InterfaceIsUp("lo")); // "unknown" on every kernel: no carrier notion
    EXPECT_FALSE(InterfaceIsUp("../../../etc"));
    EXPECT_FALSE(InterfaceIsUp(".."));
    EXPECT_FALSE(InterfaceIsUp(""));
}

} // namespace
} // namespace postlark::win
