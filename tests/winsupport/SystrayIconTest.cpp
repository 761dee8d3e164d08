// SPDX-License-Identifier: GPL-3.0-or-later
// The tray icon object over the shell's notification icons, headless: the notification area is
// pretended present (or absent) and every shell call is logged.
#include "platform/shell/ShellNotify.h"
#include "platform/window/WindowLayer.h"
#include "platform/window/WindowMessageLog.h"
#include "winsupport/CSystrayIcon.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

using namespace postlark;
using namespace postlark::win;

namespace {

QIcon Colour(Qt::GlobalColor colour) {
    QPixmap picture(16, 16);
    picture.fill(colour);
    return QIcon(picture);
}

class SystrayIcon : public ::testing::Test {
protected:
    void SetUp() override {
        // Without a real tray, Qt's tray code complains about the headless platform.
        QLoggingCategory::setFilterRules("qt.core.qobject.connect=false");
        SetNotificationAreaOverride(true);
        hWnd = RegisterWindow(&window);
        plain = RegisterIcon(Colour(Qt::blue));
        mail = RegisterIcon(Colour(Qt::red));
        icon = std::make_unique<CSystrayIcon>();
        icon->Initialize(hWnd, plain, "Postlark 1.5", WM_MOUSEMOVE);
        SetShellNotifyLogging(true);
    }
    void TearDown() override {
        icon.reset();
        SetShellNotifyLogging(false);
        SetMessageLogging(false);
        SetNotificationAreaOverride(std::nullopt);
        QLoggingCategory::setFilterRules(QString());
    }

    QSystemTrayIcon* shown() const { return NotifyIconObject(hWnd, 1); }
    const std::vector<ShellNotifyCall>& calls() const { return ShellNotifyLog(); }

    QWidget window;
    HWND hWnd = 0;
    HICON plain = 0, mail = 0;
    std::unique_ptr<CSystrayIcon> icon;
};

} // namespace

TEST_F(SystrayIcon, ShowTwiceAddsOneIcon) {
    EXPECT_TRUE(icon->ShowIcon());
    EXPECT_FALSE(icon->ShowIcon());
    EXPECT_TRUE(icon->Visible());
    ASSERT_EQ(calls().size(), 1u);
    EXPECT_EQ(calls()[0].message, NIM_ADD);
    EXPECT_EQ(calls()[0].data.cbSize, 88u);
    EXPECT_EQ(calls()[0].data.uID, 1u);
    EXPECT_EQ(calls()[0].data.uFlags, 7u);
    ASSERT_NE(shown(), nullptr);
    EXPECT_EQ(shown()->toolTip(), "Postlark 1.5");
}

TEST_F(SystrayIcon, HiddenIconMakesNoShellCallsAndShowsLatestValues) {
    EXPECT_FALSE(icon->HideIcon());
    EXPECT_FALSE(icon->Update());
    icon->TipText("You have new mail waiting!");
    icon->IconHandle(mail);
    icon->Visible(false);
    EXPECT_TRUE(calls().empty());

    // What changed while hidden takes effect when the icon is next shown.
    icon->Visible(true);
    ASSERT_EQ(calls().size(), 1u);
    EXPECT_EQ(calls()[0].data.szTip, "You have new mail waiting!");
    EXPECT_EQ(calls()[0].data.hIcon, mail);
    EXPECT_EQ(shown()->toolTip(), "You have new mail waiting!");
}

TEST_F(SystrayIcon, TipIsCutAt63Characters) {
    const QString seventy(70, QChar('x'));
    icon->TipText(seventy);
    EXPECT_EQ(icon->TipText(), seventy.left(63));
    icon->ShowIcon();
    EXPECT_EQ(shown()->toolTip(), seventy.left(63));

    const QString exact = QString(62, QChar('y')) + "z";
    icon->TipText(exact);
    EXPECT_EQ(icon->TipText(), exact);
    EXPECT_EQ(shown()->toolTip(), exact);
}

TEST_F(SystrayIcon, ChangeWhileShownSendsThatFieldOnly) {
    icon->ShowIcon();
    icon->IconHandle(mail);
    ASSERT_EQ(calls().size(), 2u);
    EXPECT_EQ(calls()[1].message, NIM_MODIFY);
    EXPECT_EQ(calls()[1].data.uFlags, NIF_ICON);
    EXPECT_EQ(icon->Record().uFlags, 7u);
    EXPECT_EQ(shown()->icon().cacheKey(), IconFromHandle(mail).cacheKey());

    icon->TipText("tip");
    icon->CallbackMessage(WM_USER + 1);
    ASSERT_EQ(calls().size(), 4u);
    EXPECT_EQ(calls()[2].data.uFlags, NIF_TIP);
    EXPECT_EQ(calls()[3].data.uFlags, NIF_MESSAGE);

    // Without UpdateOnChange the change waits for Update, which sends the whole record.
    icon->UpdateOnChange(false);
    icon->IconHandle(plain);
    EXPECT_EQ(calls().size(), 4u);
    EXPECT_TRUE(icon->Update());
    ASSERT_EQ(calls().size(), 5u);
    EXPECT_EQ(calls()[4].data.uFlags, 7u);
    EXPECT_EQ(calls()[4].data.hIcon, plain);
}

