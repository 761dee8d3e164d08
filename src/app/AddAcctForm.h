// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The Add Account dialog: collects a new account and appends it to the stored accounts as
// the next number after the account list's last row.
#include "platform/window/CommonDialog.h"

#include <QDialog>
#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace postlark {

class AccountListView;

class AddAcctForm : public QDialog {
    Q_OBJECT
public:
    // `applicationKey` enciphers the password before it is stored.
    AddAcctForm(QWidget* owner, AccountListView& accounts, std::string applicationKey);

    void AddButton_Click();
    void BrowseButton_Click();
    void CancelButton_Click();

private:
    AccountListView& accounts_;
    std::string applicationKey_;

    QLineEdit* EmailAddressText;
    QLineEdit* POPText;
    QLineEdit* UserNameText;
    QLineEdit* PassText;
    QLineEdit* ProgramText;
    QPushButton* BrowseButton;
    QPushButton* AddButton;
    QPushButton* CancelButton;
    QCheckBox* OAuthCheck; // sign in through the provider's web page instead of a password
    CommonDialog CommonDialog1;
};

} // namespace postlark
