// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's account backup commands: back up every account to a file, restore the
// accounts from a file chosen in the Open dialog or named on the command line.
#include "app/PostlarkForm.h"

#include "platform/base/RuntimeError.h"
#include "platform/system/ProfileString.h"
#include "platform/window/CommonDialog.h"
#include "platform/window/MsgBox.h"
#include "store/BackupFile.h"
#include "store/SettingsStore.h"

#include <QApplication>
#include <QFile>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace postlark {

namespace {

const char* const kTitle = "Postlark";
const char* const kRestoreQuestion =
    "Restoring settings will overwrite any current settings!  Proceed?";
const char* const kReadError = "Error reading from file.";
const char* const kWriteError = "Error writing to file.";

// The busy pointer until Normal() or the end of the scope.
class BusyPointer {
public:
    BusyPointer() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyPointer() { Normal(); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
    void Normal() {
        if (busy_)
            QApplication::restoreOverrideCursor();
        busy_ = false;
    }

private:
    bool busy_ = true;
};

std::string LocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// The whole value of an entry of the backup section, or nullopt when the file or the entry is
// missing.
std::optional<std::string> ReadEntry(const std::string& file, const std::string& name) {
    return win::ReadWholeProfileString(BackupFile::Section, name, file);
}

// The entry names of the backup section.
std::vector<std::string> EntryNames(const std::string& file) {
    std::vector<char> buffer(4096);
    win::DWORD got = 0;
    for (;;) {
        got = win::GetPrivateProfileStringA(BackupFile::Section, nullptr, "", buffer.data(),
                                            static_cast<win::DWORD>(buffer.size()), file.c_str());
        if (got + 2 < buffer.size())
            break;
        buffer.resize(buffer.size() * 2);
    }
    std::vector<std::string> names;
    for (std::size_t at = 0; at < got;) {
        names.emplace_back(buffer.data() + at);
        at += names.back().size() + 1;
    }
    return names;
}

// Writes the backup entries into a private copy of the file beside it, removes the account
// entries of an older, larger backup, and puts the copy in the file's place only when all of
// it succeeded: a failed backup leaves the file exactly as it was. Other sections and lines of
// an existing file are kept.
bool WriteBackup(std::string path, const std::vector<BackupFile::Entry>& entries,
                 long accountCount) {
    // Through a symbolic link to the file it names, so the link stays a link.
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        path = real;
        std::free(real);
    }
    struct stat info {};
    const bool exists = ::stat(path.c_str(), &info) == 0;
    if ((!exists && errno != ENOENT) || (exists && !S_ISREG(info.st_mode)))
        return false;
    QByteArray before;
    if (exists) {
        QFile original(QFile::decodeName(path.c_str()));
        if (!original.open(QIODevice::ReadOnly))
            return false;
        before = original.readAll();
        if (original.error() != QFileDevice::NoError)
            return false;
    }

    const std::size_t slash = path.rfind('/');
    std::string temp =
        (slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1)) + "." +
        path.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
    const int fd = ::mkstemp(temp.data()); // owner-only: the file holds the stored passwords
    if (fd < 0)
        return false;
    bool ok = true;
    for (qsizetype done = 0; ok && done < before.size();) {
        const ssize_t n = ::write(fd, before.constData() + done, std::size_t(before.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += n > 0 ? n : 0;
    }
    ok = ::close(fd) == 0 && ok;

    for (const BackupFile::Entry& entry : entries) {
        if (!ok)
            break;
        ok = win::WritePrivateProfileStringA(BackupFile::Section, entry.Name.c_str(),
                                             entry.Value.c_str(), temp.c_str()) != 0;
    }
    if (ok) {
        for (const std::string& name : EntryNames(temp)) {
            if (BackupFile::IsSurplusEntry(name, accountCount) &&
                !win::WritePrivateProfileStringA(BackupFile::Section, name.c_str(), nullptr,
                                                 temp.c_str())) {
                ok = false;
                break;
            }
        }
    }
    ok = ok && (!exists || ::chmod(temp.c_str(), info.st_mode & 07777) == 0) &&
         ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

} // namespace

CommonDialog& PostlarkForm::CommonDialog1() {
    if (!commonDialog1_)
        commonDialog1_ = std::make_unique<CommonDialog>(this);
    return *commonDialog1_;
}

void PostlarkForm::menu_backup_Click() {
    if (AccountRowCount() == 0) {
        MsgBox("No  accounts in list.  Nothing to back up.", vbInformation, kTitle);
        return;
    }
    CommonDialog& dialog = CommonDialog1();
    dialog.Filter = BackupFile::Filter;
    dialog.DefaultExt = "pls";
    dialog.CancelError = true;
    try {
        dialog.ShowSave();
    } catch (const RuntimeError&) {
        return; // cancelled: nothing written
    }

    BusyPointer busy;
    // A list that another running copy has made stale is refilled first: the backup holds
    // what is stored, and the file's count matches the accounts it holds.
    if (SettingsStore::GetNumber(NumAcctsKey, 0) != AccountRowCount())
        ReDraw();
    const long count = AccountRowCount();
    const bool written =
        count > 0 &&
        WriteBackup(LocalPath(dialog.FileName),
                    BackupFile::BackupEntries(BackupFile::StoredAccounts(count)), count);
    busy.Normal();
    if (count == 0)
        MsgBox("No  accounts in list.  Nothing to back up.", vbInformation, kTitle);
    else if (!written)
        MsgBox(kWriteError, vbExclamation, kTitle);
}

void PostlarkForm::menu_restore_Click() {
    if (MsgBox(kRestoreQuestion, vbYesNo + vbQuestion, kTitle) == vbNo)
        return;
    CommonDialog& dialog = CommonDialog1();
    dialog.Filter = BackupFile::Filter;
    dialog.CancelError = true;
    try {
        dialog.ShowOpen();
    } catch (const RuntimeError&) {
        return; // cancelled: nothing changed
    }
    RestoreAccounts(dialog.FileName);
}

void PostlarkForm::RestoreFromFile(const QString& path) {
    QString file = path;
    file.remove(QLatin1Char('"'));
    // Here any answer but No goes ahead.
    if (MsgBox(kRestoreQuestion, vbYesNo + vbQuestion, kTitle) == vbNo)
        return;
    RestoreAccounts(file);
}

void PostlarkForm::RestoreAccounts(const QString& path) {
    BusyPointer busy;
    // The whole file is read and checked before anything is stored; a missing, truncated or
    // damaged file leaves the current accounts as they are.
    const std::string file = LocalPath(path);
    const auto accounts =
        BackupFile::ReadBackup([&](const std::string& name) { return ReadEntry(file, name); });
    if (!accounts) {
        busy.Normal();
        MsgBox(kReadError, vbExclamation, kTitle);
        return;
    }
    try {
        BackupFile::ReplaceAccounts(*accounts, AccountRowCount());
    } catch (const RuntimeError& e) {
        busy.Normal();
        MsgBox(QString::fromStdString("The accounts could not be restored: " + e.Description),
               vbExclamation, kTitle);
        return;
    }
    busy.Normal();
    ReDraw();
}

} // namespace postlark
