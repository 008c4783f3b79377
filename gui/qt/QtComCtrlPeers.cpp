// The peers of the common controls: the status bar and the date picker.
#include <QAccessible>
#include <QApplication>
#include <QCalendarWidget>
#include <QDateEdit>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QStyleOptionComboBox>
#include <algorithm>
#include <vector>

#include "gui/ComCtrls.h"
#include "gui/Input.h"
#include "gui/qt/QtBackend.h"
#include "gui/qt/QtPeers.h"
#include "runtime/DateTime.h"

namespace {

class TStatusBarPeer : public TWidgetPeer {
  public:
    TStatusBarPeer(TStatusBar* bar, QWidget* parent)
        : TWidgetPeer(bar, new QLabel(parent)), FBar(bar) {
        auto* label = static_cast<QLabel*>(FWidget.data());
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setIndent(3);
        SetAccessibleRole(label, QAccessible::StatusBar);
    }

  protected:
    void ApplyState() override {
        static_cast<QLabel*>(FWidget.data())
            ->setText(FBar->SimplePanel() ? ToQString(FBar->SimpleText()) : QString());
        // A reader hears each new status as the bar's name changing.
        ApplyAccessibleName(FBar, FWidget);
    }
    void ApplyText() override { ApplyState(); }

  private:
    TStatusBar* FBar;
};

// The short date format as a Qt display format.
QString QtDateFormat(const String& format) {
    QString result;
    for (char c : format) {
        if (c == '/') {
            result += QChar(DateSeparator());
        } else if (c == 'm') {
            result += 'M';
        } else if (c == 'y' || c == 'd') {
            result += QChar(c);
        } else {
            result += QString::fromStdString(Cp1251ToUtf8(String(1, c)));
        }
    }
    return result;
}

// A date field whose keys go to the framework's picker, which keeps the date
// and the selected field; the widget shows both.  Tab and Shift+Tab leave
// the field; F4 and Alt+Down open the calendar.
class TFrameworkDateEdit : public QDateEdit {
  public:
    TFrameworkDateEdit(TDateTimePicker* picker, QWidget* parent)
        : QDateEdit(parent), FPicker(picker) {
        lineEdit()->installEventFilter(this);
    }

    // Shows the picker's selected field as the selected section.
    void ShowSelectedPart() {
        const std::vector<TDatePart> parts = FPicker->Parts();
        const TDatePart part = parts[static_cast<std::size_t>(FPicker->SelectedPart())];
        const Section section = part == dpDay     ? DaySection
                                : part == dpMonth ? MonthSection
                                                  : YearSection;
        if (currentSection() != section)
            setCurrentSection(section);
        setSelectedSection(section);
    }

