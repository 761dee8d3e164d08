// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/SettingsStore.h"

#include "platform/base/RuntimeError.h"
#include "support/ChildExit.h"
#include "support/TestEnvironment.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace postlark;

namespace {

// Set by a test to make flushing a folder fail, as it can on some network file systems.
bool failFolderFlush = false;

} // namespace

// Stands in for the C library's fsync in this test program (the store is linked in
// statically, so its calls land here): refuses folders while failFolderFlush is set.
extern "C" int fsync(int fd) {
    struct stat info {};
    if (failFolderFlush && ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        errno = EIO;
        return -1;
    }
    using Fsync = int (*)(int);
    static const auto real = reinterpret_cast<Fsync>(::dlsym(RTLD_NEXT, "fsync"));
    return real(fd);
}

namespace {

std::string ReadRaw(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteRaw(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

// Starts the store_writer helper with the given arguments; its stdout goes to *output.
pid_t StartWriter(const std::vector<std::string>& args, int* output) {
    int pipeFds[2];
    EXPECT_EQ(::pipe(pipeFds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<std::string> all{POSTLARK_STORE_WRITER};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    *output = pipeFds[0];
    return pid;
}

// Runs the helper to completion; returns its output, or "<failed>" if it did not exit with 0.
std::string RunWriter(const std::vector<std::string>& args) {
    int output = -1;
    const pid_t pid = StartWriter(args, &output);
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(output, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(got));
    ::close(output);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const auto clean = test::ExitedCleanly(status);
    EXPECT_TRUE(clean);
    return clean ? text : "<failed>";
}

class SettingsStoreTest : public ::testing::Test {
protected:
    test::TestEnvironment env;
};

} // namespace

TEST_F(SettingsStoreTest, EveryByteRoundTripsInKeysAndValues) {
    std::string allBytes;
    for (int b = 0; b < 256; ++b)
        allBytes += static_cast<char>(b);
    std::string passwordLike; // the look of an enciphered password
    for (int b = 100; b < 200; ++b)
        passwordLike += static_cast<char>(b);
    const std::string special = "a=b[c];d#e\\x41\r\n\rend\n";

    SettingsStore::SaveValue(allBytes, allBytes);
    SettingsStore::SaveValue("Password0", passwordLike);
    SettingsStore::SaveValue("Special", special);
    SettingsStore::SaveValue(" spaced ", "  both ends  ");
    SettingsStore::SaveValue("Empty", "");

    // Each byte also at the start of a key, where '[', ';' or '#' would start a header or a
    // comment if written raw.
    std::vector<SettingsStore::Change> changes;
    for (int b = 0; b < 256; ++b)
        changes.push_back(
            SettingsStore::Change::Set(std::string(1, char(b)) + "k", std::string(3, char(b))));
    SettingsStore::Apply(changes);

    EXPECT_EQ(SettingsStore::GetValue(allBytes, "absent"), allBytes);
    EXPECT_EQ(SettingsStore::GetValue("Password0", "absent"), passwordLike);
    EXPECT_EQ(SettingsStore::GetValue("Special", "absent"), special);
    EXPECT_EQ(SettingsStore::GetValue(" spaced ", "absent"), "  both ends  ");
    EXPECT_EQ(SettingsStore::GetValue("Empty", "absent"), "");
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(SettingsStore::GetValue(std::string(1, char(b)) + "k", "absent"),
                  std::string(3, char(b)))
            << "byte " << b;
    EXPECT_EQ(SettingsStore::GetValue("k", "absent"), "absent");
}

TEST_F(SettingsStoreTest, FileAndFolderStayOwnerOnly) {
    const mode_t oldMask = ::umask(0);
    SettingsStore::SaveValue("A", "1");
    EXPECT_EQ(ModeOf(SettingsStore::FolderPath()), 0700u);
    EXPECT_EQ(ModeOf(SettingsStore::FilePath()), 0600u);

    ::chmod(SettingsStore::FolderPath().c_str(), 0755);
    ::chmod(SettingsStore::FilePath().c_str(), 0644);
    SettingsStore::SaveValue("B", "2");
    EXPECT_EQ(ModeOf(SettingsStore::FolderPath()), 0700u);
    EXPECT_EQ(ModeOf(SettingsStore::FilePath()), 0600u);

    ::umask(0277); // a umask that would leave the owner without write access
    SettingsStore::SaveValue("C", "3");
    SettingsStore::SaveValue("D", "4");
    ::umask(oldMask);
    EXPECT_EQ(ModeOf(SettingsStore::FilePath()), 0600u);
    EXPECT_EQ(SettingsStore::GetValue("C"), "3");
    EXPECT_EQ(SettingsStore::GetValue("D"), "4");
}

TEST_F(SettingsStoreTest, AbsentKeysGiveDefaultsAndDeletingThemChangesNothing) {
    EXPECT_EQ(SettingsStore::GetValue("NumAccts", "0"), "0");
    EXPECT_NO_THROW(SettingsStore::DeleteValue("Nothing"));
    EXPECT_NE(::access(SettingsStore::FilePath().c_str(), F_OK), 0) << "no file for a no-op";

    SettingsStore::SaveValue("A", "1");
    const std::string before = ReadRaw(SettingsStore::FilePath());
    SettingsStore::DeleteValue("Nothing");
    EXPECT_EQ(ReadRaw(SettingsStore::FilePath()), before);

    SettingsStore::DeleteValue("A");
    EXPECT_EQ(SettingsStore::GetValue("A", "gone"), "gone");
}

TEST_F(SettingsStoreTest, ApplyLandsSetsAndDeletesInOrder) {
    SettingsStore::SaveValue("Old", "x");
    SettingsStore::Apply({SettingsStore::Change::Set("New", "1"),
                          SettingsStore::Change::Delete("Old"),
                          SettingsStore::Change::Set("New", "2")});
    EXPECT_EQ(SettingsStore::GetValue("New"), "2");
    EXPECT_EQ(SettingsStore::GetValue("Old", "gone"), "gone");
}

TEST_F(SettingsStoreTest, NumbersThatDoNotParseGiveTheDefault) {
    SettingsStore::SaveValue("Text", "abc");
    SettingsStore::SaveValue("Empty", "");
    SettingsStore::SaveValue("Spaced", " 12 ");
    SettingsStore::SaveValue("Fraction", "2.7");
    SettingsStore::SaveValue("Huge", "1e400");
    SettingsStore::SaveValue("Trailing", "5x");
    SettingsStore::SaveValue("Hex", "0x10");
    SettingsStore::SaveValue("Position", "1234.5");

    EXPECT_EQ(SettingsStore::GetInteger("Text", 7), 7);
    EXPECT_EQ(SettingsStore::GetInteger("Empty", 7), 7);
    EXPECT_EQ(SettingsStore::GetInteger("Spaced", 7), 12);
    EXPECT_EQ(SettingsStore::GetInteger("Fraction", 7), 3);
    EXPECT_EQ(SettingsStore::GetInteger("Huge", 7), 7);
    EXPECT_EQ(SettingsStore::GetInteger("Trailing", 7), 7);
    EXPECT_EQ(SettingsStore::GetInteger("Hex", 7), 7);
    EXPECT_EQ(SettingsStore::GetInteger("Absent", 7), 7);
    EXPECT_DOUBLE_EQ(SettingsStore::GetNumber("Position", 1000), 1234.5);
    EXPECT_DOUBLE_EQ(SettingsStore::GetNumber("Text", 1000), 1000);

    SettingsStore::SaveInteger("Count", 12);
    EXPECT_EQ(SettingsStore::GetValue("Count"), "12");
    EXPECT_EQ(SettingsStore::IntegerText(0), "0");
}

TEST_F(SettingsStoreTest, FlagIsOnOnlyWhenItsValueIsOne) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"1", true}, {"1.0", true}, {"0", false}, {"2", false}, {"-1", false}, {"abc", false}};
    for (const auto& [text, on] : cases) {
        SettingsStore::SaveValue("AlertSound", text);
        EXPECT_EQ(SettingsStore::IsFlagOn("AlertSound", false), on) << text;
    }
    EXPECT_FALSE(SettingsStore::IsFlagOn("Absent", false));
    EXPECT_TRUE(SettingsStore::IsFlagOn("Absent", true));
}

// Only a missing key takes the default: stored text that is no number is an off flag, also
// for the flags whose default is on.
TEST_F(SettingsStoreTest, FlagStoredAsTextThatIsNoNumberIsOffWhateverItsDefault) {
    for (const char* text : {"abc", "true", "", "on", "1x"}) {
        SettingsStore::SaveValue("AlertMsg", text);
        EXPECT_FALSE(SettingsStore::IsFlagOn("AlertMsg", true)) << '"' << text << '"';
        EXPECT_FALSE(SettingsStore::IsFlagOn("AlertMsg", false)) << '"' << text << '"';
        EXPECT_EQ(SettingsStore::GetFlag("AlertMsg", 1), 0) << '"' << text << '"';
    }
    SettingsStore::SaveValue("AlertMsg", " 1 ");
    EXPECT_TRUE(SettingsStore::IsFlagOn("AlertMsg", false));
    EXPECT_EQ(SettingsStore::GetFlag("AlertMsg", 0), 1);
    SettingsStore::SaveValue("AlertMsg", "2");
    EXPECT_EQ(SettingsStore::GetFlag("AlertMsg", 1), 2);
    EXPECT_EQ(SettingsStore::GetFlag("Absent", 1), 1);
}

TEST_F(SettingsStoreTest, GarbledLinesAreSkippedAndDroppedOnTheNextSave) {
    ::mkdir(SettingsStore::FolderPath().c_str(), 0700);
    WriteRaw(SettingsStore::FilePath(), "stray=before header\n"
                                        "[settings]\r\n"
                                        "A=1\r\n"
                                        "no equals sign\n"
                                        "Broken=bad\\xZ1\n"
                                        "Cut=end\\x4\n"
                                        "; comment=x\n"
                                        "B=\\x41raw\xE9\n"
                                        "E=first\n"
                                        "\\x45=second\n"
                                        "E=bad\\xQQ\n"
                                        "[Other]\n"
                                        "C=3");
    EXPECT_EQ(SettingsStore::GetValue("E"), "second"); // the last readable line wins
    EXPECT_EQ(SettingsStore::GetValue("A"), "1");
    EXPECT_EQ(SettingsStore::GetValue("B"), "Araw\xE9");
    for (const char* key : {"stray", "Broken", "Cut", "; comment", "C", "no equals sign"})
        EXPECT_EQ(SettingsStore::GetValue(key, "absent"), "absent") << key;

    SettingsStore::SaveValue("D", "4");
    EXPECT_EQ(SettingsStore::GetValue("A"), "1");
    EXPECT_EQ(SettingsStore::GetValue("B"), "Araw\xE9");
    EXPECT_EQ(SettingsStore::GetValue("D"), "4");
    EXPECT_EQ(SettingsStore::GetValue("E"), "second");
}

TEST_F(SettingsStoreTest, EmptyConfigHomeFallsBackToHomeConfig) {
    const std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    const std::string home = env.path().toStdString() + "/home";
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", "", 1);
    EXPECT_EQ(SettingsStore::FilePath(), home + "/.config/Postlark/settings.ini");
    SettingsStore::SaveValue("A", "1");
    EXPECT_EQ(::access((home + "/.config/Postlark/settings.ini").c_str(), F_OK), 0);
    ::setenv("HOME", oldHome.c_str(), 1);
}

TEST_F(SettingsStoreTest, WriterKilledAtAnyMomentLeavesOldOrNewFile) {
    std::string a, b; // large values full of bytes that need escaping (no NUL: they go in argv)
    for (int i = 0; i < 60000; ++i) {
        a += static_cast<char>(1 + i % 255);
        b += static_cast<char>(1 + (i * 7 + 3) % 255);
    }
    const std::string path = SettingsStore::FilePath();
    SettingsStore::SaveValue("Keep", "saved before");
    SettingsStore::SaveValue("Big", b);
    const std::string fileB = ReadRaw(path);
    SettingsStore::SaveValue("Big", a);
    const std::string fileA = ReadRaw(path);

    std::mt19937 random(12345);
    std::uniform_int_distribution<int> delayMicroseconds(0, 3000);
    int sawA = 0, sawB = 0;
    // Up to 200 kills, fewer on a slow machine (sanitizers, load): each one is a full check.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int kill = 0;
    for (; kill < 200 && (kill < 20 || std::chrono::steady_clock::now() < deadline); ++kill) {
        int output = -1;
        const pid_t pid = StartWriter({"flip", "Big", a, b}, &output);
        char ready = 0; // sent once the writer has completed a save: the kills land mid-flip
        ASSERT_EQ(::read(output, &ready, 1), 1) << "writer did not complete a save";
        ::close(output);
        ::usleep(static_cast<useconds_t>(delayMicroseconds(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status))
            << "writer " << test::DescribeWaitStatus(status) << " before kill " << kill;

        const std::string file = ReadRaw(path);
        ASSERT_TRUE(file == fileA || file == fileB)
            << "torn or foreign content after kill " << kill << ", " << file.size() << " bytes";
        ASSERT_EQ(SettingsStore::GetValue("Keep"), "saved before");
        (file == fileA ? sawA : sawB)++;
    }
    EXPECT_GT(sawB, 0) << "no kill left the file of the first completed save";

    SettingsStore::SaveValue("After", "ok"); // a leftover temporary file is no obstacle
    EXPECT_EQ(SettingsStore::GetValue("After"), "ok");
    EXPECT_EQ(ModeOf(path), 0600u);
}

TEST_F(SettingsStoreTest, TwoProcessesSavingAtOnceLoseNoKeys) {
    int outP = -1, outQ = -1;
    const pid_t p = StartWriter({"fill", "P", "100"}, &outP);
    const pid_t q = StartWriter({"fill", "Q", "100"}, &outQ);
    for (const pid_t pid : {p, q}) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(test::ExitedCleanly(status));
    }
    ::close(outP);
    ::close(outQ);
    for (int i = 0; i < 100; ++i) {
        for (const std::string prefix : {"P", "Q"}) {
            const std::string key = prefix + std::to_string(i);
            EXPECT_EQ(SettingsStore::GetValue(key, "lost"), key);
        }
    }
}

TEST_F(SettingsStoreTest, ValueSavedByOneProcessIsReadByTheOtherNext) {
    SettingsStore::SaveValue("Shared", "from the test");
    EXPECT_EQ(RunWriter({"get", "Shared"}), "from the test");
    ASSERT_EQ(RunWriter({"set", "Shared", "from the helper"}), "");
    EXPECT_EQ(SettingsStore::GetValue("Shared"), "from the helper");
    // The many-key read sees the other process's next save too.
    ASSERT_EQ(RunWriter({"set", "Shared", "again from the helper"}), "");
    EXPECT_EQ(SettingsStore::GetValues({"Shared", "Absent", "Shared"}, "none"),
              (std::vector<std::string>{"again from the helper", "none", "again from the helper"}));
}

namespace {

long SaveError(const std::string& key, const std::string& value) {
    try {
        SettingsStore::SaveValue(key, value);
        return 0;
    } catch (const RuntimeError& e) {
        return e.Number;
    }
}

ino_t InodeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_ino;
}

} // namespace

