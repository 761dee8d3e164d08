// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The Modify Account dialog: edits the address, server, user name and program of a stored
// account. The password is changed through the Modify Password dialog, which stores it at
// once; after that this dialog can no longer be cancelled.
#include "platform/window/CommonDialog.h"

#include <QDialog>
#include <cstdint>
#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace postlark {

class AccountListView;

class ModAcctForm : public QDialog {
    Q_OBJECT
public:
    // `applicationKey` is handed to the Modify Password dialog.
    ModAcctForm(QWidget* owner, AccountListView& accounts, std::string applicationKey);

    // Fills the fields from account `index` and shows the dialog modally.
    int ModifyShow(std::int16_t index);
    // Fills the fields from account `index` without showing the dialog.
    void LoadAccount(std::int16_t index);

    void ModButton_Click();
    void ClearButton_Click();
    void CommandChange_Click();
    void BrowseButton_Click();
    void CancelButton_Click();

    std::int16_t AccountIndex = 0;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    AccountListView& accounts_;
    std::string applicationKey_;

    QLineEdit* EmailAddressText;
    QLineEdit* POPText;
    QLineEdit* UserNameText;
    QLineEdit* ProgramText;
    QPushButton* CommandChange;
    QPushButton* ClearButton;
    QPushButton* BrowseButton;
    QPushButton* ModButton;
    QPushButton* CancelButton;
    QCheckBox* OAuthCheck; // sign in through the provider's web page instead of a password
    QString loadedServer_, loadedUser_; // as the account was loaded
    CommonDialog CommonDialog1;
};

} // namespace postlark
