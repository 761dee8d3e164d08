// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The Modify Password dialog: replaces a stored account's password with the enciphered form
// of the new one.
#include <QDialog>
#include <cstdint>
#include <functional>
#include <string>

class QLineEdit;
class QPushButton;

namespace postlark {

class ModPassForm : public QDialog {
    Q_OBJECT
public:
    // `applicationKey` enciphers the password before it is stored.
    ModPassForm(QWidget* owner, std::string applicationKey);

    // Shows the dialog modally for account `index`; true when a new password was stored.
    bool ShowMe(std::int16_t index);

    void cmdOK_Click();
    void cmdCancel_Click();

    std::int16_t AccountIndex = 0;
    // Asked right before the password is stored; false closes the dialog and stores nothing.
    std::function<bool()> ConfirmStore;

private:
    std::string applicationKey_;

    QLineEdit* PassText;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;
};

} // namespace postlark
