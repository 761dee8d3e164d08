// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The About box: the program's title and version, a description, links to the maker's web
// site, message boards, support mailbox and the updates command, and a button that starts the
// system-information tool.
#include "platform/base/Win32Types.h"
#include "platform/system/RegistryApi.h"

#include <QDialog>
#include <array>
#include <functional>
#include <string>

class QFrame;
class QLabel;
class QPushButton;

namespace postlark {

class LinkLabel;

class AboutForm : public QDialog {
    Q_OBJECT
public:
    // `checkForUpdates` runs the owner's updates command (the "Check For Updates" link).
    AboutForm(QWidget* owner, std::function<void()> checkForUpdates);

    void Form_Load();
    void Form_MouseMove();
    void cmdOK_Click();
    void cmdSysInfo_Click();
    void BrenmoorWebSite_Click();
    void BrenmoorWebSite_MouseMove();
    void BrenmoorMsgBrds_Click();
    void BrenmoorMsgBrds_MouseMove();
    void EmailBrenmoor_Click();
    void EmailBrenmoor_MouseMove();
    void UpdateCI_Click();
    void UpdateCI_MouseMove();

    // Starts the system-information tool named by the machine-wide registry, or tells the user
    // it is unavailable.
    void StartSysInfo();
    // Reads a text (REG_SZ) or number (REG_DWORD, as "&h" and hexadecimal digits) value of a
    // key; false, with KeyVal empty, when the key or the value cannot be read. Values of other
    // types leave KeyVal as it was.
    static bool GetKeyValue(win::HKEY KeyRoot, const std::string& KeyName,
                            const std::string& SubKeyRef, std::string& KeyVal);

    // Link colours: blue at rest, red while the pointer is over the link.
    static QColor LinkBlue() { return QColor(0, 0, 255); }
    static QColor LinkRed() { return QColor(255, 0, 0); }

protected:
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    LinkLabel* AddLink(const char* text, const char* name, const QString& toolTip);
    void OpenLink(LinkLabel* link, const char* target);

    std::function<void()> checkForUpdates_;
    win::HWND hWnd_ = 0;

    QPushButton* cmdOK;
    QPushButton* cmdSysInfo;
    QLabel* Image1;
    QLabel* Image2;
    QLabel* Image3;
    LinkLabel* UpdateCI;
    QLabel* Label1;
    LinkLabel* BrenmoorWebSite;
    LinkLabel* BrenmoorMsgBrds;
    LinkLabel* EmailBrenmoor;
    QLabel* lblDescription;
    QLabel* lblTitle;
    std::array<QFrame*, 2> Line1;
    QLabel* lblVersion;
};

} // namespace postlark
