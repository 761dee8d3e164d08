// SPDX-License-Identifier: GPL-3.0-or-later
// The file and shell-folder calls: Windows dispositions and last errors, the system's own
// error texts, owner-only new files, identities to the nanosecond, locks, the config home.
#include "platform/base/FileCalls.h"
#include "platform/base/LastError.h"
#include "platform/base/ShellFolders.h"
#include "platform/base/SystemError.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace postlark::win;

namespace {

class FileCallsTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/filecalls-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        dir = name;
        ASSERT_EQ(::mkdir((dir + "/folder").c_str(), 0755), 0);
        Touch("existing");
        ASSERT_EQ(::symlink("existing", (dir + "/link").c_str()), 0);
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    std::string At(const char* name) const { return dir + "/" + name; }
    void Touch(const char* name) const { CloseHandle(Open(name, OPEN_ALWAYS)); }
    HANDLE Open(const char* name, DWORD disposition, DWORD flags = 0) const {
        return CreateFileA(At(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition,
                           flags, 0);
    }
    static mode_t ModeOf(const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
    }
    static std::string Text(DWORD error) {
        char text[256];
        const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error, 0, text,
                                       sizeof text, nullptr);
        return std::string(text, n);
    }

    std::string dir;
};

} // namespace

TEST_F(FileCallsTest, DispositionsSetWindowsErrorsWithTheSystemsText) {
    const mode_t oldMask = ::umask(0777); // new files must still be owner-only
    const struct {
        const char* name;
        DWORD access, disposition, flags;
        DWORD lastError; // after success too, where Windows sets it
        int errnoText;   // the failure's text is this number's, 0 for none
    } cases[] = {
        {"new", GENERIC_WRITE, CREATE_NEW, 0, ERROR_SUCCESS, 0},
        {"existing", GENERIC_WRITE, CREATE_NEW, 0, ERROR_FILE_EXISTS, EEXIST},
        {"absent", GENERIC_READ, OPEN_EXISTING, 0, ERROR_FILE_NOT_FOUND, ENOENT},
        {"existing/x", GENERIC_READ, OPEN_EXISTING, 0, ERROR_PATH_NOT_FOUND, ENOTDIR},
        {"made", GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, 0, ERROR_SUCCESS, 0},
        {"existing", GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, 0, ERROR_ALREADY_EXISTS, 0},
        {"folder", GENERIC_READ, OPEN_EXISTING, 0, ERROR_ACCESS_DENIED, EISDIR},
        {"folder", GENERIC_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, ERROR_SUCCESS, 0},
        {"link", GENERIC_WRITE, OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, 1921, ELOOP},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " disposition " + std::to_string(c.disposition));
        SetLastError(ERROR_SUCCESS);
        const HANDLE file =
            CreateFileA(At(c.name).c_str(), c.access, 0, nullptr, c.disposition, c.flags, 0);
        EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.errnoText == 0);
        EXPECT_EQ(GetLastError(), c.lastError);
        if (c.errnoText != 0) {
            EXPECT_EQ(Text(GetLastError()), std::strerror(c.errnoText));
        }
        CloseHandle(file);
    }
    ::umask(oldMask);
    EXPECT_EQ(Text(ERROR_ACCESS_DENIED), std::strerror(EACCES)) << "a value no call just set";
    EXPECT_EQ(ModeOf(At("new")), 0600u);
    EXPECT_EQ(ModeOf(At("made")), 0600u);
}

TEST_F(FileCallsTest, PathCallsReplaceRemoveCreateAndProtect) {
    Touch("other");
    // Each call's outcome is taken as it returns: the list is evaluated in order.
    const auto outcome = [](BOOL result) { return result ? ERROR_SUCCESS : GetLastError(); };
    const struct {
        DWORD lastError, expected;
    } cases[] = {
        {outcome(MoveFileExA(At("other").c_str(), At("existing").c_str(), 0)),
         ERROR_ALREADY_EXISTS},
        {outcome(MoveFileExA(At("other").c_str(), At("existing").c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)),
         ERROR_SUCCESS},
        {outcome(DeleteFileA(At("other").c_str())), ERROR_FILE_NOT_FOUND},
        {outcome(CreateDirectoryA(At("folder").c_str(), nullptr)), ERROR_ALREADY_EXISTS},
        {outcome(CreateDirectoryA(At("none/sub").c_str(), nullptr)), ERROR_PATH_NOT_FOUND},
        {outcome(CreateDirectoryA(At("sub").c_str(), nullptr)), ERROR_SUCCESS},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].lastError, cases[i].expected) << "call " << i;
    ASSERT_EQ(::chmod(At("existing").c_str(), 0644), 0);
    EXPECT_TRUE(SetOwnerOnlyAccessA(At("folder").c_str()));
    EXPECT_TRUE(SetOwnerOnlyAccessA(At("existing").c_str()));
    EXPECT_EQ(ModeOf(At("folder")), 0700u);
    EXPECT_EQ(ModeOf(At("existing")), 0600u);
}

