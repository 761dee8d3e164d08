// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Message boxes: the button set, icon and default button are chosen by adding the style
// constants below; the result is the button the user chose. In the program a QMessageBox,
// window-modal to its owner; under a modal answerer (tests) the answerer's choice.
#include <QString>

namespace postlark {

enum VbMsgBoxStyle : int {
    vbOKOnly = 0,
    vbOKCancel = 1,
    vbAbortRetryIgnore = 2,
    vbYesNoCancel = 3,
    vbYesNo = 4,
    vbRetryCancel = 5,
    vbCritical = 16,
    vbQuestion = 32,
    vbExclamation = 48,
    vbInformation = 64,
    vbDefaultButton1 = 0,
    vbDefaultButton2 = 256,
    vbDefaultButton3 = 512,
};

enum VbMsgBoxResult : int {
    vbOK = 1,
    vbCancel = 2,
    vbAbort = 3,
    vbRetry = 4,
    vbIgnore = 5,
    vbYes = 6,
    vbNo = 7,
};

// The title used when the caller gives none.
inline constexpr const char* ProgramTitle = "Postlark";

// Room a message box leaves beside its title for the title bar's icon and buttons, in lines
// of the title's (bold) font: the box is at least the title's width plus this.
inline constexpr int TitleBarAllowance = 8;

// Shows the message and returns the chosen button (a VbMsgBoxResult). An empty title
// stands for the program's title. The box belongs to the active window, or to the shown main
// window when none is active, and offers no minimize or maximize button.
int MsgBox(const QString& prompt, int buttons = vbOKOnly, const QString& title = {});

} // namespace postlark
