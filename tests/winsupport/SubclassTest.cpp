// SPDX-License-Identifier: GPL-3.0-or-later
// Message subclassing: the bookkeeping in the window's properties, the order of handlers and
// previous procedure for each response, and the errors.
#include "platform/base/RuntimeError.h"
#include "platform/window/WindowLayer.h"
#include "winsupport/GSubclass.h"
#include "winsupport/MSubclass.h"

#include <QWidget>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

using namespace postlark;
using namespace postlark::win;

namespace {

std::vector<std::string> calls;

LRESULT PreviousProc(HWND, UINT, WPARAM, LPARAM) {
    calls.push_back("previous");
    return 99;
}

class Handler : public ISubclass {
public:
    Handler(std::string name, std::int32_t response, LRESULT result = 0)
        : name_(std::move(name)), response_(response), result_(result) {}
    std::int32_t MsgResponse() override { return response_; }
    void SetMsgResponse(std::int32_t response) override { response_ = response; }
    LRESULT WindowProc(HWND, UINT, WPARAM, LPARAM) override {
        calls.push_back(name_);
        return result_;
    }

private:
    std::string name_;
    std::int32_t response_;
    LRESULT result_;
};

std::map<std::string, HANDLE> props;
BOOL CollectProp(HWND, const char* name, HANDLE data) {
    props[name] = data;
    return TRUE_;
}

std::map<std::string, HANDLE> Props(HWND hWnd) {
    props.clear();
    EnumPropsA(hWnd, &CollectProp);
    return props;
}

HANDLE Id(ISubclass* h) {
    return reinterpret_cast<HANDLE>(h);
}

void ExpectError(const std::function<void()>& call, long code, const char* description) {
    try {
        call();
        ADD_FAILURE() << "no error " << code;
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number, vbObjectError + code);
        EXPECT_EQ(e.Description, description);
        EXPECT_EQ(e.Source, "Postlark.WindowProc");
    }
}

class SubclassTest : public ::testing::Test {
protected:
    void SetUp() override {
        calls.clear();
        hWnd = RegisterWindow(&window);
        SetWindowLongA(hWnd, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&PreviousProc));
        h = std::to_string(hWnd);
    }
    QWidget window;
    HWND hWnd = 0;
    std::string h;
    Handler a{"a", ResponseConsume, 1}, b{"b", ResponseConsume, 2}, c{"c", ResponseConsume, 3};
};

} // namespace

TEST_F(SubclassTest, AttachKeepsItsBookkeepingInTheWindowProperties) {
    MSubclass::AttachMessage(&a, hWnd, WM_SYSCOMMAND);
    MSubclass::AttachMessage(&b, hWnd, WM_SYSCOMMAND);
    MSubclass::AttachMessage(&a, hWnd, WM_USER);
    EXPECT_EQ(GetWindowLongA(hWnd, GWL_WNDPROC),
              reinterpret_cast<LONG_PTR>(&MSubclass::WindowProc));
    EXPECT_EQ(Props(hWnd), (std::map<std::string, HANDLE>{
                               {h, reinterpret_cast<HANDLE>(&PreviousProc)},
                               {"C" + h, 3},
                               {h + "#274C", 2},
                               {h + "#274#1", Id(&a)},
                               {h + "#274#2", Id(&b)},
                               {h + "#1024C", 1},
                               {h + "#1024#1", Id(&a)},
                           }));
}

TEST_F(SubclassTest, DetachClosesTheGapAndTheLastDetachRestoresTheWindow) {
    MSubclass::AttachMessage(&a, hWnd, WM_SYSCOMMAND);
    MSubclass::AttachMessage(&b, hWnd, WM_SYSCOMMAND);
    MSubclass::AttachMessage(&c, hWnd, WM_SYSCOMMAND);
    MSubclass::DetachMessage(&a, hWnd, WM_SYSCOMMAND);
    EXPECT_EQ(GetPropA(hWnd, (h + "#274C").c_str()), 2);
    EXPECT_EQ(GetPropA(hWnd, (h + "#274#1").c_str()), Id(&b));
    EXPECT_EQ(GetPropA(hWnd, (h + "#274#2").c_str()), Id(&c));
    EXPECT_EQ(Props(hWnd).count(h + "#274#3"), 0u);
    EXPECT_EQ(GetPropA(hWnd, ("C" + h).c_str()), 2);

    MSubclass::DetachMessage(&c, hWnd, WM_SYSCOMMAND);
    MSubclass::DetachMessage(&b, hWnd, WM_SYSCOMMAND);
    EXPECT_TRUE(Props(hWnd).empty());
    EXPECT_EQ(GetWindowLongA(hWnd, GWL_WNDPROC), reinterpret_cast<LONG_PTR>(&PreviousProc));
    EXPECT_EQ(SendMessageA(hWnd, WM_SYSCOMMAND, 0, 0), 99);
    EXPECT_EQ(calls, std::vector<std::string>{"previous"});
}

