// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the push watchers need from the main window: its rows, their "New Mail?" cells, whether
// a check run is in progress, and the new-mail alerts.
#include <QString>
#include <cstdint>
#include <vector>

namespace postlark {

class PushView {
public:
    virtual ~PushView() = default;

    virtual int AccountRowCount() const = 0;
    // The address a row (counted from 0) shows.
    virtual QString AccountRowText(int row) const = 0;
    // The "New Mail?" cell of a row.
    virtual QString NewMailCell(int row) const = 0;
    virtual void SetNewMailText(int row, const QString& text) = 0;
    virtual void SetNewMailToolTip(int row, const QString& tip) = 0;
    // While a check run is in progress no push result lands on a row.
    virtual bool CheckRunning() const = 0;
    // The new-mail alerts for the accounts whose result is 1, as after a check run.
    virtual void PushGotMail(const std::vector<std::int16_t>& results) = 0;
    // Push results have landed on rows: the new-mail count on the tray follows the rows.
    virtual void PushLanded() = 0;
};

} // namespace postlark