TEST_F(FileCallsTest, IdentityByHandleAndByPathAgreeToTheNanosecond) {
    const HANDLE file = Open("existing", OPEN_EXISTING);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "12345", 5, &written, nullptr));
    ASSERT_TRUE(FlushFileBuffers(file));
    const timespec when[2] = {{1700000000, 123456789}, {1700000000, 123456789}};
    ASSERT_EQ(::futimens(static_cast<int>(file), when), 0);
    BY_HANDLE_FILE_INFORMATION byHandle{}, byPath{};
    ASSERT_TRUE(GetFileInformationByHandle(file, &byHandle));
    ASSERT_TRUE(
        GetFileAttributesExA(At("existing").c_str(), GetFileExInfoByHandleInformation, &byPath));
    CloseHandle(file);
    EXPECT_EQ(std::memcmp(&byHandle, &byPath, sizeof byPath), 0);
    EXPECT_EQ(byPath.nFileSizeLow, 5u);
    const std::uint64_t units = std::uint64_t{byPath.ftLastWriteTime.dwHighDateTime} << 32 |
                                byPath.ftLastWriteTime.dwLowDateTime;
    EXPECT_EQ(units, (1700000000ull + 11644473600ull) * 10000000 + 1234567);
    EXPECT_EQ(byPath.dwLastWriteTimeExtraNs, 89u);
}

TEST_F(FileCallsTest, LockExcludesAnotherHandleUntilUnlocked) {
    const HANDLE first = Open("existing", OPEN_EXISTING);
    const HANDLE second = Open("existing", OPEN_EXISTING);
    OVERLAPPED whole{};
    ASSERT_TRUE(LockFileEx(first, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole));
    EXPECT_FALSE(LockFileEx(second, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                            MAXDWORD, MAXDWORD, &whole));
    EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
    ASSERT_TRUE(UnlockFileEx(first, 0, MAXDWORD, MAXDWORD, &whole));
    EXPECT_TRUE(LockFileEx(second, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                           MAXDWORD, &whole));
    CloseHandle(first);
    CloseHandle(second);
}

TEST(ShellFolders, AppDataIsTheConfigHomeFromItsThreeSources) {
    const auto keep = [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
    const auto oldXdg = keep("XDG_CONFIG_HOME"), oldHome = keep("HOME");
    const passwd* user = ::getpwuid(::getuid());
    const std::string userHome = user && user->pw_dir ? user->pw_dir : "";
    const struct {
        const char* xdg;
        const char* home;
        std::string expected;
    } cases[] = {
        {"/x/config", "/h", "/x/config"},
        {"relative", "/h", "/h/.config"},
        {nullptr, nullptr, userHome + "/.config"},
    };
    for (const auto& c : cases) {
        const auto set = [](const char* name, const char* value) {
            value ? ::setenv(name, value, 1) : ::unsetenv(name);
        };
        set("XDG_CONFIG_HOME", c.xdg);
        set("HOME", c.home);
        std::string path;
        EXPECT_EQ(SHGetFolderPathA(0, CSIDL_APPDATA, 0, SHGFP_TYPE_CURRENT, path), S_OK);
        EXPECT_EQ(path, c.expected);
    }
    std::string path;
    EXPECT_EQ(SHGetFolderPathA(0, 0x0005, 0, SHGFP_TYPE_CURRENT, path), E_INVALIDARG);
    oldXdg ? ::setenv("XDG_CONFIG_HOME", oldXdg->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    oldHome ? ::setenv("HOME", oldHome->c_str(), 1) : ::unsetenv("HOME");
}
