// SPDX-License-Identifier: GPL-3.0-or-later
#include "MapWatch.h"

#include <cstdlib>
#include <poll.h>
#include <xcb/xcb.h>

namespace postlark::bench {

MapWatch::~MapWatch() {
    if (connection_)
        xcb_disconnect(connection_);
}

bool MapWatch::Open(const std::string& display) {
    int screenNumber = 0;
    connection_ = xcb_connect(display.c_str(), &screenNumber);
    if (!connection_ || xcb_connection_has_error(connection_))
        return false;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return false;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_void_cookie_t cookie = xcb_change_window_attributes_checked(connection_, screens.data->root,
                                                                    XCB_CW_EVENT_MASK, &mask);
    if (xcb_generic_error_t* error = xcb_request_check(connection_, cookie)) {
        std::free(error);
        return false;
    }
    return true;
}

void MapWatch::Discard() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_))
        std::free(event);
}

bool MapWatch::WaitForMap(int timeoutMs, Clock::time_point* when, std::uint32_t* window) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            const bool mapped = (event->response_type & 0x7F) == XCB_MAP_NOTIFY;
            const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
            const bool ours = mapped && !map->override_redirect;
            if (ours && window)
                *window = map->window;
            std::free(event);
            if (ours) {
                *when = Clock::now();
                return true;
            }
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || xcb_connection_has_error(connection_))
            return false;
        pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(left.count()));
    }
}

} // namespace postlark::bench
