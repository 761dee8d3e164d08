// SPDX-License-Identifier: GPL-3.0-or-later
// The About box, headless: the version, the link colours under the pointer, what each link
// opens, and the System Info button against stand-in tools put on PATH.
#include "dialogs/AboutForm.h"
#include "dialogs/LinkLabel.h"
#include "dialogs/MakerLinks.h"
#include "platform/shell/ShellExecute.h"
#include "platform/system/RegistryApi.h"
#include "platform/window/ModalAnswerer.h"
#include "platform/window/MsgBox.h"
#include "platform/window/WindowLayer.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QThread>
#include <gtest/gtest.h>

namespace postlark {
namespace {

const QString kUnavailable = "System Information Is Unavailable At This Time";

void WriteScript(const QString& path, const QByteArray& body) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(body);
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

bool WaitForFile(const QString& path) {
    const QDeadlineTimer deadline(5000);
    while (!QFile::exists(path) && !deadline.hasExpired())
        QThread::msleep(10);
    return QFile::exists(path);
}

void MovePointer(QWidget* w, QPoint at) {
    QMouseEvent move(QEvent::MouseMove, QPointF(at), QPointF(w->mapToGlobal(at)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &move);
}

void Click(QWidget* w) {
    const QPointF at(w->rect().center());
    const QPointF global(w->mapToGlobal(at.toPoint()));
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QApplication::sendEvent(w, &release);
}

class AboutFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir(env_.path()).mkpath("bin"));
        // Nothing but the stand-ins is found on PATH: no browser, no real system tool.
        oldPath_ = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin("")));
        WriteScript(bin("xdg-open"), "#!/bin/sh\nprintf '%s\\n' \"$@\" >> \"$0.args\"\n");
        about_ = std::make_unique<AboutForm>(
            nullptr, [this] { updateColours_.push_back(Link("UpdateCI")->ForeColor()); });
        about_->show();
        win::SetShellExecuteLogging(true);
    }
    void TearDown() override {
        win::SetShellExecuteLogging(false);
        about_.reset();
        qputenv("PATH", oldPath_);
    }

    QString bin(const QString& name) const { return env_.path() + "/bin/" + name; }
    LinkLabel* Link(const char* name) const {
        auto* link = about_->findChild<LinkLabel*>(name);
        EXPECT_NE(link, nullptr) << name;
        return link;
    }
    std::vector<QColor> Colours() const {
        std::vector<QColor> colours;
        for (const char* name : {"BrenmoorWebSite", "BrenmoorMsgBrds", "EmailBrenmoor", "UpdateCI"})
            colours.push_back(Link(name)->ForeColor());
        return colours;
    }
    // Presses System Info and returns the messages it showed.
    std::vector<ModalQuestion> PressSystemInfo() {
        ScopedModalAnswerer ok([](const ModalQuestion&) { return ModalAnswer::Button(vbOK); });
        about_->findChild<QPushButton*>("cmdSysInfo")->click();
        return ModalQuestionsAsked();
    }

    test::TestEnvironment env_;
    QByteArray oldPath_;
    std::unique_ptr<AboutForm> about_;
    std::vector<QColor> updateColours_;
};

const QColor Blue(0, 0, 255);
const QColor Red(255, 0, 0);

TEST_F(AboutFormTest, ShowsTheBuildVersionAndItsArtwork) {
    EXPECT_EQ(about_->windowTitle(), "About Postlark");
    EXPECT_EQ(about_->findChild<QLabel*>("lblTitle")->text(), "Postlark");
    EXPECT_EQ(about_->findChild<QLabel*>("lblVersion")->text(), "Version 1.5.0");
    EXPECT_EQ(Link("EmailBrenmoor")->toolTip(), "support@postlark.org");
    // The licence notice, with where its full text is (a test build is not installed).
    EXPECT_EQ(about_->findChild<QLabel*>("Label1")->text(),
              QString::fromUtf8("Copyright \u00a9 Brenmoor Software.  Licence GPL-3.0-or-later, "
                                "with NO WARRANTY; full text in the LICENSE file."));
    for (const char* name : {"Image1", "Image2", "Image3"}) {
        auto* image = about_->findChild<QLabel*>(name);
        ASSERT_NE(image, nullptr) << name;
        EXPECT_FALSE(image->pixmap().isNull()) << name << ": the artwork did not load";
    }
}

TEST_F(AboutFormTest, LinksTurnRedUnderThePointerAndBlueOverTheBackground) {
    EXPECT_EQ(Colours(), std::vector<QColor>(4, Blue));
    MovePointer(Link("BrenmoorWebSite"), {2, 2});
    EXPECT_EQ(Colours(), (std::vector<QColor>{Red, Blue, Blue, Blue}));
    // Straight on to the next link: the first stays red.
    MovePointer(Link("BrenmoorMsgBrds"), {2, 2});
    EXPECT_EQ(Colours(), (std::vector<QColor>{Red, Red, Blue, Blue}));
    // Other controls are not the background.
    MovePointer(about_->findChild<QLabel*>("lblDescription"), {2, 2});
    MovePointer(about_->findChild<QPushButton*>("cmdOK"), {2, 2});
    EXPECT_EQ(Colours(), (std::vector<QColor>{Red, Red, Blue, Blue}));
    MovePointer(about_.get(), {3, 3});
    EXPECT_EQ(Colours(), std::vector<QColor>(4, Blue));
}

