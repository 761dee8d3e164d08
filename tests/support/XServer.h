// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A private X display for tests that need a real screen: Xvfb on a free display number and,
// on request, a window manager (openbox) and a tray host (trayer) on it. Everything started
// here is stopped when the object goes. The test process itself stays headless; the code that
// needs the display runs in a child process started with environment().
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace postlark::test {

class XServer {
public:
    struct Options {
        bool windowManager = false;
        bool trayHost = false;
    };

    explicit XServer(Options options);
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    // Empty when everything asked for is running; otherwise why not.
    QString failure() const { return failure_; }
    // Empty when the programs needed for `options` (and the `extra` ones) are installed;
    // otherwise what is missing.
    static QString missingPrograms(Options options, const QStringList& extra = {});
    // Whether tests that need a real display must run: under CI=true a missing program fails
    // them instead of skipping them, so a CI without the programs cannot pass unnoticed.
    static bool requiredToRun();

    QString display() const { return display_; } // ":N"

    // The caller's environment pointed at this display, with Qt on xcb and no session bus
    // (so Qt speaks to the tray host over X, not to a desktop's bus).
    QProcessEnvironment environment() const;

    // Runs an X client on this display; its standard output, or empty when it failed.
    QString run(const QString& program, const QStringList& arguments) const;

    // The tray host's panel window, in xwininfo's notation ("0x..."); empty without one.
    QString trayWindow() const { return trayWindow_; }

    // Runs the event loop until `done` holds or `timeoutMs` passes; whether it held.
    static bool waitUntil(const std::function<bool()>& done, int timeoutMs);

private:
    QProcess* startClient(const QString& program, const QStringList& arguments);
    bool startServer();
    bool startWindowManager();
    bool startTrayHost();

    QString failure_;
    QString display_;
    QString trayWindow_;
    std::unique_ptr<QProcess> server_;
    std::vector<std::unique_ptr<QProcess>> clients_;
};

} // namespace postlark::test

// In a test body or SetUp: skips the test when `missing` (from missingPrograms) names missing
// programs, or fails it when tests are required to run.
#define POSTLARK_REQUIRE_PROGRAMS(missing)                                                         \
    if (const QString missingPrograms_ = (missing); !missingPrograms_.isEmpty()) {                 \
        if (::postlark::test::XServer::requiredToRun())                                            \
            FAIL() << missingPrograms_.toStdString() << " (required to run under CI=true)";        \
        else                                                                                       \
            GTEST_SKIP() << missingPrograms_.toStdString();                                        \
    }
