#pragma once
// The application's exception handler.  Lower layers that catch an exception
// they cannot report themselves (a timer tick, a window procedure) hand it
// here; the GUI installs the real handler, which shows the message and keeps
// the program running.

#include <exception>
#include <functional>

using TApplicationExceptionHandler = std::function<void(std::exception_ptr)>;

// An empty handler restores the default one.
void SetApplicationExceptionHandler(TApplicationExceptionHandler handler);

// Calls the installed handler.  The default writes the message to stderr
// (nothing for EAbort).  A handler that throws is not allowed to take the
// caller down: what it throws is written to stderr and swallowed.
void HandleApplicationException(std::exception_ptr error);

// Runs fn and hands anything it throws to HandleApplicationException.
void CallGuarded(const std::function<void()>& fn);