TEST_F(AboutFormTest, EachLinkOpensItsTargetFromTheDialogAndIsBlueWhenItActs) {
    for (const char* name : {"BrenmoorWebSite", "BrenmoorMsgBrds", "EmailBrenmoor", "UpdateCI"}) {
        MovePointer(Link(name), {2, 2});
        Click(Link(name));
        EXPECT_EQ(Link(name)->ForeColor(), Blue) << name;
    }
    const auto& calls = win::ShellExecuteLog();
    ASSERT_EQ(calls.size(), 3u);
    const QStringList targets{"https://postlark.org/", "https://postlark.org/forum/",
                              "mailto:support@postlark.org"};
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].hwnd, win::RegisterWindow(about_.get()));
        EXPECT_EQ(calls[i].operation, "open");
        EXPECT_EQ(calls[i].file, targets[int(i)]);
        EXPECT_EQ(calls[i].parameters, "");
        EXPECT_EQ(calls[i].directory, "");
        EXPECT_EQ(calls[i].showCmd, 1);
        EXPECT_GT(calls[i].result, 32); // the desktop's opener took it
    }
    // The updates link runs the owner's command, and was blue again before it did.
    EXPECT_EQ(updateColours_, std::vector<QColor>{Blue});
    // What the desktop's opener received (its runs may finish in any order).
    ASSERT_TRUE(WaitForFile(bin("xdg-open.args")));
    QThread::msleep(300);
    QFile opened(bin("xdg-open.args"));
    ASSERT_TRUE(opened.open(QIODevice::ReadOnly));
    QStringList received = QString::fromUtf8(opened.readAll()).split('\n', Qt::SkipEmptyParts);
    received.sort();
    EXPECT_EQ(received, targets);
}

TEST_F(AboutFormTest, SystemInfoStartsTheToolFoundOnPath) {
    const QString marker = env_.path() + "/started";
    const QString tool = bin(win::SystemInfoPrograms().first());
    WriteScript(tool, ("#!/bin/sh\necho started > '" + marker + "'\n").toUtf8());
    std::string path;
    ASSERT_TRUE(AboutForm::GetKeyValue(win::HKEY_LOCAL_MACHINE,
                                       "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH", path));
    EXPECT_EQ(QString::fromStdString(path), tool);

    EXPECT_TRUE(PressSystemInfo().empty());
    EXPECT_TRUE(WaitForFile(marker));
}

TEST_F(AboutFormTest, SystemInfoWithoutAToolOrWithOneThatCannotStartSaysSo) {
    auto messages = PressSystemInfo();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].prompt, kUnavailable);
    EXPECT_EQ(messages[0].buttons, vbOKOnly);
    EXPECT_EQ(messages[0].title, "Postlark");

    // Found on PATH, but its interpreter is missing: the start fails.
    WriteScript(bin(win::SystemInfoPrograms().first()), "#!/nonexistent/interpreter\n");
    messages = PressSystemInfo();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].prompt, kUnavailable);
}

TEST(AboutFormKeys, TextAndNumberValuesUpToTheBufferLimitMissingOnesFalseAndEmpty) {
    using namespace win;
    HKEY key = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\PostlarkAboutTest", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const auto set = [&](const char* name, DWORD type, const std::string& bytes) {
        ASSERT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                 DWORD(bytes.size())),
                  ERROR_SUCCESS);
    };
    // Text stored with its terminator: 1023 characters fill the 1024-byte buffer exactly, one
    // more does not fit and reads as absent.
    const std::string fits(1023, 'x');
    set("Fits", REG_SZ, fits + '\0');
    set("TooLong", REG_SZ, std::string(1024, 'x') + '\0');
    set("Number", REG_DWORD, std::string("\x2A\x00\x00\x00", 4));
    set("Large", REG_DWORD, std::string("\x78\x56\x34\x12", 4));
    set("Binary", REG_BINARY, "abc");
    RegCloseKey(key);

    const auto read = [](const char* name, std::string& value) {
        return AboutForm::GetKeyValue(HKEY_CURRENT_USER, "Software\\PostlarkAboutTest", name,
                                      value);
    };
    std::string value;
    EXPECT_TRUE(read("Fits", value));
    EXPECT_EQ(value, fits);
    value = "left over";
    EXPECT_FALSE(read("TooLong", value));
    EXPECT_EQ(value, "");
    EXPECT_TRUE(read("Number", value));
    EXPECT_EQ(value, "&h2A");
    EXPECT_TRUE(read("Large", value));
    EXPECT_EQ(value, "&h12345678");
    value = "left over";
    EXPECT_TRUE(read("Binary", value)); // found, but not a type this reader converts
    EXPECT_EQ(value, "left over");
    EXPECT_FALSE(read("NoSuchValue", value));
    EXPECT_EQ(value, "");
    value = "left over";
    EXPECT_FALSE(
        AboutForm::GetKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\No\\Such\\Key", "PATH", value));
    EXPECT_EQ(value, "");
}

} // namespace
} // namespace postlark
