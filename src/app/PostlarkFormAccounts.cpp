// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's account commands: add, modify, delete.
#include "app/AddAcctForm.h"
#include "app/ModAcctForm.h"
#include "app/PostlarkForm.h"

#include "mail/secrets/AccountSecrets.h"
#include "platform/base/RuntimeError.h"
#include "platform/window/MsgBox.h"
#include "store/AccountRecord.h"
#include "store/AnsiText.h"
#include "store/SettingsStore.h"

#include <QTreeWidget>
#include <algorithm>

namespace postlark {

bool PostlarkForm::ReportEmptyList() {
    if (AccountRowCount() > 0)
        return false;
    MsgBox("No email accounts in list.", vbInformation, "Postlark");
    return true;
}

int PostlarkForm::SelectedAccount() const {
    const QList<QTreeWidgetItem*> selected = accountList_->selectedItems();
    if (selected.isEmpty())
        return -1;
    return accountList_->indexOfTopLevelItem(selected.first());
}

void PostlarkForm::SelectRow(int row) {
    const int rows = AccountRowCount();
    if (rows == 0)
        return;
    QTreeWidgetItem* item = accountList_->topLevelItem(std::clamp(row, 0, rows - 1));
    accountList_->setCurrentItem(item);
    item->setSelected(true);
}

// The commands act on the selected row, so a list with rows never loses its selection: a click
// on the list's empty area or a Ctrl-click on the selected row selects it again.
void PostlarkForm::KeepOneSelected() {
    if (refilling_)
        return;
    const int selected = SelectedAccount();
    if (selected >= 0)
        lastSelectedRow_ = selected;
    else if (AccountRowCount() > 0)
        SelectRow(lastSelectedRow_);
}

bool PostlarkForm::ConfirmListCurrent(int account) {
    const QTreeWidgetItem* row = accountList_->topLevelItem(account);
    const bool current = row && SettingsStore::GetNumber("NumAccts", 0) == AccountRowCount() &&
                         AnsiToQString(SettingsStore::GetValue(AccountKey("EmailAddress", account),
                                                               "Bad Read")) == row->text(0);
    if (current)
        return true;
    ReDraw();
    MsgBox("The account list was changed by another copy of Postlark and has been reloaded.",
           vbInformation, "Postlark");
    return false;
}

void PostlarkForm::DelAcct_Click() {
    if (ReportEmptyList())
        return;
    if (MsgBox("Are you sure you want to delete the selected account?", vbYesNo + vbQuestion,
               "Postlark") == vbNo)
        return;
    const int n = SelectedAccount();
    const int rows = AccountRowCount();
    if (n < 0 || !ConfirmListCurrent(n))
        return;
    EndCheckRunForListChange();
    const AccountValues deleted = StoredAccountValues(n);
    try {
        DeleteAccount(n, rows);
    } catch (const RuntimeError& e) {
        MsgBox(QString::fromStdString("The account could not be deleted: " + e.Description),
               vbExclamation, "Postlark");
        return;
    }
    // Its keyring item goes too, unless another account has the same address, server and user.
    if (SecretInKeyring(deleted, KeyringPasswordsOn()))
        ForgetAccountSecrets({deleted});
    delete accountList_->takeTopLevelItem(n);
    // Another running copy may have changed the accounts meanwhile: show what is stored.
    if (SettingsStore::GetNumber("NumAccts", 0) != AccountRowCount())
        ReDraw();
    else
        SyncPushWatchers(); // the accounts above the deleted one have new numbers
    const int remaining = AccountRowCount();
    if (remaining > 0) {
        QTreeWidgetItem* next = accountList_->topLevelItem(std::min(n, remaining - 1));
        accountList_->setCurrentItem(next);
        next->setSelected(true);
    }
}

void PostlarkForm::AddAcct_Click() {
    AddAcctForm form(this, *this, applicationKey_);
    form.exec();
}

void PostlarkForm::ModAcct_Click() {
    // The row must still show the stored account: another running copy may have changed them.
    if (ReportEmptyList() || SelectedAccount() < 0 || !ConfirmListCurrent(SelectedAccount()))
        return;
    ModAcctForm form(this, *this, applicationKey_);
    form.ModifyShow(static_cast<std::int16_t>(SelectedAccount()));
}

void PostlarkForm::AccountList_DblClick() {
    ModAcct_Click();
}

} // namespace postlark
