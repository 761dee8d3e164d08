// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/net/RouteTable.h"

#include "platform/net/NetModule.h"

#include <QFile>
#include <QUrl>
#include <charconv>
#include <cstdlib>
#include <vector>

namespace postlark::win {

namespace {

constexpr unsigned long RTF_UP = 0x0001;
constexpr unsigned long RTF_REJECT = 0x0200;

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
            ++i;
        if (i > start)
            fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

template <typename Each> void ForEachLine(std::string_view text, Each each) {
    while (!text.empty()) {
        const size_t end = text.find('\n');
        each(text.substr(0, end));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

bool Hex(std::string_view text, unsigned long& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return error == std::errc() && end == text.data() + text.size();
}

bool AllZero(std::string_view hex) {
    return !hex.empty() && hex.find_first_not_of('0') == std::string_view::npos;
}

bool PointToPoint(std::string_view name) {
    return name.starts_with("ppp") || name.starts_with("ww");
}

// Adds the flag a usable default route through `name` gives.
void Consider(std::string_view name, unsigned long routeFlags, const InterfaceUpFn& interfaceUp,
              DWORD& flags) {
    if (name == "lo" || name == "*" || !(routeFlags & RTF_UP) || (routeFlags & RTF_REJECT))
        return;
    if (interfaceUp && !interfaceUp(std::string(name)))
        return;
    flags |= PointToPoint(name) ? INTERNET_CONNECTION_MODEM : INTERNET_CONNECTION_LAN;
}

std::string ReadAll(const char* path) {
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // Files under /proc report no size; read until the end.
    return file.readAll().toStdString();
}

} // namespace

DWORD ConnectionFlagsFromRoutes(std::string_view ipv4Routes, std::string_view ipv6Routes,
                                const InterfaceUpFn& interfaceUp, bool proxyConfigured) {
    DWORD flags = proxyConfigured ? INTERNET_CONNECTION_PROXY : 0;
    // Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT (hex, host order)
    ForEachLine(ipv4Routes, [&](std::string_view line) {
        const auto f = Fields(line);
        unsigned long routeFlags = 0;
        if (f.size() < 8 || !Hex(f[3], routeFlags) || f[1].size() != 8 || f[7].size() != 8)
            return; // the header line, or not a route
        if (AllZero(f[1]) && AllZero(f[7]))
            Consider(f[0], routeFlags, interfaceUp, flags);
    });
    // Destination PrefixLength Source SourcePrefix NextHop Metric RefCnt Use Flags Device
    ForEachLine(ipv6Routes, [&](std::string_view line) {
        const auto f = Fields(line);
        unsigned long routeFlags = 0;
        if (f.size() < 10 || f[0].size() != 32 || !Hex(f[8], routeFlags))
            return;
        if (AllZero(f[0]) && AllZero(f[1]))
            Consider(f[9], routeFlags, interfaceUp, flags);
    });
    return flags;
}

bool InterfaceIsUp(const std::string& name) {
    // Interface names never hold a slash; anything else would leave /sys/class/net.
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
        return false;
    QFile file(QStringLiteral("/sys/class/net/%1/operstate").arg(QString::fromStdString(name)));
    if (!file.open(QIODevice::ReadOnly))
        return true;
    const QByteArray state = file.readAll().trimmed();
    return state == "up" || state == "unknown";
}

bool ProxyConfigured() {
    for (const char* name :
         {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    // The desktop's own proxy settings come through the network library (loaded now if not yet).
    const NetModuleApi* module = NetModule();
    return module && !module->desktopProxies(QStringLiteral("http://example.com/")).empty();
}

DWORD CurrentConnectionFlags() {
    return ConnectionFlagsFromRoutes(ReadAll("/proc/net/route"), ReadAll("/proc/net/ipv6_route"),
                                     InterfaceIsUp, ProxyConfigured());
}

} // namespace postlark::win