TEST_F(SettingsStoreTest, SavingTheStoredValueAgainNeedsNoWriteAccess) {
    SettingsStore::SaveValue("StartMinimized", "1");
    SettingsStore::SaveValue("NumAccts", "2");
    const std::string path = SettingsStore::FilePath();
    const ino_t before = InodeOf(path);
    // A lock that cannot be opened for writing stands for a folder the user may read but not
    // write (left to another owner by a run as administrator).
    const std::string lock = SettingsStore::FolderPath() + "/settings.lock";
    ASSERT_EQ(::unlink(lock.c_str()), 0);
    ASSERT_EQ(::mkdir(lock.c_str(), 0700), 0);

    EXPECT_EQ(SaveError("StartMinimized", "1"), 0);
    EXPECT_NO_THROW(SettingsStore::Apply(
        {SettingsStore::Change::Set("NumAccts", "2"), SettingsStore::Change::Delete("Absent")}));
    EXPECT_EQ(InodeOf(path), before) << "an equal value rewrote the file";
    EXPECT_EQ(SaveError("StartMinimized", "0"), 75) << "a real change needs the lock";
    EXPECT_EQ(SettingsStore::GetValue("StartMinimized"), "1");
}

TEST_F(SettingsStoreTest, SaveLandingBetweenTheCheckAndTheLockIsNotLost) {
    // Another copy saves right after this one has computed its change outside the lock: the
    // change must be computed again from what that copy stored, not written as first computed.
    SettingsStore::Apply({SettingsStore::Change::Set("Count", "1")});
    const std::string path = SettingsStore::FilePath();
    int computed = 0;
    SettingsStore::Update([&](const SettingsStore::Lookup& stored) {
        if (computed++ == 0) {
            WriteRaw(path + ".new", "[Settings]\nCount=5\nOther=kept\n");
            EXPECT_EQ(::rename((path + ".new").c_str(), path.c_str()), 0);
        }
        const long count = std::stol(stored("Count").value_or("0"));
        return std::vector{SettingsStore::Change::Set("Count", std::to_string(count + 1))};
    });
    EXPECT_EQ(computed, 2);
    EXPECT_EQ(ReadRaw(path), "[Settings]\nCount=6\nOther=kept\n");

    // Without a save in between, the change is computed once and written as computed.
    computed = 0;
    SettingsStore::Update([&](const SettingsStore::Lookup& stored) {
        ++computed;
        return std::vector{SettingsStore::Change::Set("Count", *stored("Count") + "0")};
    });
    EXPECT_EQ(computed, 1);
    EXPECT_EQ(ReadRaw(path), "[Settings]\nCount=60\nOther=kept\n");
}

