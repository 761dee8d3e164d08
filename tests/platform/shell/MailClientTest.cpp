// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's mail program is the default handler of mailto: addresses, started without one.
#include "platform/shell/MailClient.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

namespace postlark {
namespace {

void Write(const QString& path, const QByteArray& text) {
    QDir().mkpath(path.section('/', 0, -2));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

TEST(MailClient, TheDefaultMailtoHandlerStartsWithNoAddress) {
    test::TestEnvironment env;
    const QString data = env.path() + "/data", marker = env.path() + "/started";
    qputenv("XDG_DATA_HOME", data.toLocal8Bit());
    // %u is where an address would go: the program must be started with none.
    Write(data + "/applications/fake-mail.desktop",
          "[Desktop Entry]\nType=Application\nName=Fake Mail\nMimeType=x-scheme-handler/mailto;\n"
          "Exec=sh -c 'echo \"[$1]\" > " +
              marker.toLocal8Bit() + "' sh %u\n");
    Write(env.configHome() + "/mimeapps.list",
          "[Default Applications]\nx-scheme-handler/mailto=fake-mail.desktop\n");

    QString why;
    EXPECT_TRUE(win::StartMailClient(&why)) << why.toStdString();
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(marker) && waited.elapsed() < 5000)
        QThread::msleep(20);
    QThread::msleep(50);
    QFile started(marker);
    ASSERT_TRUE(started.open(QIODevice::ReadOnly));
    EXPECT_EQ(started.readAll(), "[]\n");
    qunsetenv("XDG_DATA_HOME");
}

} // namespace
} // namespace postlark
