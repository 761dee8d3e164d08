// SPDX-License-Identifier: GPL-3.0-or-later
// The registry routines and the start-up command: values round-trip through the Run key, the
// command survives any program path, and a real desktop launcher runs exactly that program
// with exactly "/registrystart".
#include "dialogs/Registry.h"
#include "dialogs/ExecLine.h"
#include "support/TestEnvironment.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace postlark {
namespace {

using namespace win;

TEST(Registry, WriteThenReadTheRunValueAndDefaults) {
    test::TestEnvironment env;
    EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, RunKeyPath, RunValueName, "Z"), QVariant("Z"));
    const QString command = "\"/home/ann/my tools/postlark\" /registrystart";
    EXPECT_EQ(WriteRegString(HKEY_CURRENT_USER, RunKeyPath, RunValueName, command), 0);
    EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, RunKeyPath, RunValueName, "Z"), QVariant(command));

    // Text beyond single bytes keeps every character (its byte count is what is written).
    const QString wide = QString::fromUtf8("/home/\xd0\xb8\xd0\xb2\xd0\xb0\xd0\xbd/postlark");
    EXPECT_EQ(WriteRegString(HKEY_CURRENT_USER, RunKeyPath, RunValueName, wide), 0);
    EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, RunKeyPath, RunValueName, "Z"), QVariant(wide));

    EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, "Software\\Missing", "x", 7), QVariant(7));
    EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, RunKeyPath, "Other", "Z"), QVariant("Z"));
    EXPECT_EQ(WriteRegString(HKEY_CURRENT_USER, "Software\\Missing", "x", "y"),
              ERROR_ACCESS_DENIED);
}

TEST(Registry, ReadsNumbersAndIgnoresOtherTypes) {
    HKEY key = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\RegistryTest", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::uint32_t number = 240;
    RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
    RegSetValueExA(key, "Expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>("%HOME%"), 7);
    RegSetValueExA(key, "Empty", 0, REG_SZ, nullptr, 0);
    RegSetValueExA(key, "Zero", 0, REG_SZ, reinterpret_cast<const BYTE*>("ab"), 3);
    RegCloseKey(key);

    const QVariant read = ReadRegValue(HKEY_CURRENT_USER, "Software\\RegistryTest", "Number", "Z");
    EXPECT_EQ(read.typeId(), QMetaType::UInt);
    EXPECT_EQ(read.toUInt(), 240u);
    EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, "Software\\RegistryTest", "Expand", "Z"),
              QVariant("Z"));
    // Present although empty: not the default.
    EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, "Software\\RegistryTest", "Empty", "Z"),
              QVariant(QString("")));
    // A stored terminating zero stays part of the text.
    EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, "Software\\RegistryTest", "Zero", "Z"),
              QVariant(QString::fromLatin1("ab\0", 3)));
}

TEST(StartupCommand, QuotesOnlyWhatNeedsItAndSplitsBackExactly) {
    EXPECT_EQ(StartupCommand("/usr/bin/postlark"), "/usr/bin/postlark /registrystart");
    EXPECT_EQ(StartupCommand("/opt/my tools/postlark"),
              "\"/opt/my tools/postlark\" /registrystart");
    EXPECT_EQ(QuoteExecArgument("/a\"b$c`d\\e"), "\"/a\\\"b\\$c\\`d\\\\e\"");
    EXPECT_EQ(QuoteExecArgument("/100%/x"), "/100%%/x");
    for (const QString& path : QStringList{
             "/usr/bin/postlark", "/opt/my tools/postlark", "/home/o'neil/\"quoted\" dir/postlark",
             "/weird/$HOME/`x`/back\\slash/#1;(a)|b&c*?~<>/postlark",
             QString::fromUtf8("/home/jos\xc3\xa9/post lark"), "/tab\there/postlark"}) {
        EXPECT_EQ(SplitExecLine(StartupCommand(path)), QStringList({path, "/registrystart"}))
            << path.toStdString();
    }
    // A path holding "%" is started through the shell, which gets it as an argument.
    const QStringList shell = {"/bin/sh", "-c", "exec \"$0\" \"$@\""};
    for (const QString& path : QStringList{"/opt/100%/postlark", "/a=b/%f %%/$x/post lark%"}) {
        EXPECT_EQ(SplitExecLine(StartupCommand(path)),
                  shell + QStringList({path, "/registrystart"}))
            << path.toStdString();
    }
    // What other programs write: field codes go, an open quote is no command.
    EXPECT_EQ(SplitExecLine("prog %f --x=%%u  \"a b\"%U"), QStringList({"prog", "--x=%u", "a b"}));
    EXPECT_EQ(SplitExecLine("\"\" x"), QStringList({"", "x"}));
    EXPECT_FALSE(SplitExecLine("\"/opt/x y /registrystart").has_value());
}

// A desktop launcher (GLib's, as desktop sessions use) reads the entry written through the
// Run key and starts the program with exactly the arguments the command names, whatever its
// path holds; the entry also passes the Desktop Entry validator.
TEST(StartupCommand, ADesktopLauncherRunsTheEntryAsWritten) {
    const QString gio = QStandardPaths::findExecutable("gio");
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    ASSERT_FALSE(gio.isEmpty()) << "not installed: gio (scripts/bootstrap installs it)";
    ASSERT_FALSE(validator.isEmpty()) << "not installed: desktop-file-validate";
    test::TestEnvironment env;
    const QString out = env.path() + "/arguments";
    for (const QString& name :
         {QString("it's a \"test\" $dir/post lark"),
          QString::fromUtf8("100% it's \"q\" $x \xc3\xa9=\xe2\x82\xac %f %%/post%lark 50%")}) {
        SCOPED_TRACE(name.toStdString());
        const QString program = env.path() + "/" + name;
        ASSERT_TRUE(QDir().mkpath(QFileInfo(program).path()));
        {
            QFile script(program);
            ASSERT_TRUE(script.open(QIODevice::WriteOnly));
            script.write(
                "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > \"$OUT.tmp\" && mv \"$OUT.tmp\" "
                "\"$OUT\"\n");
            script.setPermissions(script.permissions() | QFile::ExeOwner);
        }
        QFile::remove(out);
        ASSERT_EQ(
            WriteRegString(HKEY_CURRENT_USER, RunKeyPath, RunValueName, StartupCommand(program)),
            0);
        const QString entry = AutostartFolder() + "/Postlark.desktop";

        QProcess validate;
        validate.setProcessChannelMode(QProcess::MergedChannels);
        validate.start(validator, {entry});
        ASSERT_TRUE(validate.waitForFinished(10000));
        EXPECT_EQ(validate.exitCode(), 0);
        EXPECT_EQ(validate.readAll().trimmed().toStdString(), "");

        QProcess launch;
        QProcessEnvironment vars = QProcessEnvironment::systemEnvironment();
        vars.insert("OUT", out);
        launch.setProcessEnvironment(vars);
        launch.setProcessChannelMode(QProcess::MergedChannels);
        launch.start(gio, {"launch", entry});
        ASSERT_TRUE(launch.waitForFinished(10000));
        ASSERT_EQ(launch.exitCode(), 0) << launch.readAll().toStdString();

        const QDeadlineTimer deadline(10000);
        while (!QFile::exists(out) && !deadline.hasExpired())
            QThread::msleep(20);
        QFile result(out);
        ASSERT_TRUE(result.open(QIODevice::ReadOnly)) << "the program did not start";
        EXPECT_EQ(QString::fromUtf8(result.readAll()), program + "\n/registrystart\n");
    }
}

} // namespace
} // namespace postlark
