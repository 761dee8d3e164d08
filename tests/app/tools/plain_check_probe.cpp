// SPDX-License-Identifier: GPL-3.0-or-later
// Helper process for the main-window tests: loads the main window with one account on a
// scripted server, runs a check, and prints the libraries loaded only when needed that the
// process has mapped ("none" when there are none): TLS, the keyring's and the sign-in's (not Qt
// Network, which the scripted server uses). "plain" checks over plain POP3, "tls" over pop3s://
// (whose handshake fails against the plain server; the attempt is what counts). A process of
// its own, so what other tests loaded cannot count, linked with everything the program links.
#include "app/PostlarkForm.h"
#include "platform/system/EventDispatcherChoice.h"
#include "store/AccountRecord.h"
#include "store/ApplicationKey.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"
#include "support/ScriptedServer.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QFile>
#include <QStringList>
#include <QTreeWidget>
#include <cstdio>

using namespace postlark;
using test::ScriptedServer;

namespace {

// The TLS libraries, Qt's TLS backends and the other libraries loaded when first needed among
// this process's mappings.
QStringList OptionalMappings() {
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return {QStringLiteral("unreadable")};
    QStringList found;
    for (const QByteArray& line : maps.readAll().split('\n')) {
        if (!line.contains('/'))
            continue;
        const QString path = QString::fromLocal8Bit(line.mid(line.indexOf('/')));
        const QString name = path.section('/', -1);
        const bool tls = name.startsWith(QLatin1String("libssl")) ||
                         name.startsWith(QLatin1String("libcrypto")) ||
                         name.startsWith(QLatin1String("libgnutls")) ||
                         path.contains(QLatin1String("/tls/")) ||
                         name.startsWith(QLatin1String("libQt6NetworkAuth")) ||
                         name.startsWith(QLatin1String("libqt6keychain")) ||
                         name.startsWith(QLatin1String("libpostlark_"));
        if (tls && !found.contains(name))
            found << name;
    }
    return found;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    test::TestEnvironment environment;
    postlark::ChooseEventDispatcher(); // as the program does
    QApplication app(argc, argv);
    postlark::EndEventDispatcherChoice();
    QApplication::setQuitOnLastWindowClosed(false);
    const bool tls = argc > 1 && QByteArray(argv[1]) == "tls";

    ScriptedServer server(ScriptedServer::Script()
                              .send("+OK ready\r\n")
                              .sendAfterLine("+OK\r\n")
                              .sendAfterLine("+OK\r\n")
                              .sendAfterLine("+OK 0 0\r\n")
                              .sendAfterLine("+OK bye\r\n"));
    const std::string address = "127.0.0.1:" + std::to_string(server.port());
    std::string key = BuildApplicationKey();
    AddAccount(0, AccountRecord{"probe@example.org", (tls ? "pop3s://" : "") + address, "probe",
                                PassCryptModule::EncryptText("secret", key), ""});

    PostlarkForm form({});
    if (!form.Form_Load())
        return 1;
    form.menu_Checknow_Click();
    const QString result = form.findChild<QTreeWidget*>("AccountList")->topLevelItem(0)->text(1);
    const QStringList mapped = OptionalMappings();
    std::printf("%s: %s\n", qPrintable(result),
                mapped.isEmpty() ? "none" : qPrintable(mapped.join(' ')));
    return 0;
}
