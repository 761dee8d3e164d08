// SPDX-License-Identifier: GPL-3.0-or-later
// ShellExecuteA "open": addresses and documents reach stand-in xdg-open / xdg-mime scripts put
// first on PATH; programs the test writes are started detached.
#include "platform/shell/ShellExecute.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <unistd.h>

namespace postlark::win {
namespace {

void WriteFile(const QString& path, const QByteArray& content, bool executable = false) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    if (executable)
        file.setPermissions(file.permissions() | QFile::ExeOwner | QFile::ExeUser);
}

// Whether the file appears within 5 s (what the detached processes write is moved into place
// whole).
bool WaitForExists(const QString& path) {
    const QDeadlineTimer deadline(5000);
    while (!QFile::exists(path) && !deadline.hasExpired())
        QThread::msleep(10);
    return QFile::exists(path);
}

QString WaitForFile(const QString& path) {
    WaitForExists(path);
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : "";
}

class ShellExecuteTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(QDir(dir_.path()).mkpath("bin"));
        // Each stand-in records its arguments, one per line; xdg-mime answers with the
        // contents of xdg-mime.answer (nothing: no application is associated).
        const QByteArray record =
            "printf '%s\\n' \"$@\" > \"$0.tmp\" && mv \"$0.tmp\" \"$0.args\"\n";
        WriteFile(bin("xdg-open"), "#!/bin/sh\n" + record, true);
        WriteFile(bin("xdg-mime"),
                  "#!/bin/sh\n" + record +
                      "cat \"$(dirname \"$0\")/xdg-mime.answer\" 2>/dev/null\n",
                  true);
        oldPath_ = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin("")) + ":" + oldPath_);
    }
    void TearDown() override { qputenv("PATH", oldPath_); }

    QString bin(const QString& name) const { return dir_.path() + "/bin/" + name; }
    QString path(const QString& name) const { return dir_.path() + "/" + name; }
    void Associate(const QByteArray& application) {
        WriteFile(bin("xdg-mime.answer"), application);
    }
    QString Opened() const { return WaitForFile(bin("xdg-open.args")); }
    bool OpenerCalled() const { return QFile::exists(bin("xdg-open.args")); }

    static std::intptr_t Open(const QString& file, const QString& parameters = {},
                              const QString& directory = {}) {
        return ShellExecuteA(0, "open", file, parameters, directory, SW_SHOWNORMAL);
    }

    QTemporaryDir dir_;
    QByteArray oldPath_;
};

TEST_F(ShellExecuteTest, AddressesGoToTheDesktopHandler) {
    EXPECT_GT(Open("https://mail.example.com/inbox?user=a b"), 32);
    EXPECT_EQ(Opened(), "https://mail.example.com/inbox?user=a%20b");

    QFile::remove(bin("xdg-open.args"));
    EXPECT_GT(ShellExecuteA(0, "", "mailto:someone@example.com", "", "", 1), 32);
    EXPECT_EQ(Opened(), "mailto:someone@example.com");

    QFile::remove(bin("xdg-open.args"));
    EXPECT_GT(Open("www.example.com/mail"), 32);
    EXPECT_EQ(Opened(), "http://www.example.com/mail");
}

TEST_F(ShellExecuteTest, MissingTargetsReportFileOrPathNotFound) {
    ASSERT_TRUE(QDir(dir_.path()).mkpath("sub"));
    EXPECT_EQ(Open(path("sub/nothing.exe")), SE_ERR_FNF);
    EXPECT_EQ(Open(path("nosuchdir/nothing.exe")), SE_ERR_PNF);
    EXPECT_EQ(Open("nothing.exe", "", path("sub")), SE_ERR_FNF);
    EXPECT_EQ(Open("nosuchdir/nothing.exe", "", path("sub")), SE_ERR_PNF);
    EXPECT_EQ(Open("nothing.exe", "", path("nosuchdir")), SE_ERR_PNF);
    EXPECT_EQ(Open("file://" + path("sub/nothing.txt")), SE_ERR_FNF);
    EXPECT_EQ(Open(""), SE_ERR_FNF);
    // Host-like texts that make no valid address are not handed to the desktop either.
    EXPECT_EQ(Open("www.example.invalid;x y"), SE_ERR_FNF);
    EXPECT_EQ(Open("ftp.example.invalid x"), SE_ERR_FNF);
    EXPECT_FALSE(OpenerCalled());
}

