// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The benchmark's private X display (Xvfb without a window manager) and the environment that
// puts a child program on it.
#include "support/XServer.h"

#include <string>
#include <vector>

namespace postlark::bench {

// This process's environment pointed at the display, Qt on xcb, no session bus.
inline std::vector<std::string> DisplayEnvironment(const test::XServer& x) {
    std::vector<std::string> changes;
    for (const QString& entry : x.environment().toStringList())
        changes.push_back(entry.toStdString());
    return changes;
}

} // namespace postlark::bench
