// SPDX-License-Identifier: GPL-3.0-or-later
// The routing-table reader under arbitrary /proc/net/route and /proc/net/ipv6_route texts.
//  - Only the modem, LAN and proxy flags come out, the proxy flag exactly when a proxy is
//    configured, and no route counts through an interface that is down.
//  - Lines are judged one by one: the flags of two tables joined are the union of their
//    flags, and the IPv4 and IPv6 tables add up the same way.
//  - A well-formed usable default route (IPv4 or IPv6) through a named interface gives the
//    modem flag for ppp and ww links and the LAN flag otherwise, whatever lines surround it.
#include "FuzzSupport.h"
#include "platform/net/RouteTable.h"

#include <array>
#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>

namespace win = postlark::win;

namespace {

constexpr win::DWORD kKnownFlags =
    win::INTERNET_CONNECTION_MODEM | win::INTERNET_CONNECTION_LAN | win::INTERNET_CONNECTION_PROXY;

const std::array<const char*, 8> kInterfaces = {"eth0", "ppp0", "wwan0",     "wlp2s0",
                                                "lo",   "ppp",  "enp0s31f6", "tun0"};

win::DWORD Flags(std::string_view v4, std::string_view v6, bool up, bool proxy) {
    return win::ConnectionFlagsFromRoutes(
        v4, v6, [up](const std::string&) { return up; }, proxy);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const bool proxy = input.ConsumeBool();
    const char* name =
        kInterfaces[input.ConsumeIntegralInRange<std::size_t>(0, kInterfaces.size() - 1)];
    const std::string v4a = input.ConsumeRandomLengthString(512);
    const std::string v4b = input.ConsumeRandomLengthString(512);
    const std::string v6a = input.ConsumeRandomLengthString(512);
    const std::string v6b = input.ConsumeRemainingBytesAsString();

    const win::DWORD all = Flags(v4a + "\n" + v4b, v6a + "\n" + v6b, true, proxy);
    POSTLARK_FUZZ_CHECK((all & ~kKnownFlags) == 0, std::to_string(all));
    POSTLARK_FUZZ_CHECK(((all & win::INTERNET_CONNECTION_PROXY) != 0) == proxy, v4a);
    POSTLARK_FUZZ_CHECK(Flags(v4a + "\n" + v4b, v6a + "\n" + v6b, false, proxy) ==
                            (proxy ? win::INTERNET_CONNECTION_PROXY : 0u),
                        v4a);
    const win::DWORD parts = Flags(v4a, "", true, proxy) | Flags(v4b, "", true, proxy) |
                             Flags("", v6a, true, proxy) | Flags("", v6b, true, proxy);
    POSTLARK_FUZZ_CHECK(all == parts, v4a + " | " + v4b + " | " + v6a + " | " + v6b);

    // A usable default route placed between the fuzzed lines.
    const bool pointToPoint =
        std::string_view(name).starts_with("ppp") || std::string_view(name).starts_with("ww");
    const win::DWORD expected =
        std::string_view(name) == "lo"
            ? 0
            : (pointToPoint ? win::INTERNET_CONNECTION_MODEM : win::INTERNET_CONNECTION_LAN);
    const std::string v4Route =
        std::string(name) + "\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0";
    const std::string v6Route = "00000000000000000000000000000000 00 "
                                "00000000000000000000000000000000 00 "
                                "fe800000000000000000000000000001 00000400 00000001 00000000 "
                                "00000003 " +
                                std::string(name);
    POSTLARK_FUZZ_CHECK((Flags(v4a + "\n" + v4Route + "\n" + v4b, "", true, false) & expected) ==
                            expected,
                        v4Route);
    POSTLARK_FUZZ_CHECK((Flags("", v6a + "\n" + v6Route + "\n" + v6b, true, false) & expected) ==
                            expected,
                        v6Route);
    return 0;
}
