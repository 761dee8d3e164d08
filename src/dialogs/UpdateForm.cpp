// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/UpdateForm.h"

#include "dialogs/MakerLinks.h"
#include "platform/shell/ShellExecute.h"
#include "platform/window/MsgBox.h"
#include "platform/window/WindowLayer.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace postlark {

UpdateForm::UpdateForm(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("UpdateForm"));
    setWindowTitle(QStringLiteral("Postlark Updates"));
    setModal(true);
    // A fixed dialog: a title and a close box, nothing to minimize or maximize.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    QFont font = this->font();
    font.setPointSizeF(8.25);
    setFont(font);

    Label1 = new QLabel(QStringLiteral("You are using Postlark Version:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    // The version this dialog announces is fixed text, not the build's version numbers.
    Version = new QLabel(QStringLiteral("1.5"), this);
    Version->setObjectName(QStringLiteral("Version"));
    QFont large = font;
    large.setPointSize(18);
    Version->setFont(large);

    CommandCheck = new QPushButton(QStringLiteral("Check for &Updates"), this);
    CommandCheck->setObjectName(QStringLiteral("CommandCheck"));
    CommandCheck->setToolTip(QString::fromLatin1(MakerLinks::UpdatePage));
    CommandCheck->setDefault(true);
    CommandClose = new QPushButton(QStringLiteral("&Close"), this);
    CommandClose->setObjectName(QStringLiteral("CommandClose"));
    Label2 = new QLabel(QStringLiteral("(Launches web browser)"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    for (QPushButton* b : {CommandCheck, CommandClose})
        b->setMinimumWidth(b->sizeHint().width() + 16);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(14, 12, 14, 12);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(8);
    grid->addWidget(Label1, 0, 0, Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(Version, 0, 1, Qt::AlignLeft | Qt::AlignVCenter);
    grid->addWidget(CommandCheck, 1, 0);
    grid->addWidget(CommandClose, 1, 1);
    grid->addWidget(Label2, 2, 0, Qt::AlignHCenter | Qt::AlignTop);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    connect(CommandCheck, &QPushButton::clicked, this, &UpdateForm::CommandCheck_Click);
    connect(CommandClose, &QPushButton::clicked, this, &UpdateForm::CommandClose_Click);
    hWnd_ = win::RegisterWindow(this);
}

// The dialog stays open, so the page can be opened again.
void UpdateForm::CommandCheck_Click() {
    const QString page = QString::fromLatin1(MakerLinks::UpdatePage);
    if (win::ShellExecuteA(hWnd_, QStringLiteral("open"), page, QString(), QString(),
                           win::SW_SHOWNORMAL) <= 32)
        MsgBox("No web browser could be opened. The update page is " + page, vbExclamation,
               "Postlark");
}

void UpdateForm::CommandClose_Click() {
    accept();
}

} // namespace postlark
