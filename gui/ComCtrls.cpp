#include "gui/ComCtrls.h"

#include <algorithm>
#include <cctype>
#include <cmath>

// ---- TStatusBar --------------------------------------------------------------------

TStatusBar::TStatusBar(TComponent* AOwner) : TWinControl(AOwner) {
    SetBounds(0, 0, 0, 19);
    SetAlign(alBottom);
}

void TStatusBar::SetSimplePanel(bool value) {
    if (value == FSimplePanel)
        return;
    FSimplePanel = value;
    Changed(ccState);
}

void TStatusBar::SetSimpleText(const String& value) {
    if (value == FSimpleText)
        return;
    FSimpleText = value;
    Changed(ccState);
}

void TStatusBar::SetSizeGrip(bool value) {
    if (value == FSizeGrip)
        return;
    FSizeGrip = value;
    Changed(ccState);
}

// ---- TDateTimePicker ----------------------------------------------------------------

TDateTimePicker::TDateTimePicker(TComponent* AOwner) : TWinControl(AOwner) {
    SetBounds(0, 0, 186, 21);
    SetTabStop(true);
    SetColor(clWindow);
    FDateTime = ::Date();
}

void TDateTimePicker::SetDateTime(TDateTime value) {
    if (FKind == dtkDate)
        value = std::floor(value);
    if (FMinDate != 0 && value < FMinDate)
        value = FMinDate;
    if (FMaxDate != 0 && value > FMaxDate)
        value = FMaxDate;
    if (value == FDateTime)
        return;
    FDateTime = value;
    Changed(ccState);
    Changed(ccText);
    if (OnChange)
        OnChange(this);
}

TDateTime TDateTimePicker::Date() const {
    return std::floor(FDateTime);
}

void TDateTimePicker::SetDate(TDateTime value) {
    SetDateTime(std::floor(value) + (FDateTime - std::floor(FDateTime)));
}

TDateTime TDateTimePicker::Time() const {
    return FDateTime - std::floor(FDateTime);
}

void TDateTimePicker::SetTime(TDateTime value) {
    SetDateTime(std::floor(FDateTime) + (value - std::floor(value)));
}

String TDateTimePicker::Text() const {
    if (FKind == dtkTime)
        return TimeToStr(FDateTime);
    return FormatDateTime(FDateFormat == dfLong ? LongDateFormat() : ShortDateFormat(), FDateTime);
}

void TDateTimePicker::SetText(const String& value) {
    if (FKind == dtkTime) {
        SetTime(StrToTime(Trim(value)));
    } else {
        SetDate(StrToDate(Trim(value)));
    }
}

void TDateTimePicker::SetKind(TDateTimeKind value) {
    if (value == FKind)
        return;
    FKind = value;
    Changed(ccState);
}

void TDateTimePicker::SetDateMode(TDTDateMode value) {
    if (value == FDateMode)
        return;
    FDateMode = value;
    Changed(ccState);
}

void TDateTimePicker::SetDateFormat(TDTDateFormat value) {
    if (value == FDateFormat)
        return;
    FDateFormat = value;
    Changed(ccText);
}

void TDateTimePicker::SetCalAlignment(TDTCalAlignment value) {
    if (value == FCalAlignment)
        return;
    FCalAlignment = value;
    Changed(ccState);
}

void TDateTimePicker::WndProc(TMessage& message) {
    if (message.Msg == CN_DATECHANGE) {
        FTypedDay = 0;
        if (message.LParam)
            SetDate(*reinterpret_cast<const TDateTime*>(message.LParam));
        message.Result = 0;
        return;
    }
    if (message.Msg == win::WM_KILLFOCUS) {
        CommitTyped();
        FTypedDay = 0;
    }
    TWinControl::WndProc(message);
}

std::vector<TDatePart> TDateTimePicker::Parts() const {
    std::vector<TDatePart> parts;
    for (char c : ShortDateFormat()) {
        const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const TDatePart part = lower == 'd' ? dpDay : lower == 'm' ? dpMonth : dpYear;
        if ((lower == 'd' || lower == 'm' || lower == 'y') &&
            std::find(parts.begin(), parts.end(), part) == parts.end())
            parts.push_back(part);
    }
    for (TDatePart part : {dpDay, dpMonth, dpYear}) {
        if (std::find(parts.begin(), parts.end(), part) == parts.end())
            parts.push_back(part);
    }
    return parts;
}

