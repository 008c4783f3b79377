#include <QApplication>
#include <QKeyEvent>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

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

double ContrastRatio(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& c) {
        auto channel = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

std::map<const TControl*, QWidget*>& ControlWidgets() {
    static std::map<const TControl*, QWidget*> widgets;
    return widgets;
}

TControl* ControlOf(const QWidget* widget) {
    for (const auto& [control, shown] : ControlWidgets()) {
        if (shown == widget)
            return const_cast<TControl*>(control);
    }
    return nullptr;
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

// A text colour that stands out from every background colour drawn behind
// it by the contrast readers need (4.5:1): the colour itself where it does,
// else the same hue made lighter (on a dark background) or darker until it
// does.
QColor Readable(const QColor& text, const std::vector<QColor>& backgrounds) {
    constexpr double kReadable = 4.5;
    auto worst = [&](const QColor& c) {
        double least = 21;
        for (const QColor& background : backgrounds)
            least = std::min(least, ContrastRatio(c, background));
        return least;
    };
    if (worst(text) >= kReadable)
        return text;
    const bool lighter = worst(Qt::white) > worst(Qt::black);
    const float hue = text.hslHueF() < 0 ? 0 : text.hslHueF();
    const float saturation = text.hslSaturationF();
    const float lightness = text.lightnessF();
    for (int step = 1; step <= 100; ++step) {
        const float l = lighter ? lightness + (1 - lightness) * static_cast<float>(step) / 100
                                : lightness * (1 - static_cast<float>(step) / 100);
        const QColor candidate = QColor::fromHslF(hue, saturation, l);
        if (worst(candidate) >= kReadable)
            return candidate;
    }
    return lighter ? QColor(Qt::white) : QColor(Qt::black);
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

std::vector<QColor> TWidgetPeer::DrawnBackground(const QPalette& palette,
                                                 QPalette::ColorGroup group,
                                                 QPalette::ColorRole background) {
    return {palette.color(group, background)};
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
        // Each text against the background it is drawn on: a label's on
        // the window, an edit's on its base, a button's on the button.
        const QColor c = ToQColor(font->Color());
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            for (auto [text, background] : {std::pair{QPalette::WindowText, QPalette::Window},
                                            std::pair{QPalette::Text, QPalette::Base},
                                            std::pair{QPalette::ButtonText, QPalette::Button}}) {
                palette.setColor(group, text,
                                 Readable(c, DrawnBackground(palette, group, background)));
            }
        }
    }
    FWidget->setPalette(palette);
}
