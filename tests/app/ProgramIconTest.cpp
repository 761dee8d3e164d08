// SPDX-License-Identifier: GPL-3.0-or-later
// Every window of the program carries the program icon, also those that have no owner to take
// it from: the tray icon's menu and message boxes shown while the main window is hidden.
#include "app/PostlarkForm.h"
#include "platform/shell/ShellNotify.h"
#include "support/TestEnvironment.h"

#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <gtest/gtest.h>

namespace postlark {
namespace {

QImage Picture(const QIcon& icon) {
    return icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
}

TEST(ProgramIcon, WindowsWithoutOwnerShowTheProgramIcon) {
    test::TestEnvironment env;
    win::SetNotificationAreaOverride(true);
    {
        PostlarkForm form({"/registrystart"});
        ASSERT_TRUE(form.Form_Load());
        ASSERT_FALSE(form.isVisible());

        const QImage program = Picture(QIcon(":/icons/postlark.svg"));
        ASSERT_FALSE(program.isNull());
        EXPECT_EQ(Picture(form.windowIcon()), program);

        QMessageBox box; // a message while the window is hidden has no owner
        EXPECT_EQ(Picture(box.windowIcon()), program);
        auto* trayMenu = form.findChild<QMenu*>("menu_File");
        ASSERT_NE(trayMenu, nullptr);
        EXPECT_EQ(Picture(trayMenu->windowIcon()), program);
    }
    win::SetNotificationAreaOverride(std::nullopt);
}

} // namespace
} // namespace postlark
