// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/EventDispatcherChoice.h"

#include <QByteArray>
#include <QFileInfo>
#include <QLibraryInfo>

namespace postlark {

namespace {

bool choseIt = false;

// The desktops for which Qt prefers the GTK platform theme.
bool GtkDesktop() {
    const QByteArray desktops = qgetenv("XDG_CURRENT_DESKTOP").toUpper();
    for (const QByteArray& name : desktops.split(':')) {
        if (name == "GNOME" || name == "X-CINNAMON" || name == "UNITY" || name == "MATE" ||
            name == "XFCE" || name == "LXDE" || name == "BUDGIE" || name == "PANTHEON")
            return true;
    }
    return false;
}

bool GtkThemeInstalled() {
    const QString themes =
        QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platformthemes/");
    return QFileInfo::exists(themes + QStringLiteral("libqgtk3.so"));
}

} // namespace

bool ChooseEventDispatcher() {
    choseIt = false;
    if (qEnvironmentVariableIsSet("QT_NO_GLIB"))
        return qEnvironmentVariableIntValue("QT_NO_GLIB") != 0; // the user's choice
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORMTHEME") || (GtkDesktop() && GtkThemeInstalled()))
        return false;
    qputenv("QT_NO_GLIB", "1");
    choseIt = true;
    return true;
}

void EndEventDispatcherChoice() {
    if (choseIt)
        qunsetenv("QT_NO_GLIB");
    choseIt = false;
}

} // namespace postlark
