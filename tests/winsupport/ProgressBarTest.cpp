// SPDX-License-Identifier: GPL-3.0-or-later
// The progress-bar control: what reaches its child window, re-creation of the child, the
// range check, the border styles, StepIt and the property bag.
#include "winsupport/ProgressBar.h"
#include "platform/base/RuntimeError.h"
#include "platform/window/CommonControls.h"
#include "platform/window/ProgressClass.h"
#include "platform/window/WindowLayer.h"
#include "platform/window/WindowMessageLog.h"

#include <QCoreApplication>
#include <QFile>
#include <QFrame>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>
#include <set>

using namespace postlark;
using namespace postlark::win;

namespace {

ProgressWindow* Child(const ProgressBar& bar) {
    return dynamic_cast<ProgressWindow*>(WidgetFromHandle(bar.hWnd()));
}

std::set<UINT> MessagesTo(HWND h) {
    std::set<UINT> msgs;
    for (const auto& m : MessagesSentTo(h))
        msgs.insert(m.msg);
    return msgs;
}

COLORREF Translated(OLE_COLOR c) {
    COLORREF result = 0;
    OleTranslateColor(c, 0, &result);
    return result;
}

// A child limited to 16-bit ranges: it ignores PBM_SETRANGE32.
WNDPROC classProc = nullptr;
LRESULT SixteenBitProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == PBM_SETRANGE32)
        return 0;
    return CallWindowProcA(classProc, hWnd, msg, wParam, lParam);
}

class ProgressBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        bar = new ProgressBar(&form);
        bar->resize(150, 20);
        QObject::connect(bar, &ProgressBar::PropertyChanged,
                         [this](const QString& name) { changed << name; });
    }
    void TearDown() override { SetMessageLogging(false); }

    QWidget form;
    ProgressBar* bar = nullptr;
    QStringList changed;
};

} // namespace

TEST_F(ProgressBarTest, NewControlHasItsChildAndSavesMinAsOne) {
    bar->InitProperties();
    ASSERT_NE(Child(*bar), nullptr);
    EXPECT_EQ(Child(*bar)->parentWidget(), bar);
    EXPECT_EQ(Child(*bar)->size(), QSize(150, 20));
    EXPECT_FALSE(Child(*bar)->smooth());
    EXPECT_EQ(Child(*bar)->edge(), 1);
    EXPECT_EQ(bar->BorderStyle(), 1);
    EXPECT_EQ(bar->BackColor(), static_cast<std::int32_t>(0x8000000F));

    PropertyBag bag;
    bar->WriteProperties(bag);
    EXPECT_EQ(bag.Names(), QStringList{"Min"});
    EXPECT_EQ(bag.ReadProperty("Min").toInt(), 1);
}

TEST_F(ProgressBarTest, AssigningTheCurrentValueSendsNothingAndMarksNothing) {
    bar->InitProperties();
    changed.clear();
    SetMessageLogging(true);
    bar->SetOrientation(bar->Orientation());
    bar->SetMin(bar->Min());
    bar->SetMax(bar->Max());
    bar->SetSmooth(bar->Smooth());
    bar->SetBorderStyle(bar->BorderStyle());
    bar->SetBackColor(bar->BackColor());
    bar->SetForeColor(bar->ForeColor());
    bar->SetPosition(bar->Position());
    bar->SetStep(bar->Step());
    EXPECT_TRUE(MessageLog().empty());
    EXPECT_TRUE(changed.isEmpty());

    bar->SetPosition(40);
    EXPECT_EQ(MessageLog(), (std::vector<LoggedMessage>{{bar->hWnd(), PBM_SETPOS, 40, 0}}));
    EXPECT_EQ(changed, QStringList{"Position"});
}

