// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the settings dialog changes on the running main window when its options are applied.
#include <QString>
#include <cstdint>

namespace postlark {

class SettingsTarget {
public:
    // Switches the one-minute automatic check timer on (left running when it already runs)
    // or off.
    virtual void SetTimerCheckEnabled(bool on) = 0;
    // Sets the countdown to the next automatic check from the stored interval.
    virtual void ResetUpdateIntervalMins() = 0;
    virtual void SetProgressBarVisible(bool visible) = 0;
    virtual void SetProgressBarSmooth(bool smooth) = 0;
    // Starts or ends the push watchers of the IMAP accounts as the stored "ImapPush" says.
    virtual void ApplyImapPush() {}
    // Moves the account passwords into the desktop's keyring (on) or back into the settings
    // file (off) and stores "KeyringPasswords" with them. Returns why that failed, which leaves
    // the setting and every password as they were; empty text when they moved.
    virtual QString MoveKeyringPasswords(bool on) {
        (void)on;
        return QStringLiteral("The passwords cannot be moved from here.");
    }

protected:
    ~SettingsTarget() = default;
};

} // namespace postlark
