// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the settings dialog changes on the running main window when its options are applied.
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

protected:
    ~SettingsTarget() = default;
};

} // namespace postlark