TEST_F(ShellExecuteTest, OnlyTheOpenOperationIsSupported) {
    WriteFile(path("letter.txt"), "text");
    Associate("editor.desktop");
    EXPECT_EQ(ShellExecuteA(0, "print", path("letter.txt"), "", "", 1), SE_ERR_NOASSOC);
    EXPECT_EQ(ShellExecuteA(0, "print", "https://example.com", "", "", 1), SE_ERR_NOASSOC);
    EXPECT_FALSE(OpenerCalled());
    EXPECT_GT(ShellExecuteA(0, "Open", path("letter.txt"), "", "", 1), 32);
    EXPECT_EQ(Opened(), path("letter.txt"));
}

TEST_F(ShellExecuteTest, ProgramsStartDetachedWithParametersAndFolder) {
    ASSERT_TRUE(QDir(dir_.path()).mkpath("work"));
    // Writes its folder and arguments, then stays running: the call must not wait for it.
    WriteFile(
        path("reader.sh"),
        "#!/bin/sh\n{ pwd; printf '%s\\n' \"$@\"; } > \"$0.tmp\" && mv \"$0.tmp\" \"$0.out\"\n"
        "exec sleep 3 </dev/null >/dev/null 2>&1\n",
        true);
    QElapsedTimer timer;
    timer.start();
    EXPECT_GT(Open(path("reader.sh"), "-x \"two words\"", path("work")), 32);
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_EQ(WaitForFile(path("reader.sh.out")), path("work") + "\n-x\ntwo words");

    // A bare name is found on PATH.
    WriteFile(bin("mailreader"), "#!/bin/sh\ntouch \"$0.ran\"\n", true);
    EXPECT_GT(Open("mailreader"), 32);
    EXPECT_TRUE(WaitForExists(bin("mailreader.ran")));
    EXPECT_FALSE(OpenerCalled());
}

TEST_F(ShellExecuteTest, DocumentsNeedAnAssociatedApplication) {
    WriteFile(path("data.zzqx"), QByteArray("\x00\x01\x02\xff", 4));
    EXPECT_EQ(Open(path("data.zzqx")), SE_ERR_NOASSOC);
    EXPECT_FALSE(OpenerCalled());
    EXPECT_EQ(WaitForFile(bin("xdg-mime.args")), "query\ndefault\napplication/octet-stream");

    Associate("viewer.desktop\n");
    EXPECT_GT(Open("data.zzqx", "", dir_.path()), 32);
    EXPECT_EQ(Opened(), path("data.zzqx"));

    QFile::remove(bin("xdg-open.args"));
    EXPECT_GT(Open(path("bin")), 32);
    EXPECT_EQ(Opened(), path("bin"));
}

TEST_F(ShellExecuteTest, AnExecutableBitOnADocumentOpensTheDocument) {
    WriteFile(path("notes.txt"), "not a program\n", true);
    Associate("editor.desktop");
    EXPECT_GT(Open(path("notes.txt")), 32);
    EXPECT_EQ(Opened(), path("notes.txt"));
}

TEST_F(ShellExecuteTest, UnreadableDocumentIsAccessDenied) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not apply to root";
    WriteFile(path("secret.txt"), "text");
    QFile::setPermissions(path("secret.txt"), QFile::WriteOwner);
    Associate("editor.desktop");
    EXPECT_EQ(Open(path("secret.txt")), SE_ERR_ACCESSDENIED);
    EXPECT_FALSE(OpenerCalled());
}

} // namespace
} // namespace postlark::win
