// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog on the real main window: the menu opens it modally, and OK and Apply
// change the running window at once (progress bar, automatic checking).
#include "app/PostlarkForm.h"
#include "dialogs/SettingsForm.h"
#include "platform/net/WinInet.h"
#include "platform/shell/ShellNotify.h"
#include "platform/window/ModalAnswerer.h"
#include "platform/window/MsgBox.h"
#include "store/AccountRecord.h"
#include "store/ApplicationKey.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"
#include "support/ScriptedServer.h"
#include "support/TestEnvironment.h"
#include "winsupport/ProgressBar.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

namespace postlark {
namespace {

using test::ScriptedServer;

class SettingsDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        win::SetNotificationAreaOverride(true);
        // A steady connection: no reconnection counts as a reason to check.
        win::SetConnectedStateSource([](win::DWORD* flags) {
            *flags = 2;
            return win::BOOL(1);
        });
    }
    void TearDown() override {
        form_.reset();
        win::SetConnectedStateSource({});
        win::SetNotificationAreaOverride(std::nullopt);
    }
    PostlarkForm& Load() {
        form_ = std::make_unique<PostlarkForm>(QStringList{});
        EXPECT_TRUE(form_->Form_Load());
        return *form_;
    }
    // Opens the dialog from the menu and runs `use` on it while it is shown modally.
    void WithDialog(const std::function<void(SettingsForm&)>& use) {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<SettingsForm*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr) << "the settings dialog is not shown modally";
            seen = true;
            EXPECT_EQ(dialog->parentWidget(), form_.get());
            use(*dialog);
            if (dialog->isVisible())
                dialog->findChild<QPushButton*>("cmdCancel")->click();
        });
        QAction* entry = form_->findChild<QAction*>("menu_Settings");
        ASSERT_TRUE(entry->isEnabled());
        entry->trigger();
        EXPECT_TRUE(seen);
    }
    static void Click(SettingsForm& dialog, const char* name) {
        dialog.findChild<QAbstractButton*>(name)->click();
    }

    test::TestEnvironment env_;
    std::unique_ptr<PostlarkForm> form_;
};

TEST_F(SettingsDialogTest, ApplyShowsHidesAndRestylesTheProgressBarAtOnce) {
    Load();
    ProgressBar& bar = form_->ProgressBar1();
    ASSERT_TRUE(bar.isVisible());
    WithDialog([&](SettingsForm& dialog) {
        Click(dialog, "CheckProgress");
        Click(dialog, "cmdApply");
        EXPECT_FALSE(bar.isVisible());
        EXPECT_TRUE(dialog.isVisible());
        Click(dialog, "CheckProgress");
        Click(dialog, "OptionSmooth");
        Click(dialog, "cmdOK");
        EXPECT_FALSE(dialog.isVisible());
    });
    EXPECT_TRUE(bar.isVisible());
    EXPECT_TRUE(bar.Smooth());
    EXPECT_EQ(SettingsStore::GetValue("ProgressStyle", ""), "Smooth");
}

TEST_F(SettingsDialogTest, SwitchedOnWithFiveMinutesTheFirstCheckComesAtTheSixthTick) {
    ScriptedServer server(ScriptedServer::Script()
                              .send("+OK ready\r\n")
                              .sendAfterLine("+OK\r\n")
                              .sendAfterLine("+OK logged in\r\n")
                              .sendAfterLine("+OK 0 0\r\n")
                              .sendAfterLine("+OK bye\r\n")
                              .closeConnection());
    std::string key = BuildApplicationKey();
    AddAccount(0, AccountRecord{"ann@example.org",
                                QStringLiteral("127.0.0.1:%1").arg(server.port()).toStdString(),
                                "ann", PassCryptModule::EncryptText("pw", key), ""});
    Load();
    ASSERT_FALSE(form_->TimerCheckEnabled());
    WithDialog([&](SettingsForm& dialog) {
        Click(dialog, "AutoCheck");
        dialog.findChild<QLineEdit*>("TextInterval")->setText("5");
        Click(dialog, "cmdApply");
    });
    EXPECT_TRUE(form_->TimerCheckEnabled());
    EXPECT_EQ(form_->UpdateIntervalMins, 5);
    // A tick leaves the press of the check button for after its own return.
    const auto tick = [&] {
        form_->TimerCheck_Timer();
        QCoreApplication::sendPostedEvents(form_.get(), QEvent::MetaCall);
    };
    for (int n = 1; n <= 5; ++n) {
        tick();
        EXPECT_EQ(server.connectionCount(), 0) << "tick " << n;
    }
    tick();
    EXPECT_EQ(server.connectionCount(), 1) << "the sixth tick checks";
    EXPECT_EQ(form_->UpdateIntervalMins, 5);

    // Switched off, the timer stops; an empty or 0 interval arms 1 minute or every minute.
    WithDialog([&](SettingsForm& dialog) {
        Click(dialog, "AutoCheck");
        Click(dialog, "cmdOK");
    });
    EXPECT_FALSE(form_->TimerCheckEnabled());
    for (const auto& [typed, countdown] : {std::pair{"", 1}, std::pair{"0", 0}}) {
        WithDialog([&](SettingsForm& dialog) {
            Click(dialog, "AutoCheck");
            dialog.findChild<QLineEdit*>("TextInterval")->setText(typed);
            Click(dialog, "cmdOK");
        });
        EXPECT_TRUE(form_->TimerCheckEnabled());
        EXPECT_EQ(form_->UpdateIntervalMins, countdown) << '"' << typed << '"';
        EXPECT_EQ(SettingsStore::GetValue("AutoCheckValue", "x"), typed);
        WithDialog([&](SettingsForm& dialog) {
            Click(dialog, "AutoCheck");
            Click(dialog, "cmdOK");
        });
    }
}

} // namespace
} // namespace postlark
