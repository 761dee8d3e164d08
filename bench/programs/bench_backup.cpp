// SPDX-License-Identifier: GPL-3.0-or-later
// Back-up and restore of 500 accounts through the main window's own Backup and Restore
// commands, each timed against one atomic save of the same bytes (temporary file in the same
// folder, written, flushed, renamed over its target) in paired rounds.
//
// Both commands run as the menu runs them, menu_backup_Click and menu_restore_Click, with the
// file dialogs and the restore question answered through the modal answerer, so no dialog is
// shown and nothing waits. The back-up slot is the lowest level that both reads the accounts
// from the store and writes the file (the file writer it calls is private to it); the restore
// slot asks its question and then runs RestoreAccounts, which reads and checks the file,
// replaces the stored accounts in one store write and refills the list.
#include "BenchAccounts.h"
#include "Figures.h"
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
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace postlark;
using namespace postlark::bench;

namespace {

constexpr int kAccounts = 500;
constexpr int kRounds = 11; // timed rounds, after one warm-up round
const char* const kBackupLabel = "(f) back-up of 500 accounts / one atomic save of the same bytes";
const char* const kRestoreLabel = "(f) restore of 500 accounts / one atomic save of the same bytes";

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
// exactly `expected` (an error box, a missing dialog).
double TimeCommand(const std::function<void()>& command, const QString& file,
                   const std::vector<ModalQuestion::Kind>& expected) {
    double ms = 0;
    std::vector<ModalQuestion::Kind> asked;
    {
        ScopedModalAnswerer answerer([&](const ModalQuestion& q) {
            if (q.kind == ModalQuestion::Kind::MessageBox)
                return ModalAnswer::Button(q.buttons % 16 == vbYesNo ? vbYes : vbOK);
            return ModalAnswer::File(file);
        });
        const auto start = Clock::now();
        command();
        ms = MillisecondsSince(start);
        for (const ModalQuestion& q : ModalQuestionsAsked())
            asked.push_back(q.kind);
    }
    QCoreApplication::processEvents(); // anything the command posted, outside the measurement
    return asked == expected ? ms : -1;
}

// The yardstick: the bytes written to a new temporary file beside `target`, flushed to disk,
// and renamed over `target`, as the program's own profile file write does it (mkstemp, owner
// only, fsync of the file, rename; no flush of the folder). Milliseconds, or -1 on failure.
double TimeAtomicSave(const std::string& target, const std::string& bytes) {
    const auto start = Clock::now();
    std::string temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return -1;
    bool written = ::fchmod(fd, 0600) == 0;
    for (std::size_t done = 0; written && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        written = n > 0;
        done += written ? std::size_t(n) : 0;
    }
    written = written && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return -1;
    }
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
    const std::string yardstickPath = QFile::encodeName(folder + "/saved.pls").toStdString();

    using Kind = ModalQuestion::Kind;
    // Each back-up writes a new file: backing up onto an identical file writes nothing.
    const auto backup = [&] {
        ::unlink(backupPath.c_str());
        return TimeCommand([&] { form.menu_backup_Click(); }, backupFile, {Kind::SaveFile});
    };
    const auto restore = [&] {
        return TimeCommand([&] { form.menu_restore_Click(); }, backupFile,
                           {Kind::MessageBox, Kind::OpenFile});
    };

    // The bytes a back-up of these accounts writes, from one back-up before the rounds.
    if (backup() < 0) {
        ReportMissing(kBackupLabel, "the back-up command did not run through");
        return 1;
    }
    const std::string bytes = ReadBytes(backupFile);
    if (bytes.empty()) {
        ReportMissing(kBackupLabel, "the back-up wrote no file");
        return 1;
    }

    std::vector<double> backupRatios, restoreRatios, backupMs, restoreMs, saveMs;
    for (int round = 0; round <= kRounds; ++round) {
        const bool programFirst = round % 2 == 0;
        double b = 0, s1 = 0, r = 0, s2 = 0;
        if (programFirst) {
            b = backup();
            s1 = TimeAtomicSave(yardstickPath, bytes);
        } else {
            s1 = TimeAtomicSave(yardstickPath, bytes);
            b = backup();
        }
        if (b < 0 || s1 < 0) {
            ReportMissing(kBackupLabel, b < 0 ? "the back-up command did not run through"
                                              : "the atomic save failed");
            return 1;
        }
        if (ReadBytes(backupFile) != bytes || FileSize(yardstickPath) != long(bytes.size())) {
            ReportMissing(kBackupLabel, "the back-up file is not the bytes the atomic save wrote");
            return 1;
        }

        storeOthers();
        if (programFirst) {
            r = restore();
            s2 = TimeAtomicSave(yardstickPath, bytes);
        } else {
            s2 = TimeAtomicSave(yardstickPath, bytes);
            r = restore();
        }
        if (r < 0 || s2 < 0) {
            ReportMissing(kRestoreLabel, r < 0 ? "the restore command did not run through"
                                               : "the atomic save failed");
            return 1;
        }
        if (SettingsStore::GetInteger(NumAcctsKey, 0) != kAccounts ||
            BackupFile::StoredAccounts(kAccounts) != original ||
            list->topLevelItemCount() != kAccounts) {
            ReportMissing(kRestoreLabel, "the store does not hold the 500 backed-up accounts");
            return 1;
        }

        if (round == 0)
            continue; // warm-up
        backupMs.push_back(b);
        restoreMs.push_back(r);
        saveMs.push_back(s1);
        saveMs.push_back(s2);
        backupRatios.push_back(b / s1);
        restoreRatios.push_back(r / s2);
    }

    std::printf("(f) median of %d paired rounds: back-up %s ms, restore %s ms, one atomic save "
                "of the %zu bytes %s ms\n",
                kRounds, Fixed(Median(backupMs), 2).c_str(), Fixed(Median(restoreMs), 2).c_str(),
                bytes.size(), Fixed(Median(saveMs), 2).c_str());
    ReportRounds(kBackupLabel, backupRatios, 2, "", "<= 2.0", [](double v) { return v <= 2.0; });
    ReportRounds(kRestoreLabel, restoreRatios, 2, "", "<= 2.0", [](double v) { return v <= 2.0; });
    return 0;
}
