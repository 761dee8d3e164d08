// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's version numbers, as set for the build.
#include <QString>

namespace postlark {

struct AppVersionNumbers {
    int Major;
    int Minor;
    int Revision;
};

AppVersionNumbers AppVersion();

// The program's title ("Postlark").
QString AppTitle();

} // namespace postlark
