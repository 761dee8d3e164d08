// SPDX-License-Identifier: GPL-3.0-or-later
// The registry calls on Linux: the Run value is the user's autostart entry, the system
// information keys follow PATH, volatile keys hold any type, and the error codes and buffer
// contract are those callers of the Windows API rely on.
#include "platform/system/RegistryApi.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace postlark::win {
namespace {

constexpr char kRun[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

QString EntryPath(const test::TestEnvironment& env) {
    return env.configHome() + "/autostart/Postlark.desktop";
}

void WriteText(const QString& path, const QByteArray& text) {
    QDir().mkpath(path.section('/', 0, -2));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

HKEY Open(HKEY root, const char* path, REGSAM access) {
    HKEY key = 0;
    EXPECT_EQ(RegOpenKeyExA(root, path, 0, access, &key), ERROR_SUCCESS) << path;
    return key;
}

LONG SetText(HKEY key, const char* name, const QByteArray& text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.constData()),
                          DWORD(text.size()));
}

// The value's type and data, or the error code as the type with empty data.
std::pair<LONG, QByteArray> Query(HKEY key, const char* name, DWORD* type = nullptr) {
    DWORD size = 0;
    if (const LONG status = RegQueryValueExA(key, name, nullptr, type, nullptr, &size))
        return {status, {}};
    QByteArray data(qsizetype(size) + 1, 'x');
    ++size; // room for a zero after the text
    const LONG status =
        RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(data.data()), &size);
    EXPECT_EQ(data[qsizetype(size)], '\0') << "text is followed by a zero when there is room";
    return {status, data.left(size)};
}

