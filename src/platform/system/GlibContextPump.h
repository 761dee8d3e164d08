// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// GLib's default main context turned inside Qt's event dispatcher. A library that finishes its
// work in GLib's main loop (the keyring's client library does) needs that context turned; Qt
// turns it when it runs on GLib's loop, but not on its own dispatcher (EventDispatcherChoice).
// While a GlibContextPump exists, the context's sources are dispatched on the main thread as
// soon as their file descriptors are ready or their time-outs fall due, woken by socket
// notifiers and a timer: the wait sleeps in the event dispatcher and never spins.
namespace postlark {

class GlibContextPump {
public:
    GlibContextPump();
    ~GlibContextPump();
    GlibContextPump(const GlibContextPump&) = delete;
    GlibContextPump& operator=(const GlibContextPump&) = delete;

private:
    bool held_ = false; // false where Qt's dispatcher turns the context itself
};

} // namespace postlark