TEST_F(ProgressBarTest, SmoothRecreatesTheChildKeepingPositionBorderAndColours) {
    bar->InitProperties();
    bar->SetMax(1000);
    bar->SetPosition(600);
    bar->SetForeColor(0x0000FF);
    bar->SetBackColor(static_cast<std::int32_t>(0x80000005));
    const HWND before = bar->hWnd();

    bar->SetSmooth(true);
    const HWND after = bar->hWnd();
    EXPECT_NE(after, before);
    EXPECT_FALSE(IsWindow(before));
    ProgressWindow* child = Child(*bar);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(bar->findChildren<ProgressWindow*>().size(), 1);
    EXPECT_TRUE(child->smooth());
    EXPECT_EQ(SendMessageA(after, PBM_GETPOS, 0, 0), 600);
    EXPECT_EQ(SendMessageA(after, PBM_GETRANGE, 0, 0), 1000);
    EXPECT_EQ(child->edge(), 1);
    EXPECT_EQ(child->barColor(), 0x0000FFu);
    EXPECT_EQ(child->backColor(), Translated(0x80000005));
    EXPECT_EQ(bar->Position(), 600);
    EXPECT_TRUE(changed.contains("Smooth"));

    bar->SetOrientation(1);
    EXPECT_EQ(Child(*bar)->orientation(), Qt::Vertical);
    EXPECT_TRUE(Child(*bar)->smooth());
}

TEST_F(ProgressBarTest, ThirtyTwoBitRangeNeedsNoSixteenBitFallback) {
    bar->InitProperties();
    SetMessageLogging(true);
    bar->SetMin(0);
    bar->SetMax(100000);
    const auto sent = MessagesTo(bar->hWnd());
    EXPECT_TRUE(sent.count(PBM_SETRANGE32));
    EXPECT_TRUE(sent.count(PBM_GETRANGE));
    EXPECT_FALSE(sent.count(PBM_SETRANGE));
    EXPECT_EQ(SendMessageA(bar->hWnd(), PBM_GETRANGE, 0, 0), 100000);

    // A child that keeps its old range gets the low halves of both limits.
    ClearMessageLog();
    classProc = reinterpret_cast<WNDPROC>(
        SetWindowLongA(bar->hWnd(), GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&SixteenBitProc)));
    bar->SetMax(70000);
    const auto log = MessagesSentTo(bar->hWnd());
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().msg, PBM_SETRANGE);
    EXPECT_EQ(log.back().lParam, MAKELPARAM(0, 70000 & 0xFFFF));
}

TEST_F(ProgressBarTest, BorderStylePutsTheEdgeOnTheControlOrTheBar) {
    bar->InitProperties();
    const HWND own = RegisterWindow(bar);
    bar->SetBorderStyle(2);
    EXPECT_EQ(GetWindowLongA(own, GWL_EXSTYLE), WS_EX_CLIENTEDGE);
    EXPECT_EQ(GetWindowLongA(bar->hWnd(), GWL_EXSTYLE), 0);
    EXPECT_EQ(bar->frameStyle(), int(QFrame::WinPanel | QFrame::Sunken));
    EXPECT_EQ(Child(*bar)->geometry(), QRect(2, 2, 146, 16)); // inside the control's edge
    EXPECT_EQ(Child(*bar)->edge(), 0);

    bar->SetBorderStyle(1);
    EXPECT_EQ(GetWindowLongA(own, GWL_EXSTYLE), 0);
    EXPECT_EQ(GetWindowLongA(bar->hWnd(), GWL_EXSTYLE), WS_EX_STATICEDGE);
    EXPECT_EQ(Child(*bar)->geometry(), QRect(0, 0, 150, 20));

    bar->SetBorderStyle(5); // any other value: no edge at all
    EXPECT_EQ(GetWindowLongA(own, GWL_EXSTYLE), 0);
    EXPECT_EQ(GetWindowLongA(bar->hWnd(), GWL_EXSTYLE), 0);
}

