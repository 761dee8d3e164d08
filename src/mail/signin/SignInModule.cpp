// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/signin/SignInModule.h"

#include "platform/system/ModuleLibrary.h"

namespace postlark {

const SignInModuleApi* SignInModule(QString* why) {
    static QString failure;
    static const SignInModuleApi* api = [] {
        using Entry = const SignInModuleApi* (*)();
        auto entry = reinterpret_cast<Entry>(LoadModuleEntry(
            POSTLARK_SIGNIN_NAME, POSTLARK_SIGNIN_BUILD_PATH, "postlark_signin_module", &failure));
        return entry ? entry() : nullptr;
    }();
    if (!api && why)
        *why = QStringLiteral("The sign-in library could not be loaded: %1").arg(failure);
    return api;
}

} // namespace postlark
