#include "gui/ComCtrls.h"

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
        if (message.LParam)
            SetDate(*reinterpret_cast<const TDateTime*>(message.LParam));
        message.Result = 0;
        return;
    }
    TWinControl::WndProc(message);
}
