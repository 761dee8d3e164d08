// SPDX-License-Identifier: GPL-3.0-or-later
// The modal-question seam: what an answerer is told, and the real Qt dialogs behind it.
#include "platform/window/MsgBox.h"
#include "platform/base/RuntimeError.h"
#include "platform/window/CommonDialog.h"
#include "platform/window/ModalAnswerer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace postlark {
namespace {

// Fails the test and closes the dialog when it is still open five seconds from now, so that
// a dialog that ignored the test's answer cannot hang the run.
void CloseIfStillOpen(QWidget* dialog) {
    QTimer::singleShot(5000, [guard = QPointer<QWidget>(dialog)] {
        if (guard && guard->isVisible()) {
            ADD_FAILURE() << "the dialog stayed open";
            guard->close();
        }
    });
}

// Runs `action` on the first modal widget of type T to appear, from the event loop that the
// dialog's exec() runs. Gives up (and closes whatever is modal) after five seconds.
template <typename T> void WhenModal(std::function<void(T*)> action) {
    auto* timer = new QTimer;
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(timer, &QTimer::timeout, [timer, started, action] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->deleteLater();
            timer->stop();
            action(dialog);
            CloseIfStillOpen(dialog);
        } else if (started->elapsed() > 5000) {
            timer->deleteLater();
            timer->stop();
            ADD_FAILURE() << "the expected dialog did not appear";
            if (QWidget* other = QApplication::activeModalWidget())
                other->close();
        }
    });
    timer->start(10);
}

// A new-mail message naming a very long address still fits the screen, and shows the whole
// address.
TEST(MsgBoxTest, AVeryLongAddressIsWrappedSoTheBoxFitsTheScreen) {
    const QString address = QString(280, 'x') + "@example.org" + QString(8, 'y');
    ASSERT_EQ(address.size(), 300);
    QRect box, screen;
    QString shown;
    WhenModal<QMessageBox>([&](QMessageBox* dialog) {
        box = dialog->frameGeometry();
        screen = dialog->screen()->availableGeometry();
        if (auto* label = dialog->findChild<QLabel*>("qt_msgbox_label"))
            shown = label->text();
        dialog->button(QMessageBox::Ok)->click();
    });
    MsgBox("You have new mail in accounts:\r\n" + address + "\r\n", vbInformation,
           "Mail Notification - Postlark");
    EXPECT_LE(box.width(), screen.width());
    EXPECT_TRUE(screen.contains(box)) << box.width() << " x " << box.height();
    EXPECT_TRUE(shown.remove('\n').contains(address));
}

// The new-mail box is wide enough for its whole title beside the title bar's icon and
// buttons, drawn in a bold face as window managers commonly draw titles; like every message
// box it offers no minimize or maximize button and keeps its size.
TEST(MsgBoxTest, TheAlertBoxIsAsWideAsItsTitleAndHasAFixedFrame) {
    const QString title = "Mail Notification - Postlark";
    QRect box;
    Qt::WindowFlags flags;
    QSize minimum, maximum;
    WhenModal<QMessageBox>([&](QMessageBox* dialog) {
        box = dialog->geometry();
        flags = dialog->windowFlags();
        minimum = dialog->minimumSize();
        maximum = dialog->maximumSize();
        dialog->button(QMessageBox::Ok)->click();
    });
    MsgBox("You have new mail in accounts:\r\na@b.org\r\n", vbInformation, title);
    QFont bold = QApplication::font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    EXPECT_GE(box.width(), metrics.horizontalAdvance(title) + TitleBarAllowance * metrics.height());
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(minimum, maximum);
}

// With no window active (as just after a file dialog closed) a box belongs to the program's
// main window and stands centred on it, not on the screen.
TEST(MsgBoxTest, WithNoWindowActiveTheBoxIsCentredOnTheMainWindow) {
    QMainWindow main;
    main.setGeometry(40, 60, 700, 500);
    main.show();
    QApplication::setActiveWindow(nullptr);
    QWidget* owner = nullptr;
    QPoint centre;
    WhenModal<QMessageBox>([&](QMessageBox* dialog) {
        owner = dialog->parentWidget();
        centre = dialog->frameGeometry().center();
        dialog->button(QMessageBox::Ok)->click();
    });
    MsgBox("Error writing to file.", vbExclamation);
    EXPECT_EQ(owner, &main);
    EXPECT_LE((centre - main.frameGeometry().center()).manhattanLength(), 40);
}

TEST(MsgBoxTest, AnswererIsToldTheExactQuestionAndItsAnswerIsReturned) {
    ScopedModalAnswerer answerer([](const ModalQuestion& q) {
        return ModalAnswer::Button(q.buttons & vbYesNo ? vbNo : vbOK);
    });
    EXPECT_EQ(MsgBox("Restoring settings will overwrite any current settings!  Proceed?",
                     vbYesNo | vbQuestion, "Postlark"),
              vbNo);
    EXPECT_EQ(MsgBox("Done."), vbOK);

    const auto& asked = ModalQuestionsAsked();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].kind, ModalQuestion::Kind::MessageBox);
    EXPECT_EQ(asked[0].prompt, "Restoring settings will overwrite any current settings!  Proceed?");
    EXPECT_EQ(asked[0].buttons, vbYesNo | vbQuestion);
    EXPECT_EQ(asked[1].buttons, vbOKOnly);
    EXPECT_EQ(asked[1].title, "Postlark"); // an empty title is the program's title
}

