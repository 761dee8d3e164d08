// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog through its controls' names: what it shows for the stored options, the
// interval field and its arrows, the start-up registration, and what OK, Apply and Cancel
// store and apply.
#include "dialogs/SettingsForm.h"
#include "dialogs/ExecLine.h"
#include "dialogs/Registry.h"
#include "dialogs/SettingsTarget.h"
#include "platform/window/ModalAnswerer.h"
#include "platform/window/MsgBox.h"
#include "store/SettingsStore.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTest>
#include <gtest/gtest.h>

namespace postlark {
namespace {

// Records what the dialog did to the main window, in order.
class FakeWindow : public SettingsTarget {
public:
    void SetTimerCheckEnabled(bool on) override { calls << QString("timer %1").arg(on); }
    void ResetUpdateIntervalMins() override { calls << "countdown"; }
    void SetProgressBarVisible(bool visible) override { calls << QString("bar %1").arg(visible); }
    void SetProgressBarSmooth(bool smooth) override { calls << QString("smooth %1").arg(smooth); }
    QStringList calls;
};

class SettingsFormTest : public ::testing::Test {
protected:
    SettingsForm& Open() {
        form_ = std::make_unique<SettingsForm>(window_);
        return *form_;
    }
    template <typename T> T* Get(const char* name) {
        T* w = form_->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QCheckBox* Box(const char* name) { return Get<QCheckBox>(name); }
    QLineEdit* Interval() { return Get<QLineEdit>("TextInterval"); }
    QScrollBar* Arrows() { return Get<QScrollBar>("UpDownInterval"); }
    // Types one character into the interval field as the keyboard would.
    void Type(QChar c, Qt::Key key = Qt::Key_unknown) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(Interval(), &press);
    }
    void Backspace() { Type(QChar(8), Qt::Key_Backspace); }
    QString Autostart() const { return env_.configHome() + "/autostart/Postlark.desktop"; }

