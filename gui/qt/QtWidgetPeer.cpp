#include <QApplication>
#include <QKeyEvent>
#include <cstdint>

#include "gui/qt/QtBackend.h"
#include "gui/qt/QtPeers.h"

QString ToQString(const String& text) {
    String normalised;
    normalised.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ||
            (c == '\n' && i + 1 < text.size() && text[i + 1] == '\r')) {
            normalised += '\n';
            ++i;
        } else if (c == '\r') {
            normalised += '\n';
        } else {
            normalised += c;
        }
    }
    return QString::fromStdString(Cp1251ToUtf8(normalised));
}

String FromQString(const QString& text) {
    return Utf8ToCp1251(text.toUtf8().toStdString());
}

std::map<const TControl*, QWidget*>& ControlWidgets() {
    static std::map<const TControl*, QWidget*> widgets;
    return widgets;
}

// The modifiers of a Qt key event as the framework's shift state.
TShiftState ShiftOf(const QKeyEvent* event) {
    TShiftState shift;
    if (event->modifiers() & Qt::ShiftModifier)
        shift << ssShift;
    if (event->modifiers() & Qt::ControlModifier)
        shift << ssCtrl;
    if (event->modifiers() & Qt::AltModifier)
        shift << ssAlt;
    return shift;
}

namespace {

QColor ToQColor(TColor color) {
    const std::uint32_t rgb = ColorToRGB(color);
    return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

}  // namespace

TWidgetPeer::TWidgetPeer(TControl* control, QWidget* widget) : FControl(control), FWidget(widget) {
    ControlWidgets()[control] = widget;
}

TWidgetPeer::~TWidgetPeer() {
    ControlWidgets().erase(FControl);
    delete FWidget.data();
}

void TWidgetPeer::Changed(TControlChange what) {
    if (!FWidget)
        return;
    FApplying = true;
    switch (what) {
        case ccBounds:
            ApplyBounds();
            break;
        case ccVisible:
            ApplyVisible();
            break;
        case ccEnabled:
            FWidget->setEnabled(FControl->Enabled());
            break;
        case ccFont:
        case ccColor:
            ApplyFont();
            break;
        case ccText:
        case ccSelection:
            ApplyText();
            ApplyAccessibleName(FControl, FWidget);
            break;
        default:
            ApplyState();
            break;
    }
    FApplying = false;
}

void TWidgetPeer::Init() {
    FApplying = true;
    ApplyFont();
    ApplyText();
    ApplyState();
    ApplyBounds();
    FWidget->setEnabled(FControl->Enabled());
    ApplyAccessibleName(FControl, FWidget);
    ApplyVisible();
    FApplying = false;
}

void TWidgetPeer::ApplyBounds() {
    FWidget->setGeometry(FControl->Left(), FControl->Top(), FControl->Width(), FControl->Height());
}

void TWidgetPeer::ApplyFont() {
    TFont* font = FControl->Font();
    QFont f = QApplication::font();
    // The classic dialog font stands for the desktop's sans serif.
    if (AnsiSameText(font->Name(), "MS Sans Serif")) {
        // The classic face is narrow: the same size, condensed,
        // keeps captions inside their designed widths.
        f.setStretch(QFont::Condensed);
    } else {
        f.setFamily(ToQString(font->Name()));
    }
    f.setPointSize(font->Size());
    f.setBold(font->Style().Contains(fsBold));
    f.setItalic(font->Style().Contains(fsItalic));
    f.setUnderline(font->Style().Contains(fsUnderline));
    f.setStrikeOut(font->Style().Contains(fsStrikeOut));
    FWidget->setFont(f);
    QPalette palette = FWidget->palette();
    if (font->Color() != clWindowText) {
        // A disabled control keeps the style's grey text.
        const QColor c = ToQColor(font->Color());
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            palette.setColor(group, QPalette::WindowText, c);
            palette.setColor(group, QPalette::Text, c);
            palette.setColor(group, QPalette::ButtonText, c);
        }
    }
    FWidget->setPalette(palette);
}
