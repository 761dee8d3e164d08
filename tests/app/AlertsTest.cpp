// SPDX-License-Identifier: GPL-3.0-or-later
// The new-mail alerts after a check run in which every account has mail, the flashing icon
// and its dismissal, and the launcher.
#include "app/PostlarkForm.h"
#include "platform/shell/ShellNotify.h"
#include "platform/window/ModalAnswerer.h"
#include "platform/window/MsgBox.h"
#include "platform/window/WindowLayer.h"
#include "store/AccountRecord.h"
#include "store/ApplicationKey.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"
#include "support/ScriptedServer.h"
#include "support/TestEnvironment.h"
#include "winsupport/CSystrayIcon.h"
#include "winsupport/TrayBadge.h"

#include <QAction>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <memory>

namespace postlark {
namespace {

using test::ScriptedServer;

const QString kMailTip = "You have new mail waiting!  (Left click to dismiss this icon.)";

// A server with one message for whoever logs in.
ScriptedServer::Script OneMessage() {
    return ScriptedServer::Script()
        .send("+OK\r\n")
        .sendAfterLine("+OK\r\n")
        .sendAfterLine("+OK\r\n")
        .sendAfterLine("+OK 1 100\r\n")
        .sendAfterLine("+OK\r\n")
        .closeConnection();
}

ScriptedServer::Script NoMail() {
    return ScriptedServer::Script()
        .send("+OK\r\n")
        .sendAfterLine("+OK\r\n")
        .sendAfterLine("+OK\r\n")
        .sendAfterLine("+OK 0 0\r\n")
        .sendAfterLine("+OK\r\n")
        .closeConnection();
}

// Whether the picture behind an icon handle carries the badge for `count` (its red just inside
// the outline, at the tray's 22 pixels).
bool HasBadge(win::HICON icon, int count) {
    const QImage picture = win::IconFromHandle(icon).pixmap(22, 22).toImage();
    const QRect badge = TrayBadgeRect(22, TrayBadgeText(count));
    return picture.pixelColor(badge.topLeft() + QPoint(1, 1)) == QColor(0xd0, 0x1f, 0x1f);
}

void Sleep(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

class AlertsTest : public ::testing::Test {
protected:
    void SetUp() override {
        win::SetNotificationAreaOverride(true);
        SettingsStore::SaveValue("AlertMsg", "0");
    }
    void TearDown() override {
        form_.reset();
        win::SetNotificationAreaOverride(std::nullopt);
    }
    // Stores accounts on the mail server, with the given programs.
    void StoreAccounts(const QStringList& programs) {
        std::string key = BuildApplicationKey();
        for (int i = 0; i < programs.size(); ++i)
            AddAccount(i, AccountRecord{"a" + std::to_string(i) + "@example.org",
                                        "127.0.0.1:" + std::to_string(server_.port()), "u",
                                        PassCryptModule::EncryptText("pw", key),
                                        programs[i].toStdString()});
    }
    PostlarkForm& Load() {
        form_ = std::make_unique<PostlarkForm>(QStringList{});
        EXPECT_TRUE(form_->Form_Load());
        return *form_;
    }
    std::vector<ModalQuestion> Check() {
        ScopedModalAnswerer ok([](const ModalQuestion&) { return ModalAnswer::Button(vbOK); });
        form_->CheckButton_Click();
        return ModalQuestionsAsked();
    }
    // A program that appends a line to a marker file each time it runs.
    QString MarkerProgram() {
        const QString path = env_.path() + "/launch.sh";
        QFile script(path);
        script.open(QIODevice::WriteOnly);
        script.write(("#!/bin/sh\necho run >> '" + Marker() + "'\n").toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
    QString Marker() { return env_.path() + "/marker"; }
    QTimer* Flash() { return form_->findChild<QTimer*>("TimerFlash"); }
    QAction* ShowEntry() { return form_->findChild<QAction*>("menu_Show"); }

    test::TestEnvironment env_;
    ScriptedServer server_{OneMessage()};
    std::unique_ptr<PostlarkForm> form_;
};

TEST_F(AlertsTest, AProgramSharedByTwoAccountsIsLaunchedOnce) {
    SettingsStore::SaveValue("AlertLaunch", "1");
    const QString program = MarkerProgram();
    StoreAccounts({program, program, ""});
    Load();
    EXPECT_TRUE(Check().empty());
    for (int i = 0; i < 100 && !QFile::exists(Marker()); ++i)
        Sleep(20);
    Sleep(300); // time for a second launch to show up, if there were one
    QFile marker(Marker());
    ASSERT_TRUE(marker.open(QIODevice::ReadOnly));
    EXPECT_EQ(marker.readAll(), "run\n");
}

TEST_F(AlertsTest, AFailedLaunchIsExplainedAndTheOtherAlertsStillRun) {
    SettingsStore::SaveValue("AlertLaunch", "1");
    SettingsStore::SaveValue("AlertMsg", "1");
    const QString missing = env_.path() + "/no-such-program";
    StoreAccounts({missing});
    Load();
    const auto asked = Check();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].prompt, "The specified file was not found.  File: " + missing);
    EXPECT_EQ(asked[0].buttons, vbOKOnly);
    EXPECT_EQ(asked[0].title, "Postlark");
    EXPECT_EQ(asked[1].title, "Mail Notification - Postlark");
    EXPECT_TRUE(
        form_->findChild<QStatusBar*>("StatusBar")->currentMessage().endsWith(", new messages."));
}

TEST_F(AlertsTest, AlertFlagsThatDoNotReadAsOneRaiseNothing) {
    for (const char* key : {"AlertMsg", "AlertLaunch", "AlertTray", "AlertPopUp"})
        SettingsStore::SaveValue(key, "2");
    SettingsStore::SaveValue("AlertSound", "1.4");
    StoreAccounts({MarkerProgram()});
    Load();
    EXPECT_TRUE(Check().empty());
    EXPECT_FALSE(Flash()->isActive());
    EXPECT_FALSE(form_->SysIcon().Visible());
    Sleep(300);
    EXPECT_FALSE(QFile::exists(Marker()));
}

TEST_F(AlertsTest, MessageAlertHoldingTextThatIsNoNumberShowsNoMessage) {
    StoreAccounts({""});
    for (const char* text : {"abc", "true", ""}) {
        SCOPED_TRACE(text);
        SettingsStore::SaveValue("AlertMsg", text);
        Load();
        EXPECT_TRUE(Check().empty());
        EXPECT_TRUE(form_->findChild<QStatusBar*>("StatusBar")
                        ->currentMessage()
                        .endsWith(", new messages."));
    }
}

TEST_F(AlertsTest, TrayAlertWhileHiddenReusesTheIconWithTheMailTip) {
    SettingsStore::SaveValue("AlertTray", "1");
    SettingsStore::SaveValue("StartMinimized", "1");
    StoreAccounts({""});
    Load();
    ASSERT_TRUE(form_->SysIcon().Visible());
    win::SetShellNotifyLogging(true);
    Check();
    for (const auto& call : win::ShellNotifyLog())
        EXPECT_NE(call.message, win::NIM_ADD);
    win::SetShellNotifyLogging(false);
    EXPECT_EQ(form_->SysIcon().TipText(), kMailTip);
    EXPECT_TRUE(Flash()->isActive());

    // Each tick shows the other envelope frame.
    const auto still = form_->SysIcon().IconHandle();
    form_->TimerFlash_Timer();
    const auto first = form_->SysIcon().IconHandle();
    form_->TimerFlash_Timer();
    const auto second = form_->SysIcon().IconHandle();
    form_->TimerFlash_Timer();
    EXPECT_NE(first, still);
    EXPECT_NE(second, still);
    EXPECT_NE(first, second);
    EXPECT_EQ(form_->SysIcon().IconHandle(), first);
}

TEST_F(AlertsTest, PopUpWhileHiddenShowsTheWindow) {
    SettingsStore::SaveValue("AlertPopUp", "1");
    SettingsStore::SaveValue("StartMinimized", "1");
    StoreAccounts({""});
    Load();
    ASSERT_FALSE(form_->isVisible());
    Check();
    EXPECT_TRUE(form_->isVisible());
    EXPECT_FALSE(form_->SysIcon().Visible());
    EXPECT_TRUE(ShowEntry()->isChecked());
}

TEST_F(AlertsTest, LeftClickOnTheFlashingIconDismissesTheAlert) {
    SettingsStore::SaveValue("AlertTray", "1");
    StoreAccounts({""});
    Load();
    Check();
    ASSERT_TRUE(form_->SysIcon().Visible());
    ASSERT_TRUE(Flash()->isActive());

    // The tray's left press arrives as a mouse move at X = 513 pixels.
    win::SendMessageA(form_->Handle(), 512, 1, 513);
    EXPECT_FALSE(Flash()->isActive());
    EXPECT_EQ(form_->SysIcon().TipText(), "Postlark 1.5");
    EXPECT_FALSE(form_->SysIcon().Visible()); // the window is shown, so the icon goes
    EXPECT_TRUE(form_->isVisible());
}

TEST_F(AlertsTest, BothFlashFramesCarryTheCountUntilALeftClickDismissesIt) {
    SettingsStore::SaveValue("AlertTray", "1");
    SettingsStore::SaveValue("StartMinimized", "1");
    StoreAccounts({"", ""}); // one message each
    Load();
    const auto plain = form_->SysIcon().IconHandle();
    Check();
    EXPECT_EQ(form_->NewMailCount(), 2);
    form_->TimerFlash_Timer();
    const auto first = form_->SysIcon().IconHandle();
    form_->TimerFlash_Timer();
    const auto second = form_->SysIcon().IconHandle();
    EXPECT_NE(first, second);
    EXPECT_TRUE(HasBadge(first, 2));
    EXPECT_TRUE(HasBadge(second, 2));
    EXPECT_EQ(form_->SysIcon().TipText(), kMailTip);

    win::SendMessageA(form_->Handle(), 512, 1, 513);
    EXPECT_EQ(form_->NewMailCount(), 0);
    EXPECT_EQ(form_->SysIcon().IconHandle(), plain);
    EXPECT_TRUE(form_->SysIcon().Visible()); // hidden window: the icon stays, plain
}

TEST_F(AlertsTest, WithoutFlashingTheStillPictureCarriesTheCountUntilARunFindsNone) {
    SettingsStore::SaveValue("StartMinimized", "1");
    StoreAccounts({""});
    Load();
    const auto plain = form_->SysIcon().IconHandle();
    Check();
    EXPECT_FALSE(Flash()->isActive());
    EXPECT_TRUE(HasBadge(form_->SysIcon().IconHandle(), 1));
    // The tip says the count in words: what a screen reader reads of the icon.
    EXPECT_EQ(form_->SysIcon().TipText(), "Postlark \u2014 1 new: a0@\u2026 1");

    server_.setScript(NoMail());
    Check();
    EXPECT_EQ(form_->NewMailCount(), 0);
    EXPECT_EQ(form_->SysIcon().IconHandle(), plain);
    EXPECT_EQ(form_->SysIcon().TipText(), "Postlark 1.5");
}

TEST_F(AlertsTest, WithTrayCountOffTheIconStaysAsSpecified) {
    SettingsStore::SaveValue("TrayCount", "0");
    SettingsStore::SaveValue("AlertTray", "1");
    SettingsStore::SaveValue("StartMinimized", "1");
    StoreAccounts({""});
    Load();
    Check();
    EXPECT_EQ(form_->NewMailCount(), 0);
    form_->TimerFlash_Timer();
    EXPECT_FALSE(HasBadge(form_->SysIcon().IconHandle(), 1));
}

TEST_F(AlertsTest, WithoutANotificationAreaTheTrayAlertStartsNoTimer) {
    win::SetNotificationAreaOverride(false);
    SettingsStore::SaveValue("AlertTray", "1");
    StoreAccounts({""});
    Load();
    Check();
    EXPECT_FALSE(Flash()->isActive());
    EXPECT_FALSE(form_->SysIcon().Visible());
}

TEST_F(AlertsTest, LaunchButtonExplainsAMissingProgram) {
    StoreAccounts({"", env_.path() + "/nowhere/prog", "www.example.invalid;x y"});
    Load();
    auto* list = form_->findChild<QTreeWidget*>("AccountList");
    ScopedModalAnswerer ok([](const ModalQuestion&) { return ModalAnswer::Button(vbOK); });
    form_->LaunchButton_Click(); // first row: no program
    list->setCurrentItem(list->topLevelItem(1));
    form_->LaunchButton_Click();
    list->setCurrentItem(list->topLevelItem(2));
    form_->LaunchButton_Click();
    const auto& asked = ModalQuestionsAsked();
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].prompt, "This email account does not have a program associated with it.");
    EXPECT_EQ(asked[0].buttons, vbInformation);
    EXPECT_EQ(asked[1].prompt,
              "The specified path was not found.  File: " + env_.path() + "/nowhere/prog");
    EXPECT_EQ(asked[2].prompt, "The specified file was not found.  File: www.example.invalid;x y");
}

} // namespace
} // namespace postlark
