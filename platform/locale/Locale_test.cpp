#include "platform/locale/Locale.h"

#include <gtest/gtest.h>

TEST(Locale, CLocaleUsesSlashAndPoint) {
    const win::LocaleInfo info = win::GetLocaleInfoFor("C");
    EXPECT_EQ(info.DateSeparator, '/');
    EXPECT_EQ(info.DecimalSeparator, '.');
    EXPECT_EQ(info.TimeSeparator, ':');
}
