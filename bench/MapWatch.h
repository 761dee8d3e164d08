// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Watches an X display for top-level windows being mapped, from the server's own events: the
// root window's SubstructureNotify selection delivers a MapNotify for every window mapped on
// it, and the moment that event is read is the moment the window appeared (no polling).
#include <chrono>
#include <cstdint>
#include <string>

struct xcb_connection_t;

namespace postlark::bench {

class MapWatch {
public:
    using Clock = std::chrono::steady_clock;

    MapWatch() = default;
    ~MapWatch();
    MapWatch(const MapWatch&) = delete;
    MapWatch& operator=(const MapWatch&) = delete;

    // Connects to the display (":N") and selects the root's structure events; false on failure.
    bool Open(const std::string& display);
    // Drops every event received so far.
    void Discard();
    // Sleeps until a top-level window is mapped; when it was read, or nothing after timeoutMs.
    bool WaitForMap(int timeoutMs, Clock::time_point* when, std::uint32_t* window = nullptr);

private:
    xcb_connection_t* connection_ = nullptr;
};

} // namespace postlark::bench
