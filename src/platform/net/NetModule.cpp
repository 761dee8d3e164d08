// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/net/NetModule.h"

#include "platform/system/ModuleLibrary.h"

namespace postlark {

const NetModuleApi* NetModule(QString* why) {
    static QString failure;
    static const NetModuleApi* api = [] {
        using Entry = const NetModuleApi* (*)();
        auto entry = reinterpret_cast<Entry>(LoadModuleEntry(
            POSTLARK_QTNET_NAME, POSTLARK_QTNET_BUILD_PATH, "postlark_net_module", &failure));
        return entry ? entry() : nullptr;
    }();
    if (!api && why)
        *why = failure;
    return api;
}

} // namespace postlark
