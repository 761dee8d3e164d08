// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog's handlers: filling the controls from the store, keeping the interval
// field and its arrows in step, the start-up registration, and storing and applying on OK
// and Apply.
#include "dialogs/Registry.h"
#include "dialogs/SettingsForm.h"
#include "dialogs/SettingsTarget.h"
#include "platform/base/RuntimeError.h"
#include "platform/window/MsgBox.h"
#include "store/AnsiText.h"
#include "store/SettingsStore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabBar>

namespace postlark {

namespace {

constexpr int kMaxInterval = 240;

// A box is checked exactly when its stored flag reads as 1.
void SetFromStore(QCheckBox* box, const char* key, double defaultValue) {
    box->setChecked(SettingsStore::IsFlagOn(key, defaultValue == 1));
}

std::string BoxValue(const QCheckBox* box) {
    return box->isChecked() ? "1" : "0";
}

// The interval field's number: its digits read as a whole number (empty reads as 0); a number
// too long to hold is certainly over the limit.
long IntervalNumber(const QString& text) {
    if (text.size() > 9)
        return kMaxInterval + 1;
    return text.toLong();
}

} // namespace

void SettingsForm::Form_Load() {
    SetFromStore(msgCheck_, "AlertMsg", 1);
    SetFromStore(soundCheck_, "AlertSound", 0);
    SetFromStore(launchCheck_, "AlertLaunch", 0);
    SetFromStore(trayCheck_, "AlertTray", 0);
    SetFromStore(popUpCheck_, "AlertPopUp", 0);
    SetFromStore(notifyCheck_, "AlertNotify", 0);
    // A number out of range reads as the default, the senders.
    const long notifyStyle = SettingsStore::GetInteger("AlertNotifyStyle", 1);
    notifyStyle_->setCurrentIndex(notifyStyle >= 0 && notifyStyle <= 2 ? int(notifyStyle) : 1);
    notifyStyle_->setEnabled(notifyCheck_->isChecked());
    SetFromStore(checkProgress_, "ShowProgress", 1);
    SetFromStore(autoCheck_, "AutoCheck", 0);
    AutoCheck_Click();

    // The arrows take the stored number (held to their range); the field keeps the stored
    // text as it stands, which may be empty or 0.
    const std::string interval = SettingsStore::GetValue("AutoCheckValue", "1");
    upDownInterval_->setValue(int(SettingsStore::GetInteger("AutoCheckValue", 1)));
    textInterval_->setText(AnsiToQString(interval));

    SetFromStore(rememberWhereIWas_, "RememberWhereIWas", 1);
    SetFromStore(checkConnection_, "CheckConnection", 0);
    SetFromStore(trayCountCheck_, "TrayCount", 1);
    SetFromStore(checkAtStart_, "CheckAtStart", 0);
    SetFromStore(imapPush_, "ImapPush", 1);
    SetFromStore(checkKeyring_, "KeyringPasswords", 0);

    // An existing registration is written again with the program's current path.
    const QVariant startup = ReadRegValue(win::HKEY_CURRENT_USER, RunKeyPath, RunValueName, "Z");
    if (startup != QVariant("Z"))
        checkStartup_->setChecked(true);

    const std::string style = SettingsStore::GetValue("ProgressStyle", "Block");
    if (style == "Block")
        optionBlock_->setChecked(true);
    else if (style == "Smooth")
        optionSmooth_->setChecked(true);

    tabStrip1_->setCurrentIndex(0);
    ShowFrame(alertFrame_);
}

void SettingsForm::ShowFrame(QGroupBox* frame) {
    for (QGroupBox* f : {alertFrame_, autoCheckFrame_, generalFrame_})
        f->setVisible(f == frame);
    frame->move(frameLeft_, frameTop_);
    frame->raise();
}

void SettingsForm::TabStrip1_Click() {
    const QString key = tabStrip1_->tabData(tabStrip1_->currentIndex()).toString();
    if (key == "Alerts")
        ShowFrame(alertFrame_);
    else if (key == "AutoCheck")
        ShowFrame(autoCheckFrame_);
    else if (key == "General")
        ShowFrame(generalFrame_);
}

void SettingsForm::AutoCheck_Click() {
    textInterval_->setEnabled(autoCheck_->isChecked());
    upDownInterval_->setEnabled(autoCheck_->isChecked());
    ImapPush_Click();
}

void SettingsForm::ImapPush_Click() {
    // The check at start serves automatic checking and push alike.
    checkAtStart_->setEnabled(autoCheck_->isChecked() || imapPush_->isChecked());
}

void SettingsForm::CheckProgress_Click() {
    optionBlock_->setEnabled(checkProgress_->isChecked());
    optionSmooth_->setEnabled(checkProgress_->isChecked());
}

void SettingsForm::OptionBlock_Click() {
    if (optionBlock_->isChecked())
        optionSmooth_->setChecked(false);
}

void SettingsForm::OptionSmooth_Click() {
    if (optionSmooth_->isChecked())
        optionBlock_->setChecked(false);
}

void SettingsForm::CheckStartup_Click() {
    // Failures are not reported: the next opening shows the true state.
    if (checkStartup_->isChecked()) {
        WriteRegString(win::HKEY_CURRENT_USER, RunKeyPath, RunValueName,
                       StartupCommand(ProgramPath()));
        return;
    }
    win::HKEY key = 0;
    if (win::RegOpenKeyExA(win::HKEY_CURRENT_USER, RunKeyPath, 0, win::KEY_ALL_ACCESS, &key) ==
        win::ERROR_SUCCESS) {
        win::RegDeleteValueA(key, RunValueName);
        win::RegCloseKey(key);
    }
}

void SettingsForm::TextInterval_Change() {
    const long number = IntervalNumber(textInterval_->text());
    if (number > kMaxInterval) {
        MsgBox("Interval must be less than 240 minutes.", vbOKOnly + vbExclamation, "Postlark");
        upDownInterval_->setValue(kMaxInterval);
        textInterval_->setText(QString::number(kMaxInterval));
        return;
    }
    // 0 and an empty field lie below the arrows' range: they keep their value.
    if (number < 1)
        return;
    syncing_ = true;
    upDownInterval_->setValue(int(number));
    syncing_ = false;
}

void SettingsForm::UpDownInterval_Change() {
    if (!syncing_)
        textInterval_->setText(QString::number(upDownInterval_->value()));
}

bool SettingsForm::StoreAndApply() {
    std::vector<SettingsStore::Change> changes;
    const auto set = [&](const char* key, std::string value) {
        changes.push_back(SettingsStore::Change::Set(key, std::move(value)));
    };
    set("AlertMsg", BoxValue(msgCheck_));
    set("AlertSound", BoxValue(soundCheck_));
    set("AlertLaunch", BoxValue(launchCheck_));
    set("AlertTray", BoxValue(trayCheck_));
    set("AlertPopUp", BoxValue(popUpCheck_));
    set("ShowProgress", BoxValue(checkProgress_));
    set("AutoCheck", BoxValue(autoCheck_));
    set("AutoCheckValue", QStringToAnsi(textInterval_->text())); // as typed
    set("RememberWhereIWas", BoxValue(rememberWhereIWas_));
    set("CheckConnection", BoxValue(checkConnection_));
    set("AlertNotify", BoxValue(notifyCheck_));
    set("AlertNotifyStyle", std::to_string(notifyStyle_->currentIndex()));
    set("TrayCount", BoxValue(trayCountCheck_));
    set("CheckAtStart", BoxValue(checkAtStart_));
    // One of the two options is always selected.
    set("ProgressStyle", optionSmooth_->isChecked() ? "Smooth" : "Block");
    set("ImapPush", BoxValue(imapPush_));
    // One write for all options, so a failure leaves every one of them as it was.
    try {
        SettingsStore::Apply(changes);
    } catch (const RuntimeError& error) {
        MsgBox("The settings could not be saved: " + QString::fromStdString(error.Description),
               vbOKOnly + vbExclamation, "Postlark");
        return false;
    }

    if (autoCheck_->isChecked()) {
        target_.SetTimerCheckEnabled(true);
        target_.ResetUpdateIntervalMins();
    } else {
        target_.SetTimerCheckEnabled(false);
    }
    target_.SetProgressBarVisible(checkProgress_->isChecked());
    target_.SetProgressBarSmooth(optionSmooth_->isChecked());
    target_.ApplyImapPush();
    return MoveKeyringPasswords();
}

bool SettingsForm::MoveKeyringPasswords() {
    const bool stored = SettingsStore::IsFlagOn("KeyringPasswords", false);
    if (checkKeyring_->isChecked() == stored)
        return true;
    const QString problem = target_.MoveKeyringPasswords(checkKeyring_->isChecked());
    if (problem.isEmpty())
        return true;
    MsgBox(problem, vbOKOnly + vbExclamation, "Postlark");
    checkKeyring_->setChecked(SettingsStore::IsFlagOn("KeyringPasswords", false));
    return false;
}

void SettingsForm::cmdOK_Click() {
    if (StoreAndApply())
        accept();
}

void SettingsForm::cmdApply_Click() {
    StoreAndApply();
}

void SettingsForm::cmdCancel_Click() {
    reject();
}

} // namespace postlark
