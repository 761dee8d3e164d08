// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog opened from the main window, and what it changes on the window.
#include "app/PostlarkForm.h"

#include "dialogs/SettingsForm.h"
#include "mail/check/AutoCheck.h"
#include "winsupport/ProgressBar.h"

namespace postlark {

void PostlarkForm::menu_Settings_Click() {
    SettingsForm settings(*this, this);
    settings.exec();
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
