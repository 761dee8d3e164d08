// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AddAcctForm.h"

#include "app/AccountFormParts.h"
#include "app/AccountListView.h"
#include "store/AccountRecord.h"
#include "store/AnsiText.h"
#include "store/PassCryptModule.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

namespace postlark {

AddAcctForm::AddAcctForm(QWidget* owner, AccountListView& accounts, std::string applicationKey)
    : QDialog(owner), accounts_(accounts), applicationKey_(std::move(applicationKey)),
      CommonDialog1(this) {
    setObjectName(QStringLiteral("AddAcctForm"));
    setWindowTitle(QStringLiteral("Add Account"));
    setModal(true);
    // A fixed dialog: a title and a close box, nothing to minimize or maximize.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    auto* grid = new QGridLayout(this);
    EmailAddressText = AddLabelledField(*grid, 0, "Email Address:", "EmailAddressText", 2);
    POPText = AddLabelledField(*grid, 1, "POP3 Server Name:", "POPText", 2);
    POPText->setToolTip(QString::fromLatin1(ServerToolTip));
    UserNameText = AddLabelledField(*grid, 2, "User Name:", "UserNameText", 2);
    PassText = AddLabelledField(*grid, 3, "Password:", "PassText", 2);
    ShowAsPassword(*PassText);
    ProgramText = AddLabelledField(*grid, 4, QString::fromLatin1(ProgramLabel), "ProgramText");
    ProgramText->setToolTip(QString::fromLatin1(ProgramToolTip));

    BrowseButton = new QPushButton(QStringLiteral("&Browse..."));
    BrowseButton->setObjectName(QStringLiteral("BrowseButton"));
    grid->addWidget(BrowseButton, 4, 2);

    AddButton = new QPushButton(QStringLiteral("&Add"));
    AddButton->setObjectName(QStringLiteral("AddButton"));
    AddButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("&Cancel"));
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(AddButton);
    buttons->addWidget(CancelButton);
    grid->addLayout(buttons, 5, 0, 1, 3);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    QWidget::setTabOrder(EmailAddressText, POPText);
    QWidget::setTabOrder(POPText, UserNameText);
    QWidget::setTabOrder(UserNameText, PassText);
    QWidget::setTabOrder(PassText, ProgramText);
    QWidget::setTabOrder(ProgramText, BrowseButton);
    QWidget::setTabOrder(BrowseButton, AddButton);
    QWidget::setTabOrder(AddButton, CancelButton);
    EmailAddressText->setFocus();

    connect(AddButton, &QPushButton::clicked, this, &AddAcctForm::AddButton_Click);
    connect(BrowseButton, &QPushButton::clicked, this, &AddAcctForm::BrowseButton_Click);
    connect(CancelButton, &QPushButton::clicked, this, &AddAcctForm::CancelButton_Click);
}

void AddAcctForm::AddButton_Click() {
    if (EmailAddressText->text().isEmpty() || POPText->text().isEmpty() ||
        UserNameText->text().isEmpty() || PassText->text().isEmpty()) {
        ShowRequiredFieldsMessage();
        return;
    }
    if (!FieldsStorableOrReport({EmailAddressText, POPText, UserNameText, PassText, ProgramText}) ||
        !ServerAndProgramUsableOrReport(*POPText, *ProgramText))
        return;
    const long n = accounts_.AccountRowCount();
    AccountRecord record;
    record.EmailAddress = QStringToAnsi(EmailAddressText->text());
    record.POP = QStringToAnsi(POPText->text());
    record.UserName = QStringToAnsi(UserNameText->text());
    std::string key = applicationKey_;
    record.Password = PassCryptModule::EncryptText(QStringToAnsi(PassText->text()), key);
    record.Program = QStringToAnsi(ProgramText->text());
    // The five fields and the new count land together, so the count never names an
    // account whose fields are not all stored.
    accounts_.EndCheckRunForListChange();
    if (!StoreOrReport([&] { AddAccount(n, record); }))
        return;
    accounts_.ReDraw();
    accept();
}

void AddAcctForm::BrowseButton_Click() {
    BrowseForProgram(CommonDialog1, *ProgramText);
}

void AddAcctForm::CancelButton_Click() {
    reject();
}

} // namespace postlark
