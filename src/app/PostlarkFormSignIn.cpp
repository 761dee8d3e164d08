// SPDX-License-Identifier: GPL-3.0-or-later
// Signing an OAuth2 account in again once its provider no longer takes its refresh token: the
// File menu (and so the tray icon's menu) offers it while a row says "Sign-in needed". The
// browser opens only when the user asks.
#include "app/AccountSignIn.h"
#include "app/PostlarkForm.h"

#include "mail/push/PushWatchers.h"
#include "mail/secrets/AccountSecrets.h"
#include "mail/signin/AccountCredentials.h"
#include "platform/base/RuntimeError.h"
#include "platform/window/MsgBox.h"
#include "store/AnsiText.h"

#include <QAction>
#include <QTreeWidget>

namespace postlark {

namespace {

const QString kSignInNeeded = QStringLiteral("Sign-in needed");

} // namespace

bool PostlarkForm::SignInNeeded(int account) const {
    const QTreeWidgetItem* item = accountList_->topLevelItem(account);
    return item && item->toolTip(1) == kSignInNeeded;
}

void PostlarkForm::SignedIn(int account, const SignInResult& result, bool keptInFile) {
    const AccountValues values = StoredAccountValues(account);
    credentials_->Tokens().Remember(OAuthTokens::AccountKey(AnsiToQString(values.address),
                                                            AnsiToQString(values.user),
                                                            AnsiToQString(values.server)),
                                    result.accessToken, result.expiresAt);
    if (SignInNeeded(account))
        SetNewMailToolTip(account, QString());
    if (push_)
        push_->Restart(account);
    SetStatusText(SignInNote(AnsiToQString(values.address), keptInFile));
}

int PostlarkForm::SignInNeededRow() const {
    for (int row = 0; row < accountList_->topLevelItemCount(); ++row)
        if (accountList_->topLevelItem(row)->toolTip(1) == kSignInNeeded)
            return row;
    return -1;
}

void PostlarkForm::UpdateSignInEntry() {
    const int row = SignInNeededRow();
    menuSignIn_->setVisible(row >= 0);
    menuSignIn_->setEnabled(row >= 0 && !CheckRunning());
    if (row >= 0)
        menuSignIn_->setText(QStringLiteral("Sign &In to %1 Again...")
                                 .arg(accountList_->topLevelItem(row)->text(0)));
}

void PostlarkForm::menu_SignIn_Click() {
    const int account = SignInNeededRow();
    if (account < 0 || CheckRunning() || !ConfirmListCurrent(account))
        return;
    const AccountValues values = StoredAccountValues(account);
    const std::optional<SignInResult> signedIn =
        SignInThroughBrowser(this, AnsiToQString(values.server), AnsiToQString(values.user));
    if (!signedIn || !ConfirmListCurrent(account))
        return;
    bool fellBack = false;
    QString error;
    try {
        error =
            StoreAccountSecret(static_cast<std::int16_t>(account), values,
                               signedIn->refreshToken.toStdString(), applicationKey_, &fellBack);
    } catch (const RuntimeError& e) {
        error = QString::fromStdString(e.Description);
    }
    if (!error.isEmpty()) {
        MsgBox(error, vbExclamation, "Postlark");
        return;
    }
    SignedIn(account, *signedIn, fellBack);
}

} // namespace postlark
