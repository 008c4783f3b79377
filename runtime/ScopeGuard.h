#pragma once
// Clean-up that runs when a scope is left, so code that must undo a step on
// failure says so once instead of catching, cleaning up and rethrowing:
//
//     list->BeginUpdate();
//     ScopeExit endUpdate([&] { list->EndUpdate(); });       // always
//     auto* item = new TItem;
//     ScopeFail freeItem([&] { delete item; });              // only on a throw
//
// A guard can be dismissed once the step it undoes is no longer its to undo.

#include <exception>
#include <utility>

template <class F>
class ScopeExit {
  public:
    explicit ScopeExit(F f) : FAction(std::move(f)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() {
        if (FArmed)
            FAction();
    }
    void Dismiss() { FArmed = false; }

  private:
    F FAction;
    bool FArmed = true;
};

// Runs its action only when the scope is left by an exception.
template <class F>
class ScopeFail {
  public:
    explicit ScopeFail(F f) : FAction(std::move(f)) {}
    ScopeFail(const ScopeFail&) = delete;
    ScopeFail& operator=(const ScopeFail&) = delete;
    ~ScopeFail() {
        if (FArmed && std::uncaught_exceptions() > FUncaught)
            FAction();
    }
    void Dismiss() { FArmed = false; }

  private:
    F FAction;
    int FUncaught = std::uncaught_exceptions();
    bool FArmed = true;
};
