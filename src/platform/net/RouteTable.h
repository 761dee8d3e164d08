// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How the machine reaches the Internet, read from the kernel's routing tables: the connection
// flags that InternetGetConnectedState reports.
#include "platform/base/Win32Types.h"

#include <functional>
#include <string>
#include <string_view>

namespace postlark::win {

constexpr DWORD INTERNET_CONNECTION_MODEM = 0x01;
constexpr DWORD INTERNET_CONNECTION_LAN = 0x02;
constexpr DWORD INTERNET_CONNECTION_PROXY = 0x04;
constexpr DWORD INTERNET_CONNECTION_MODEM_BUSY = 0x08;

// Whether a network interface (by name) is up.
using InterfaceUpFn = std::function<bool(const std::string& name)>;

// The connection flags from the texts of /proc/net/route and /proc/net/ipv6_route:
// - MODEM when a default route goes through a point-to-point link (ppp*, ww* such as wwan0)
//   whose interface is up;
// - LAN when a default route goes through any other interface that is up;
// - PROXY when `proxyConfigured`, whatever the routes (a network may reach the Internet only
//   through its proxy; the caller then proves the connection by opening a page).
// Routes through the loopback interface, rejecting ("unreachable") routes and routes the
// kernel does not mark as up are ignored. A missing or garbled line is skipped.
DWORD ConnectionFlagsFromRoutes(std::string_view ipv4Routes, std::string_view ipv6Routes,
                                const InterfaceUpFn& interfaceUp, bool proxyConfigured);

// The interface's operational state from /sys/class/net: "up", or "unknown" (links without a
// carrier notion such as ppp) count as up; a state that cannot be read trusts the route.
bool InterfaceIsUp(const std::string& name);

// A proxy is configured: http_proxy, https_proxy or all_proxy (either case) is set, or the
// desktop's proxy setting (as Qt reports it) names one.
bool ProxyConfigured();

// The flags of this machine now.
DWORD CurrentConnectionFlags();

} // namespace postlark::win
