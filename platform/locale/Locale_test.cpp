#include "platform/locale/Locale.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>

#include <cstdlib>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// The C library keeps the search path of a locale loaded through LOCPATH for
// the life of the process; the leak checker must not count it.
struct KeptByTheCLibrary {
#if defined(__SANITIZE_ADDRESS__)
    KeptByTheCLibrary() {
        __lsan_disable();
    }
    ~KeptByTheCLibrary() {
        __lsan_enable();
    }
#endif
};

TEST(Locale, CLocaleUsesSlashColonAndPoint) {
    const win::LocaleInfo info = win::GetLocaleInfoFor("C");
    EXPECT_EQ(info.DateSeparator, '/');
    EXPECT_EQ(info.TimeSeparator, ':');
    EXPECT_EQ(info.DecimalSeparator, '.');
    EXPECT_EQ(info.ShortDatePattern, "MM/dd/yy");
    EXPECT_EQ(info.TimePattern, "HH:mm:ss");
}

TEST(Locale, UnknownLocaleFallsBackToC) {
    const win::LocaleInfo info = win::GetLocaleInfoFor("xx_YY.NOPE");
    EXPECT_EQ(info.DateSeparator, '/');
    EXPECT_EQ(info.DecimalSeparator, '.');
}

// Compiles the Russian locale into a private directory with localedef and
// points LOCPATH at it, so the test does not depend on the machine's locales.
class RussianLocale : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/kurs_locale_XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            return;
        Dir = pattern;
        const std::string cmd =
            "localedef -i ru_RU -f UTF-8 '" + Dir + "/ru_RU.UTF-8' >/dev/null 2>&1";
        Ready = std::system(cmd.c_str()) == 0;
    }
    static void TearDownTestSuite() {
        if (!Dir.empty() && std::system(("rm -rf '" + Dir + "'").c_str()) != 0) {
        }
    }
    void SetUp() override {
        if (!Ready)
            GTEST_SKIP() << "localedef could not build ru_RU.UTF-8";
        setenv("LOCPATH", Dir.c_str(), 1);
    }
    void TearDown() override { unsetenv("LOCPATH"); }

    static inline std::string Dir;
    static inline bool Ready = false;
};

TEST_F(RussianLocale, NamedLocale) {
    win::LocaleInfo info;
    {
        [[maybe_unused]] KeptByTheCLibrary keep;
        info = win::GetLocaleInfoFor("ru_RU.UTF-8");
    }
    EXPECT_EQ(info.DateSeparator, '.');
    EXPECT_EQ(info.DecimalSeparator, ',');
    EXPECT_EQ(info.TimeSeparator, ':');
    EXPECT_EQ(info.ShortDatePattern, "dd.MM.yyyy");
    // The thousands separator is a no-break space there, not one byte.
    EXPECT_EQ(info.ThousandSeparator, ' ');
}

TEST_F(RussianLocale, TheEnvironmentDecides) {
    const char* saved = getenv("LC_ALL");
    const std::string keep = saved ? saved : "";
    setenv("LC_ALL", "ru_RU.UTF-8", 1);
    win::LocaleInfo info;
    {
        [[maybe_unused]] KeptByTheCLibrary keep;
        info = win::GetLocaleInfoFor("");
    }
    if (saved)
        setenv("LC_ALL", keep.c_str(), 1);
    else
        unsetenv("LC_ALL");
    EXPECT_EQ(info.DateSeparator, '.');
    EXPECT_EQ(info.DecimalSeparator, ',');
}

TEST(Locale, ReadingDoesNotChangeTheProcessLocale) {
    const std::string before = setlocale(LC_ALL, nullptr);
    (void)win::GetLocaleInfoFor("");
    (void)win::GetDateSeparator();
    EXPECT_EQ(before, setlocale(LC_ALL, nullptr));
}

TEST(Locale, StrftimeFormatsBecomePictures) {
    struct Case {
        const char* format;
        const char* picture;
    } cases[] = {
        {"%d.%m.%Y", "dd.MM.yyyy"},
        {"%m/%d/%y", "MM/dd/yy"},
        {"%Y-%m-%d", "yyyy-MM-dd"},
        {"%F", "yyyy-MM-dd"},
        {"%D", "MM/dd/yy"},
        {"%e.%m.%Y", "d.MM.yyyy"},
        {"%H:%M:%S", "HH:mm:ss"},
        {"%I:%M:%S %p", "hh:mm:ss tt"},
        {"%T", "HH:mm:ss"},
        {"%Ey", "yy"},
        {"%", ""},
        {"100%%", "100%"},
        {"%d %B %Y", "dd MMMM yyyy"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(win::PatternFromStrftime(c.format), c.picture) << c.format;
}

}  // namespace
