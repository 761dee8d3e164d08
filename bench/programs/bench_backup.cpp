// SPDX-License-Identifier: GPL-3.0-or-later
// Back-up and restore of 500 accounts through the main window's own Backup and Restore
// commands, each timed against the one durable file replacement that command cannot avoid,
// in paired rounds.
//
// Both commands run as the menu runs them, menu_backup_Click and menu_restore_Click, with the
// file dialogs and the restore question answered through the modal answerer, so no dialog is
// shown and nothing waits. The back-up slot is the lowest level that both reads the accounts
// from the store and writes the file (the file writer it calls is private to it); the restore
// slot asks its question and then runs RestoreAccounts, which reads and checks the file,
// replaces the stored accounts in one store write and refills the list.
//
// The yardsticks are each side's own atomic save of the bytes it writes: for the back-up, the
// backup file's bytes replaced the way the profile engine replaces a file (ReplaceFile in
// platform/system/ProfileString.cpp); for the restore, the store file's bytes after the
// restore replaced the way the settings store replaces its file (ReplaceFile in
// store/SettingsStore.cpp, which adds a flush of the folder). Neither function can be called
// on its own (both are private to their files), so their system calls are repeated here one
// for one, each into a file of its own beside the file the command writes.
#include "BenchAccounts.h"
#include "Figures.h"
#include "ProcessorTime.h"
#include "app/PostlarkForm.h"
#include "platform/window/ModalAnswerer.h"
#include "platform/window/MsgBox.h"
#include "store/AccountRecord.h"
#include "store/BackupFile.h"
#include "store/SettingsStore.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTreeWidget>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace postlark;
using namespace postlark::bench;

namespace {

constexpr int kAccounts = 500;
constexpr int kRounds = 11; // timed rounds, after one warm-up round
const char* const kBackupLabel =
    "(f) back-up of 500 accounts / one atomic save of the backup file it writes";
const char* const kRestoreLabel =
    "(f) restore of 500 accounts / one atomic save of the store file it writes";

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string ReadBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

// Runs a menu command with every file dialog answered by `file` and every message box by Yes
// (or OK); returns its wall time in milliseconds, or -1 when the questions asked were not
// exactly `expected` (an error box, a missing dialog), and adds its processor time to
// `processorMs`.
double TimeCommand(const std::function<void()>& command, const QString& file,
                   const std::vector<ModalQuestion::Kind>& expected, double& processorMs) {
    double ms = 0;
    std::vector<ModalQuestion::Kind> asked;
    {
        ScopedModalAnswerer answerer([&](const ModalQuestion& q) {
            if (q.kind == ModalQuestion::Kind::MessageBox)
                return ModalAnswer::Button(q.buttons % 16 == vbYesNo ? vbYes : vbOK);
            return ModalAnswer::File(file);
        });
        const double processorStart = ProcessorSeconds();
        const auto start = Clock::now();
        command();
        ms = MillisecondsSince(start);
        processorMs += (ProcessorSeconds() - processorStart) * 1000;
        for (const ModalQuestion& q : ModalQuestionsAsked())
            asked.push_back(q.kind);
    }
    QCoreApplication::processEvents(); // anything the command posted, outside the measurement
    return asked == expected ? ms : -1;
}

bool WriteWhole(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
}

// The back-up's yardstick: the system calls of the profile engine's file replacement for a
// new owner-only file (ReplaceFile in ProfileString.cpp): mkstemp of ".<name>.XXXXXX" in the
// target's folder, fchmod 0600, write, fsync, close, rename over the target. Milliseconds,
// or -1 on failure.
double TimeProfileSave(const std::string& target, std::string_view bytes) {
    const auto start = Clock::now();
    const std::size_t slash = target.rfind('/');
    std::string temp = target.substr(0, slash + 1) + "." + target.substr(slash + 1) + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return -1;
    bool written = ::fchmod(fd, 0600) == 0 && WriteWhole(fd, bytes) && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return -1;
    }
    return MillisecondsSince(start);
}

// The restore's yardstick: the system calls of the settings store's file replacement
// (ReplaceFile in SettingsStore.cpp): unlink of "<target>.tmp", open O_EXCL 0600, fchmod 0600,
// write, fsync, fstat, close, rename over the target, then open and fsync of the folder.
// Milliseconds, or -1 on failure.
double TimeStoreSave(const std::string& folder, const std::string& target, std::string_view bytes) {
    const auto start = Clock::now();
    const std::string temp = target + ".tmp";
    if (::unlink(temp.c_str()) != 0 && errno != ENOENT)
        return -1;
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return -1;
    struct stat info {};
    bool written = ::fchmod(fd, 0600) == 0 && WriteWhole(fd, bytes) && ::fsync(fd) == 0 &&
                   ::fstat(fd, &info) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return -1;
    }
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0 || ::fsync(dir) != 0)
        return -1;
    ::close(dir);
    return MillisecondsSince(start);
}

long FileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? long(info.st_size) : -1;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    test::TestEnvironment environment; // settings and runtime folders in a temporary folder
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    // The accounts a restore must bring back, and a different set of 500 that each restore
    // starts from: restoring what is already stored writes nothing, so every restore here
    // replaces accounts that differ (server, user name, password).
    StoreBenchAccounts(kAccounts, "127.0.0.1:110", {{"bench", "pw-bench"}});
    const std::vector<AccountRecord> original = BackupFile::StoredAccounts(kAccounts);
    const auto storeOthers = [] {
        StoreBenchAccounts(kAccounts, "127.0.0.2:110", {{"other", "pw-other"}});
    };

    PostlarkForm form({});
    if (!form.Form_Load()) {
        ReportMissing(kBackupLabel, "the main window did not load");
        return 1;
    }
    auto* list = form.findChild<QTreeWidget*>("AccountList");

    const QString folder = environment.path() + "/backups";
    QDir().mkpath(folder);
    const QString backupFile = folder + "/accounts.pls";
    const std::string backupPath = QFile::encodeName(backupFile).toStdString();
    const std::string backupYardstick = QFile::encodeName(folder + "/saved.pls").toStdString();
    const std::string storeFolder = SettingsStore::FolderPath();
    const std::string storePath = SettingsStore::FilePath();
    const std::string storeYardstick = storeFolder + "/yardstick.ini";

    using Kind = ModalQuestion::Kind;
    double processorMs = 0;
    // Each back-up writes a new file: backing up onto an identical file writes nothing. Its
    // yardstick's file is new too, so both renames make a new name.
    const auto backup = [&] {
        ::unlink(backupPath.c_str());
        return TimeCommand([&] { form.menu_backup_Click(); }, backupFile, {Kind::SaveFile},
                           processorMs);
    };
    const auto restore = [&] {
        return TimeCommand([&] { form.menu_restore_Click(); }, backupFile,
                           {Kind::MessageBox, Kind::OpenFile}, processorMs);
    };

    // The bytes each command writes, from one back-up and one restore before the rounds.
    if (backup() < 0) {
        ReportMissing(kBackupLabel, "the back-up command did not run through");
        return 1;
    }
    const std::string bytes = ReadBytes(backupFile);
    if (bytes.empty()) {
        ReportMissing(kBackupLabel, "the back-up wrote no file");
        return 1;
    }
    storeOthers();
    if (restore() < 0) {
        ReportMissing(kRestoreLabel, "the restore command did not run through");
        return 1;
    }
    const std::string storeBytes = ReadBytes(QFile::decodeName(storePath.c_str()));
    if (storeBytes.empty()) {
        ReportMissing(kRestoreLabel, "the restore left no store file");
        return 1;
    }

    std::vector<double> backupRatios, restoreRatios, backupMs, restoreMs, backupSaveMs,
        restoreSaveMs, backupCpuMs, restoreCpuMs;
    for (int round = 0; round <= kRounds; ++round) {
        const bool programFirst = round % 2 == 0;
        double b = 0, s1 = 0, r = 0, s2 = 0;
        ::unlink(backupYardstick.c_str());
        processorMs = 0;
        if (programFirst) {
            b = backup();
            s1 = TimeProfileSave(backupYardstick, bytes);
        } else {
            s1 = TimeProfileSave(backupYardstick, bytes);
            b = backup();
        }
        const double bCpu = processorMs;
        if (b < 0 || s1 < 0) {
            ReportMissing(kBackupLabel, b < 0 ? "the back-up command did not run through"
                                              : "the atomic save failed");
            return 1;
        }
        if (ReadBytes(backupFile) != bytes || FileSize(backupYardstick) != long(bytes.size())) {
            ReportMissing(kBackupLabel, "the back-up file is not the bytes the atomic save wrote");
            return 1;
        }

        storeOthers();
        processorMs = 0;
        if (programFirst) {
            r = restore();
            s2 = TimeStoreSave(storeFolder, storeYardstick, storeBytes);
        } else {
            s2 = TimeStoreSave(storeFolder, storeYardstick, storeBytes);
            r = restore();
        }
        const double rCpu = processorMs;
        if (r < 0 || s2 < 0) {
            ReportMissing(kRestoreLabel, r < 0 ? "the restore command did not run through"
                                               : "the atomic save failed");
            return 1;
        }
        if (ReadBytes(QFile::decodeName(storePath.c_str())) != storeBytes ||
            FileSize(storeYardstick) != long(storeBytes.size()) ||
            SettingsStore::GetInteger(NumAcctsKey, 0) != kAccounts ||
            BackupFile::StoredAccounts(kAccounts) != original ||
            list->topLevelItemCount() != kAccounts) {
            ReportMissing(kRestoreLabel, "the store does not hold the 500 backed-up accounts");
            return 1;
        }

        if (round == 0)
            continue; // warm-up
        backupMs.push_back(b);
        restoreMs.push_back(r);
        backupSaveMs.push_back(s1);
        restoreSaveMs.push_back(s2);
        backupCpuMs.push_back(bCpu);
        restoreCpuMs.push_back(rCpu);
        backupRatios.push_back(b / s1);
        restoreRatios.push_back(r / s2);
    }

    std::printf("(f) median of %d paired rounds: back-up %s ms (processor %s ms), its save of "
                "the %zu-byte backup file %s ms; restore %s ms (processor %s ms), its save of "
                "the %zu-byte store file %s ms\n",
                kRounds, Fixed(Median(backupMs), 2).c_str(), Fixed(Median(backupCpuMs), 2).c_str(),
                bytes.size(), Fixed(Median(backupSaveMs), 2).c_str(),
                Fixed(Median(restoreMs), 2).c_str(), Fixed(Median(restoreCpuMs), 2).c_str(),
                storeBytes.size(), Fixed(Median(restoreSaveMs), 2).c_str());
    ReportRounds(kBackupLabel, backupRatios, 2, "", "<= 2.0", [](double v) { return v <= 2.0; });
    ReportRounds(kRestoreLabel, restoreRatios, 2, "", "<= 2.0", [](double v) { return v <= 2.0; });
    return 0;
}
