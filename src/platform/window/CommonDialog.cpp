// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/window/CommonDialog.h"

#include "platform/base/RuntimeError.h"
#include "platform/window/ModalAnswerer.h"

#include <QFileDialog>

namespace postlark {

QStringList CommonDialog::NameFilters(const QString& filter) {
    QStringList result;
    if (filter.isEmpty())
        return result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    // Entries come in pairs; a description without a pattern is ignored.
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        const QString patterns = parts[i + 1]
                                     .split(QLatin1Char(';'), Qt::SkipEmptyParts)
                                     .replaceInStrings(QStringLiteral(" "), QString())
                                     .join(QLatin1Char(' '));
        if (patterns.isEmpty())
            continue;
        const QString suffix = QStringLiteral("(%1)").arg(patterns);
        if (description.endsWith(suffix))
            result << description;
        else if (description.isEmpty())
            result << suffix;
        else
            result << description + QLatin1Char(' ') + suffix;
    }
    return result;
}

void CommonDialog::ShowOpen() {
    Show(true);
}

void CommonDialog::ShowSave() {
    Show(false);
}

void CommonDialog::Show(bool open) {
    bool cancelled = false;
    QString chosen;
    if (HasModalAnswerer()) {
        ModalQuestion question;
        question.kind = open ? ModalQuestion::Kind::OpenFile : ModalQuestion::Kind::SaveFile;
        question.filter = Filter;
        question.fileName = FileName;
        question.dialogTitle = DialogTitle;
        question.cancelError = CancelError;
        const ModalAnswer answer = AskModalAnswerer(question);
        cancelled = answer.cancelled || answer.fileName.isEmpty();
        chosen = answer.fileName;
    } else {
        QFileDialog dialog(owner_, DialogTitle);
        dialog.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
        dialog.setFileMode(open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        // A save adds its entries to an existing file rather than replacing it, so there is
        // no replace question.
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
        const QStringList filters = NameFilters(Filter);
        if (!filters.isEmpty())
            dialog.setNameFilters(filters);
        if (!open && !DefaultExt.isEmpty())
            dialog.setDefaultSuffix(DefaultExt);
        if (!FileName.isEmpty())
            dialog.selectFile(FileName);
        if (owner_)
            dialog.setWindowModality(Qt::WindowModal);
        cancelled = dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty();
        if (!cancelled)
            chosen = dialog.selectedFiles().constFirst();
    }

    if (cancelled) {
        if (CancelError)
            throw RuntimeError(cdlCancel, "Cancel was selected.");
        return;
    }
    FileName = chosen;
}

} // namespace postlark