TEST(MsgBoxTest, RealBoxShowsTitleIconButtonsAndMapsTheClickedButton) {
    ASSERT_FALSE(HasModalAnswerer());
    QMessageBox::StandardButtons shownButtons;
    QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
    QString shownTitle, shownText;
    QPushButton* shownDefault = nullptr;
    QAbstractButton* noButton = nullptr;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
        shownButtons = box->standardButtons();
        shownIcon = box->icon();
        shownTitle = box->windowTitle();
        shownText = box->text();
        shownDefault = box->defaultButton();
        noButton = box->button(QMessageBox::No);
        box->button(QMessageBox::No)->click();
    });
    const int result =
        MsgBox("Delete <a@b.example>?", vbYesNo | vbQuestion | vbDefaultButton2, "Postlark");
    EXPECT_EQ(result, vbNo);
    EXPECT_EQ(shownButtons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(shownIcon, QMessageBox::Question);
    EXPECT_EQ(shownTitle, "Postlark");
    EXPECT_EQ(shownText, "Delete <a@b.example>?");
    EXPECT_EQ(shownDefault, noButton);

    WhenModal<QMessageBox>([&](QMessageBox* box) {
        shownButtons = box->standardButtons();
        shownIcon = box->icon();
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(MsgBox("Error writing to file.", vbExclamation), vbOK);
    EXPECT_EQ(shownButtons, QMessageBox::Ok);
    EXPECT_EQ(shownIcon, QMessageBox::Warning);
}

TEST(CommonDialogTest, FilterTextBecomesQtNameFilters) {
    EXPECT_EQ(CommonDialog::NameFilters("Applications (*.exe)|*.exe|All files (*)|*"),
              QStringList({"Applications (*.exe)", "All files (*)"}));
    EXPECT_EQ(CommonDialog::NameFilters("Postlark Settings (*.pls)|*.pls"),
              QStringList({"Postlark Settings (*.pls)"}));
    EXPECT_EQ(CommonDialog::NameFilters("Logs|*.log;*.txt|Dangling"),
              QStringList({"Logs (*.log *.txt)"}));
    EXPECT_TRUE(CommonDialog::NameFilters("").isEmpty());
}

TEST(CommonDialogTest, AnsweredCancelRaisesOnlyWithCancelError) {
    ScopedModalAnswerer answerer([](const ModalQuestion&) { return ModalAnswer::Cancel(); });
    CommonDialog dialog;
    dialog.Filter = "Postlark Settings (*.pls)|*.pls";
    dialog.FileName = "/tmp/old.pls";
    dialog.DialogTitle = "Restore";

    dialog.ShowOpen(); // no CancelError: returns quietly
    EXPECT_EQ(dialog.FileName, "/tmp/old.pls");

    dialog.CancelError = true;
    try {
        dialog.ShowSave();
        ADD_FAILURE() << "a cancel with CancelError must raise";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.Number, 32755);
        EXPECT_EQ(error.Description, "Cancel was selected.");
    }
    EXPECT_EQ(dialog.FileName, "/tmp/old.pls");

    const auto& asked = ModalQuestionsAsked();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].kind, ModalQuestion::Kind::OpenFile);
    EXPECT_EQ(asked[1].kind, ModalQuestion::Kind::SaveFile);
    EXPECT_EQ(asked[1].filter, "Postlark Settings (*.pls)|*.pls");
    EXPECT_EQ(asked[1].fileName, "/tmp/old.pls"); // the dialog starts with the last name
    EXPECT_EQ(asked[1].dialogTitle, "Restore");
    EXPECT_TRUE(asked[1].cancelError);
}

TEST(CommonDialogTest, RealDialogShowsSettingsAndReportsPickAndCancel) {
    ASSERT_FALSE(HasModalAnswerer());
    QTemporaryDir dir;
    const QString picked = dir.filePath("mailer");
    QFile file(picked);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    CommonDialog dialog;
    dialog.CancelError = true;
    dialog.Filter = "Applications (*.exe)|*.exe|All files (*)|*";
    dialog.DialogTitle = "Please choose a program";
    QString shownTitle;
    QStringList shownFilters;
    WhenModal<QFileDialog>([&](QFileDialog* fileDialog) {
        shownTitle = fileDialog->windowTitle();
        shownFilters = fileDialog->nameFilters();
        fileDialog->reject();
    });
    EXPECT_THROW(dialog.ShowOpen(), RuntimeError);
    EXPECT_EQ(shownTitle, "Please choose a program");
    EXPECT_EQ(shownFilters, QStringList({"Applications (*.exe)", "All files (*)"}));

    WhenModal<QFileDialog>([&](QFileDialog* fileDialog) {
        // Typed into the name field, as a user would; the dialog's folder view fills later.
        auto* nameField = fileDialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(nameField, nullptr);
        nameField->setText(picked);
        QMetaObject::invokeMethod(fileDialog, "accept");
    });
    dialog.ShowOpen();
    EXPECT_EQ(dialog.FileName, picked);
}

} // namespace
} // namespace postlark
