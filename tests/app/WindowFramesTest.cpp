// SPDX-License-Identifier: GPL-3.0-or-later
// Windows of a fixed size offer nothing to enlarge them: the dialogs have a title and a close
// box only, the main window a minimize box (it hides to the tray) but no maximize box, and
// none of them can be resized.
#include "app/AddAcctForm.h"
#include "app/ModAcctForm.h"
#include "app/ModPassForm.h"
#include "app/PostlarkForm.h"
#include "dialogs/AboutForm.h"
#include "dialogs/SettingsForm.h"
#include "dialogs/UpdateForm.h"
#include "platform/shell/ShellNotify.h"
#include "store/ApplicationKey.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QDialog>
#include <gtest/gtest.h>
#include <memory>

namespace postlark {
namespace {

void ExpectFixedSize(QWidget& window) {
    window.show();
    QApplication::processEvents();
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "resizable";
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint) << "maximize box";
}

TEST(WindowFramesTest, FixedSizeWindowsOfferNoMaximizeAndDialogsNoMinimize) {
    win::SetNotificationAreaOverride(true);
    test::TestEnvironment env;
    PostlarkForm form{QStringList{}};
    ASSERT_TRUE(form.Form_Load());
    ExpectFixedSize(form);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);

    const std::string key = BuildApplicationKey();
    std::vector<std::unique_ptr<QDialog>> dialogs;
    dialogs.push_back(std::make_unique<AddAcctForm>(&form, form, key));
    dialogs.push_back(std::make_unique<ModAcctForm>(&form, form, key));
    dialogs.push_back(std::make_unique<ModPassForm>(&form, key));
    dialogs.push_back(std::make_unique<SettingsForm>(form, &form));
    dialogs.push_back(std::make_unique<AboutForm>(&form, [] {}));
    dialogs.push_back(std::make_unique<UpdateForm>(&form));
    for (const auto& dialog : dialogs) {
        SCOPED_TRACE(dialog->objectName().toStdString());
        ExpectFixedSize(*dialog);
        EXPECT_FALSE(dialog->windowFlags() & Qt::WindowMinimizeButtonHint) << "minimize box";
        dialog->close();
    }
    form.close();
    win::SetNotificationAreaOverride(std::nullopt);
}

} // namespace
} // namespace postlark