TEST_F(SubclassTest, DetachOfWhatWasNeverAttachedChangesNothing) {
    MSubclass::AttachMessage(&a, hWnd, WM_SYSCOMMAND);
    const auto before = Props(hWnd);
    MSubclass::DetachMessage(&b, hWnd, WM_SYSCOMMAND); // other handler
    MSubclass::DetachMessage(&a, hWnd, WM_USER);       // other message
    QWidget other;
    MSubclass::DetachMessage(&a, RegisterWindow(&other), WM_SYSCOMMAND); // other window
    EXPECT_EQ(Props(hWnd), before);
    EXPECT_TRUE(Props(RegisterWindow(&other)).empty());
    EXPECT_EQ(SendMessageA(hWnd, WM_SYSCOMMAND, 0, 0), 1);
}

TEST_F(SubclassTest, ResponsesDecideWhenThePreviousProcedureRuns) {
    // Consume: the handler's result, no previous procedure; an unknown value acts the same.
    MSubclass::AttachMessage(&a, hWnd, WM_SYSCOMMAND);
    EXPECT_EQ(SendMessageA(hWnd, WM_SYSCOMMAND, 0, 0), 1);
    a.SetMsgResponse(7);
    EXPECT_EQ(SendMessageA(hWnd, WM_SYSCOMMAND, 0, 0), 1);
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "a"}));

    // After previous, with one handler: the previous procedure's result is returned.
    calls.clear();
    a.SetMsgResponse(ResponseAfterPrevious);
    EXPECT_EQ(SendMessageA(hWnd, WM_SYSCOMMAND, 0, 0), 99);
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "previous"}));

    // Before previous, decided by the first handler only: the previous procedure runs once
    // before both, and the last handler's result is returned.
    calls.clear();
    a.SetMsgResponse(ResponseBeforePrevious);
    MSubclass::AttachMessage(&b, hWnd, WM_SYSCOMMAND);
    EXPECT_EQ(SendMessageA(hWnd, WM_SYSCOMMAND, 0, 0), 2);
    EXPECT_EQ(calls, (std::vector<std::string>{"previous", "a", "b"}));

    // A middle handler's response is not consulted; the last one's is.
    calls.clear();
    a.SetMsgResponse(ResponseConsume);
    b.SetMsgResponse(ResponseAfterPrevious);
    c.SetMsgResponse(ResponseBeforePrevious);
    MSubclass::DetachMessage(&b, hWnd, WM_SYSCOMMAND);
    MSubclass::AttachMessage(&c, hWnd, WM_SYSCOMMAND);
    MSubclass::AttachMessage(&b, hWnd, WM_SYSCOMMAND);
    EXPECT_EQ(SendMessageA(hWnd, WM_SYSCOMMAND, 0, 0), 99);
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "c", "b", "previous"}));

    // A message nobody attached goes straight to the previous procedure.
    calls.clear();
    EXPECT_EQ(SendMessageA(hWnd, WM_USER, 0, 0), 99);
    EXPECT_EQ(calls, std::vector<std::string>{"previous"});
}

TEST_F(SubclassTest, HandlerSeesTheCurrentMessageAndCanCallTheOldProcedure) {
    class Forwarder : public ISubclass {
    public:
        std::int32_t MsgResponse() override { return ResponseConsume; }
        void SetMsgResponse(std::int32_t) override {}
        LRESULT WindowProc(HWND hWnd, UINT iMsg, WPARAM wParam, LPARAM lParam) override {
            seenMessage = subclass.CurrentMessage();
            return subclass.CallOldWindowProc(hWnd, iMsg, wParam, lParam) + 1;
        }
        GSubclass subclass;
        UINT seenMessage = 0;
    } forwarder;
    forwarder.subclass.AttachMessage(&forwarder, hWnd, WM_SYSCOMMAND);
    EXPECT_EQ(SendMessageA(hWnd, WM_SYSCOMMAND, SC_CLOSE, 0), 100);
    EXPECT_EQ(forwarder.seenMessage, WM_SYSCOMMAND);
    forwarder.subclass.DetachMessage(&forwarder, hWnd, WM_SYSCOMMAND);
    EXPECT_TRUE(Props(hWnd).empty());
}

TEST_F(SubclassTest, AttachErrorsLeaveTheWindowAsItWas) {
    ExpectError([&] { MSubclass::AttachMessage(&a, hWnd + 1, WM_SYSCOMMAND); }, 13083,
                "Invalid window");
    EXPECT_EQ(vbObjectError + 13083, static_cast<long>(static_cast<std::int32_t>(0x8004331B)));

    SetWindowProcessId(hWnd, GetCurrentProcessId() + 1);
    ExpectError([&] { MSubclass::AttachMessage(&a, hWnd, WM_SYSCOMMAND); }, 13084,
                "Can't modify external window");
    EXPECT_TRUE(Props(hWnd).empty());
    SetWindowProcessId(hWnd, GetCurrentProcessId());

    // A second attach of the same handler is refused without counting it, so one detach
    // still restores everything.
    MSubclass::AttachMessage(&a, hWnd, WM_SYSCOMMAND);
    ExpectError([&] { MSubclass::AttachMessage(&a, hWnd, WM_SYSCOMMAND); }, 13082,
                "Message already handled by another class");
    EXPECT_EQ(GetPropA(hWnd, ("C" + h).c_str()), 1);
    MSubclass::DetachMessage(&a, hWnd, WM_SYSCOMMAND);
    EXPECT_TRUE(Props(hWnd).empty());

    // A window without a procedure cannot be subclassed.
    SetWindowLongA(hWnd, GWL_WNDPROC, 0);
    ExpectError([&] { MSubclass::AttachMessage(&a, hWnd, WM_SYSCOMMAND); }, 13081,
                "Can't subclass window");
    EXPECT_TRUE(Props(hWnd).empty());
    EXPECT_EQ(GetWindowLongA(hWnd, GWL_WNDPROC), 0);
}

