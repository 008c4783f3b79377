#include "settings/RxHook.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "runtime/ExceptionHook.h"

using namespace win;

namespace {

constexpr UINT WM_PROBE = WM_USER + 7;

// A windowed control whose own message handling is journalled.
class TProbeControl : public TWinControl {
  public:
    TProbeControl(TComponent* owner, std::vector<std::string>& journal)
        : TWinControl(owner), FJournal(journal) {}

  protected:
    void WndProc(TMessage& message) override {
        if (message.Msg == WM_PROBE) {
            FJournal.push_back("control");
            message.Result = 42;
            return;
        }
        if (message.Msg == WM_DESTROY)
            FJournal.push_back("control destroy");
        TWinControl::WndProc(message);
    }

  private:
    std::vector<std::string>& FJournal;
};

class WindowHook : public ::testing::Test {
  protected:
    void SetUp() override { control = new TProbeControl(nullptr, journal); }
    void TearDown() override {
        owned.clear();
        delete control;
        ProcessMessages();
        FreeGlobalHookList();
        SetApplicationExceptionHandler(nullptr);
    }
    // The messages of the exceptions the application reports from now on.
    const std::vector<std::string>& CollectReports() {
        SetApplicationExceptionHandler([this](std::exception_ptr e) {
            try {
                std::rethrow_exception(e);
            } catch (const Exception& ex) {
                reports.push_back(ex.Message());
            }
        });
        return reports;
    }
    // A hook owned by `owner` that journals both phases under `name`.
    TRxWindowHook* NewHook(const std::string& name, bool handleBefore = false,
                           TComponent* owner = nullptr) {
        auto* hook = new TRxWindowHook(owner);
        hook->BeforeMessage = [this, name, handleBefore](TObject*, TMessage& m, bool& handled) {
            if (m.Msg == WM_PROBE || m.Msg == WM_DESTROY) {
                journal.push_back(name + " before");
                if (handleBefore) {
                    m.Result = 7;
                    handled = true;
                }
            }
        };
        hook->AfterMessage = [this, name](TObject*, TMessage& m, bool&) {
            if (m.Msg == WM_PROBE || m.Msg == WM_DESTROY)
                journal.push_back(name + " after " + std::to_string(m.Result));
        };
        owned.emplace_back(hook);
        return hook;
    }
    LRESULT Probe() { return SendMessage(control->Handle(), WM_PROBE, 0, 0); }
    WNDPROC CurrentProc() {
        return reinterpret_cast<WNDPROC>(GetWindowLongPtr(control->Handle(), GWL_WNDPROC));
    }

    std::vector<std::string> journal;
    std::vector<std::string> reports;
    TProbeControl* control = nullptr;
    std::vector<std::unique_ptr<TRxWindowHook>> owned;
};

TEST_F(WindowHook, TheLastAttachedSeesEachMessageFirstInBothPhases) {
    const WNDPROC original = CurrentProc();
    NewHook("a")->SetWinControl(control);
    NewHook("b")->SetWinControl(control);
    EXPECT_EQ(CurrentProc(), TControlHook::ThunkProc());
    EXPECT_EQ(GlobalHookList()->Count(), 1);  // one shared object per control
    EXPECT_EQ(Probe(), 42);
    EXPECT_EQ(journal, (std::vector<std::string>{"b before", "a before", "control", "b after 42",
                                                 "a after 42"}));
    EXPECT_EQ(GlobalHookList()->Items(0)->SavedWndProc(), original);
}

TEST_F(WindowHook, HandledBeforeHidesTheMessageFromEarlierHooksAndTheControl) {
    NewHook("a")->SetWinControl(control);
    NewHook("b", true)->SetWinControl(control);
    EXPECT_EQ(Probe(), 7);
    EXPECT_EQ(journal, std::vector<std::string>{"b before"});
}

TEST_F(WindowHook, DestroyAlwaysReachesTheControlAndTheAfterPhase) {
    NewHook("a")->SetWinControl(control);
    NewHook("b", true)->SetWinControl(control);
    control->DestroyHandle();
    // Handled in the before phase: only the last attached hook hears the after phase.
    EXPECT_EQ(journal, (std::vector<std::string>{"b before", "control destroy", "b after 0"}));
}

TEST_F(WindowHook, ARecreatedWindowIsHookedAgainOnALaterTurn) {
    NewHook("a")->SetWinControl(control);
    control->DestroyHandle();
    EXPECT_FALSE(control->HandleAllocated());
    ProcessMessages();  // CM_HOOKRESTORE: the control gets a new window, hooked
    ASSERT_TRUE(control->HandleAllocated());
    EXPECT_EQ(CurrentProc(), TControlHook::ThunkProc());
    journal.clear();
    EXPECT_EQ(Probe(), 42);
    EXPECT_EQ(journal, (std::vector<std::string>{"a before", "control", "a after 42"}));
}

TEST_F(WindowHook, APendingRestoreForAControlFreedMeanwhileDoesNothing) {
    TRxWindowHook* hook = NewHook("a");
    hook->SetWinControl(control);
    control->DestroyHandle();  // CM_HOOKRESTORE waits
    hook->SetWinControl(nullptr);
    delete control;
    control = nullptr;
    ProcessMessages();
    EXPECT_EQ(GlobalHookList()->Count(), 0);
}

TEST_F(WindowHook, DetachingTheOnlyHookGivesTheProcedureBack) {
    const WNDPROC original = CurrentProc();
    TRxWindowHook* hook = NewHook("a");
    hook->SetWinControl(control);
    hook->SetWinControl(nullptr);
    EXPECT_EQ(CurrentProc(), original);
    EXPECT_EQ(GlobalHookList()->Count(), 1);
    ProcessMessages();  // CM_HOOKRELEASE frees the shared object, never at once
    EXPECT_EQ(GlobalHookList()->Count(), 0);
    journal.clear();
    EXPECT_EQ(Probe(), 42);
    EXPECT_EQ(journal, std::vector<std::string>{"control"});
}

// A procedure installed over the hook's, passing everything on.
WNDPROC OverProcNext = nullptr;
int OverProcCalls = 0;
LRESULT OverProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_PROBE)
        ++OverProcCalls;
    return CallWindowProc(OverProcNext, hwnd, msg, wParam, lParam);
}

