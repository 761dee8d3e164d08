// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's system menu and system commands, headless: the About item, minimize to
// the tray (or an ordinary minimize without a notification area), and the Help menu's About
// and updates commands. The real window-manager test covers the system menu's other commands.
#include "platform/window/SystemMenu.h"
#include "app/PostlarkForm.h"
#include "platform/shell/ShellNotify.h"
#include "platform/window/WindowLayer.h"
#include "support/TestEnvironment.h"
#include "winsupport/CSystrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace postlark {
namespace {

// Runs `action` on the next modal dialog other than `except` to appear, from inside its own
// modal loop; closes whatever is left open after five seconds so a test cannot hang.
void WhenModal(std::function<void(QWidget*)> action, QWidget* except = nullptr) {
    auto* timer = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != except) {
            timer->stop();
            timer->deleteLater();
            action(modal);
            QTimer::singleShot(5000, [guard = QPointer<QWidget>(modal)] {
                if (guard && guard->isVisible()) {
                    ADD_FAILURE() << "the dialog stayed open";
                    guard->close();
                }
            });
        } else if (clock->elapsed() > 5000) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "the expected dialog did not appear";
        }
    });
    timer->start(10);
}

void ClickLink(QWidget* dialog, const char* name) {
    QWidget* link = dialog->findChild<QWidget*>(name);
    ASSERT_NE(link, nullptr) << name;
    const QPointF at(2, 2);
    QMouseEvent press(QEvent::MouseButtonPress, at, link->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, link->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(link, &press);
    QApplication::sendEvent(link, &release);
}

class SystemMenuTest : public ::testing::Test {
protected:
    void SetUp() override { win::SetNotificationAreaOverride(true); }
    void TearDown() override {
        form_.reset();
        win::SetNotificationAreaOverride(std::nullopt);
    }
    PostlarkForm& Load() {
        form_ = std::make_unique<PostlarkForm>(QStringList{});
        EXPECT_TRUE(form_->Form_Load());
        return *form_;
    }
    win::LRESULT SysCommand(win::WPARAM command) {
        return win::SendMessageA(form_->Handle(), win::WM_SYSCOMMAND, command, 0);
    }
    QAction* Entry(const char* name) { return form_->findChild<QAction*>(name); }

    test::TestEnvironment env_;
    std::unique_ptr<PostlarkForm> form_;
};

TEST_F(SystemMenuTest, MinimizeHidesTheWindowToTheTrayUntilUnload) {
    Load();
    const auto items = win::SystemMenuItems(form_->Handle());
    ASSERT_GE(items.size(), 2u);
    EXPECT_EQ(items[items.size() - 2].flags, win::MF_SEPARATOR);
    EXPECT_EQ(items.back().flags, win::MF_STRING);
    EXPECT_EQ(items.back().id, 1u);
    EXPECT_EQ(items.back().text, "&About Postlark...");

    EXPECT_EQ(SysCommand(win::SC_MINIMIZE), 0);
    EXPECT_FALSE(form_->isVisible());
    EXPECT_FALSE(form_->isMinimized());
    EXPECT_TRUE(form_->SysIcon().Visible());
    EXPECT_FALSE(Entry("menu_Show")->isChecked());

    // Unloading removes the interception: the window's own procedure is back.
    const win::HWND hWnd = form_->Handle();
    form_->close();
    EXPECT_EQ(win::GetPropA(hWnd, ("C" + std::to_string(hWnd)).c_str()), 0);
    EXPECT_EQ(win::GetWindowLongA(hWnd, win::GWL_WNDPROC),
              reinterpret_cast<win::LONG_PTR>(&win::DefWindowProcA));
}

TEST_F(SystemMenuTest, WithoutANotificationAreaMinimizeIsAnOrdinaryMinimize) {
    win::SetNotificationAreaOverride(false);
    Load();
    SysCommand(win::SC_MINIMIZE);
    EXPECT_TRUE(form_->isVisible());
    EXPECT_TRUE(form_->isMinimized());
    EXPECT_FALSE(form_->SysIcon().Visible());
    EXPECT_TRUE(Entry("menu_Show")->isChecked());
}

TEST_F(SystemMenuTest, HelpMenuOpensAboutAndTheAboutLinkOpensUpdatesOwnedByTheWindow) {
    Load();
    for (const char* name : {"menu_About", "menu_Updates"})
        EXPECT_TRUE(Entry(name)->isEnabled()) << name;

    QStringList opened;
    QWidget* updatesOwner = nullptr;
    WhenModal([&](QWidget* about) {
        opened << about->objectName();
        WhenModal(
            [&](QWidget* updates) {
                opened << updates->objectName();
                updatesOwner = updates->parentWidget();
                updates->findChild<QPushButton*>("CommandClose")->click();
            },
            about);
        ClickLink(about, "UpdateCI"); // returns once the Updates dialog has closed
        opened << "back";
        about->findChild<QPushButton*>("cmdOK")->click();
    });
    Entry("menu_About")->trigger();
    EXPECT_EQ(opened, (QStringList{"AboutForm", "UpdateForm", "back"}));
    EXPECT_EQ(updatesOwner, form_.get());

    WhenModal([&](QWidget* updates) {
        opened << updates->objectName();
        updates->close(); // the close box
    });
    Entry("menu_Updates")->trigger();
    EXPECT_EQ(opened.last(), "UpdateForm");
}

} // namespace
} // namespace postlark
