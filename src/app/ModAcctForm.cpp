// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ModAcctForm.h"

#include "app/AccountFormParts.h"
#include "app/AccountListView.h"
#include "app/AccountSignIn.h"
#include "app/ModPassForm.h"
#include "mail/secrets/AccountSecrets.h"
#include "mail/secrets/RecordSecrets.h"
#include "platform/base/RuntimeError.h"
#include "platform/window/MsgBox.h"
#include "store/AccountRecord.h"
#include "store/AnsiText.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace postlark {

namespace {

QPushButton* NewButton(const char* caption, const char* name) {
    auto* button = new QPushButton(QString::fromLatin1(caption));
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

} // namespace

ModAcctForm::ModAcctForm(QWidget* owner, AccountListView& accounts, std::string applicationKey)
    : QDialog(owner), accounts_(accounts), applicationKey_(std::move(applicationKey)),
      CommonDialog1(this) {
    setObjectName(QStringLiteral("ModAcctForm"));
    setWindowTitle(QStringLiteral("Modify Account"));
    setModal(true);
    // A fixed dialog: a title and a close box, nothing to minimize or maximize.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    auto* grid = new QGridLayout(this);
    EmailAddressText = AddLabelledField(*grid, 0, "Email Address:", "EmailAddressText", 2);
    POPText = AddLabelledField(*grid, 1, "POP3 Server Name:", "POPText", 2);
    POPText->setToolTip(QString::fromLatin1(ServerToolTip));
    UserNameText = AddLabelledField(*grid, 2, "User Name:", "UserNameText", 2);

    CommandChange = NewButton("Change &Password...", "CommandChange");
    grid->addWidget(new QLabel(QStringLiteral("Password:")), 3, 0);
    grid->addWidget(CommandChange, 3, 1, Qt::AlignLeft);

    ProgramText = AddLabelledField(*grid, 4, QString::fromLatin1(ProgramLabel), "ProgramText");
    ProgramText->setToolTip(QString::fromLatin1(ProgramToolTip));
    ClearButton = NewButton("&Clear", "ClearButton");
    BrowseButton = NewButton("&Browse...", "BrowseButton");
    auto* programButtons = new QHBoxLayout;
    programButtons->addWidget(ClearButton);
    programButtons->addWidget(BrowseButton);
    grid->addLayout(programButtons, 4, 2);

    ModButton = NewButton("&Modify", "ModButton");
    ModButton->setDefault(true);
    CancelButton = NewButton("&Cancel", "CancelButton");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ModButton);
    buttons->addWidget(CancelButton);
    grid->addLayout(buttons, 5, 0, 1, 3);
    OAuthCheck = AddOAuthBox(*grid, *POPText, {CommandChange});
    grid->setSizeConstraint(QLayout::SetFixedSize);

    QWidget::setTabOrder(EmailAddressText, POPText);
    QWidget::setTabOrder(POPText, UserNameText);
    QWidget::setTabOrder(UserNameText, CommandChange);
    QWidget::setTabOrder(CommandChange, ProgramText);
    QWidget::setTabOrder(ProgramText, ClearButton);
    QWidget::setTabOrder(ClearButton, BrowseButton);
    QWidget::setTabOrder(BrowseButton, ModButton);
    QWidget::setTabOrder(ModButton, CancelButton);
    QWidget::setTabOrder(CancelButton, OAuthCheck); // after the dialog's own order
    EmailAddressText->setFocus();

    connect(ModButton, &QPushButton::clicked, this, &ModAcctForm::ModButton_Click);
    connect(ClearButton, &QPushButton::clicked, this, &ModAcctForm::ClearButton_Click);
    connect(CommandChange, &QPushButton::clicked, this, &ModAcctForm::CommandChange_Click);
    connect(BrowseButton, &QPushButton::clicked, this, &ModAcctForm::BrowseButton_Click);
    connect(CancelButton, &QPushButton::clicked, this, &ModAcctForm::CancelButton_Click);
}

int ModAcctForm::ModifyShow(std::int16_t index) {
    LoadAccount(index);
    return exec();
}

