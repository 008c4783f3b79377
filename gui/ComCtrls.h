#pragma once
// Common controls: the status bar and the date picker.

#include <vector>

#include "gui/Controls.h"
#include "runtime/DateTime.h"

// A status bar at the bottom of its form; in simple-panel mode it shows one
// text over its whole width.
class TStatusBar : public TWinControl {
  public:
    explicit TStatusBar(TComponent* AOwner);
    String ClassName() const override { return "TStatusBar"; }

    bool SimplePanel() const { return FSimplePanel; }
    void SetSimplePanel(bool value);
    const String& SimpleText() const { return FSimpleText; }
    void SetSimpleText(const String& value);
    bool SizeGrip() const { return FSizeGrip; }
    void SetSizeGrip(bool value);

  private:
    bool FSimplePanel = false;
    String FSimpleText;
    bool FSizeGrip = true;
};

enum TDateTimeKind { dtkDate, dtkTime };
enum TDTDateMode { dmComboBox, dmUpDown };
enum TDTDateFormat { dfShort, dfLong };
enum TDTCalAlignment { dtaLeft, dtaRight };

// The fields of a date.
enum TDatePart { dpDay, dpMonth, dpYear };

// A date field with a drop-down calendar.  Its Text is the date in the
// short (or long) date format of the moment; typed text is parsed back with
// the short date format.
//
// From the keyboard one field (day, month or year, in the order of the short
// date format) is selected at a time: digits type its value (a day or month
// is taken as soon as it is complete, and the next field is selected; a year
// once four digits are typed, or when the field is left); Left and Right, or
// the date separator, select the previous and next field; Up and Down step
// the selected field by one, wrapping round within it.
class TDateTimePicker : public TWinControl {
  public:
    explicit TDateTimePicker(TComponent* AOwner);
    String ClassName() const override { return "TDateTimePicker"; }

    // Kept as a whole day (dtkDate) or as a time of day (dtkTime).
    TDateTime DateTime() const { return FDateTime; }
    void SetDateTime(TDateTime value);
    TDateTime Date() const;
    void SetDate(TDateTime value);
    TDateTime Time() const;
    void SetTime(TDateTime value);

    String Text() const override;
    // EConvertError "'%s' is not a valid date" for text that is no date; the
    // date stays as it was.
    void SetText(const String& value) override;

    TDateTimeKind Kind() const { return FKind; }
    void SetKind(TDateTimeKind value);
    TDTDateMode DateMode() const { return FDateMode; }
    void SetDateMode(TDTDateMode value);
    TDTDateFormat DateFormat() const { return FDateFormat; }
    void SetDateFormat(TDTDateFormat value);
    TDTCalAlignment CalAlignment() const { return FCalAlignment; }
    void SetCalAlignment(TDTCalAlignment value);
    // 0 = no bound.
    TDateTime MinDate() const { return FMinDate; }
    void SetMinDate(TDateTime value) { FMinDate = value; }
    TDateTime MaxDate() const { return FMaxDate; }
    void SetMaxDate(TDateTime value) { FMaxDate = value; }

    // The fields in the order the short date format shows them.
    std::vector<TDatePart> Parts() const;
    // The index into Parts() of the field the keys act on.
    int SelectedPart() const { return FPart; }
    void SelectPart(int index);

    TNotifyEvent OnChange;

  protected:
    void WndProc(TMessage& message) override;
    void KeyPress(char& key) override;
    void KeyDown(win::WORD& key) override;

  private:
    // Selects a field without ending the date being typed.
    void MovePart(int index);
    void TypeDigit(char digit);
    // Takes the digits typed so far into the selected field.
    void CommitTyped();
    void SetPart(TDatePart part, int value);
    void StepPart(int delta);

    TDateTime FDateTime = 0;
    int FPart = 0;
    String FTyped;
    // The day typed while a whole date is typed (0: none), which a month or
    // year typed after it keeps even where the month shown meanwhile is shorter.
    int FTypedDay = 0;
    // The field was just completed by typing; a separator now moves no further.
    bool FAdvanced = false;
    TDateTimeKind FKind = dtkDate;
    TDTDateMode FDateMode = dmComboBox;
    TDTDateFormat FDateFormat = dfShort;
    TDTCalAlignment FCalAlignment = dtaLeft;
    TDateTime FMinDate = 0;
    TDateTime FMaxDate = 0;
};
