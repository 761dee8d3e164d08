// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog opened from the main window, and what it changes on the window.
#include "app/PostlarkForm.h"

#include "dialogs/SettingsForm.h"
#include "mail/check/AutoCheck.h"
#include "mail/secrets/SecretMoves.h"
#include "winsupport/ProgressBar.h"

namespace postlark {

void PostlarkForm::menu_Settings_Click() {
    SettingsForm settings(*this, this);
    settings.exec();
}

QString PostlarkForm::MoveKeyringPasswords(bool on) {
    // A check reads each account's password as it reaches it: it ends before they move.
    EndCheckRunForListChange();
    const QString problem =
        on ? MoveSecretsToKeyring(applicationKey_) : MoveSecretsToFile(applicationKey_);
    if (problem.isEmpty()) {
        SyncPushWatchers(); // the watchers read their passwords from the new place
        return {};
    }
    return (on ? QStringLiteral("The passwords could not be moved into the desktop's keyring: %1")
               : QStringLiteral("The passwords could not be moved back into the settings file: %1"))
        .arg(problem);
}

void PostlarkForm::ResetUpdateIntervalMins() {
    UpdateIntervalMins = AutoCheckInterval();
}

void PostlarkForm::SetProgressBarVisible(bool visible) {
    progressBar1_->setVisible(visible);
}

void PostlarkForm::SetProgressBarSmooth(bool smooth) {
    progressBar1_->SetSmooth(smooth);
}

} // namespace postlark
