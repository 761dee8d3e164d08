// SPDX-License-Identifier: GPL-3.0-or-later
// Notification-area icons over Qt tray icons, headless with the notification area pretended.
#include "platform/shell/ShellNotify.h"
#include "platform/window/WindowLayer.h"
#include "platform/window/WindowMessageLog.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

using namespace postlark::win;

namespace {

class ShellNotify : public ::testing::Test {
protected:
    void SetUp() override {
        QLoggingCategory::setFilterRules("qt.core.qobject.connect=false");
        SetNotificationAreaOverride(true);
        window = std::make_unique<QWidget>();
        record.cbSize = NOTIFYICONDATA_V1_SIZE;
        record.hWnd = RegisterWindow(window.get());
        record.uID = 7;
    }
    void TearDown() override {
        Shell_NotifyIconA(NIM_DELETE, &record);
        SetMessageLogging(false);
        SetNotificationAreaOverride(std::nullopt);
        QLoggingCategory::setFilterRules(QString());
    }

    QSystemTrayIcon* tray() const { return NotifyIconObject(record.hWnd, record.uID); }

    std::unique_ptr<QWidget> window;
    NOTIFYICONDATA record;
};

} // namespace

TEST_F(ShellNotify, RefusedCallsSayWhy) {
    EXPECT_EQ(Shell_NotifyIconA(NIM_MODIFY, &record), FALSE_);
    EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);
    EXPECT_EQ(Shell_NotifyIconA(NIM_DELETE, &record), FALSE_);
    EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);
    EXPECT_EQ(Shell_NotifyIconA(NIM_ADD, nullptr), FALSE_);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    ASSERT_EQ(Shell_NotifyIconA(NIM_ADD, &record), TRUE_);
    EXPECT_EQ(Shell_NotifyIconA(NIM_ADD, &record), FALSE_);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(Shell_NotifyIconA(3, &record), FALSE_);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(ShellNotify, OnlyFlaggedFieldsAreTaken) {
    record.uFlags = NIF_TIP;
    record.szTip = "first";
    record.uCallbackMessage = WM_USER;
    ASSERT_EQ(Shell_NotifyIconA(NIM_ADD, &record), TRUE_);
    EXPECT_EQ(tray()->toolTip(), "first");
    EXPECT_FALSE(tray()->icon().isNull()); // an empty picture, so there is something to show

    // No callback message was given, so clicks reach nobody until one is.
    SetMessageLogging(true);
    emit tray()->activated(QSystemTrayIcon::Context);
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(MessagesSentTo(record.hWnd).empty());

    record.uFlags = NIF_MESSAGE;
    record.szTip = "ignored";
    ASSERT_EQ(Shell_NotifyIconA(NIM_MODIFY, &record), TRUE_);
    EXPECT_EQ(tray()->toolTip(), "first");
    emit tray()->activated(QSystemTrayIcon::Context);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(MessagesSentTo(record.hWnd),
              (std::vector{LoggedMessage{record.hWnd, WM_USER, 7, WM_RBUTTONUP}}));
}

TEST_F(ShellNotify, TipEndsAtNulAndNeverSplitsACharacter) {
    EXPECT_EQ(NotifyIconTip(QString("abc") + QChar(0) + "def"), "abc");
    const QString clef = QString::fromUtf8("\xF0\x9D\x84\x9E"); // two UTF-16 units
    EXPECT_EQ(NotifyIconTip(QString(62, 'a') + clef), QString(62, 'a'));
    EXPECT_EQ(NotifyIconTip(QString(61, 'a') + clef), QString(61, 'a') + clef);
}

TEST_F(ShellNotify, IconGoesWithItsWindowAndKeepsItsPicture) {
    QPixmap red(16, 16);
    red.fill(Qt::red);
    const HICON picture = RegisterIcon(QIcon(red));
    record.uFlags = NIF_ICON;
    record.hIcon = picture;
    ASSERT_EQ(Shell_NotifyIconA(NIM_ADD, &record), TRUE_);
    const auto key = tray()->icon().cacheKey();

    // The shell holds its own copy of the picture.
    EXPECT_EQ(DestroyIcon(picture), TRUE_);
    EXPECT_TRUE(IconFromHandle(picture).isNull());
    EXPECT_EQ(tray()->icon().cacheKey(), key);

    window.reset();
    EXPECT_EQ(tray(), nullptr);
}
