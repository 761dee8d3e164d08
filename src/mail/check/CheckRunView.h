// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a check run needs from the main window: its account list, buttons, progress bar,
// status bar and the alerts.
#include <QString>
#include <cstdint>
#include <optional>

namespace postlark {

class CheckRunView {
public:
    virtual ~CheckRunView() = default;

    virtual int AccountRowCount() const = 0;
    virtual void SetStatusText(const QString& text) = 0;
    // The account commands are disabled and the check button becomes the Skip button.
    virtual void BeginRunControls() = 0;
    // The launch and check commands come back once the results are in the list.
    virtual void EnableLaunchAndCheck() = 0;
    // Every command is back and the check button reads as before.
    virtual void EndRunControls() = 0;
    virtual std::int32_t ProgressPosition() const = 0;
    virtual void SetProgressPosition(std::int32_t position) = 0;
    // The "New Mail?" column of a row (counted from 0).
    virtual void SetNewMailText(int row, const QString& text) = 0;
    // Why the account of a row (counted from 0) failed, shown with its "Failed"; empty for
    // every other result.
    virtual void SetNewMailToolTip(int row, const QString& tip) {
        (void)row;
        (void)tip;
    }
    // The address a row (counted from 0) shows, to tell whether it still shows the account a
    // result was obtained for; nullopt when the view cannot tell.
    virtual std::optional<QString> RowAddress(int row) const {
        (void)row;
        return std::nullopt;
    }
    // Raises the new-mail alerts; writes the status bar itself.
    virtual void GotMail() = 0;
    // A run found no new mail: whatever still announces earlier new mail goes.
    virtual void NoNewMail() {}
    // True once the window has begun to unload: a run in progress stops at once.
    virtual bool Unloading() const = 0;
};

} // namespace postlark
