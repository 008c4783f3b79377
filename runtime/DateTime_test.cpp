#include "runtime/DateTime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "platform/clock/FakeClock.h"
#include "runtime/Exceptions.h"

namespace {

TDateTime FixedNow() {
    return EncodeDate(2026, 12, 8) + EncodeTime(14, 5, 9, 250);
}

// Each test starts from known regional settings and a fixed clock.
class DateTimeTest : public testing::Test {
  protected:
    void SetUp() override {
        runtime_detail::SetClockForTesting(&FixedNow);
        SetDateSeparator('.');
        SetTimeSeparator(':');
        SetShortDateFormat("dd/mm/yyyy");
        SetLongTimeFormat("hh:nn:ss");
        SetShortTimeFormat("hh:nn");
    }
    void TearDown() override {
        runtime_detail::SetClockForTesting(nullptr);
        ResetFormatSettings();
    }
};

TEST_F(DateTimeTest, DayNumbersCountFromTheEpoch) {
    struct Case {
        int y, m, d;
        double days;
    } cases[] = {{1899, 12, 30, 0},    {1899, 12, 31, 1},  {1900, 1, 1, 2},        {1900, 3, 1, 61},
                 {2000, 12, 7, 36867}, {1, 1, 1, -693593}, {9999, 12, 31, 2958465}};
    for (const Case& c : cases) {
        EXPECT_EQ(EncodeDate(c.y, c.m, c.d), c.days) << c.y << "-" << c.m << "-" << c.d;
        int y, m, d;
        DecodeDate(c.days, y, m, d);
        EXPECT_EQ(y * 10000 + m * 100 + d, c.y * 10000 + c.m * 100 + c.d);
    }
    EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
    EXPECT_NO_THROW(EncodeDate(2024, 2, 29));
    EXPECT_THROW(EncodeDate(1900, 2, 29), EConvertError);
    EXPECT_THROW(EncodeDate(2000, 13, 1), EConvertError);
    EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
    EXPECT_EQ(DayOfWeek(EncodeDate(2000, 12, 7)), 5);  // Thursday
    EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7);
    EXPECT_EQ(DayOfWeek(-1), 6);
}

// Without a test clock of its own, the date comes from the installed clock
// in local time.
TEST_F(DateTimeTest, TodayIsTheInstalledClocksLocalDate) {
    runtime_detail::SetClockForTesting(nullptr);
    clocks::ScopedFakeClock clock;
    std::tm local{};
    local.tm_year = 2000 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 7;
    local.tm_hour = 12;
    local.tm_min = 30;
    local.tm_isdst = -1;
    const auto noon = std::chrono::system_clock::from_time_t(std::mktime(&local));
    clock.SetWallNow(noon + std::chrono::milliseconds(250));
    EXPECT_EQ(Date(), EncodeDate(2000, 12, 7));
    EXPECT_NEAR(Now() - Date(), EncodeTime(12, 30, 0, 250), 1000 / 86400000.0);
    clock.Advance(std::chrono::hours(24));
    EXPECT_EQ(Date(), EncodeDate(2000, 12, 8));
}

TEST_F(DateTimeTest, DayArithmeticAndToday) {
    const TDateTime today = Date();
    EXPECT_EQ(today, EncodeDate(2026, 12, 8));
    EXPECT_EQ(DateToStr(today + 1), "09.12.2026");
    EXPECT_EQ(DateToStr(today + 24), "01.01.2027");
    EXPECT_EQ(DateToStr(today - 341), "01.01.2026");
    EXPECT_EQ(DateToStr(today - 342), "31.12.2025");
    EXPECT_NEAR(Now() - today, EncodeTime(14, 5, 9, 250), 1e-9);
    EXPECT_EQ(DateToStr(IncMonth(EncodeDate(2024, 1, 31))), "29.02.2024");
    EXPECT_EQ(DateToStr(IncMonth(EncodeDate(2024, 1, 31), -2)), "30.11.2023");
}

TEST_F(DateTimeTest, SlashStandsForTheRegionalSeparator) {
    const TDateTime d = EncodeDate(2000, 12, 7);
    EXPECT_EQ(DateToStr(d), "07.12.2000");
    SetDateSeparator('/');
    EXPECT_EQ(DateToStr(d), "07/12/2000");
    SetDateSeparator('-');
    EXPECT_EQ(FormatDateTime("yyyy/mm/dd", d), "2000-12-07");
}

