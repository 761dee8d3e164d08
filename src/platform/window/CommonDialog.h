// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The common Open and Save file dialogs. Set Filter ("Description|pattern|Description|
// pattern", several patterns of one entry separated by ";"), FileName (the name the dialog
// starts with) and DialogTitle, then call ShowOpen or ShowSave; the chosen file's full path
// is left in FileName. With CancelError set, a cancel raises RuntimeError 32755 "Cancel was
// selected."; otherwise a cancel returns with FileName unchanged. In the program a
// QFileDialog, window-modal to the owner; under a modal answerer (tests) the answerer's choice.
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

namespace postlark {

// The error number of a cancelled file dialog.
inline constexpr long cdlCancel = 32755;

class CommonDialog {
public:
    explicit CommonDialog(QWidget* owner = nullptr) : owner_(owner) {}

    QString Filter;
    QString FileName;
    QString DialogTitle;
    // Save dialog: the extension added to a name typed without one (no dot), if set.
    QString DefaultExt;
    bool CancelError = false;

    void ShowOpen();
    void ShowSave();

    // The Qt name filters for a Filter text: "Applications (*.exe)|*.exe" gives
    // "Applications (*.exe)"; a description without its patterns gets them appended.
    static QStringList NameFilters(const QString& filter);

private:
    void Show(bool open);

    QPointer<QWidget> owner_;
};

} // namespace postlark
