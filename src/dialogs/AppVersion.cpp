// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/AppVersion.h"

namespace postlark {

AppVersionNumbers AppVersion() {
    return {POSTLARK_VERSION_MAJOR, POSTLARK_VERSION_MINOR, POSTLARK_VERSION_PATCH};
}

QString AppTitle() {
    return QStringLiteral("Postlark");
}

} // namespace postlark
