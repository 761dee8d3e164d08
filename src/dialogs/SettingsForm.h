// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The options dialog: alert flags, automatic checking and general options, read from the
// settings store when it opens, stored by OK and Apply and applied to the running main window
// at once; its start-up box registers or unregisters the program at log-in the moment it is
// clicked.
#include <QDialog>

class QComboBox;

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QTabBar;

namespace postlark {

class SettingsTarget;

class SettingsForm : public QDialog {
    Q_OBJECT
public:
    // Builds the controls and fills them from the store (Form_Load).
    explicit SettingsForm(SettingsTarget& target, QWidget* parent = nullptr);

    // True for the keys that may reach the interval field: digits and backspace (8).
    static bool IsNumber(int keyAscii);

    void TabStrip1_Click();
    void AutoCheck_Click();
    // Enables "Check when Postlark starts" while automatic checking or push is on.
    void ImapPush_Click();
    void CheckProgress_Click();
    void OptionBlock_Click();
    void OptionSmooth_Click();
    void CheckStartup_Click();
    void TextInterval_Change();
    void UpDownInterval_Change();
    void cmdOK_Click();
    void cmdApply_Click();
    void cmdCancel_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildControls();
    void LayOut();
    void Form_Load();
    void ShowFrame(QGroupBox* frame);
    // Selects the tab `by` places on, round at either end.
    void StepTab(int by);
    // Stores the options and applies them to the main window; false when the store could not
    // be written (the user has been told, nothing was applied).
    bool StoreAndApply();
    // Moves the passwords when the keyring box differs from the stored setting; false when the
    // move failed (the user has been told, the box shows the setting again).
    bool MoveKeyringPasswords();

    SettingsTarget& target_;
    bool syncing_ = false; // the field is setting the arrows: they do not write the text back
    int frameLeft_ = 0;
    int frameTop_ = 0;

    QTabBar* tabStrip1_ = nullptr;
    QGroupBox* alertFrame_ = nullptr;
    QGroupBox* autoCheckFrame_ = nullptr;
    QGroupBox* generalFrame_ = nullptr;
    QWidget* tabBody_ = nullptr;

    QCheckBox* msgCheck_ = nullptr;
    QCheckBox* soundCheck_ = nullptr;
    QCheckBox* launchCheck_ = nullptr;
    QCheckBox* trayCheck_ = nullptr;
    QCheckBox* popUpCheck_ = nullptr;
    QCheckBox* notifyCheck_ = nullptr;
    QComboBox* notifyStyle_ = nullptr; // AlertNotifyStyle: count, senders, senders and subjects

    QCheckBox* autoCheck_ = nullptr;
    QLineEdit* textInterval_ = nullptr;
    QScrollBar* upDownInterval_ = nullptr;
    QCheckBox* checkConnection_ = nullptr;
    QCheckBox* checkAtStart_ = nullptr;
    QCheckBox* imapPush_ = nullptr;

    QCheckBox* checkProgress_ = nullptr;
    QRadioButton* optionBlock_ = nullptr;
    QRadioButton* optionSmooth_ = nullptr;
    QCheckBox* checkStartup_ = nullptr;
    QCheckBox* rememberWhereIWas_ = nullptr;
    QCheckBox* trayCountCheck_ = nullptr;
    QCheckBox* checkKeyring_ = nullptr;

    QPushButton* cmdOK_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;
    QPushButton* cmdApply_ = nullptr;
};

} // namespace postlark
