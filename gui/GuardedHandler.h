#pragma once
// Runs an event handler of a form or data module (OnCreate, OnShow, ...);
// what it raises goes to the application's exception report with the given
// sender, so a failing handler does not cut short the step it belongs to.

#include "gui/Forms.h"

namespace gui_detail {

template <typename F>
void Guarded(TObject* sender, F&& fn) {
    try {
        fn();
    } catch (...) {
        Application->HandleException(std::current_exception(), sender);
    }
}

}  // namespace gui_detail
