// The main window's account commands: add, modify, delete.
#include "app/AddAcctForm.h"
#include "app/ModAcctForm.h"
#include "app/PostlarkForm.h"

#include "platform/MsgBox.h"
#include "platform/RuntimeError.h"
#include "store/AccountRecord.h"
#include "store/SettingsStore.h"

#include <QTreeWidget>

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
        return 0;
    return accountList_->indexOfTopLevelItem(selected.first());
}

void PostlarkForm::DelAcct_Click() {
    if (ReportEmptyList())
        return;
    if (MsgBox("Are you sure you want to delete the selected account?", vbYesNo + vbQuestion,
               "Postlark") == vbNo)
        return;
    const int n = SelectedAccount();
    const int rows = AccountRowCount();
    try {
        DeleteAccount(n, rows);
    } catch (const RuntimeError& e) {
        MsgBox(QString::fromStdString("The account could not be deleted: " + e.Description),
               vbExclamation, "Postlark");
        return;
    }
    delete accountList_->takeTopLevelItem(n);
    // Another running copy may have changed the accounts meanwhile: show what is stored.
    if (SettingsStore::GetNumber("NumAccts", 0) != AccountRowCount())
        ReDraw();
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
    if (ReportEmptyList())
        return;
    ModAcctForm form(this, *this, applicationKey_);
    form.ModifyShow(static_cast<std::int16_t>(SelectedAccount()));
}

void PostlarkForm::AccountList_DblClick() {
    ModAcct_Click();
}

} // namespace postlark