TEST_F(ProgressBarTest, StepItCountsInTheMemberWithoutAChild) {
    bar->SetStep(5);
    bar->SetPosition(10);
    bar->StepIt();
    EXPECT_EQ(bar->Position(), 15);
    bar->SetPosition(std::numeric_limits<std::int32_t>::max() - 2);
    try {
        bar->StepIt();
        ADD_FAILURE() << "no overflow";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number, 6);
    }
    EXPECT_EQ(bar->Position(), std::numeric_limits<std::int32_t>::max() - 2);
}

TEST_F(ProgressBarTest, StepItWithAChildAdvancesTheChildByStep) {
    PropertyBag bag; // all defaults: Step 1
    bar->ReadProperties(bag);
    bar->SetPosition(10);
    bar->StepIt();
    EXPECT_EQ(SendMessageA(bar->hWnd(), PBM_GETPOS, 0, 0), 11);
    EXPECT_EQ(bar->Position(), 11);
    // Assigning the earlier value moves the bar back.
    bar->SetPosition(10);
    EXPECT_EQ(SendMessageA(bar->hWnd(), PBM_GETPOS, 0, 0), 10);
}

TEST_F(ProgressBarTest, PropertiesRoundTripThroughTheBag) {
    PropertyBag saved;
    saved.WriteProperty("Smooth", true, false);
    saved.WriteProperty("Min", 1, 0);
    saved.WriteProperty("Max", 10000, 100);
    saved.WriteProperty("BorderStyle", 0, 1);
    bar->ReadProperties(saved);
    ASSERT_NE(Child(*bar), nullptr);
    EXPECT_TRUE(Child(*bar)->smooth());
    EXPECT_EQ(Child(*bar)->low(), 1);
    EXPECT_EQ(Child(*bar)->high(), 10000);
    EXPECT_EQ(Child(*bar)->edge(), 0);

    PropertyBag written;
    bar->WriteProperties(written);
    EXPECT_EQ(written.Names(), (QStringList{"BorderStyle", "Smooth", "Min", "Max"}));
    EXPECT_EQ(written.ReadProperty("Max").toInt(), 10000);
}

// The child fills the control at any screen resolution, not only where a pixel is a whole
// number of twips. A running program cannot change its resolution, so the test runs itself
// again on a 168-dpi offscreen screen (8.57 twips per pixel).
TEST(ProgressBarResolution, ChildFillsTheControlAtAnyResolution) {
    if (qEnvironmentVariableIsSet("POSTLARK_PROGRESS_DPI_RUN")) {
        ASSERT_EQ(QGuiApplication::primaryScreen()->logicalDotsPerInchX(), 168.0);
        QWidget form;
        auto* bar = new ProgressBar(&form);
        bar->resize(150, 20);
        bar->InitProperties();
        ASSERT_NE(Child(*bar), nullptr);
        EXPECT_EQ(Child(*bar)->geometry(), QRect(0, 0, 150, 20));
        bar->SetBorderStyle(2);
        EXPECT_EQ(Child(*bar)->geometry(), QRect(2, 2, 146, 16));
        return;
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile config(dir.filePath("screen.json"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(R"({"screens": [{"name": "s", "x": 0, "y": 0, "width": 1600, "height": 1200,
                     "logicalDpi": 168, "logicalBaseDpi": 96, "dpr": 1}]})");
    config.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("POSTLARK_PROGRESS_DPI_RUN", "1");
    env.insert("QT_ENABLE_HIGHDPI_SCALING", "0");
    env.insert("QT_QPA_PLATFORM", "offscreen:configfile=" + config.fileName());
    QProcess run;
    run.setProcessEnvironment(env);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QCoreApplication::applicationFilePath(),
              {"--gtest_filter=ProgressBarResolution.ChildFillsTheControlAtAnyResolution"});
    ASSERT_TRUE(run.waitForFinished(30000));
    const QString output = QString::fromLocal8Bit(run.readAll());
    EXPECT_EQ(run.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}
