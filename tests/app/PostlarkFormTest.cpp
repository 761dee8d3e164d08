// SPDX-License-Identifier: GPL-3.0-or-later
// The main window against a store in a temporary folder: start-up effects, display states,
// the account list and deleting accounts. Questions are answered through the modal seam.
#include "app/PostlarkForm.h"
#include "app/ModAcctForm.h"
#include "platform/shell/ShellNotify.h"
#include "platform/system/SingleInstance.h"
#include "platform/window/ModalAnswerer.h"
#include "platform/window/MsgBox.h"
#include "platform/window/Screen.h"
#include "platform/window/WindowLayer.h"
#include "store/AccountRecord.h"
#include "store/SettingsStore.h"
#include "support/TestEnvironment.h"
#include "winsupport/CSystrayIcon.h"
#include "winsupport/ProgressBar.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace postlark {
namespace {

const char* const Absent = "<absent>";

std::string Stored(const std::string& key) {
    return SettingsStore::GetValue(key, Absent);
}

// The whole stored file, to tell that nothing was written.
QByteArray StoreFile() {
    QFile file(QString::fromStdString(SettingsStore::FilePath()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void StoreAccounts(int count) {
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        AddAccount(i, AccountRecord{"user" + n + "@example.org", "pop" + n, "user" + n, "enc" + n,
                                    "prog" + n});
    }
}

class PostlarkFormTest : public ::testing::Test {
protected:
    void SetUp() override { win::SetNotificationAreaOverride(true); }
    void TearDown() override {
        form_.reset();
        win::SetNotificationAreaOverride(std::nullopt);
    }

    PostlarkForm& Load(QStringList arguments = {}) {
        form_ = std::make_unique<PostlarkForm>(std::move(arguments));
        EXPECT_TRUE(form_->Form_Load());
        return *form_;
    }
    QTreeWidget* List() { return form_->findChild<QTreeWidget*>("AccountList"); }
    QAction* ShowEntry() { return form_->findChild<QAction*>("menu_Show"); }
    QStringList Rows() {
        QStringList rows;
        for (int i = 0; i < List()->topLevelItemCount(); ++i)
            rows << List()->topLevelItem(i)->text(0);
        return rows;
    }
    // Deletes the account in row `row` (counted from 0), answering Yes.
    void DeleteRow(int row) {
        List()->setCurrentItem(List()->topLevelItem(row));
        ScopedModalAnswerer yes([](const ModalQuestion&) { return ModalAnswer::Button(vbYes); });
        form_->DelAcct_Click();
    }
    QPoint PixelsOf(double leftTwips, double topTwips) {
        return {int(leftTwips / win::TwipsPerPixelX()), int(topTwips / win::TwipsPerPixelY())};
    }

    test::TestEnvironment env_;
    std::unique_ptr<PostlarkForm> form_;
};

TEST_F(PostlarkFormTest, StoredPositionIsUsedBelowTheScreenBoundsOnly) {
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    SettingsStore::SaveValue("MainLeft", "600");
    SettingsStore::SaveValue("MainTop", "450");
    EXPECT_EQ(Load().geometry().topLeft(), PixelsOf(600, 450));

    SettingsStore::SaveValue("MainLeft", std::to_string(screen.width() * 15 + 15));
    SettingsStore::SaveValue("MainTop", "450");
    EXPECT_EQ(Load().pos(), QPoint(0, 0));

    SettingsStore::SaveValue("MainLeft", "600");
    SettingsStore::SaveValue("MainTop", std::to_string(screen.height() * 15));
    EXPECT_EQ(Load().pos(), QPoint(0, 0));

    // Off the screen on the other sides, or damaged far beyond any int of pixels.
    for (const auto& [left, top] :
         std::vector<std::pair<const char*, const char*>>{{"-300", "450"},
                                                          {"600", "-150"},
                                                          {"-3e12", "450"},
                                                          {"600", "-3e12"},
                                                          {"3e12", "450"},
                                                          {"600", "1e300"}}) {
        SCOPED_TRACE(std::string(left) + ", " + top);
        SettingsStore::SaveValue("MainLeft", left);
        SettingsStore::SaveValue("MainTop", top);
        EXPECT_EQ(Load().pos(), QPoint(0, 0));
    }

    // Placed at its stored corner, the window is as large as its controls need, with no empty
    // area beside them.
    SettingsStore::SaveValue("MainLeft", "600");
    SettingsStore::SaveValue("MainTop", "450");
    PostlarkForm& placed = Load();
    placed.show();
    EXPECT_EQ(placed.width(), placed.centralWidget()->width());
    EXPECT_EQ(placed.height(), placed.centralWidget()->geometry().bottom() + 1);
}

TEST_F(PostlarkFormTest, ClosingStoresThePositionUnlessMinimizedOrNotRemembered) {
    Load();
    form_->setGeometry(QRect(PixelsOf(1500, 2250), form_->size()));
    form_->close();
    EXPECT_EQ(Stored("MainLeft"), "1500");
    EXPECT_EQ(Stored("MainTop"), "2250");

    Load();
    form_->setGeometry(QRect(PixelsOf(3000, 3000), form_->size()));
    form_->showMinimized();
    form_->close();
    EXPECT_EQ(Stored("MainLeft"), "1500");

    // Exit from the tray menu while hidden: still stored, and the icon goes.
    Load();
    form_->setGeometry(QRect(PixelsOf(1200, 1800), form_->size()));
    ShowEntry()->trigger();
    ASSERT_TRUE(form_->SysIcon().Visible());
    form_->findChild<QAction*>("menu_Exit")->trigger();
    EXPECT_EQ(Stored("MainLeft"), "1200");
    EXPECT_EQ(Stored("MainTop"), "1800");
    EXPECT_FALSE(form_->SysIcon().Visible());

    SettingsStore::SaveValue("RememberWhereIWas", "0");
    Load();
    form_->setGeometry(QRect(PixelsOf(3000, 3000), form_->size()));
    form_->close();
    EXPECT_EQ(Stored("MainLeft"), "1200");
}

TEST_F(PostlarkFormTest, SecondCopyAnsweringNoWritesNothing) {
    SingleInstance first;
    ASSERT_FALSE(first.AnotherCopyRunning());
    ScopedModalAnswerer no([](const ModalQuestion&) { return ModalAnswer::Button(vbNo); });
    PostlarkForm form({});
    EXPECT_FALSE(form.Form_Load());
    ASSERT_EQ(ModalQuestionsAsked().size(), 1u);
    EXPECT_EQ(ModalQuestionsAsked()[0].buttons, vbYesNo + vbInformation);
    EXPECT_TRUE(ModalQuestionsAsked()[0].prompt.startsWith("A copy of Postlark is already"));
    form.close();
    EXPECT_FALSE(QFile::exists(QString::fromStdString(SettingsStore::FilePath())));
}

TEST_F(PostlarkFormTest, RegistryStartHidesToTheTrayWhateverStartMinimizedSays) {
    SettingsStore::SaveValue("StartMinimized", "0");
    Load({"/registrystart"});
    EXPECT_FALSE(form_->isVisible());
    EXPECT_TRUE(form_->SysIcon().Visible());
    EXPECT_FALSE(ShowEntry()->isChecked());
}

TEST_F(PostlarkFormTest, StartMinimizedHidesToTheTrayAndOtherwiseTheWindowShows) {
    SettingsStore::SaveValue("StartMinimized", "1");
    Load();
    EXPECT_FALSE(form_->isVisible());
    EXPECT_TRUE(form_->SysIcon().Visible());
    EXPECT_TRUE(form_->findChild<QAbstractButton*>("CheckStartMin")->isChecked());

    SettingsStore::SaveValue("StartMinimized", "banana");
    Load();
    EXPECT_TRUE(form_->isVisible());
    EXPECT_FALSE(form_->SysIcon().Visible());
    EXPECT_TRUE(ShowEntry()->isChecked());
}

TEST_F(PostlarkFormTest, FlagsAreOnOnlyWhenTheyReadExactlyAsOne) {
    for (const char* notOne : {"0.6", "1.4", "2", "-1"}) {
        SCOPED_TRACE(notOne);
        SettingsStore::SaveValue("StartMinimized", notOne);
        SettingsStore::SaveValue("AutoCheck", notOne);
        SettingsStore::SaveValue("RememberWhereIWas", notOne);
        SettingsStore::SaveValue("MainLeft", "600");
        SettingsStore::SaveValue("MainTop", "450");
        Load();
        EXPECT_TRUE(form_->isVisible());
        EXPECT_FALSE(form_->findChild<QAbstractButton*>("CheckStartMin")->isChecked());
        EXPECT_FALSE(form_->findChild<QTimer*>("TimerCheck")->isActive());
        EXPECT_NE(form_->geometry().topLeft(), PixelsOf(600, 450)) << "position restored";
        form_->setGeometry(QRect(PixelsOf(1500, 2250), form_->size()));
        form_->close();
        EXPECT_EQ(Stored("MainLeft"), "600") << "position stored";
    }
    SettingsStore::SaveValue("StartMinimized", "1.0");
    SettingsStore::SaveValue("AutoCheck", "1");
    Load();
    EXPECT_FALSE(form_->isVisible());
    EXPECT_TRUE(form_->findChild<QTimer*>("TimerCheck")->isActive());
}

// The flags whose default is on are off when they hold text that is no number.
TEST_F(PostlarkFormTest, DefaultOnFlagsHoldingTextThatIsNoNumberAreOff) {
    for (const char* text : {"abc", "true", ""}) {
        SCOPED_TRACE(text);
        SettingsStore::SaveValue("RememberWhereIWas", text);
        SettingsStore::SaveValue("ShowProgress", text);
        SettingsStore::SaveValue("MainLeft", "600");
        SettingsStore::SaveValue("MainTop", "450");
        Load();
        EXPECT_TRUE(form_->ProgressBar1().isHidden());
        EXPECT_NE(form_->geometry().topLeft(), PixelsOf(600, 450)) << "position restored";
        form_->setGeometry(QRect(PixelsOf(1500, 2250), form_->size()));
        form_->close();
        EXPECT_EQ(Stored("MainLeft"), "600") << "position stored";
    }
}

TEST_F(PostlarkFormTest, UnwritableStoreIsToldOnceAndNeverEndsTheProgram) {
    SettingsStore::SaveValue("StartMinimized", "1");
    // A lock that cannot be opened for writing: the store can be read but every change fails,
    // as in a folder left to another owner by a run as administrator.
    const QString lock = QString::fromStdString(SettingsStore::FolderPath()) + "/settings.lock";
    ASSERT_TRUE(QFile::remove(lock));
    ASSERT_TRUE(QDir().mkdir(lock));

    Load(); // starting minimized stores the box's value again: nothing to write
    EXPECT_FALSE(form_->isVisible()) << "starting minimized failed";
    auto* status = form_->findChild<QStatusBar*>("StatusBar");
    EXPECT_EQ(status->currentMessage(), "");
    auto* box = form_->findChild<QAbstractButton*>("CheckStartMin");
    box->click();
    EXPECT_EQ(status->currentMessage(),
              QString("Settings cannot be saved: ") + std::strerror(EISDIR));
    EXPECT_TRUE(status->toolTip().contains(lock)) << status->toolTip().toStdString();
    status->showMessage("later text");
    box->click();
    EXPECT_EQ(status->currentMessage(), "later text") << "told more than once";
    form_->setGeometry(QRect(PixelsOf(1500, 2250), form_->size()));
    EXPECT_NO_THROW(form_->close());

    EXPECT_EQ(Stored("StartMinimized"), "1");
    EXPECT_EQ(Stored("MainLeft"), Absent);
}

TEST_F(PostlarkFormTest, UnreadableStoreIsReportedAtStartAndLeftAlone) {
    const QString path = QString::fromStdString(SettingsStore::FilePath());
    ASSERT_TRUE(QDir().mkpath(path)); // a folder in the file's place
    ScopedModalAnswerer ok([](const ModalQuestion&) { return ModalAnswer::Button(vbOK); });
    Load();
    ASSERT_EQ(ModalQuestionsAsked().size(), 1u);
    EXPECT_EQ(ModalQuestionsAsked()[0].prompt, "The settings file " + path +
                                                   " cannot be read: " + std::strerror(EISDIR) +
                                                   ". Postlark will not change it.");
    EXPECT_EQ(ModalQuestionsAsked()[0].buttons, vbExclamation);
    EXPECT_EQ(ModalQuestionsAsked()[0].title, "Postlark");
    form_->findChild<QAbstractButton*>("CheckStartMin")->click();
    form_->close();
    EXPECT_TRUE(QFileInfo(path).isDir());
}

TEST_F(PostlarkFormTest, ProgressOptionsOutsideTheirFormsChangeNothing) {
    SettingsStore::SaveValue("ShowProgress", "2");
    SettingsStore::SaveValue("ProgressStyle", "smooth");
    Load();
    EXPECT_FALSE(form_->ProgressBar1().isHidden());
    EXPECT_FALSE(form_->ProgressBar1().Smooth());

    SettingsStore::SaveValue("ShowProgress", "0");
    SettingsStore::SaveValue("ProgressStyle", "Smooth");
    Load();
    EXPECT_TRUE(form_->ProgressBar1().isHidden());
    EXPECT_TRUE(form_->ProgressBar1().Smooth());
    EXPECT_EQ(form_->ProgressBar1().Min(), 1);
    EXPECT_EQ(form_->ProgressBar1().Max(), 10000);
}

TEST_F(PostlarkFormTest, AutoCheckIntervalThatIsNotANumberFallsBackToTheDefault) {
    SettingsStore::SaveValue("AutoCheck", "1");
    SettingsStore::SaveValue("AutoCheckValue", "15");
    Load();
    EXPECT_EQ(form_->UpdateIntervalMins, 15);
    EXPECT_TRUE(form_->findChild<QTimer*>("TimerCheck")->isActive());

    SettingsStore::SaveValue("AutoCheckValue", "99999");
    EXPECT_EQ(Load().UpdateIntervalMins, 1);
    SettingsStore::SaveValue("AutoCheckValue", "soon");
    EXPECT_EQ(Load().UpdateIntervalMins, 1);
}

TEST_F(PostlarkFormTest, ShowTogglesWindowTrayIconAndCheckMark) {
    Load();
    ShowEntry()->trigger();
    EXPECT_FALSE(form_->isVisible());
    EXPECT_TRUE(form_->SysIcon().Visible());
    EXPECT_FALSE(ShowEntry()->isChecked());

    ShowEntry()->trigger();
    EXPECT_TRUE(form_->isVisible());
    EXPECT_FALSE(form_->SysIcon().Visible());
    EXPECT_TRUE(ShowEntry()->isChecked());
}

TEST_F(PostlarkFormTest, WithoutANotificationAreaHidingMinimizesInstead) {
    win::SetNotificationAreaOverride(false);
    Load();
    ShowEntry()->trigger();
    EXPECT_TRUE(form_->isVisible());
    EXPECT_TRUE(form_->isMinimized());
    EXPECT_TRUE(ShowEntry()->isChecked());

    // The tray host turns up later: the next retry hides the window into it.
    win::SetNotificationAreaOverride(true);
    QEventLoop wait;
    QTimer::singleShot(3000, &wait, &QEventLoop::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &wait, [&] {
        if (!form_->isVisible())
            wait.quit();
    });
    poll.start(20);
    wait.exec();
    EXPECT_FALSE(form_->isVisible());
    EXPECT_TRUE(form_->SysIcon().Visible());
    EXPECT_FALSE(ShowEntry()->isChecked());
}

TEST_F(PostlarkFormTest, TrayDoubleClickBringsTheHiddenWindowBack) {
    SettingsStore::SaveValue("StartMinimized", "1");
    Load();
    ASSERT_FALSE(form_->isVisible());
    win::SendMessageA(form_->Handle(), 512, 1, 513);
    win::SendMessageA(form_->Handle(), 512, 1, 515);
    EXPECT_TRUE(form_->isVisible());
    EXPECT_FALSE(form_->SysIcon().Visible());
    EXPECT_TRUE(ShowEntry()->isChecked());
}

TEST_F(PostlarkFormTest, ListShowsBadReadForAMissingAddress) {
    SettingsStore::SaveValue("NumAccts", "2");
    SettingsStore::SaveValue("EmailAddress0", "only@example.org");
    Load();
    EXPECT_EQ(Rows(), QStringList({"only@example.org", "Bad Read"}));

    SettingsStore::SaveValue("NumAccts", "0");
    form_->ReDraw();
    EXPECT_TRUE(Rows().isEmpty());
}

TEST_F(PostlarkFormTest, DeletingTheFirstOfThreeRenumbersTheRest) {
    StoreAccounts(3);
    Load();
    DeleteRow(0);
    EXPECT_EQ(Rows(), QStringList({"user1@example.org", "user2@example.org"}));
    EXPECT_EQ(Stored("NumAccts"), "2");
    for (const char* field : {"EmailAddress", "POP", "UserName", "Password", "Program"})
        EXPECT_EQ(Stored(AccountKey(field, 2)), Absent) << field;
    EXPECT_EQ(Stored("EmailAddress0"), "user1@example.org");
    EXPECT_EQ(Stored("UserName0"), "user1");
    EXPECT_EQ(Stored("EmailAddress1"), "user2@example.org");
    EXPECT_EQ(Stored("UserName1"), "user2");
    EXPECT_EQ(Stored("POP0"), "pop1");
    EXPECT_EQ(Stored("Password1"), "enc2");
    EXPECT_EQ(Stored("Program1"), "prog2");
    EXPECT_EQ(List()->currentItem()->text(0), "user1@example.org");
}

TEST_F(PostlarkFormTest, DeletingTheLastAndTheOnlyAccount) {
    StoreAccounts(3);
    Load();
    DeleteRow(2);
    EXPECT_EQ(Stored("NumAccts"), "2");
    EXPECT_EQ(Stored("EmailAddress2"), Absent);
    EXPECT_EQ(Stored("Program1"), "prog1");
    EXPECT_EQ(List()->currentItem()->text(0), "user1@example.org");

    SettingsStore::SaveValue("NumAccts", "1");
    form_->ReDraw();
    DeleteRow(0);
    EXPECT_EQ(Stored("NumAccts"), "0");
    for (const char* field : {"EmailAddress", "POP", "UserName", "Password", "Program"})
        EXPECT_EQ(Stored(AccountKey(field, 0)), Absent) << field;
    EXPECT_TRUE(Rows().isEmpty());
}

TEST_F(PostlarkFormTest, DeleteDeclinedOrOnAnEmptyListChangesNothing) {
    Load();
    {
        ScopedModalAnswerer ok([](const ModalQuestion&) { return ModalAnswer::Button(vbOK); });
        form_->DelAcct_Click();
        ASSERT_EQ(ModalQuestionsAsked().size(), 1u);
        EXPECT_EQ(ModalQuestionsAsked()[0].prompt, "No email accounts in list.");
    }
    StoreAccounts(2);
    form_->ReDraw();
    ScopedModalAnswerer no([](const ModalQuestion&) { return ModalAnswer::Button(vbNo); });
    form_->DelAcct_Click();
    EXPECT_EQ(Stored("NumAccts"), "2");
    EXPECT_EQ(Rows().size(), 2);
}

TEST_F(PostlarkFormTest, WithoutASelectionDeleteActsOnTheFirstRow) {
    StoreAccounts(2);
    Load();
    List()->clearSelection();
    List()->setCurrentItem(nullptr);
    ScopedModalAnswerer yes([](const ModalQuestion&) { return ModalAnswer::Button(vbYes); });
    form_->DelAcct_Click();
    EXPECT_EQ(Rows(), QStringList({"user1@example.org"}));
}

// Every caption and column header is shown whole, the client area is the designed one and
// the window cannot be resized away from it, and the two columns always fit the list.
TEST_F(PostlarkFormTest, CaptionsAndColumnsFitAndTheClientAreaIsTheDesignedOne) {
    for (int i = 0; i < 30; ++i)
        AddAccount(i, AccountRecord{"someone" + std::to_string(i) +
                                        "@a.rather.long.domain."
                                        "example.org",
                                    "pop", "u", "p", ""});
    Load();
    form_->show();
    const QWidget* client = form_->findChild<QWidget*>("ClientArea");
    EXPECT_EQ(client->size(), QSize(5535 / form_->TwipsX(), 3870 / form_->TwipsY()));
    EXPECT_EQ(form_->minimumSize(), form_->maximumSize());
    EXPECT_EQ(form_->width(), client->width());

    for (const char* name :
         {"AddAcct", "DelAcct", "ModAcct", "LaunchButton", "CheckButton", "CheckStartMin"}) {
        const auto* control = form_->findChild<QAbstractButton*>(name);
        const int text = control->fontMetrics().horizontalAdvance(control->text().remove('&'));
        if (qobject_cast<const QCheckBox*>(control)) {
            EXPECT_LE(control->sizeHint().width(), control->width()) << name;
        } else {
            const int frame = control->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
            EXPECT_LE(text + 2 * frame, control->width()) << name;
        }
    }
    QHeaderView* header = List()->header();
    const int margin = 2 * List()->style()->pixelMetric(QStyle::PM_HeaderMargin);
    for (int column = 0; column < 2; ++column) {
        const QString text = List()->headerItem()->text(column);
        EXPECT_LE(header->fontMetrics().horizontalAdvance(text) + margin,
                  header->sectionSize(column))
            << text.toStdString();
    }
    for (const char* verdict : {"Bad Password", "Yes, 32767"})
        EXPECT_LE(List()->fontMetrics().horizontalAdvance(verdict), header->sectionSize(1));

    // More rows than fit: a vertical scroll bar, and still no horizontal one.
    EXPECT_TRUE(List()->verticalScrollBar()->isVisible());
    EXPECT_FALSE(List()->horizontalScrollBar()->isVisible());
    EXPECT_LE(header->length(), List()->viewport()->width());
}

// The row the commands act on is always the one the user sees selected.
TEST_F(PostlarkFormTest, ExactlyOneRowStaysSelectedWhileTheListHasRows) {
    StoreAccounts(4);
    Load();
    const auto selectedRows = [&] {
        QList<int> rows;
        for (QTreeWidgetItem* item : List()->selectedItems())
            rows << List()->indexOfTopLevelItem(item);
        return rows;
    };
    EXPECT_EQ(selectedRows(), QList<int>{0});

    // A refill keeps the selected account's row, or the last row when it has gone.
    List()->setCurrentItem(List()->topLevelItem(3));
    form_->ReDraw();
    EXPECT_EQ(selectedRows(), QList<int>{3});
    SettingsStore::SaveValue("NumAccts", "3");
    form_->ReDraw();
    EXPECT_EQ(selectedRows(), QList<int>{2});

    // The user cannot clear it: a click on the empty area or a Ctrl-click on the row.
    List()->setCurrentItem(List()->topLevelItem(1));
    form_->show();
    QWidget* area = List()->viewport();
    QTest::mouseClick(area, Qt::LeftButton, {}, QPoint(5, area->height() - 5));
    EXPECT_EQ(selectedRows(), QList<int>{1});
    const QPoint onRow = List()->visualItemRect(List()->topLevelItem(1)).center();
    QTest::mouseClick(area, Qt::LeftButton, Qt::ControlModifier, onRow);
    EXPECT_EQ(selectedRows(), QList<int>{1});
    List()->clearSelection();
    EXPECT_EQ(selectedRows(), QList<int>{1});

    // Delete acts on that row, not on the first.
    ScopedModalAnswerer yes([](const ModalQuestion&) { return ModalAnswer::Button(vbYes); });
    form_->DelAcct_Click();
    EXPECT_EQ(Rows(), QStringList({"user0@example.org", "user2@example.org"}));
    EXPECT_EQ(selectedRows(), QList<int>{1});
}

// Notes whether a modal dialog opened within the object's life, and closes it.
struct ModalWatch {
    ModalWatch() {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                opened = true;
                modal->close();
            }
        });
        timer.start(20);
    }
    QTimer timer;
    bool opened = false;
};