TEST_F(SubclassTest, ErrorRaisedByAHandlerPropagates) {
    class Failing : public Handler {
    public:
        Failing() : Handler("failing", ResponseConsume) {}
        LRESULT WindowProc(HWND, UINT, WPARAM, LPARAM) override {
            throw RuntimeError(5, "Invalid procedure call or argument");
        }
    } failing;
    MSubclass::AttachMessage(&failing, hWnd, WM_SYSCOMMAND);
    EXPECT_THROW(SendMessageA(hWnd, WM_SYSCOMMAND, 0, 0), RuntimeError);
    MSubclass::DetachMessage(&failing, hWnd, WM_SYSCOMMAND);
}

namespace {

// Runs `during` from inside its WindowProc, then answers with its name like Handler.
class Acting : public Handler {
public:
    Acting(std::string name, std::int32_t response, std::function<void()> during)
        : Handler(std::move(name), response), during_(std::move(during)) {}
    LRESULT WindowProc(HWND hWnd, UINT iMsg, WPARAM wParam, LPARAM lParam) override {
        const LRESULT result = Handler::WindowProc(hWnd, iMsg, wParam, lParam);
        during_();
        return result;
    }

private:
    std::function<void()> during_;
};

LRESULT OtherPreviousProc(HWND, UINT, WPARAM, LPARAM) {
    calls.push_back("other previous");
    return 7;
}

} // namespace

TEST_F(SubclassTest, HandlerDetachingDuringDispatchChangesOnlyLaterMessages) {
    // The first handler leaves while handling: the second still runs and the previous
    // procedure stays out, as both consume.
    Acting leaving("leaving", ResponseConsume,
                   [&] { MSubclass::DetachMessage(&leaving, hWnd, WM_SYSCOMMAND); });
    MSubclass::AttachMessage(&leaving, hWnd, WM_SYSCOMMAND);
    MSubclass::AttachMessage(&b, hWnd, WM_SYSCOMMAND);
    EXPECT_EQ(SendMessageA(hWnd, WM_SYSCOMMAND, 0, 0), 2);
    EXPECT_EQ(calls, (std::vector<std::string>{"leaving", "b"}));
    calls.clear();
    SendMessageA(hWnd, WM_SYSCOMMAND, 0, 0);
    EXPECT_EQ(calls, std::vector<std::string>{"b"});
    MSubclass::DetachMessage(&b, hWnd, WM_SYSCOMMAND);

    // A handler that removes the one after it: that one is not called any more.
    calls.clear();
    Acting remover("remover", ResponseConsume,
                   [&] { MSubclass::DetachMessage(&c, hWnd, WM_SYSCOMMAND); });
    MSubclass::AttachMessage(&remover, hWnd, WM_SYSCOMMAND);
    MSubclass::AttachMessage(&c, hWnd, WM_SYSCOMMAND);
    SendMessageA(hWnd, WM_SYSCOMMAND, 0, 0);
    EXPECT_EQ(calls, std::vector<std::string>{"remover"});
    MSubclass::DetachMessage(&remover, hWnd, WM_SYSCOMMAND);
    EXPECT_TRUE(Props(hWnd).empty());
}

TEST_F(SubclassTest, NestedDispatchToAnotherWindowKeepsTheOuterMessageAndProcedure) {
    QWidget otherWindow;
    const HWND other = RegisterWindow(&otherWindow);
    SetWindowLongA(other, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&OtherPreviousProc));
    MSubclass::AttachMessage(&b, other, WM_USER);

    UINT seen = 0;
    LRESULT old = 0;
    Acting outer("outer", ResponseConsume, [&] {
        SendMessageA(other, WM_USER, 0, 0);
        seen = MSubclass::CurrentMessage();
        old = MSubclass::CallOldWindowProc(hWnd, WM_SYSCOMMAND, 0, 0);
    });
    MSubclass::AttachMessage(&outer, hWnd, WM_SYSCOMMAND);
    SendMessageA(hWnd, WM_SYSCOMMAND, 0, 0);
    EXPECT_EQ(seen, WM_SYSCOMMAND);
    EXPECT_EQ(old, 99);
    EXPECT_EQ(calls, (std::vector<std::string>{"outer", "b", "previous"}));
    MSubclass::DetachMessage(&outer, hWnd, WM_SYSCOMMAND);
    MSubclass::DetachMessage(&b, other, WM_USER);
}
