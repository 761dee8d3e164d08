// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's account backup commands: back up every account to a file, restore the
// accounts from a file chosen in the Open dialog or named on the command line.
#include "app/PostlarkForm.h"

#include "mail/secrets/RecordSecrets.h"
#include "platform/base/RuntimeError.h"
#include "platform/system/ProfileString.h"
#include "platform/window/CommonDialog.h"
#include "platform/window/MsgBox.h"
#include "store/BackupFile.h"
#include "store/SettingsStore.h"

#include <QApplication>
#include <QFile>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
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

// Writes the backup of the stored accounts 0 to accountCount - 1 into the file and removes the
// account entries of an older, larger backup, in one replacement of the whole file that leaves
// it owner-only (it holds the stored passwords). Other sections and lines of an existing file
// are kept; a failed backup leaves the file exactly as it was. `records`, when given, are the
// accounts to write instead of the store's (their keyring-kept passwords filled in).
bool WriteBackup(const std::string& path, long accountCount,
                 const std::optional<std::vector<AccountRecord>>& records) {
    const auto edit = [&](const std::string& before) -> std::optional<std::string> {
        // A new or empty file receives the section's text made directly from the store, the
        // same bytes the profile engine writes there (the entry names all differ, and none is
        // surplus), with no list of the entries in between.
        if (before.empty()) {
            win::ProfileText::NewSection text(BackupFile::Section,
                                              static_cast<std::size_t>(accountCount) * 160);
            const auto add = [&](std::string_view name, std::string_view value) {
                return text.Add(name, value);
            };
            if (records) {
                for (const BackupFile::Entry& entry : BackupFile::BackupEntries(*records)) {
                    if (!add(entry.Name, entry.Value))
                        return std::nullopt;
                }
            } else if (!BackupFile::ForEachStoredBackupEntry(accountCount, add)) {
                return std::nullopt;
            }
            return std::move(text).Text();
        }
        // Otherwise the whole section is written, and then pruned, in one pass each: one write
        // per entry would search the section once per entry.
        const std::vector<BackupFile::Entry> entries =
            records ? BackupFile::BackupEntries(*records)
                    : BackupFile::StoredBackupEntries(accountCount);
        std::vector<win::ProfileText::KeyValue> settings;
        settings.reserve(entries.size());
        for (const BackupFile::Entry& entry : entries)
            settings.emplace_back(entry.Name.c_str(), entry.Value.c_str());
        win::ProfileText text(before);
        if (!text.Write(BackupFile::Section, settings))
            return std::nullopt;
        text.DeleteEntries(BackupFile::Section, [&](std::string_view name) {
            return BackupFile::IsSurplusEntry(name, accountCount);
        });
        return text.Text();
    };
    return win::EditProfileFileText(path, edit, true) != 0;
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
    // The backup carries every password enciphered: those kept in the keyring are read first.
    std::optional<std::vector<AccountRecord>> records;
    if (std::vector<AccountRecord> stored;
        AnyStoredSecretMayBeInKeyring(count, KeyringPasswordsOn()) &&
        AnySecretInKeyring(stored = BackupFile::StoredAccounts(count))) {
        const QString problem = FillKeyringPasswords(stored, applicationKey_);
        if (!problem.isEmpty()) {
            busy.Normal();
            MsgBox(QStringLiteral("The backup was not written: %1").arg(problem), vbExclamation,
                   kTitle);
            return;
        }
        records = std::move(stored);
    }
    const bool written = count > 0 && WriteBackup(LocalPath(dialog.FileName), count, records);
    busy.Normal();
    if (count == 0)
        MsgBox("No  accounts in list.  Nothing to back up.", vbInformation, kTitle);
    else if (!written)
        MsgBox(kWriteError, vbExclamation, kTitle);
}

void PostlarkForm::menu_restore_Click() {
    if (!menuRestore_->isEnabled())
        return; // not during a check run
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
    // The question names the file, which no dialog has shown. Any answer but No goes ahead;
    // a termination signal during the question does not.
    if (MsgBox(QString(kRestoreQuestion) + "\n\n" + file, vbYesNo + vbQuestion, kTitle) == vbNo ||
        endRequested_)
        return;
    RestoreAccounts(file);
}

void PostlarkForm::RestoreAccounts(const QString& path) {
    BusyPointer busy;
    // The whole file is read and checked before anything is stored; a missing, truncated or
    // damaged file leaves the current accounts as they are.
    std::optional<std::vector<AccountRecord>> accounts;
    if (const auto text = win::ReadProfileFileText(LocalPath(path)))
        accounts = BackupFile::ReadBackup(win::ProfileText::EntriesOf(*text, BackupFile::Section));
    if (!accounts) {
        busy.Normal();
        MsgBox(kReadError, vbExclamation, kTitle);
        return;
    }
    // With "KeyringPasswords" on the restored passwords go to the keyring first, and the records
    // are stored without them.
    std::vector<AccountValues> written;
    if (const QString problem = PutRestoredSecretsInKeyring(*accounts, applicationKey_, written);
        !problem.isEmpty()) {
        busy.Normal();
        MsgBox(QStringLiteral("The accounts could not be restored: %1").arg(problem), vbExclamation,
               kTitle);
        return;
    }
    EndCheckRunForListChange();
    const bool keyringPasswords = KeyringPasswordsOn(); // one look, not one per account
    const std::vector<AccountValues> former =
        AnyStoredSecretMayBeInKeyring(SettingsStore::GetInteger(NumAcctsKey, 0), keyringPasswords)
            ? AllStoredAccountValues()
            : std::vector<AccountValues>();
    try {
        BackupFile::ReplaceAccounts(std::move(*accounts), AccountRowCount());
    } catch (const RuntimeError& e) {
        ForgetAccountSecrets(written);
        busy.Normal();
        MsgBox(QString::fromStdString("The accounts could not be restored: " + e.Description),
               vbExclamation, kTitle);
        return;
    }
    // The keyring items of the replaced accounts that no restored account uses.
    std::vector<AccountValues> replaced;
    for (const AccountValues& account : former) {
        if (SecretInKeyring(account, keyringPasswords))
            replaced.push_back(account);
    }
    ForgetAccountSecrets(replaced);
    busy.Normal();
    ReDraw();
}

} // namespace postlark
