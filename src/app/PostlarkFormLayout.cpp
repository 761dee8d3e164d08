// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's fit on the screen: a fixed size whose client area is exactly the designed
// one, captions that are shown whole with the desktop's font, and list columns that always fit
// the list's width.
#include "app/PostlarkForm.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLayout>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTreeWidget>

#include <algorithm>

namespace postlark {

namespace {

constexpr qreal kDesignedPointSize = 8.0; // the layout is measured for an 8-point font
constexpr qreal kSmallestPointSize = 6.0;

// The caption as drawn: the "&" markers only underline.
int CaptionWidth(const QAbstractButton& button) {
    return button.fontMetrics().horizontalAdvance(QString(button.text()).remove('&'));
}

// The room the style leaves for the caption inside the control.
int CaptionRoom(const QAbstractButton& button) {
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = button.text();
    const bool box = qobject_cast<const QCheckBox*>(&button) != nullptr;
    const QRect room = button.style()->subElementRect(
        box ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents, &option, &button);
    return room.width() - (box ? 0 : 4); // a little air between a button's text and its edge
}

} // namespace

// Desktop fonts are often wider than the one the layout was measured with; the font steps
// down by half a point until every caption fits its control, rather than clipping a caption.
void PostlarkForm::FitCaptions(QWidget* client) {
    const QList<QAbstractButton*> captioned = {addAcct_,      delAcct_,     modAcct_,
                                               launchButton_, checkButton_, checkStartMin_};
    QFont font = client->font();
    for (qreal size = kDesignedPointSize; size >= kSmallestPointSize; size -= 0.5) {
        font.setPointSizeF(size);
        client->setFont(font);
        for (QAbstractButton* b : captioned)
            b->setFont(font); // a control with a style sheet no longer follows its parent's

        const bool fits = std::all_of(captioned.begin(), captioned.end(),
                                      [](auto* b) { return CaptionWidth(*b) <= CaptionRoom(*b); });
        if (fits)
            return;
    }
}

// The address column takes whatever the "New Mail?" column leaves, so the two always fit
// the list, with or without a vertical scroll bar, and no horizontal scroll bar appears.
void PostlarkForm::FitColumns() {
    QHeaderView* header = accountList_->header();
    const QFontMetrics metrics(accountList_->font());
    const int margin =
        2 * accountList_->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) + 4;
    int widest = QFontMetrics(header->font()).horizontalAdvance("New Mail?");
    for (const char* text : {"Bad Password", "Yes, 32767", "Failed"})
        widest = std::max(widest, metrics.horizontalAdvance(text));
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    header->setSectionResizeMode(1, QHeaderView::Fixed);
    header->resizeSection(1, widest + margin);
    accountList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

// The window keeps the designed client area under its menu bar; it is not resized or
// maximized, so the controls, laid out in twips, always fill it as designed.
void PostlarkForm::FixWindowSize() {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    layout()->activate();
    setFixedSize(sizeHint());
}

} // namespace postlark
