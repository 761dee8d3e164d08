// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/window/MsgBox.h"

#include "platform/window/ModalAnswerer.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSpacerItem>
#include <algorithm>
#include <utility>
#include <vector>

namespace postlark {

namespace {

using Choice = std::pair<QMessageBox::StandardButton, int>;

std::vector<Choice> ButtonSet(int style) {
    switch (style & 0x0F) {
    case vbOKCancel:
        return {{QMessageBox::Ok, vbOK}, {QMessageBox::Cancel, vbCancel}};
    case vbAbortRetryIgnore:
        return {{QMessageBox::Abort, vbAbort},
                {QMessageBox::Retry, vbRetry},
                {QMessageBox::Ignore, vbIgnore}};
    case vbYesNoCancel:
        return {
            {QMessageBox::Yes, vbYes}, {QMessageBox::No, vbNo}, {QMessageBox::Cancel, vbCancel}};
    case vbYesNo:
        return {{QMessageBox::Yes, vbYes}, {QMessageBox::No, vbNo}};
    case vbRetryCancel:
        return {{QMessageBox::Retry, vbRetry}, {QMessageBox::Cancel, vbCancel}};
    default:
        return {{QMessageBox::Ok, vbOK}};
    }
}

QMessageBox::Icon IconFor(int style) {
    switch (style & 0x70) {
    case vbCritical:
        return QMessageBox::Critical;
    case vbQuestion:
        return QMessageBox::Question;
    case vbExclamation:
        return QMessageBox::Warning;
    case vbInformation:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

// The widest a run of text without spaces may be: the width up to which the box lays out its
// text before it wraps it (half the screen, at most 500 pixels).
int LongestRun(const QWidget* owner) {
    const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    const int screenWidth = screen ? screen->availableGeometry().width() : 800;
    return std::min(screenWidth / 2, 500);
}

// The box wraps its text only between words, so a run of text without spaces that is wider
// than the box may be (a 300-character address, say) would push it past the screen's edge.
// Such runs are broken into lines that fit; the text itself is unchanged.
QString BreakLongRuns(const QString& text, const QFontMetrics& metrics, int maxWidth) {
    QString out;
    out.reserve(text.size() + text.size() / 20);
    int runWidth = 0;
    for (const QChar c : text) {
        if (c.isSpace()) {
            runWidth = 0;
        } else {
            const int width = metrics.horizontalAdvance(c);
            if (runWidth > 0 && runWidth + width > maxWidth) {
                out += QLatin1Char('\n');
                runWidth = 0;
            }
            runWidth += width;
        }
        out += c;
    }
    return out;
}

// The program's main window while it is shown, for a box asked when no window is active (as
// just after a file dialog closed): the box then stands centred on it, not on the screen.
QWidget* ShownMainWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMainWindow*>(widget) && widget->isVisible() && !widget->isMinimized())
            return widget;
    }
    return nullptr;
}

// Keeps the box at least as wide as its title needs beside the title bar's icon and buttons:
// window managers commonly draw titles in a bold face, and the box's own estimate leaves too
// little room, so the title was cut.
void FitTitle(QMessageBox& box, const QString& title) {
    QFont bold = box.font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid)
        return;
    const int width = metrics.horizontalAdvance(title) + TitleBarAllowance * metrics.height();
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Fixed, QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

int ShowMessageBox(const QString& prompt, int style, const QString& title) {
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner)
        owner = QApplication::activeWindow();
    if (!owner)
        owner = ShownMainWindow();
    QMessageBox box(owner);
    // A fixed box: a title and a close box, nothing to minimize or maximize.
    box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowCloseButtonHint);
    box.setWindowTitle(title);
    box.setTextFormat(Qt::PlainText); // addresses such as <a@b> are shown as typed
    box.setText(BreakLongRuns(prompt, QFontMetrics(box.font()), LongestRun(owner)));
    box.setIcon(IconFor(style));

    const std::vector<Choice> choices = ButtonSet(style);
    std::vector<QPushButton*> buttons;
    for (const Choice& choice : choices)
        buttons.push_back(box.addButton(choice.first));
    const std::size_t defaultIndex = static_cast<std::size_t>((style >> 8) & 0x3);
    box.setDefaultButton(buttons[defaultIndex < buttons.size() ? defaultIndex : 0]);
    if (owner)
        box.setWindowModality(Qt::WindowModal);
    FitTitle(box, title); // last: the calls above lay the box out anew

    box.exec();
    const auto clicked = box.standardButton(box.clickedButton());
    for (const Choice& choice : choices) {
        if (choice.first == clicked)
            return choice.second;
    }
    // Closed without a button (only possible where Qt found an escape button): the answer
    // that changes least.
    for (const int fallback : {vbCancel, vbNo, vbIgnore}) {
        for (const Choice& choice : choices) {
            if (choice.second == fallback)
                return fallback;
        }
    }
    return choices.front().second;
}

} // namespace

int MsgBox(const QString& prompt, int buttons, const QString& title) {
    const QString shownTitle = title.isEmpty() ? QString::fromLatin1(ProgramTitle) : title;
    if (HasModalAnswerer()) {
        ModalQuestion question;
        question.kind = ModalQuestion::Kind::MessageBox;
        question.prompt = prompt;
        question.buttons = buttons;
        question.title = shownTitle;
        return AskModalAnswerer(question).button;
    }
    return ShowMessageBox(prompt, buttons, shownTitle);
}

} // namespace postlark
