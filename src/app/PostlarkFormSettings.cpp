// The settings dialog opened from the main window, and what it changes on the window.
#include "app/PostlarkForm.h"

#include "dialogs/SettingsForm.h"
#include "store/SettingsStore.h"
#include "winsupport/ProgressBar.h"

#include <QTimer>
#include <limits>

namespace postlark {

void PostlarkForm::menu_Settings_Click() {
    SettingsForm settings(*this, this);
    settings.exec();
}

void PostlarkForm::SetCheckTimerEnabled(bool enabled) {
    // A running timer keeps its phase: switching it on again does not restart the minute.
    if (!enabled)
        timerCheck_->stop();
    else if (!timerCheck_->isActive())
        timerCheck_->start();
}

void PostlarkForm::ResetUpdateIntervalMins() {
    // Empty or non-numeric reads as 1 minute; 0 means a check at every tick.
    const long value = SettingsStore::GetInteger("AutoCheckValue", 1);
    UpdateIntervalMins =
        value >= 0 && value <= std::numeric_limits<std::int16_t>::max() ? std::int16_t(value) : 1;
}

void PostlarkForm::SetProgressBarVisible(bool visible) {
    progressBar1_->setVisible(visible);
}

void PostlarkForm::SetProgressBarSmooth(bool smooth) {
    progressBar1_->SetSmooth(smooth);
}

} // namespace postlark
