// SPDX-License-Identifier: GPL-3.0-or-later
// The Updates dialog, headless: opening the update page from a modal showing, and closing.
#include "dialogs/UpdateForm.h"
#include "platform/shell/ShellExecute.h"
#include "platform/window/ModalAnswerer.h"
#include "platform/window/MsgBox.h"
#include "platform/window/WindowLayer.h"
#include "support/TestEnvironment.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace postlark {
namespace {

class UpdateFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A stand-in opener is all PATH holds, so no browser starts.
        ASSERT_TRUE(QDir(env_.path()).mkpath("bin"));
        QFile opener(env_.path() + "/bin/xdg-open");
        ASSERT_TRUE(opener.open(QIODevice::WriteOnly));
        opener.write("#!/bin/sh\nexit 0\n");
        opener.close();
        opener.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        oldPath_ = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(env_.path() + "/bin"));
        win::SetShellExecuteLogging(true);
    }
    void TearDown() override {
        win::SetShellExecuteLogging(false);
        qputenv("PATH", oldPath_);
    }

    test::TestEnvironment env_;
    QByteArray oldPath_;
};

TEST_F(UpdateFormTest, CheckOpensThePageEachTimeAndCloseEndsTheDialog) {
    UpdateForm form(nullptr);
    EXPECT_EQ(form.findChild<QPushButton*>("CommandCheck")->toolTip(),
              "https://postlark.org/download/");
    bool openAfterChecks = false;
    QTimer::singleShot(0, &form, [&] {
        auto* check = form.findChild<QPushButton*>("CommandCheck");
        check->click();
        check->click();
        openAfterChecks = form.isVisible();
        form.findChild<QPushButton*>("CommandClose")->click();
    });
    // A Close that did nothing must not hang the test.
    QTimer::singleShot(5000, &form, [&] { form.done(-1); });
    EXPECT_EQ(form.exec(), QDialog::Accepted);
    EXPECT_TRUE(openAfterChecks);
    EXPECT_FALSE(form.isVisible());

    const auto& calls = win::ShellExecuteLog();
    ASSERT_EQ(calls.size(), 2u);
    for (const auto& call : calls) {
        EXPECT_EQ(call.hwnd, win::RegisterWindow(&form));
        EXPECT_EQ(call.operation, "open");
        EXPECT_EQ(call.file, "https://postlark.org/download/");
        EXPECT_EQ(call.showCmd, 1);
        EXPECT_GT(call.result, 32);
    }
}

// With nothing to open the page, the dialog says where the page is.
TEST_F(UpdateFormTest, WithoutABrowserTheAddressIsShown) {
    ASSERT_TRUE(QFile::remove(env_.path() + "/bin/xdg-open"));
    UpdateForm form(nullptr);
    ScopedModalAnswerer ok([](const ModalQuestion&) { return ModalAnswer::Button(vbOK); });
    form.findChild<QPushButton*>("CommandCheck")->click();
    ASSERT_FALSE(ModalQuestionsAsked().empty());
    EXPECT_EQ(ModalQuestionsAsked().back().prompt,
              "No web browser could be opened. The update page is https://postlark.org/download/");
}

} // namespace
} // namespace postlark
