// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One HTTP(S) GET that ends as soon as the response's status line and headers have arrived,
// never read from or written to a cache. It waits in a nested event loop, so the window keeps
// repainting and handling input (and timers keep firing) while the network takes its time;
// the request is given up after a time limit.
#include <chrono>
#include <cstdint>
#include <string>

namespace postlark::win {

struct UrlFetchRequest {
    std::string url;
    std::string userAgent;
    std::string headers; // extra request headers, lines separated by CR LF (may be empty)
    enum class Proxy { Configured, Direct, Named } proxy = Proxy::Configured;
    std::string proxyName; // for Named: "host:port" or a proxy URL
    std::chrono::milliseconds limit{10000};
    std::string caFile; // trusted authorities; empty for the system's
};

struct UrlFetchResult {
    // The server answered with an HTTP status line (any status).
    bool answered = false;
    // The last status line without its line end, e.g. "HTTP/1.1 200 OK".
    std::string statusLine;
    // Why no answer came (the transport's error text); empty when answered.
    std::string errorText;
    // The transport's error kind, mapped to the Internet API's error codes; 0 when answered.
    std::uint32_t errorCode = 0;
};

UrlFetchResult FetchStatusLine(const UrlFetchRequest& request);

} // namespace postlark::win
