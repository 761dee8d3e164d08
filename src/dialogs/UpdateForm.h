// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The Updates dialog: tells the user which version is running and opens the maker's update
// page in the web browser. It downloads nothing itself.
#include "platform/base/Win32Types.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace postlark {

class UpdateForm : public QDialog {
    Q_OBJECT
public:
    explicit UpdateForm(QWidget* owner);

    void CommandCheck_Click();
    void CommandClose_Click();

private:
    win::HWND hWnd_ = 0;

    QPushButton* CommandCheck;
    QPushButton* CommandClose;
    QLabel* Label2;
    QLabel* Label1;
    QLabel* Version;
};

} // namespace postlark