    test::TestEnvironment env_;
    FakeWindow window_;
    std::unique_ptr<SettingsForm> form_;
};

TEST_F(SettingsFormTest, LayoutCaptionsAndTabs) {
    Open();
    EXPECT_EQ(form_->windowTitle(), "Settings");
    auto* tabs = Get<QTabBar>("TabStrip1");
    ASSERT_EQ(tabs->count(), 3);
    const QStringList captions = {"Alerts", "Auto Check", "General"};
    const QStringList keys = {"Alerts", "AutoCheck", "General"};
    const QStringList frames = {"AlertFrame", "AutoCheckFrame", "GeneralFrame"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(tabs->tabText(i), captions[i]);
        EXPECT_EQ(tabs->tabData(i).toString(), keys[i]);
    }
    EXPECT_EQ(tabs->tabToolTip(1), "Set the automatic connection options");
    EXPECT_EQ(Get<QGroupBox>("AutoCheckFrame")->title(), "Automatic Check Options");
    EXPECT_EQ(Box("SoundCheck")->toolTip(),
              "If checked, will play the system \"New Mail Notification\" sound (configurable in "
              "the Sounds or Sounds and Multimedia control panels.)");
    EXPECT_EQ(Box("CheckStartup")->text(), "&Startup on System startup to tray");
    EXPECT_FALSE(Get<QLabel>("AlertPicture")->pixmap().isNull());
    EXPECT_FALSE(Get<QLabel>("AutoCheckPicture")->pixmap().isNull());
    EXPECT_TRUE(Get<QPushButton>("cmdOK")->isDefault());

    form_->show();
    // Exactly the selected tab's frame is shown, at the same place for every tab.
    for (int shown = 0; shown < 3; ++shown) {
        tabs->setCurrentIndex(shown);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(Get<QGroupBox>(frames[i].toLatin1())->isVisible(), i == shown);
        EXPECT_EQ(Get<QGroupBox>(frames[shown].toLatin1())->pos(),
                  Get<QGroupBox>("AlertFrame")->pos());
    }
    tabs->setCurrentIndex(0);
}

TEST_F(SettingsFormTest, AFreshStoreShowsTheDefaults) {
    Open();
    EXPECT_TRUE(Box("MsgCheck")->isChecked());
    for (const char* name : {"SoundCheck", "LaunchCheck", "TrayCheck", "PopUpCheck", "AutoCheck",
                             "CheckConnection", "CheckStartup"})
        EXPECT_FALSE(Box(name)->isChecked()) << name;
    EXPECT_EQ(Interval()->text(), "1");
    EXPECT_EQ(Arrows()->value(), 1);
    EXPECT_FALSE(Interval()->isEnabled());
    EXPECT_FALSE(Arrows()->isEnabled());
    EXPECT_TRUE(Box("CheckProgress")->isChecked());
    EXPECT_TRUE(Get<QRadioButton>("OptionBlock")->isChecked());
    EXPECT_TRUE(Get<QRadioButton>("OptionBlock")->isEnabled());
    EXPECT_FALSE(Get<QRadioButton>("OptionSmooth")->isChecked());
    EXPECT_TRUE(Box("RememberWhereIWas")->isChecked());
    EXPECT_FALSE(QFile::exists(Autostart()));
    EXPECT_TRUE(window_.calls.isEmpty()) << "opening changes nothing on the window";
}

TEST_F(SettingsFormTest, StoredOptionsAreShown) {
    SettingsStore::Apply({{"AlertMsg", "0"},
                          {"AlertTray", "1"},
                          {"AlertLaunch", "2"}, // only 1 is on
                          {"AutoCheck", "1"},
                          {"AutoCheckValue", "15"},
                          {"ShowProgress", "0"},
                          {"ProgressStyle", "Smooth"},
                          {"RememberWhereIWas", "0"},
                          {"CheckConnection", "1"}});
    Open();
    EXPECT_FALSE(Box("MsgCheck")->isChecked());
    EXPECT_TRUE(Box("TrayCheck")->isChecked());
    EXPECT_FALSE(Box("LaunchCheck")->isChecked());
    EXPECT_TRUE(Interval()->isEnabled());
    EXPECT_EQ(Interval()->text(), "15");
    EXPECT_EQ(Arrows()->value(), 15);
    EXPECT_TRUE(Box("CheckConnection")->isChecked());
    EXPECT_FALSE(Box("RememberWhereIWas")->isChecked());
    // The style options open disabled when the bar is off, with the stored style selected.
    EXPECT_FALSE(Box("CheckProgress")->isChecked());
    EXPECT_FALSE(Get<QRadioButton>("OptionSmooth")->isEnabled());
    EXPECT_FALSE(Get<QRadioButton>("OptionBlock")->isEnabled());
    EXPECT_TRUE(Get<QRadioButton>("OptionSmooth")->isChecked());
    EXPECT_FALSE(Get<QRadioButton>("OptionBlock")->isChecked());
}

TEST_F(SettingsFormTest, DefaultOnFlagsHoldingTextThatIsNoNumberShowUnchecked) {
    for (const char* text : {"abc", "true", ""}) {
        SCOPED_TRACE(text);
        SettingsStore::Apply(
            {{"AlertMsg", text}, {"ShowProgress", text}, {"RememberWhereIWas", text}});
        Open();
        EXPECT_FALSE(Box("MsgCheck")->isChecked());
        EXPECT_FALSE(Box("CheckProgress")->isChecked());
        EXPECT_FALSE(Get<QRadioButton>("OptionBlock")->isEnabled());
        EXPECT_FALSE(Box("RememberWhereIWas")->isChecked());
    }
}

TEST_F(SettingsFormTest, TheIntervalFieldTakesDigitsOnlyAndStopsAt240) {
    ScopedModalAnswerer ok([](const ModalQuestion&) { return ModalAnswer::Button(vbOK); });
    SettingsStore::SaveValue("AutoCheck", "1");
    Open();
    Interval()->selectAll();
    Type('a', Qt::Key_A);
    Type('-', Qt::Key_Minus);
    Type(' ', Qt::Key_Space);
    EXPECT_EQ(Interval()->text(), "1") << "letters and signs are ignored";
    EXPECT_TRUE(ModalQuestionsAsked().empty());

    Interval()->selectAll();
    Type('3', Qt::Key_3);
    Type('0', Qt::Key_0);
    EXPECT_EQ(Arrows()->value(), 30);
    EXPECT_TRUE(ModalQuestionsAsked().empty());
    Type('0', Qt::Key_0);
    ASSERT_EQ(ModalQuestionsAsked().size(), 1u);
    const ModalQuestion& warning = ModalQuestionsAsked().front();
    EXPECT_EQ(warning.prompt, "Interval must be less than 240 minutes.");
    EXPECT_EQ(warning.buttons, vbOKOnly + vbExclamation);
    EXPECT_EQ(warning.title, "Postlark");
    EXPECT_EQ(Interval()->text(), "240");
    EXPECT_EQ(Arrows()->value(), 240);

    // 240 itself is accepted silently; the arrows write their value into the field.
    Interval()->setText("240");
    Arrows()->setValue(17);
    EXPECT_EQ(Interval()->text(), "17");
    EXPECT_EQ(ModalQuestionsAsked().size(), 1u);

    // Pasted text that is not a number does not get in either.
    Interval()->selectAll();
    Interval()->insert("12ab");
    EXPECT_EQ(Interval()->text(), "17");
}

TEST_F(SettingsFormTest, TheUpperArrowRaisesTheInterval) {
    SettingsStore::Apply({{"AutoCheck", "1"}, {"AutoCheckValue", "5"}});
    Open();
    form_->show();
    QScrollBar* arrows = Arrows();
    const auto press = [&](const QPoint& at) {
        QMouseEvent down(QEvent::MouseButtonPress, at, arrows->mapToGlobal(at), Qt::LeftButton,
                         Qt::LeftButton, Qt::NoModifier);
        QMouseEvent up(QEvent::MouseButtonRelease, at, arrows->mapToGlobal(at), Qt::LeftButton,
                       Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(arrows, &down);
        QApplication::sendEvent(arrows, &up);
    };
    press(QPoint(arrows->width() / 2, 2));
    EXPECT_EQ(Interval()->text(), "6");
    press(QPoint(arrows->width() / 2, arrows->height() - 3));
    press(QPoint(arrows->width() / 2, arrows->height() - 3));
    EXPECT_EQ(Interval()->text(), "4");
}

TEST_F(SettingsFormTest, AnEmptyOrZeroIntervalIsStoredAsTyped) {
    ScopedModalAnswerer ok([](const ModalQuestion&) { return ModalAnswer::Button(vbOK); });
    SettingsStore::Apply({{"AutoCheck", "1"}, {"AutoCheckValue", "7"}});
    Open();
    Backspace();
    EXPECT_EQ(Interval()->text(), "");
    EXPECT_EQ(Arrows()->value(), 7) << "an empty field leaves the arrows where they were";
    Get<QPushButton>("cmdApply")->click();
    EXPECT_EQ(SettingsStore::GetValue("AutoCheckValue", "x"), "");
    Type('0', Qt::Key_0);
    Get<QPushButton>("cmdApply")->click();
    EXPECT_EQ(SettingsStore::GetValue("AutoCheckValue", "x"), "0");
    EXPECT_TRUE(ModalQuestionsAsked().empty());

    // Whatever an older file holds is shown and kept without a complaint.
    form_.reset();
    SettingsStore::SaveValue("AutoCheckValue", "soon");
    Open();
    EXPECT_EQ(Interval()->text(), "soon");
    EXPECT_EQ(Arrows()->value(), 1);
    Get<QPushButton>("cmdOK")->click();
    EXPECT_EQ(SettingsStore::GetValue("AutoCheckValue", "x"), "soon");

    // A stored interval above the range is held to it, with the warning.
    form_.reset();
    SettingsStore::SaveValue("AutoCheckValue", "300");
    Open();
    EXPECT_EQ(Interval()->text(), "240");
    EXPECT_EQ(Arrows()->value(), 240);
    EXPECT_EQ(ModalQuestionsAsked().size(), 1u);
}

TEST_F(SettingsFormTest, ProgressOptionsFollowTheBoxAndApplyAtOnce) {
    Open();
    Box("CheckProgress")->click();
    EXPECT_FALSE(Get<QRadioButton>("OptionBlock")->isEnabled());
    EXPECT_FALSE(Get<QRadioButton>("OptionSmooth")->isEnabled());
    Get<QPushButton>("cmdApply")->click();
    EXPECT_EQ(window_.calls, QStringList({"timer 0", "bar 0", "smooth 0"}));
    EXPECT_NE(form_->result(), QDialog::Accepted) << "Apply leaves the dialog open";

    Box("CheckProgress")->click();
    Get<QRadioButton>("OptionSmooth")->click();
    EXPECT_FALSE(Get<QRadioButton>("OptionBlock")->isChecked()) << "each option clears the other";
    window_.calls.clear();
    Get<QPushButton>("cmdApply")->click();
    EXPECT_EQ(window_.calls, QStringList({"timer 0", "bar 1", "smooth 1"}));
    EXPECT_EQ(SettingsStore::GetValue("ProgressStyle", ""), "Smooth");
}

// Clicking the selected style option keeps it selected, whatever style was stored, and
// Apply always stores the selected style.
TEST_F(SettingsFormTest, ExactlyOneProgressStyleIsAlwaysSelected) {
    for (const char* stored : {"", "Block", "Smooth", "smooth"}) {
        SCOPED_TRACE(stored);
        if (*stored)
            SettingsStore::SaveValue("ProgressStyle", stored);
        Open();
        auto* block = Get<QRadioButton>("OptionBlock");
        auto* smooth = Get<QRadioButton>("OptionSmooth");
        for (QRadioButton* option : {block, block, smooth, smooth, block}) {
            if (!option->isChecked())
                option->click();
            option->click(); // the selected one, clicked again
            EXPECT_TRUE(option->isChecked());
            EXPECT_NE(block->isChecked(), smooth->isChecked()) << "exactly one is selected";
            window_.calls.clear();
            Get<QPushButton>("cmdApply")->click();
            EXPECT_EQ(SettingsStore::GetValue("ProgressStyle", ""),
                      option == block ? "Block" : "Smooth");
            EXPECT_TRUE(window_.calls.contains(option == block ? "smooth 0" : "smooth 1"));
        }
    }
}

// The keys of every tabbed dialog, wherever the focus is (the interval arrows take PageUp
// and PageDown themselves).
TEST_F(SettingsFormTest, CtrlTabAndCtrlPageDownSwitchTabsRoundAndBack) {
    Open();
    form_->show();
    QApplication::setActiveWindow(form_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
    auto* tabs = Get<QTabBar>("TabStrip1");
    const auto press = [&](QWidget* focus, Qt::Key key, Qt::KeyboardModifiers modifiers) {
        focus->setFocus();
        QTest::keyClick(focus, key, modifiers);
        return tabs->currentIndex();
    };
    QWidget* box = Box("MsgCheck");
    EXPECT_EQ(press(box, Qt::Key_Tab, Qt::ControlModifier), 1);
    EXPECT_TRUE(Get<QGroupBox>("AutoCheckFrame")->isVisible());
    EXPECT_EQ(press(box, Qt::Key_PageDown, Qt::ControlModifier), 2);
    EXPECT_EQ(press(box, Qt::Key_Tab, Qt::ControlModifier), 0) << "round from the last";
    EXPECT_EQ(press(box, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier), 2);
    EXPECT_EQ(press(box, Qt::Key_PageUp, Qt::ControlModifier), 1);
    EXPECT_TRUE(Get<QGroupBox>("AutoCheckFrame")->isVisible());

    Box("AutoCheck")->click();
    EXPECT_EQ(press(Arrows(), Qt::Key_PageDown, Qt::ControlModifier), 2);
    EXPECT_EQ(Interval()->text(), "1") << "the interval is unchanged";
    EXPECT_EQ(
        press(Get<QCheckBox>("CheckStartup"), Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier),
        1);
}

TEST_F(SettingsFormTest, OkStoresEveryOptionInOrderThenArmsTheTimer) {
    Open();
    Box("AutoCheck")->click();
    EXPECT_TRUE(Interval()->isEnabled());
    Interval()->setText("5");
    Box("SoundCheck")->click();
    Get<QPushButton>("cmdOK")->click();
    EXPECT_EQ(form_->result(), QDialog::Accepted);
    EXPECT_EQ(window_.calls, QStringList({"timer 1", "countdown", "bar 1", "smooth 0"}));

    // A fresh store lists the keys in the order they were first written.
    QFile file(QString::fromStdString(SettingsStore::FilePath()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromLatin1(file.readAll()).trimmed().split('\n', Qt::SkipEmptyParts),
              QStringList({"[Settings]", "AlertMsg=1", "AlertSound=1", "AlertLaunch=0",
                           "AlertTray=0", "AlertPopUp=0", "ShowProgress=1", "AutoCheck=1",
                           "AutoCheckValue=5", "RememberWhereIWas=1", "CheckConnection=0",
                           "AlertNotify=0", "AlertNotifyStyle=1", "TrayCount=1", "CheckAtStart=0",
                           "ProgressStyle=Block", "ImapPush=1"}));
}

// The options added beside the specified ones: off on a fresh store, shown as stored, stored
// by Apply.
TEST_F(SettingsFormTest, TheDesktopNotificationBoxIsOffFirstAndStoredByApply) {
    Open();
    QCheckBox* notify = Box("NotifyCheck");
    EXPECT_EQ(notify->text(), "Show a &desktop notification");
    EXPECT_EQ(notify->parentWidget()->objectName(), "AlertFrame");
    EXPECT_FALSE(notify->isChecked());
    // Its style follows the box: senders by default, chosen only while the box is ticked.
    auto* style = Get<QComboBox>("NotifyStyle");
    EXPECT_EQ(style->currentText(), "Senders");
    EXPECT_FALSE(style->isEnabled());
    notify->click();
    EXPECT_TRUE(style->isEnabled());
    style->setCurrentIndex(2);
    Get<QPushButton>("cmdApply")->click();
    EXPECT_EQ(SettingsStore::GetValue("AlertNotify", ""), "1");
    EXPECT_EQ(SettingsStore::GetValue("AlertNotifyStyle", ""), "2");
    Get<QPushButton>("cmdCancel")->click();
    SettingsStore::SaveValue("AlertNotifyStyle", "7"); // out of range: the default
    Open();
    EXPECT_TRUE(Box("NotifyCheck")->isChecked());
    EXPECT_EQ(Get<QComboBox>("NotifyStyle")->currentIndex(), 1);
}

TEST_F(SettingsFormTest, TheTrayCountBoxIsOnFirstAndStoredByOk) {
    Open();
    QCheckBox* count = Box("TrayCountCheck");
    EXPECT_EQ(count->parentWidget()->objectName(), "GeneralFrame");
    EXPECT_TRUE(count->isChecked());
    count->click();
    Get<QPushButton>("cmdOK")->click();
    EXPECT_EQ(SettingsStore::GetValue("TrayCount", ""), "0");
    Open();
    EXPECT_FALSE(Box("TrayCountCheck")->isChecked());
}

TEST_F(SettingsFormTest, TheCheckAtStartBoxGoesWithAutomaticCheckingOrPush) {
    Open();
    QCheckBox* atStart = Box("CheckAtStart");
    EXPECT_EQ(atStart->text(), "Check &when Postlark starts");
    EXPECT_EQ(atStart->parentWidget()->objectName(), "AutoCheckFrame");
    EXPECT_FALSE(atStart->isChecked());
    // Automatic checking, push (on in a fresh store), and whether the box is available.
    const struct {
        bool autoCheck, push, enabled;
    } cases[] = {{false, true, true}, {false, false, false}, {true, false, true}};
    for (const auto& c : cases) {
        Box("AutoCheck")->setChecked(c.autoCheck);
        Box("ImapPush")->setChecked(c.push);
        EXPECT_EQ(atStart->isEnabled(), c.enabled) << c.autoCheck << c.push;
    }
    atStart->click();
    Get<QPushButton>("cmdApply")->click();
    EXPECT_EQ(SettingsStore::GetValue("CheckAtStart", ""), "1");
}

TEST_F(SettingsFormTest, CancelStoresNothingAndAppliesNothing) {
    Open();
    Box("MsgCheck")->click();
    Box("AutoCheck")->click();
    Get<QPushButton>("cmdCancel")->click();
    EXPECT_EQ(form_->result(), QDialog::Rejected);
    EXPECT_TRUE(window_.calls.isEmpty());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(SettingsStore::FilePath())));
}

TEST_F(SettingsFormTest, TheStartupBoxRegistersAtOnceAndCancelKeepsIt) {
    Open();
    Get<QTabBar>("TabStrip1")->setCurrentIndex(2);
    Box("CheckStartup")->click();
    ASSERT_TRUE(QFile::exists(Autostart())) << "written at the click, not at OK";
    const QVariant command = ReadRegValue(win::HKEY_CURRENT_USER, RunKeyPath, RunValueName, "Z");
    EXPECT_EQ(SplitExecLine(command.toString()), QStringList({ProgramPath(), "/registrystart"}));
    Get<QPushButton>("cmdCancel")->click();
    EXPECT_TRUE(QFile::exists(Autostart()));

    Open();
    EXPECT_TRUE(Box("CheckStartup")->isChecked());
    Box("CheckStartup")->click();
    EXPECT_FALSE(QFile::exists(Autostart()));
    Get<QPushButton>("cmdOK")->click();
    Open();
    EXPECT_FALSE(Box("CheckStartup")->isChecked());
}

TEST_F(SettingsFormTest, OpeningRewritesARegistrationOfAMovedProgram) {
    ASSERT_EQ(WriteRegString(win::HKEY_CURRENT_USER, RunKeyPath, RunValueName,
                             "/old/place/postlark /registrystart"),
              0);
    Open();
    EXPECT_TRUE(Box("CheckStartup")->isChecked());
    EXPECT_EQ(ReadRegValue(win::HKEY_CURRENT_USER, RunKeyPath, RunValueName, "Z"),
              QVariant(StartupCommand(ProgramPath())));

    // An entry the user switched off is no registration.
    form_.reset();
    QFile entry(Autostart());
    ASSERT_TRUE(entry.open(QIODevice::Append));
    entry.write("Hidden=true\n");
    entry.close();
    Open();
    EXPECT_FALSE(Box("CheckStartup")->isChecked());
}

// Push is on in a fresh store, sits on the Auto Check tab, and OK or Apply store it and bring
// the watchers in line at once.
TEST_F(SettingsFormTest, PushIsOnByDefaultAndAppliedAtOnce) {
    struct PushWindow : FakeWindow {
        void ApplyImapPush() override {
            calls << QString("push %1").arg(SettingsStore::GetValue("ImapPush", "").c_str());
        }
    } window;
    SettingsForm form(window);
    auto* push = form.findChild<QCheckBox*>("ImapPush");
    ASSERT_NE(push, nullptr);
    EXPECT_EQ(push->text(), "&Push new mail of IMAP accounts at once");
    EXPECT_EQ(push->parentWidget()->objectName(), "AutoCheckFrame");
    EXPECT_TRUE(push->isChecked());
    push->setChecked(false);
    form.findChild<QPushButton*>("cmdApply")->click();
    EXPECT_EQ(window.calls.last(), "push 0");
    push->setChecked(true);
    form.findChild<QPushButton*>("cmdOK")->click();
    EXPECT_EQ(window.calls.last(), "push 1");

    // Only 1 is on; text that is no number is off.
    SettingsStore::SaveValue("ImapPush", "yes");
    SettingsForm again(window);
    EXPECT_FALSE(again.findChild<QCheckBox*>("ImapPush")->isChecked());
}

} // namespace
} // namespace postlark