TEST_F(SettingsStoreTest, UnreadableStoreIsReportedReadsAsDefaultsAndIsNeverReplaced) {
    EXPECT_EQ(SettingsStore::ReadProblem(), "") << "an absent store is a fresh one";
    SettingsStore::SaveValue("NumAccts", "3");
    EXPECT_EQ(SettingsStore::ReadProblem(), "");
    const std::string path = SettingsStore::FilePath();

    // A folder in the file's place cannot be read.
    ASSERT_EQ(::rename(path.c_str(), (path + ".away").c_str()), 0);
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    EXPECT_EQ(SettingsStore::ReadProblem(), std::strerror(EISDIR));
    EXPECT_EQ(SettingsStore::GetValue("NumAccts", "0"), "0");
    EXPECT_EQ(SaveError("NumAccts", "1"), 75);
    EXPECT_EQ(SaveError("Other", "x"), 75);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode)) << "the unreadable store was replaced";

    // A file without read permission, for users to whom permissions apply.
    ASSERT_EQ(::rmdir(path.c_str()), 0);
    ASSERT_EQ(::rename((path + ".away").c_str(), path.c_str()), 0);
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(path.c_str(), 0200), 0);
        EXPECT_EQ(SettingsStore::ReadProblem(), std::strerror(EACCES));
        EXPECT_EQ(SaveError("NumAccts", "1"), 75);
        ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    }
    EXPECT_EQ(SettingsStore::GetValue("NumAccts"), "3");
}