void TDateTimePicker::SelectPart(int index) {
    FTypedDay = 0;
    MovePart(index);
}

void TDateTimePicker::MovePart(int index) {
    index = std::clamp(index, 0, 2);
    CommitTyped();
    FAdvanced = false;
    if (index == FPart)
        return;
    FPart = index;
    Changed(ccSelection);
}

void TDateTimePicker::SetPart(TDatePart part, int value) {
    int y = 0, m = 0, d = 0;
    DecodeDate(Date(), y, m, d);
    switch (part) {
        case dpDay:
            d = value;
            break;
        case dpMonth:
            m = value;
            break;
        case dpYear:
            y = value;
            break;
    }
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1)
        return;
    // A day typed before the month or the year comes back once they allow it.
    if (FTypedDay != 0 && part != dpDay)
        d = FTypedDay;
    // A day the month does not have becomes the month's last.
    d = std::min(d, DaysInMonth(y, m));
    SetDate(EncodeDate(y, m, d));
}

void TDateTimePicker::StepPart(int delta) {
    int y = 0, m = 0, d = 0;
    DecodeDate(Date(), y, m, d);
    switch (Parts()[static_cast<std::size_t>(FPart)]) {
        case dpDay: {
            const int days = DaysInMonth(y, m);
            SetPart(dpDay, (d - 1 + delta + days) % days + 1);
            break;
        }
        case dpMonth:
            SetPart(dpMonth, (m - 1 + delta + 12) % 12 + 1);
            break;
        case dpYear:
            SetPart(dpYear, std::clamp(y + delta, 1, 9999));
            break;
    }
}

void TDateTimePicker::CommitTyped() {
    if (FTyped.empty())
        return;
    const int value = std::stoi(FTyped);
    const std::size_t digits = FTyped.size();
    FTyped.clear();
    if (Parts()[static_cast<std::size_t>(FPart)] != dpYear)
        return;  // a day or month is taken as it is typed
    // Two digits or fewer name a year of the century window 1930..2029.
    SetPart(dpYear, digits > 2 ? value : value < 30 ? 2000 + value : 1900 + value);
}

void TDateTimePicker::TypeDigit(char digit) {
    FAdvanced = false;
    const TDatePart part = Parts()[static_cast<std::size_t>(FPart)];
    FTyped += digit;
    int value = std::stoi(FTyped);
    if (part == dpYear) {
        if (FTyped.size() == 4)
            CommitTyped();
        return;
    }
    const int most = part == dpDay ? 31 : 12;
    if (value > most) {
        // Too large with the earlier digit: this digit starts the value anew.
        FTyped = String(1, digit);
        value = digit - '0';
    }
    if (part == dpDay)
        FTypedDay = value;
    if (value >= 1)
        SetPart(part, value);
    if (FTyped.size() == 2 || value * 10 > most) {
        FTyped.clear();
        if (FPart < 2) {
            FPart += 1;
            FAdvanced = true;
            Changed(ccSelection);
        }
    }
}

void TDateTimePicker::KeyPress(char& key) {
    if (FKind != dtkDate)
        return;
    if (key >= '0' && key <= '9') {
        TypeDigit(key);
        return;
    }
    if (key == DateSeparator() || key == '.' || key == '/' || key == '-' || key == ' ' ||
        key == ',') {
        if (FAdvanced) {
            FAdvanced = false;
            return;
        }
        MovePart(FPart + 1);
    }
}

void TDateTimePicker::KeyDown(win::WORD& key) {
    if (FKind != dtkDate)
        return;
    FTypedDay = 0;
    switch (key) {
        case VK_LEFT:
            SelectPart(FPart - 1);
            break;
        case VK_RIGHT:
            SelectPart(FPart + 1);
            break;
        case VK_UP:
        case VK_DOWN:
            CommitTyped();
            FAdvanced = false;
            StepPart(key == VK_UP ? 1 : -1);
            break;
        default:
            break;
    }
}