// Another running copy changed the accounts under this list: nothing is written, the list is
// reloaded and the user is told.
class StaleListTest : public PostlarkFormTest {
protected:
    void SetUp() override {
        PostlarkFormTest::SetUp();
        StoreAccounts(3);
        Load();
        List()->setCurrentItem(List()->topLevelItem(1)); // user1 as this copy shows it
        DeleteAccount(0, 3);                             // the other copy deletes user0
        ASSERT_EQ(Stored("EmailAddress1"), "user2@example.org");
        before_ = StoreFile();
    }
    void ExpectReloadedAndUnchanged() {
        EXPECT_EQ(StoreFile(), before_);
        EXPECT_EQ(Rows(), QStringList({"user1@example.org", "user2@example.org"}));
        ASSERT_FALSE(ModalQuestionsAsked().empty());
        EXPECT_EQ(ModalQuestionsAsked().back().prompt,
                  "The account list was changed by another copy of Postlark and has been "
                  "reloaded.");
        EXPECT_EQ(ModalQuestionsAsked().back().buttons, vbInformation);
    }
    QByteArray before_;
};

TEST_F(StaleListTest, DeleteDoesNotDeleteAnotherAccount) {
    ScopedModalAnswerer yes([](const ModalQuestion&) { return ModalAnswer::Button(vbYes); });
    form_->DelAcct_Click();
    ExpectReloadedAndUnchanged();
}

