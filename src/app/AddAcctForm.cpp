// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AddAcctForm.h"

#include "app/AccountFormParts.h"
#include "app/AccountListView.h"
#include "app/AccountSignIn.h"
#include "mail/secrets/AccountSecrets.h"
#include "platform/window/MsgBox.h"
#include "store/AccountRecord.h"
#include "store/AnsiText.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

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
    OAuthCheck = AddOAuthBox(*grid, *POPText, {PassText});
    grid->setSizeConstraint(QLayout::SetFixedSize);

    QWidget::setTabOrder(EmailAddressText, POPText);
    QWidget::setTabOrder(POPText, UserNameText);
    QWidget::setTabOrder(UserNameText, PassText);
    QWidget::setTabOrder(PassText, ProgramText);
    QWidget::setTabOrder(ProgramText, BrowseButton);
    QWidget::setTabOrder(BrowseButton, AddButton);
    QWidget::setTabOrder(AddButton, CancelButton);
    QWidget::setTabOrder(CancelButton, OAuthCheck); // after the dialog's own order
    EmailAddressText->setFocus();

    connect(AddButton, &QPushButton::clicked, this, &AddAcctForm::AddButton_Click);
    connect(BrowseButton, &QPushButton::clicked, this, &AddAcctForm::BrowseButton_Click);
    connect(CancelButton, &QPushButton::clicked, this, &AddAcctForm::CancelButton_Click);
}

void AddAcctForm::AddButton_Click() {
    if (EmailAddressText->text().isEmpty() || POPText->text().isEmpty() ||
        UserNameText->text().isEmpty() ||
        (PassText->text().isEmpty() && !OAuthCheck->isChecked())) {
        ShowRequiredFieldsMessage();
        return;
    }
    if (!FieldsStorableOrReport({EmailAddressText, POPText, UserNameText, PassText, ProgramText}) ||
        !ServerAndProgramUsableOrReport(*POPText, *ProgramText))
        return;
    // An OAuth2 account keeps the provider's refresh token where a password would be.
    std::string plainSecret = QStringToAnsi(PassText->text());
    std::optional<SignInResult> signedIn;
    if (OAuthCheck->isChecked()) {
        signedIn = SignInThroughBrowser(this, POPText->text(), UserNameText->text());
        if (!signedIn)
            return;
        plainSecret = signedIn->refreshToken.toStdString();
    }
    const long n = accounts_.AccountRowCount();
    AccountRecord record;
    record.EmailAddress = QStringToAnsi(EmailAddressText->text());
    record.POP = QStringToAnsi(POPText->text());
    record.UserName = QStringToAnsi(UserNameText->text());
    record.Program = QStringToAnsi(ProgramText->text());
    // Enciphered for the file, or written to the keyring first when the account keeps it there.
    const PlacedSecret secret = PlaceAccountSecret(ValuesOf(record), plainSecret, applicationKey_);
    std::fill(plainSecret.begin(), plainSecret.end(), '\0');
    if (!secret.error.isEmpty()) {
        MsgBox(QStringLiteral("The account could not be saved: %1").arg(secret.error),
               vbExclamation, QString::fromLatin1(ProgramTitle));
        return;
    }
    record.Password = secret.password;
    // The five fields and the new count land together, so the count never names an
    // account whose fields are not all stored.
    accounts_.EndCheckRunForListChange();
    if (!StoreOrReport([&] { AddAccount(n, record); })) {
        if (record.Password.empty() && NewSecretInKeyring(ValuesOf(record), KeyringPasswordsOn()))
            ForgetAccountSecrets({ValuesOf(record)});
        return;
    }
    // The access token is remembered before the new row's watcher asks for one.
    if (signedIn)
        accounts_.SignedIn(static_cast<int>(n), *signedIn, secret.fellBack);
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
