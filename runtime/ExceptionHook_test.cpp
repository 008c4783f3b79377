#include "runtime/ExceptionHook.h"

#include <gtest/gtest.h>

#include "runtime/Exceptions.h"

namespace {

TEST(ExceptionHook, InstalledHandlerReceivesTheException) {
    String seen;
    SetApplicationExceptionHandler([&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const Exception& ex) {
            seen = ex.ClassName() + ": " + ex.Message();
        }
    });
    CallGuarded([] { throw EConvertError("'x' is not a valid integer value"); });
    EXPECT_EQ(seen, "EConvertError: 'x' is not a valid integer value");
    SetApplicationExceptionHandler(nullptr);
}

TEST(ExceptionHook, DefaultWritesTheMessageAndIsSilentForAbort) {
    SetApplicationExceptionHandler(nullptr);
    testing::internal::CaptureStderr();
    HandleApplicationException(std::make_exception_ptr(Exception("Ошибка"_cp)));
    HandleApplicationException(std::make_exception_ptr(EAbort()));
    CallGuarded([] { Abort(); });
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Ошибка\n");  // converted to UTF-8 for the terminal
}

TEST(ExceptionHook, AHandlerThatThrowsDoesNotEscape) {
    SetApplicationExceptionHandler([](std::exception_ptr) { throw std::runtime_error("again"); });
    testing::internal::CaptureStderr();
    EXPECT_NO_THROW(HandleApplicationException(std::make_exception_ptr(Exception("first"))));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "again\n");
    SetApplicationExceptionHandler(nullptr);
}

TEST(Exceptions, MessagesAndFormattingConstructor) {
    EFOpenError e("Cannot open file \"%s\"", String("a.txt"));
    EXPECT_EQ(e.Message(), "Cannot open file \"a.txt\"");
    EXPECT_STREQ(e.what(), "Cannot open file \"a.txt\"");
    e.SetMessage("other");
    EXPECT_EQ(e.Message(), "other");
    EXPECT_EQ(e.ClassName(), "EFOpenError");
    EXPECT_EQ(Exception("100%").Message(), "100%");  // no formatting without arguments
}

}  // namespace