TEST_F(StaleListTest, ModifyAndPasswordChangeDoNotOverwriteAnotherAccount) {
    ScopedModalAnswerer ok([](const ModalQuestion&) { return ModalAnswer::Button(vbOK); });
    {
        ModAcctForm modify(form_.get(), *form_, form_->ApplicationKey());
        modify.LoadAccount(1);
        modify.findChild<QLineEdit*>("UserNameText")->setText("changed");
        modify.ModButton_Click();
        EXPECT_EQ(modify.result(), QDialog::Rejected);
        ExpectReloadedAndUnchanged();
    }
    DeleteAccount(0, 2); // and again, so the reloaded list is stale once more
    before_ = StoreFile();
    ModAcctForm modify(form_.get(), *form_, form_->ApplicationKey());
    modify.LoadAccount(1);
    // The row is compared before the password dialog opens; it never appears.
    const ModalWatch watch;
    modify.CommandChange_Click();
    EXPECT_FALSE(watch.opened);
    EXPECT_EQ(StoreFile(), before_);
    EXPECT_EQ(Rows(), QStringList({"user2@example.org"}));
    EXPECT_EQ(modify.result(), QDialog::Rejected);
}

TEST_F(StaleListTest, ModifyAndLaunchCompareTheRowBeforeOpeningAnything) {
    ScopedModalAnswerer ok([](const ModalQuestion&) { return ModalAnswer::Button(vbOK); });
    {
        const ModalWatch watch;
        form_->ModAcct_Click();
        EXPECT_FALSE(watch.opened) << "the Modify dialog opened on another account";
        ExpectReloadedAndUnchanged();
    }
    DeleteAccount(0, 2); // stale again: the selected second row names no stored account
    before_ = StoreFile();
    const std::size_t asked = ModalQuestionsAsked().size();
    form_->LaunchButton_Click();
    ASSERT_EQ(ModalQuestionsAsked().size(), asked + 1) << "only the reload is told";
    EXPECT_EQ(ModalQuestionsAsked().back().prompt,
              "The account list was changed by another copy of Postlark and has been reloaded.");
    EXPECT_EQ(Rows(), QStringList({"user2@example.org"}));
}

// A copy started beside a running one holds the instance lock too, so a later start still
// asks even after the first copy has ended.
TEST_F(PostlarkFormTest, ACopyStartedBesideAnotherKeepsTheQuestionComing) {
    auto first = std::make_unique<SingleInstance>();
    ASSERT_FALSE(first->AnotherCopyRunning());
    ScopedModalAnswerer yes([](const ModalQuestion&) { return ModalAnswer::Button(vbYes); });
    Load();
    ASSERT_EQ(ModalQuestionsAsked().size(), 1u);
    first.reset();
    SingleInstance later;
    EXPECT_TRUE(later.AnotherCopyRunning());
    form_.reset();
    SingleInstance afterAll;
    EXPECT_FALSE(afterAll.AnotherCopyRunning());
}

} // namespace
} // namespace postlark