TEST_F(SettingsStoreTest, SaveThatLandedCountsAsDoneWhenTheFolderCannotBeFlushed) {
    SettingsStore::SaveValue("NumAccts", "1");
    failFolderFlush = true;
    testing::internal::CaptureStderr();
    const long error = SaveError("NumAccts", "2");
    const std::string warning = testing::internal::GetCapturedStderr();
    failFolderFlush = false;
    EXPECT_EQ(error, 0);
    EXPECT_EQ(SettingsStore::GetValue("NumAccts"), "2");
    EXPECT_NE(warning.find("could not be flushed"), std::string::npos) << warning;
}

TEST_F(SettingsStoreTest, WithoutAnyHomeFolderSavingIsRefused) {
    const std::string output = RunWriter({"nohome", "A", "1"});
    if (output == "skip")
        GTEST_SKIP() << "this user has a home folder and cannot take another user id";
    EXPECT_EQ(output.substr(0, output.find('|')), "") << output;
    EXPECT_NE(output.find("|75 "), std::string::npos) << output;
    EXPECT_NE(output.find("no home folder"), std::string::npos) << output;
    EXPECT_NE(::access("/Postlark", F_OK), 0);
}

namespace {

// Rewrites the store file in place (same inode) and gives it the modification time `when`.
void RewriteInPlace(const std::string& path, const std::string& text, const timespec& when) {
    WriteRaw(path, text);
    const timespec times[2] = {when, when};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

timespec ModifiedAt(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mtim;
}

} // namespace

TEST_F(SettingsStoreTest, UnchangedFileIsParsedOnceAndAnyChangeOfItIsSeen) {
    SettingsStore::SaveValue("Key", "one");
    const std::string path = SettingsStore::FilePath();
    const timespec saved = ModifiedAt(path);
    EXPECT_EQ(SettingsStore::GetValue("Key"), "one");

    // Same inode, size and time: the file counts as unchanged and is not read again (this
    // stands for the many reads of a check run, which must not parse the file each time).
    RewriteInPlace(path, "[Settings]\nKey=two\n", saved);
    EXPECT_EQ(SettingsStore::GetValue("Key"), "one");

    // A modification time one nanosecond later is a change.
    timespec later = saved;
    later.tv_nsec = (later.tv_nsec + 1) % 1000000000;
    later.tv_sec += later.tv_nsec == 0 ? 1 : 0;
    RewriteInPlace(path, "[Settings]\nKey=two\n", later);
    EXPECT_EQ(SettingsStore::GetValue("Key"), "two");

    // So is a different size at the same time, and a new file put in place by a rename.
    RewriteInPlace(path, "[Settings]\nKey=three\n", later);
    EXPECT_EQ(SettingsStore::GetValue("Key"), "three");
    WriteRaw(path + ".new", "[Settings]\nKey=four!\n");
    ASSERT_EQ(::rename((path + ".new").c_str(), path.c_str()), 0);
    EXPECT_EQ(SettingsStore::GetValue("Key"), "four!");

    // Removing the file empties the store; a save then starts a new one.
    ASSERT_EQ(::unlink(path.c_str()), 0);
    EXPECT_EQ(SettingsStore::GetValue("Key", "absent"), "absent");
    SettingsStore::SaveValue("Other", "x");
    EXPECT_EQ(SettingsStore::GetValue("Key", "absent"), "absent");
    EXPECT_EQ(ReadRaw(path), "[Settings]\nOther=x\n");
}

TEST_F(SettingsStoreTest, ManyDeletionsAndReinsertionsKeepOrderAndValues) {
    // Renumbering deletes and re-adds keys in one change; the file keeps its order with the
    // re-added keys at the end, and reads in this process and another agree with it.
    std::vector<SettingsStore::Change> fill;
    for (int i = 0; i < 300; ++i)
        fill.push_back(SettingsStore::Change::Set("K" + std::to_string(i), std::to_string(i)));
    SettingsStore::Apply(fill);
    std::vector<SettingsStore::Change> changes;
    for (int i = 0; i < 300; i += 2)
        changes.push_back(SettingsStore::Change::Delete("K" + std::to_string(i)));
    changes.push_back(SettingsStore::Change::Set("K0", "again"));
    changes.push_back(SettingsStore::Change::Set("K1", "changed"));
    SettingsStore::Apply(changes);

    std::string expected = "[Settings]\nK1=changed\n";
    for (int i = 3; i < 300; i += 2)
        expected += "K" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    expected += "K0=again\n";
    EXPECT_EQ(ReadRaw(SettingsStore::FilePath()), expected);
    EXPECT_EQ(SettingsStore::GetValue("K2", "gone"), "gone");
    EXPECT_EQ(SettingsStore::GetValue("K0"), "again");
    EXPECT_EQ(SettingsStore::GetValue("K299"), "299");
    EXPECT_EQ(RunWriter({"get", "K0"}), "again");

    // A later save works from the same table and keeps all of it.
    SettingsStore::SaveValue("K4", "back");
    EXPECT_EQ(ReadRaw(SettingsStore::FilePath()), expected + "K4=back\n");
}
