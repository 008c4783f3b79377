#pragma once
// The exception classes of the runtime.  Every error the system raises is an
// Exception carrying its message text; other folders derive their own.

#include <exception>

#include "runtime/String.h"

class Exception : public std::exception {
  public:
    explicit Exception(String message) : FMessage(std::move(message)) {}
    template <std::size_t M>
    explicit Exception(const CpLiteral<M>& message) : FMessage(message.view()) {}
    explicit Exception(const char* message) : FMessage(message ? message : "") {}
    // Exception(Format(fmt, args...)) in one step.
    template <typename... Args>
    requires(sizeof...(Args) > 0) Exception(std::string_view fmt, const Args&... args)
        : FMessage(Format(fmt, args...)) {}
    ~Exception() override = default;

    const String& Message() const { return FMessage; }
    void SetMessage(String message) { FMessage = std::move(message); }
    const char* what() const noexcept override { return FMessage.c_str(); }

    // The name of the class, for messages and diagnostics.
    virtual String ClassName() const { return "Exception"; }

  private:
    String FMessage;
};

#define KURS_RUNTIME_EXCEPTION(Name, Base)                  \
    class Name : public Base {                              \
      public:                                               \
        using Base::Base;                                   \
        String ClassName() const override { return #Name; } \
    }

KURS_RUNTIME_EXCEPTION(EConvertError, Exception);
KURS_RUNTIME_EXCEPTION(EStreamError, Exception);
KURS_RUNTIME_EXCEPTION(EFilerError, EStreamError);
KURS_RUNTIME_EXCEPTION(EReadError, EFilerError);
KURS_RUNTIME_EXCEPTION(EWriteError, EFilerError);
KURS_RUNTIME_EXCEPTION(EFOpenError, EStreamError);
KURS_RUNTIME_EXCEPTION(EFCreateError, EStreamError);
KURS_RUNTIME_EXCEPTION(ERangeError, Exception);
KURS_RUNTIME_EXCEPTION(EListError, Exception);
KURS_RUNTIME_EXCEPTION(EStringListError, Exception);
KURS_RUNTIME_EXCEPTION(EComponentError, Exception);
KURS_RUNTIME_EXCEPTION(EPropertyError, Exception);
KURS_RUNTIME_EXCEPTION(EVariantError, Exception);
KURS_RUNTIME_EXCEPTION(EInvalidOperation, Exception);
KURS_RUNTIME_EXCEPTION(EOutOfResources, Exception);

// The silent exception: it unwinds like any other but the application's
// default handler shows nothing for it.
class EAbort : public Exception {
  public:
    EAbort() : Exception(String("Operation aborted")) {}
    using Exception::Exception;
    String ClassName() const override { return "EAbort"; }
};

// Raises EAbort.
[[noreturn]] void Abort();
