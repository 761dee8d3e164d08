// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/StandInBrowser.h"

#include "support/XServer.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QUrl>

namespace postlark::test {

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");
const QString kScript = QStringLiteral(POSTLARK_STAND_IN_BROWSER_SCRIPT);
const QString kEntry = QStringLiteral("postlark-stand-in-browser.desktop");

bool WriteFile(const QString& path, const QString& text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(text.toUtf8()) == text.toUtf8().size();
}

} // namespace

StandInBrowser::StandInBrowser(const TestEnvironment& environment)
    : log_(environment.path() + QStringLiteral("/browser.log")) {
    const QString dataHome = environment.path() + QStringLiteral("/data");
    const QString command = kPython + u' ' + kScript + u' ' + log_;
    ok_ = QDir().mkpath(dataHome + QStringLiteral("/applications")) &&
          WriteFile(dataHome + QStringLiteral("/applications/") + kEntry,
                    QStringLiteral("[Desktop Entry]\nType=Application\nName=Stand-in browser\n"
                                   "Exec=%1 %u\nNoDisplay=true\n"
                                   "MimeType=x-scheme-handler/http;x-scheme-handler/https;\n")
                        .arg(command)) &&
          WriteFile(environment.configHome() + QStringLiteral("/mimeapps.list"),
                    QStringLiteral("[Default Applications]\nx-scheme-handler/http=%1\n"
                                   "x-scheme-handler/https=%1\n")
                        .arg(kEntry));
    setVariable("XDG_DATA_HOME", dataHome.toLocal8Bit());
    setVariable("XDG_CURRENT_DESKTOP", "X-Generic");
    setVariable("BROWSER", (command + QStringLiteral(" %s")).toLocal8Bit());
    for (const QString& scheme : {QStringLiteral("http"), QStringLiteral("https")})
        QDesktopServices::setUrlHandler(scheme, this, "open");
}

StandInBrowser::~StandInBrowser() {
    for (const QString& scheme : {QStringLiteral("http"), QStringLiteral("https")})
        QDesktopServices::unsetUrlHandler(scheme);
    for (const auto& [name, value] : saved_) {
        if (value)
            qputenv(name.constData(), *value);
        else
            qunsetenv(name.constData());
    }
}

void StandInBrowser::open(const QUrl& url) {
    QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString(QUrl::FullyEncoded)});
}

void StandInBrowser::setVariable(const char* name, const QByteArray& value) {
    saved_.append(
        {name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt});
    qputenv(name, value);
}

QStringList StandInBrowser::openedUrls() const {
    QFile file(log_);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

bool StandInBrowser::waitForOpened(int count, int timeoutMs) const {
    return XServer::waitUntil([&] { return openedUrls().size() >= count; }, timeoutMs);
}

} // namespace postlark::test