TEST_F(WindowHook, AProcedureInstalledOverTheHookIsLeftAloneAndStillReachesTheControl) {
    TRxWindowHook* hook = NewHook("a");
    hook->SetWinControl(control);
    OverProcNext = reinterpret_cast<WNDPROC>(
        SetWindowLongPtr(control->Handle(), GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&OverProc)));
    EXPECT_EQ(OverProcNext, TControlHook::ThunkProc());
    hook->SetWinControl(nullptr);
    EXPECT_EQ(CurrentProc(), &OverProc);
    journal.clear();
    OverProcCalls = 0;
    EXPECT_EQ(Probe(), 42);
    EXPECT_EQ(OverProcCalls, 1);
    EXPECT_EQ(journal, std::vector<std::string>{"control"});
    // The other procedure steps down, giving ours back; a new hook takes up
    // the chain again without losing the control's own procedure.
    SetWindowLongPtr(control->Handle(), GWL_WNDPROC, reinterpret_cast<LONG_PTR>(OverProcNext));
    NewHook("b")->SetWinControl(control);
    journal.clear();
    EXPECT_EQ(Probe(), 42);
    EXPECT_EQ(journal, (std::vector<std::string>{"b before", "control", "b after 42"}));
}

TEST_F(WindowHook, ActiveOffAndOnReattachesToTheSameControl) {
    TRxWindowHook* hook = NewHook("a");
    hook->SetWinControl(control);
    TControlHook* shared = hook->ControlHook();
    hook->SetActive(false);
    EXPECT_EQ(hook->ControlHook(), nullptr);
    EXPECT_EQ(hook->WinControl(), control);
    EXPECT_EQ(Probe(), 42);
    EXPECT_EQ(journal, std::vector<std::string>{"control"});
    hook->SetActive(true);
    EXPECT_EQ(hook->ControlHook(), shared);
    journal.clear();
    Probe();
    EXPECT_EQ(journal, (std::vector<std::string>{"a before", "control", "a after 42"}));
}

TEST_F(WindowHook, WritingTheWatchedControlAgainChangesNothing) {
    TRxWindowHook* hook = NewHook("a");
    hook->SetWinControl(control);
    TControlHook* shared = hook->ControlHook();
    hook->SetWinControl(control);
    ProcessMessages();
    EXPECT_EQ(hook->ControlHook(), shared);
    EXPECT_EQ(GlobalHookList()->Count(), 1);
    EXPECT_EQ(CurrentProc(), TControlHook::ThunkProc());
}

TEST_F(WindowHook, AFreedControlDetachesItsHooksThroughTheFreeNotification) {
    auto owner = std::make_unique<TComponent>(nullptr);
    TRxWindowHook* hook = NewHook("a", false, owner.get());
    owned.back().release();  // the owner frees it
    hook->SetWinControl(control);
    delete control;
    control = nullptr;
    EXPECT_EQ(hook->WinControl(), nullptr);
    EXPECT_EQ(hook->ControlHook(), nullptr);
    ProcessMessages();
    EXPECT_EQ(GlobalHookList()->Count(), 0);
    EXPECT_TRUE(journal.empty());  // no hook is called while the control dies
}

TEST_F(WindowHook, AFailingHandlerIsReportedAndTheOthersStillRun) {
    const std::vector<std::string>& reports = CollectReports();
    NewHook("a")->SetWinControl(control);
    TRxWindowHook* failing = NewHook("b");
    failing->BeforeMessage = [](TObject*, TMessage& m, bool&) {
        if (m.Msg == WM_PROBE)
            throw Exception("hook failed");
    };
    failing->SetWinControl(control);
    EXPECT_EQ(Probe(), 42);
    EXPECT_EQ(reports, std::vector<std::string>{"hook failed"});
    EXPECT_EQ(journal,
              (std::vector<std::string>{"a before", "control", "b after 42", "a after 42"}));
}

TEST_F(WindowHook, TheHookListFreesItsObjectsAndGivesEveryProcedureBack) {
    const WNDPROC original = CurrentProc();
    TRxWindowHook* hook = NewHook("a");
    hook->SetWinControl(control);
    FreeGlobalHookList();
    EXPECT_EQ(hook->ControlHook(), nullptr);
    EXPECT_EQ(CurrentProc(), original);
    EXPECT_EQ(Probe(), 42);
}

TEST_F(WindowHook, TheHooksHearTheAfterPhaseWhenTheHookedProcedureRaises) {
    const std::vector<std::string>& reports = CollectReports();
    // A procedure installed over the control's that raises on the probe.
    static WNDPROC controlProc = nullptr;
    controlProc = CurrentProc();
    WNDPROC raising = [](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (msg == WM_PROBE)
            throw Exception("procedure failed");
        return CallWindowProc(controlProc, hwnd, msg, wParam, lParam);
    };
    SetWindowLongPtr(control->Handle(), GWL_WNDPROC, reinterpret_cast<LONG_PTR>(raising));
    NewHook("a")->SetWinControl(control);
    EXPECT_EQ(Probe(), 0);
    EXPECT_EQ(journal, (std::vector<std::string>{"a before", "a after 0"}));
    EXPECT_EQ(reports, std::vector<std::string>{"procedure failed"});
}

}  // namespace