TEST(RegistryRunValue, WriteReadDeleteIsTheAutostartEntry) {
    test::TestEnvironment env;
    HKEY run = 0;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kRun, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_WRITE | KEY_QUERY_VALUE, nullptr, &run, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(Query(run, "Postlark").first, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(run, "Postlark"), ERROR_FILE_NOT_FOUND);

    const QByteArray command = "\"/opt/mail tools/postlark\" /registrystart";
    ASSERT_EQ(SetText(run, "Postlark", command), ERROR_SUCCESS);
    ASSERT_TRUE(QFile::exists(EntryPath(env)));
    DWORD type = 0;
    EXPECT_EQ(Query(run, "postlark", &type), std::make_pair(LONG(ERROR_SUCCESS), command));
    EXPECT_EQ(type, REG_SZ);

    // The entry is one a session manager accepts.
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    if (validator.isEmpty()) {
        ADD_FAILURE() << "desktop-file-validate is not installed";
    } else {
        QProcess check;
        check.setProcessChannelMode(QProcess::MergedChannels);
        check.start(validator, {EntryPath(env)});
        ASSERT_TRUE(check.waitForFinished(10000));
        EXPECT_EQ(check.exitCode(), 0) << check.readAll().toStdString();
        EXPECT_TRUE(check.readAll().trimmed().isEmpty());
    }

    // Only the one value exists in the key.
    EXPECT_EQ(Query(run, "Other").first, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SetText(run, "Other", "x"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegSetValueExA(run, "Postlark", 0, REG_DWORD, (const BYTE*)"\1\0\0\0", 4), 87);

    EXPECT_EQ(RegDeleteValueA(run, "Postlark"), ERROR_SUCCESS);
    EXPECT_FALSE(QFile::exists(EntryPath(env)));
    EXPECT_EQ(Query(run, "Postlark").first, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(run), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(run), ERROR_INVALID_HANDLE);
}

TEST(RegistryRunValue, DataRoundTripsThroughTheFileEscapes) {
    test::TestEnvironment env;
    const HKEY run = Open(HKEY_CURRENT_USER, kRun, KEY_ALL_ACCESS);
    for (const QByteArray& data :
         {QByteArray(" leading space"), QByteArray("trailing space "),
          QByteArray("back\\slash \\\\s and \\n"), QByteArray("two\nlines\tand\rreturn"),
          QByteArray("caf\xc3\xa9 %f $HOME `x`"), QByteArray("")}) {
        ASSERT_EQ(SetText(run, "Postlark", data), ERROR_SUCCESS);
        EXPECT_EQ(Query(run, "Postlark").second, data);
    }
    // Text ends at its first zero; bytes that are no UTF-8 cannot go into an entry file.
    ASSERT_EQ(SetText(run, "Postlark", QByteArray("cmd\0rest", 8)), ERROR_SUCCESS);
    EXPECT_EQ(Query(run, "Postlark").second, "cmd");
    EXPECT_EQ(SetText(run, "Postlark", "caf\xe9"), 87);
    EXPECT_EQ(Query(run, "Postlark").second, "cmd");
    RegCloseKey(run);
}

TEST(RegistryRunValue, HandMadeEntriesReadLikeOurOwn) {
    test::TestEnvironment env;
    const HKEY run = Open(HKEY_CURRENT_USER, kRun, KEY_READ);
    const QString path = EntryPath(env);

    WriteText(path, "# made by hand\n[Other]\nExec=wrong\n\n[Desktop Entry]\r\n"
                    "Name=Postlark\nExec[de]=localized\nExec =  /usr/bin/postlark /registrystart\n"
                    "Exec=second\n");
    EXPECT_EQ(Query(run, "Postlark").second, "/usr/bin/postlark /registrystart");

    WriteText(path, "[Desktop Entry]\nType=Application\nName=Postlark\n");
    EXPECT_EQ(Query(run, "Postlark"), std::make_pair(LONG(ERROR_SUCCESS), QByteArray()));

    // Switched off by the user: absent, and deleting it leaves the user's file alone.
    for (const QByteArray off : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
        WriteText(path, "[Desktop Entry]\nExec=postlark /registrystart\n" + off + "\n");
        EXPECT_EQ(Query(run, "Postlark").first, ERROR_FILE_NOT_FOUND) << off.constData();
    }
    const HKEY writable = Open(HKEY_CURRENT_USER, kRun, KEY_ALL_ACCESS);
    EXPECT_EQ(RegDeleteValueA(writable, "Postlark"), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(QFile::exists(path));

    WriteText(path, "not an entry\n");
    EXPECT_EQ(Query(run, "Postlark").first, ERROR_FILE_NOT_FOUND);
    RegCloseKey(run);
    RegCloseKey(writable);
}

TEST(RegistryKeys, AccessRightsMissingKeysAndTheBufferContract) {
    test::TestEnvironment env;
    HKEY key = 0;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Nobody", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Nobody", 0, nullptr, 0, KEY_WRITE,
                              nullptr, &key, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExA(12345, "x", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);

    // The keys above the Run key exist, and paths are resolved relative to an open key.
    const HKEY software = Open(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft", KEY_READ);
    const HKEY write = Open(software, "Windows\\CurrentVersion\\Run\\", KEY_WRITE);
    const HKEY read = Open(software, "windows\\currentversion\\run", KEY_QUERY_VALUE);
    EXPECT_EQ(SetText(read, "Postlark", "x"), ERROR_ACCESS_DENIED);
    ASSERT_EQ(SetText(write, "Postlark", "postlark /registrystart"), ERROR_SUCCESS);
    EXPECT_EQ(Query(write, "Postlark").first, ERROR_ACCESS_DENIED);

    DWORD type = 0, size = 3;
    char small[3] = {};
    EXPECT_EQ(RegQueryValueExA(read, "Postlark", nullptr, &type, (BYTE*)small, &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 23u);
    for (HKEY k : {software, write, read})
        EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
}

TEST(RegistryKeys, VolatileKeysHoldNumbersAndOtherTypes) {
    HKEY key = 0;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\PostlarkTest\\Numbers", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    const std::uint32_t number = 0xFFFFFFFE;
    ASSERT_EQ(RegSetValueExA(key, "Count", 0, REG_DWORD, (const BYTE*)&number, 4), ERROR_SUCCESS);
    DWORD type = 0;
    std::uint32_t read = 0;
    DWORD size = 4;
    ASSERT_EQ(RegQueryValueExA(key, "count", nullptr, &type, (BYTE*)&read, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(read, number);
    EXPECT_EQ(RegDeleteValueA(key, "Count"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "Count"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
    // The parent now exists; reopening the key finds it again.
    HKEY parent = Open(HKEY_CURRENT_USER, "Software\\PostlarkTest", KEY_READ);
    HKEY again = Open(parent, "numbers", KEY_READ);
    RegCloseKey(parent);
    RegCloseKey(again);
}

TEST(RegistryKeys, SystemInformationProgramIsTheFirstFoundOnPath) {
    QTemporaryDir first, second;
    const auto tool = [](const QTemporaryDir& dir, const QString& name) {
        QFile file(dir.path() + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n");
        file.setPermissions(file.permissions() | QFile::ExeOwner);
    };
    tool(first, "gnome-system-monitor");
    tool(second, "hardinfo");
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", (first.path() + ":" + second.path()).toUtf8());

    // The root as a 32-bit caller passes it, sign-extended.
    const HKEY machine = HKEY(std::int32_t(0x80000002));
    HKEY info = 0;
    ASSERT_EQ(
        RegOpenKeyExA(machine, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", 0, 0x2003F, &info),
        ERROR_SUCCESS);
    EXPECT_EQ(Query(info, "PATH").second, (second.path() + "/hardinfo").toUtf8())
        << "hardinfo is preferred even when later on PATH";
    EXPECT_EQ(SetText(info, "PATH", "x"), ERROR_ACCESS_DENIED);
    const HKEY location = Open(machine, "SOFTWARE\\Microsoft\\Shared Tools Location", KEY_READ);
    EXPECT_EQ(Query(location, "MSINFO").second, second.path().toUtf8());
    RegCloseKey(info);
    RegCloseKey(location);

    QFile::remove(second.path() + "/hardinfo");
    info = Open(machine, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", KEY_READ);
    EXPECT_EQ(Query(info, "PATH").second, (first.path() + "/gnome-system-monitor").toUtf8());
    RegCloseKey(info);

    qputenv("PATH", second.path().toUtf8());
    EXPECT_EQ(
        RegOpenKeyExA(machine, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", 0, KEY_READ, &info),
        ERROR_FILE_NOT_FOUND);
    qputenv("PATH", oldPath);
}

} // namespace
} // namespace postlark::win