void ModAcctForm::LoadAccount(std::int16_t index) {
    AccountIndex = index;
    const AccountRecord record = ReadAccount(index, BadRead);
    EmailAddressText->setText(AnsiToQString(record.EmailAddress));
    POPText->setText(AnsiToQString(record.POP));
    UserNameText->setText(AnsiToQString(record.UserName));
    ProgramText->setText(AnsiToQString(record.Program));
    loadedServer_ = POPText->text();
    loadedUser_ = UserNameText->text();
}

void ModAcctForm::ModButton_Click() {
    if (EmailAddressText->text().isEmpty() || POPText->text().isEmpty() ||
        UserNameText->text().isEmpty()) {
        ShowRequiredFieldsMessage();
        return;
    }
    if (!FieldsStorableOrReport({EmailAddressText, POPText, UserNameText, ProgramText}) ||
        !ServerAndProgramUsableOrReport(*POPText, *ProgramText))
        return;
    AccountRecord record;
    record.EmailAddress = QStringToAnsi(EmailAddressText->text());
    record.POP = QStringToAnsi(POPText->text());
    record.UserName = QStringToAnsi(UserNameText->text());
    record.Program = QStringToAnsi(ProgramText->text());
    if (!accounts_.ConfirmListCurrent(AccountIndex)) {
        reject();
        return;
    }
    // An OAuth2 account signs in anew when it just became one, when its server or user name
    // changed, or when its provider no longer takes its refresh token; before anything changes.
    std::optional<SignInResult> signedIn;
    if (OAuthCheck->isChecked() &&
        (!ServerFieldUsesOAuth(loadedServer_) || POPText->text() != loadedServer_ ||
         UserNameText->text() != loadedUser_ || accounts_.SignInNeeded(AccountIndex))) {
        signedIn = SignInThroughBrowser(this, POPText->text(), UserNameText->text());
        if (!signedIn || !accounts_.ConfirmListCurrent(AccountIndex))
            return;
    }
    accounts_.EndCheckRunForListChange();
    // A password kept in the keyring follows the address, server and user name that name it.
    QString problem;
    if (!StoreOrReport(
            [&] { problem = ModifyAccountAndSecret(AccountIndex, record, applicationKey_); }))
        return;
    if (!problem.isEmpty()) {
        MsgBox(QStringLiteral("The account could not be saved: %1").arg(problem), vbExclamation,
               QString::fromLatin1(ProgramTitle));
        return;
    }
    bool keptInFile = false;
    if (signedIn) {
        try {
            problem = StoreAccountSecret(AccountIndex, StoredAccountValues(AccountIndex),
                                         signedIn->refreshToken.toStdString(), applicationKey_,
                                         &keptInFile);
        } catch (const RuntimeError& e) {
            problem = QString::fromStdString(e.Description);
        }
        if (!problem.isEmpty()) {
            MsgBox(QStringLiteral("The sign-in could not be saved: %1").arg(problem), vbExclamation,
                   QString::fromLatin1(ProgramTitle));
            return;
        }
    }
    if (signedIn)
        accounts_.SignedIn(AccountIndex, *signedIn, keptInFile);
    accounts_.ReDraw();
    accept();
}

void ModAcctForm::ClearButton_Click() {
    ProgramText->clear();
}

void ModAcctForm::CommandChange_Click() {
    // Another running copy may have renumbered the accounts since this dialog opened.
    if (!accounts_.ConfirmListCurrent(AccountIndex)) {
        reject();
        return;
    }
    ModPassForm passwordForm(this, applicationKey_);
    bool stale = false;
    passwordForm.ConfirmStore = [&] {
        stale = !accounts_.ConfirmListCurrent(AccountIndex);
        return !stale;
    };
    // The new password is stored as soon as it is confirmed; cancelling this dialog could
    // no longer undo that, so it can then only be left by Modify or its close box.
    if (passwordForm.ShowMe(AccountIndex))
        CancelButton->setEnabled(false);
    else if (stale)
        reject(); // the account number this dialog edits may now name another account
}

void ModAcctForm::BrowseButton_Click() {
    BrowseForProgram(CommonDialog1, *ProgramText);
}

void ModAcctForm::CancelButton_Click() {
    reject();
}

void ModAcctForm::keyPressEvent(QKeyEvent* event) {
    // Esc presses the Cancel button, and does nothing while that button is disabled.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (CancelButton->isEnabled())
            CancelButton->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace postlark