TEST_F(DateTimeTest, FormatPictures) {
    const TDateTime dt = EncodeDate(2000, 12, 7) + EncodeTime(9, 5, 3, 42);
    struct Case {
        const char* format;
        const char* expected;
    } cases[] = {
        {"d/m/yy", "7.12.00"},
        {"dd/mm/yyyy", "07.12.2000"},
        {"ddd dddd", "Thu Thursday"},
        {"mmm mmmm", "Dec December"},
        {"h:n:s", "9:5:3"},
        {"hh:nn:ss.zzz", "09:05:03.042"},
        {"hh:mm", "09:05"},  // m after h is minutes
        {"h:mm am/pm", "9:05 am"},
        {"hh AMPM", "09 AM"},
        {"a/p", "a"},
        {"\"Дата:\" dd", "Дата: 07"},
        {"'d' d", "d 7"},
        {"ddddd", "07.12.2000"},
        {"c", "07.12.2000 09:05:03"},
        {"t", "09:05"},
        {"tt", "09:05:03"},
        {"yyyy-mm-dd\\", "2000-12-07\\"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatDateTime(c.format, dt), c.expected) << c.format;
    EXPECT_EQ(FormatDateTime("c", EncodeDate(2000, 12, 7)), "07.12.2000");
    EXPECT_EQ(FormatDateTime("hh:nn AM/PM", EncodeTime(13, 0, 0, 0)), "01:00 PM");
    EXPECT_EQ(FormatDateTime("hh:nn a/p", EncodeTime(0, 30, 0, 0)), "12:30 a");
}

TEST_F(DateTimeTest, ParsingTypedDatesBack) {
    struct Good {
        const char* text;
        int y, m, d;
    } good[] = {
        {"07.12.2000", 2000, 12, 7}, {"7.12.2000", 2000, 12, 7}, {" 7 . 12 . 2000 ", 2000, 12, 7},
        {"29.02.2024", 2024, 2, 29}, {"1.1.25", 2025, 1, 1},     {"1.1.77", 1977, 1, 1},
        {"1.1.76", 1976, 1, 1},      {"1.1.75", 2075, 1, 1},     {"31.12", 2026, 12, 31},
        {"01.01.0001", 1, 1, 1},
    };
    for (const Good& g : good)
        EXPECT_EQ(StrToDate(g.text), EncodeDate(g.y, g.m, g.d)) << g.text;
    const char* bad[] = {"",      "07/12/2000", "32.01.2000", "29.02.2023", "7.12.2000x", "12",
                         "a.b.c", "07..2000",   "1.1.1.1",    "00.12.2000", "7.12.99999"};
    for (const char* b : bad)
        EXPECT_THROW(StrToDate(b), EConvertError) << b;
    try {
        StrToDate("x");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'x' is not a valid date");
    }
    SetShortDateFormat("mm/dd/yyyy");
    SetDateSeparator('/');
    EXPECT_EQ(StrToDate("12/07/2000"), EncodeDate(2000, 12, 7));
    SetShortDateFormat("yyyy/mm/dd");
    EXPECT_EQ(StrToDate("2000/12/07"), EncodeDate(2000, 12, 7));
    EXPECT_EQ(StrToDateDef("bad", -1), -1);
}

TEST_F(DateTimeTest, DateToStrRoundTripsThroughStrToDate) {
    for (TDateTime d = EncodeDate(1999, 12, 25); d < EncodeDate(2001, 1, 10); d += 1)
        ASSERT_EQ(StrToDate(DateToStr(d)), d) << DateToStr(d);
}

TEST_F(DateTimeTest, TimesAndDateTimes) {
    EXPECT_EQ(StrToTime("9:05"), EncodeTime(9, 5, 0, 0));
    EXPECT_EQ(StrToTime("09:05:03"), EncodeTime(9, 5, 3, 0));
    EXPECT_EQ(StrToTime("1:00 pm"), EncodeTime(13, 0, 0, 0));
    EXPECT_EQ(StrToTime("12:00 AM"), 0.0);
    EXPECT_THROW(StrToTime("24:00"), EConvertError);
    EXPECT_THROW(StrToTime("9"), EConvertError);
    EXPECT_EQ(StrToDateTime("07.12.2000 09:05"), EncodeDate(2000, 12, 7) + EncodeTime(9, 5, 0, 0));
    EXPECT_EQ(StrToDateTime("07.12.2000"), EncodeDate(2000, 12, 7));
    EXPECT_THROW(StrToDateTime("07.12.2000 x"), EConvertError);
    int h, n, s, ms;
    DecodeTime(-1.25, h, n, s, ms);  // 29.12.1899 06:00
    EXPECT_EQ(h, 6);
}

}  // namespace
