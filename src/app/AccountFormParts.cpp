// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AccountFormParts.h"

#include "platform/window/CommonDialog.h"
#include "platform/window/MsgBox.h"
#include "platform/base/RuntimeError.h"
#include "platform/net/ServerAddress.h"
#include "store/AnsiText.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

namespace postlark {

QLineEdit* AddLabelledField(QGridLayout& grid, int row, const QString& label,
                            const QString& objectName, int columns) {
    auto* field = new QLineEdit;
    field->setObjectName(objectName);
    field->setMinimumWidth(220);
    // The field's name for messages and assistive tools: its label without the colon.
    QString name = label;
    if (name.endsWith(':'))
        name.chop(1);
    field->setAccessibleName(name);
    auto* caption = new QLabel(label);
    caption->setWordWrap(true);
    caption->setBuddy(field);
    grid.addWidget(caption, row, 0);
    grid.addWidget(field, row, 1, 1, columns);
    return field;
}

void ShowAsPassword(QLineEdit& field) {
    field.setEchoMode(QLineEdit::Password);
    field.setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
}

void ShowRequiredFieldsMessage() {
    MsgBox(QString::fromLatin1(RequiredFieldsMessage), vbOKOnly, QString::fromLatin1(ProgramTitle));
}

void BrowseForProgram(CommonDialog& dialog, QLineEdit& programText) {
    dialog.CancelError = true;
    dialog.Filter = QString::fromLatin1(ProgramFilter);
    dialog.DialogTitle = QString::fromLatin1(ProgramBrowseTitle);
    try {
        dialog.ShowOpen();
        programText.setText(dialog.FileName);
    } catch (const RuntimeError& error) {
        if (error.Number != cdlCancel)
            throw;
        programText.clear();
    }
}

bool ServerAndProgramUsableOrReport(const QLineEdit& server, const QLineEdit& program) {
    const ServerAddress address = ParseServerField(server.text());
    if (!address.valid) {
        MsgBox(QStringLiteral("The server field cannot be used: %1").arg(address.error),
               vbExclamation, QString::fromLatin1(ProgramTitle));
        return false;
    }
    // A line break would split the value in the settings and backup files.
    if (program.text().contains(u'\n') || program.text().contains(u'\r')) {
        MsgBox(QStringLiteral("The program field must be a single line."), vbExclamation,
               QString::fromLatin1(ProgramTitle));
        return false;
    }
    return true;
}

bool StoreOrReport(const std::function<void()>& write) {
    try {
        write();
        return true;
    } catch (const RuntimeError& error) {
        MsgBox(QStringLiteral("The account could not be saved: %1")
                   .arg(QString::fromStdString(error.Description)),
               vbExclamation, QString::fromLatin1(ProgramTitle));
        return false;
    }
}

bool FieldsStorableOrReport(std::initializer_list<const QLineEdit*> fields) {
    for (const QLineEdit* field : fields) {
        if (!FitsAnsi(field->text())) {
            MsgBox(QStringLiteral("The field \"%1\" holds characters that cannot be stored. "
                                  "Please use only Western European letters, digits and signs.")
                       .arg(field->accessibleName()),
                   vbExclamation, ProgramTitle);
            return false;
        }
    }
    return true;
}

} // namespace postlark