    void OpenCalendar() {
        if (!calendarPopup())
            return;
        // The drop-down button's place, where a click opens the calendar.
        QStyleOptionComboBox option;
        option.initFrom(this);
        option.editable = true;
        option.subControls = QStyle::SC_All;
        const QPoint at =
            style()
                ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, this)
                .center();
        QMouseEvent press(QEvent::MouseButtonPress, at, mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(this, &press);
    }

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        const TShiftState shift = ShiftOf(event);
        const int key = event->key();
        if (key == Qt::Key_F4 || (key == Qt::Key_Down && shift.Contains(ssAlt))) {
            OpenCalendar();
            return;
        }
        if (shift.Contains(ssAlt) || shift.Contains(ssCtrl)) {
            event->ignore();
            return;
        }
        switch (key) {
            case Qt::Key_Left:
                SendKeyDown(FPicker, VK_LEFT, shift);
                return;
            case Qt::Key_Right:
                SendKeyDown(FPicker, VK_RIGHT, shift);
                return;
            case Qt::Key_Up:
                SendKeyDown(FPicker, VK_UP, shift);
                return;
            case Qt::Key_Down:
                SendKeyDown(FPicker, VK_DOWN, shift);
                return;
            case Qt::Key_Home:
            case Qt::Key_End:
            case Qt::Key_PageUp:
            case Qt::Key_PageDown:
            case Qt::Key_Backspace:
            case Qt::Key_Delete:
                return;
            default:
                break;
        }
        const String typed = FromQString(event->text());
        if (typed.empty() || static_cast<unsigned char>(typed[0]) < 32) {
            event->ignore();
            return;
        }
        SendChars(FPicker, typed);
    }
    // Tab leaves the field instead of walking its sections.
    bool focusNextPrevChild(bool next) override { return QWidget::focusNextPrevChild(next); }
    void focusInEvent(QFocusEvent* event) override {
        QDateEdit::focusInEvent(event);
        ShowSelectedPart();
    }
    // The mouse on the text selects the field under it, whether or not the
    // picker had the focus (the focus comes first, with the field selected
    // before); the text's own caret and mouse selection are not used.
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != lineEdit())
            return QDateEdit::eventFilter(watched, event);
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick: {
                auto* mouse = static_cast<QMouseEvent*>(event);
                if (mouse->button() != Qt::LeftButton)
                    return false;
                FPicker->SelectPart(PartAt(mouse->position().toPoint()));
                ShowSelectedPart();
                return true;
            }
            case QEvent::MouseMove:
            case QEvent::MouseButtonRelease:
                return static_cast<QMouseEvent*>(event)->buttons() & Qt::LeftButton ||
                       static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
            default:
                return false;
        }
    }

  private:
    // The index into the picker's fields of the run of letters and digits
    // at a point of the text (a separator goes with the nearer side).
    int PartAt(const QPoint& at) const {
        const QString text = lineEdit()->text();
        const int position = lineEdit()->cursorPositionAt(at);
        int part = -1;
        for (int i = 0; i < text.size(); ++i) {
            if (!text[i].isLetterOrNumber() || (i > 0 && text[i - 1].isLetterOrNumber()))
                continue;
            if (part >= 0 && i > position)
                break;
            ++part;
        }
        return std::clamp(part, 0, 2);
    }

    TDateTimePicker* FPicker;
};

class TDatePickerPeer : public TWidgetPeer {
  public:
    TDatePickerPeer(TDateTimePicker* picker, QWidget* parent)
        : TWidgetPeer(picker, new TFrameworkDateEdit(picker, parent)), FPicker(picker) {
        auto* widget = static_cast<QDateEdit*>(FWidget.data());
        widget->setMinimumDate(QDate(100, 1, 1));
        // The calendar names its months and days in Russian, like the rest
        // of the window, whatever the locale the program runs in.
        widget->setLocale(QLocale(QLocale::Russian, QLocale::Russia));
        // The calendar and the mouse wheel change the date in the widget.
        QObject::connect(widget, &QDateEdit::dateChanged, [this, picker](const QDate& date) {
            if (FApplying || !date.isValid())
                return;
            SendDateChange(picker, EncodeDate(date.year(), date.month(), date.day()));
        });
    }

  protected:
    void ApplyText() override { ApplyState(); }
    void ApplyState() override {
        auto* widget = static_cast<TFrameworkDateEdit*>(FWidget.data());
        const bool popup = FPicker->DateMode() == dmComboBox;
        if (widget->calendarPopup() != popup) {
            widget->setCalendarPopup(popup);
            if (QCalendarWidget* calendar = widget->calendarWidget())
                calendar->setLocale(widget->locale());
        }
        // A new display format resets the widget's sections: only on a change.
        const QString format =
            QtDateFormat(FPicker->DateFormat() == dfLong ? LongDateFormat() : ShortDateFormat());
        if (widget->displayFormat() != format)
            widget->setDisplayFormat(format);
        int y = 0, m = 0, d = 0;
        DecodeDate(FPicker->Date(), y, m, d);
        const QDate date(y, m, d);
        if (widget->date() != date)
            widget->setDate(date);
        widget->ShowSelectedPart();
    }

  private:
    TDateTimePicker* FPicker;
};

}  // namespace

std::unique_ptr<TWidgetPeer> NewStatusBarPeer(TStatusBar* bar, QWidget* parent) {
    return std::make_unique<TStatusBarPeer>(bar, parent);
}

std::unique_ptr<TWidgetPeer> NewDatePickerPeer(TDateTimePicker* picker, QWidget* parent) {
    return std::make_unique<TDatePickerPeer>(picker, parent);
}
