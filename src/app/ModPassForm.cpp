// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ModPassForm.h"

#include "app/AccountFormParts.h"
#include "mail/secrets/AccountSecrets.h"
#include "platform/window/MsgBox.h"
#include "store/AccountRecord.h"
#include "store/AnsiText.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

namespace postlark {

ModPassForm::ModPassForm(QWidget* owner, std::string applicationKey)
    : QDialog(owner), applicationKey_(std::move(applicationKey)) {
    setObjectName(QStringLiteral("ModPassForm"));
    setWindowTitle(QStringLiteral("Modify Password"));
    setModal(true);
    // A fixed dialog: a title and a close box, nothing to minimize or maximize.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    auto* grid = new QGridLayout(this);
    PassText = AddLabelledField(*grid, 0, "New Password:", "PassText");
    grid->itemAtPosition(0, 0)->widget()->setObjectName(QStringLiteral("LabelPassword"));
    ShowAsPassword(*PassText);

    cmdOK = new QPushButton(QStringLiteral("&OK"));
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("&Cancel"));
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    grid->addLayout(buttons, 1, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    QWidget::setTabOrder(PassText, cmdOK);
    QWidget::setTabOrder(cmdOK, cmdCancel);
    PassText->setFocus();

    connect(cmdOK, &QPushButton::clicked, this, &ModPassForm::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &ModPassForm::cmdCancel_Click);
}

bool ModPassForm::ShowMe(std::int16_t index) {
    AccountIndex = index;
    return exec() == QDialog::Accepted;
}

void ModPassForm::cmdOK_Click() {
    if (!FieldsStorableOrReport({PassText}))
        return;
    if (ConfirmStore && !ConfirmStore()) {
        reject();
        return;
    }
    // Enciphered in the file, or in the keyring when the account keeps its password there.
    QString problem;
    if (!StoreOrReport([&] {
            problem = StoreAccountSecret(AccountIndex, StoredAccountValues(AccountIndex),
                                         QStringToAnsi(PassText->text()), applicationKey_);
        }))
        return;
    if (!problem.isEmpty()) {
        MsgBox(QStringLiteral("The password could not be saved: %1").arg(problem), vbExclamation,
               QString::fromLatin1(ProgramTitle));
        return;
    }
    accept();
}

void ModPassForm::cmdCancel_Click() {
    reject();
}

} // namespace postlark
