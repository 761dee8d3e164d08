// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Stands in for the web browser while it lives, so that no test opens a real one:
// QDesktopServices::openUrl runs xdg-open, which hands http and https addresses to
// stand_in_browser.py. That script notes each address and fetches it, following redirects on
// the loopback addresses only (the sign-in page's redirect reaches the program's listener).
// xdg-open finds it both ways it looks: with a display, through the x-scheme-handler entries of
// mimeapps.list (in the TestEnvironment's config folder) and a desktop entry (in XDG_DATA_HOME);
// without one, through BROWSER. XDG_CURRENT_DESKTOP=X-Generic keeps xdg-open from handing the
// address to a desktop's own opener.
// The offscreen platform plugin the tests run on has no desktop services (its openUrl refuses),
// so this object also takes http and https in QDesktopServices and runs xdg-open with the
// address, as Qt's desktop plugins do.
#include "support/TestEnvironment.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>
#include <utility>

namespace postlark::test {

class StandInBrowser : public QObject {
    Q_OBJECT
public:
    explicit StandInBrowser(const TestEnvironment& environment);
    ~StandInBrowser() override;

    bool ok() const { return ok_; }
    // The addresses the browser was asked to open, oldest first.
    QStringList openedUrls() const;
    // Runs the event loop until `count` addresses were opened; whether they were in time.
    bool waitForOpened(int count, int timeoutMs = 10000) const;

private slots:
    void open(const QUrl& url);

private:
    void setVariable(const char* name, const QByteArray& value);

    QString log_;
    bool ok_ = false;
    QList<std::pair<QByteArray, std::optional<QByteArray>>> saved_;
};

} // namespace postlark::test
