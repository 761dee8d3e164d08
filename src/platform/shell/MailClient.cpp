// SPDX-License-Identifier: GPL-3.0-or-later
// GIO's headers first: Qt's "signals" keyword would otherwise rewrite a field name in them.
#include <gio/gio.h>

#include "platform/shell/MailClient.h"

#include <dlfcn.h>

namespace postlark::win {

namespace {

// GIO, which knows the desktop's default applications, loaded when the mail program is first
// asked for rather than at start-up.
struct Gio {
    decltype(&::g_app_info_get_default_for_uri_scheme) defaultFor = nullptr;
    decltype(&::g_app_info_launch) launch = nullptr;
    decltype(&::g_app_info_get_name) name = nullptr;
    decltype(&::g_object_unref) unref = nullptr;
    decltype(&::g_error_free) freeError = nullptr;

    Gio() {
        void* library = ::dlopen("libgio-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return;
        defaultFor = reinterpret_cast<decltype(defaultFor)>(
            ::dlsym(library, "g_app_info_get_default_for_uri_scheme"));
        launch = reinterpret_cast<decltype(launch)>(::dlsym(library, "g_app_info_launch"));
        name = reinterpret_cast<decltype(name)>(::dlsym(library, "g_app_info_get_name"));
        unref = reinterpret_cast<decltype(unref)>(::dlsym(library, "g_object_unref"));
        freeError = reinterpret_cast<decltype(freeError)>(::dlsym(library, "g_error_free"));
    }
    bool usable() const { return defaultFor && launch && name && unref && freeError; }
};

} // namespace

bool StartMailClient(QString* why) {
    static const Gio gio;
    const auto fail = [why](const QString& reason) {
        if (why)
            *why = reason;
        return false;
    };
    if (!gio.usable())
        return fail(QStringLiteral("The desktop's application list (GIO) is not available."));
    GAppInfo* client = gio.defaultFor("mailto");
    if (!client)
        return fail(QStringLiteral("The desktop names no mail program (no default application "
                                   "for mailto: addresses)."));
    GError* error = nullptr;
    const bool started = gio.launch(client, nullptr, nullptr, &error);
    QString reason;
    if (!started) {
        reason = QStringLiteral("%1 could not be started: %2")
                     .arg(QString::fromUtf8(gio.name(client)),
                          QString::fromUtf8(error ? error->message : "unknown error"));
    }
    if (error)
        gio.freeError(error);
    gio.unref(client);
    return started || fail(reason);
}

} // namespace postlark::win