TEST_F(SystrayIcon, DestroyingTheObjectRemovesTheIcon) {
    icon->ShowIcon();
    ASSERT_NE(shown(), nullptr);
    icon.reset();
    EXPECT_EQ(shown(), nullptr);
    EXPECT_EQ(calls().back().message, NIM_DELETE);
}

TEST_F(SystrayIcon, InitializeAgainRemovesTheIconItShowed) {
    icon->ShowIcon();
    icon->Initialize(hWnd, mail, "again", WM_MOUSEMOVE);
    EXPECT_FALSE(icon->Visible());
    EXPECT_EQ(shown(), nullptr);
    EXPECT_TRUE(icon->ShowIcon()); // not refused as a duplicate
}

TEST_F(SystrayIcon, NoNotificationAreaRaisesNIError) {
    SetNotificationAreaOverride(false);
    std::vector<long> errors;
    QObject::connect(icon.get(), &CSystrayIcon::NIError,
                     [&](long number) { errors.push_back(number); });
    EXPECT_FALSE(icon->ShowIcon());
    EXPECT_FALSE(icon->Visible());
    EXPECT_EQ(errors, std::vector<long>{static_cast<long>(ERROR_SERVICE_NOT_ACTIVE)});
    EXPECT_EQ(shown(), nullptr);
}

TEST_F(SystrayIcon, RefusedDeleteLeavesTheIconHiddenAndShowableAgain) {
    ASSERT_TRUE(icon->ShowIcon());
    // The shell loses the icon behind the object's back.
    NOTIFYICONDATA record{};
    record.hWnd = hWnd;
    record.uID = 1;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &record));
    std::vector<long> errors;
    QObject::connect(icon.get(), &CSystrayIcon::NIError,
                     [&](long number) { errors.push_back(number); });
    EXPECT_FALSE(icon->HideIcon());
    EXPECT_EQ(errors, std::vector<long>{static_cast<long>(ERROR_NOT_FOUND)});
    EXPECT_FALSE(icon->Visible());
    EXPECT_TRUE(icon->ShowIcon());
    EXPECT_NE(shown(), nullptr);
}

TEST_F(SystrayIcon, ClicksReachTheWindowAsTheCallbackMessage) {
    icon->ShowIcon();
    SetMessageLogging(true);
    const auto mouse = [&](LPARAM code) { return LoggedMessage{hWnd, WM_MOUSEMOVE, 1, code}; };

    emit shown()->activated(QSystemTrayIcon::Context);
    emit shown()->activated(QSystemTrayIcon::Trigger);
    emit shown()->activated(QSystemTrayIcon::DoubleClick); // its press was reported just now
    // Posted, not sent: nothing reaches the window from inside the icon's own event handling.
    EXPECT_TRUE(MessagesSentTo(hWnd).empty());
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(MessagesSentTo(hWnd), (std::vector{mouse(517), mouse(513), mouse(515)}));

    // A tray host that reports only the double click still gives the window its press first.
    ClearMessageLog();
    emit shown()->activated(QSystemTrayIcon::DoubleClick);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(MessagesSentTo(hWnd), (std::vector{mouse(513), mouse(515)}));
}

TEST_F(SystrayIcon, HandlerMayRemoveTheIconDuringADoubleClick) {
    icon->ShowIcon();
    std::vector<int> codes;
    SetMouseMoveHandler(hWnd, [&](int, int, int x, int) {
        codes.push_back(x);
        if (x == WM_LBUTTONDOWN)
            icon->HideIcon();
    });
    emit shown()->activated(QSystemTrayIcon::DoubleClick);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(codes, (std::vector<int>{513, 515}));
    EXPECT_EQ(shown(), nullptr);
}

TEST_F(SystrayIcon, AFailingClickHandlerIsReportedAndTheNextClickStillArrives) {
    icon->ShowIcon();
    std::vector<int> codes;
    SetMouseMoveHandler(hWnd, [&](int, int, int x, int) {
        codes.push_back(x);
        if (x == WM_RBUTTONUP)
            throw std::runtime_error("handler failed");
    });
    static QStringList warnings;
    warnings.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtWarningMsg)
                warnings << text;
        });
    emit shown()->activated(QSystemTrayIcon::Context);
    emit shown()->activated(QSystemTrayIcon::Trigger);
    QCoreApplication::sendPostedEvents();
    qInstallMessageHandler(previous);
    EXPECT_EQ(codes, (std::vector<int>{517, 513}));
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].contains("handler failed")) << warnings[0].toStdString();
}
