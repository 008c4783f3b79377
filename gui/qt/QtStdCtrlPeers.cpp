// The peers of the standard controls: label, push button, check box, group
// box and panel.
#include <QAccessible>
#include <QCheckBox>
#include <QFrame>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <algorithm>

#include "gui/Input.h"
#include "gui/Menus.h"
#include "gui/StdCtrls.h"
#include "gui/qt/QtBackend.h"
#include "gui/qt/QtPeers.h"

namespace {

class TLabelPeer : public TWidgetPeer {
  public:
    TLabelPeer(TLabel* label, QWidget* parent)
        : TWidgetPeer(label, new QLabel(parent)), FLabel(label) {}

  protected:
    void ApplyText() override {
        static_cast<QLabel*>(FWidget.data())->setText(ToQString(StripHotkey(FLabel->Caption())));
    }
    void ApplyState() override {
        auto* label = static_cast<QLabel*>(FWidget.data());
        label->setWordWrap(FLabel->WordWrap());
        Qt::Alignment align = Qt::AlignTop;
        align |= FLabel->Alignment() == taRightJustify ? Qt::AlignRight
                 : FLabel->Alignment() == taCenter     ? Qt::AlignHCenter
                                                       : Qt::AlignLeft;
        label->setAlignment(align);
    }

  private:
    TLabel* FLabel;
};

// A push button that Enter presses too while it has the focus, as Space does.
class TFrameworkButton : public QPushButton {
  public:
    using QPushButton::QPushButton;

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
            !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            if (isEnabled())
                click();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
};

class TButtonPeer : public TWidgetPeer {
  public:
    TButtonPeer(TButton* button, QWidget* parent)
        : TWidgetPeer(button, new TFrameworkButton(parent)), FButton(button) {
        QObject::connect(static_cast<QPushButton*>(FWidget.data()), &QPushButton::clicked,
                         [button] { SendClick(button); });
    }

  protected:
    void ApplyText() override {
        static_cast<QPushButton*>(FWidget.data())->setText(ToQString(FButton->Caption()));
    }
    void ApplyState() override {
        static_cast<QPushButton*>(FWidget.data())->setDefault(FButton->Default());
    }
    // The style's bevel under the caption, at rest and under the mouse: its
    // lightest and darkest colours inside the frame.
    std::vector<QColor> DrawnBackground(const QPalette& palette, QPalette::ColorGroup group,
                                        QPalette::ColorRole background) override {
        if (background != QPalette::Button)
            return TWidgetPeer::DrawnBackground(palette, group, background);
        QStyleOptionButton option;
        option.initFrom(FWidget);
        option.palette = palette;
        option.palette.setCurrentColorGroup(group);
        option.rect =
            QRect(0, 0, std::max(FControl->Width(), 24), std::max(FControl->Height(), 16));
        std::vector<QColor> colours;
        for (QStyle::State hover : {QStyle::State_None, QStyle::State_MouseOver}) {
            option.state = QStyle::State_Enabled | QStyle::State_Raised | hover |
                           (group == QPalette::Active ? QStyle::State_Active : QStyle::State_None);
            QImage image(option.rect.size(), QImage::Format_RGB32);
            image.fill(palette.color(group, QPalette::Window));
            QPainter painter(&image);
            FWidget->style()->drawControl(QStyle::CE_PushButtonBevel, &option, &painter, FWidget);
            painter.end();
            QColor lightest = palette.color(group, background), darkest = lightest;
            for (int y = 4; y < image.height() - 4; ++y) {
                for (int x = 4; x < image.width() - 4; ++x) {
                    const QColor c = image.pixelColor(x, y);
                    if (c.lightness() > lightest.lightness())
                        lightest = c;
                    if (c.lightness() < darkest.lightness())
                        darkest = c;
                }
            }
            colours.push_back(lightest);
            colours.push_back(darkest);
        }
        return colours;
    }

  private:
    TButton* FButton;
};

class TCheckBoxPeer : public TWidgetPeer {
  public:
    TCheckBoxPeer(TCheckBox* box, QWidget* parent)
        : TWidgetPeer(box, new QCheckBox(parent)), FBox(box) {
        auto* widget = static_cast<QCheckBox*>(FWidget.data());
        QObject::connect(widget, &QCheckBox::clicked, [this, box] {
            SendClick(box);
            // The framework decides the state; the widget shows it.
            if (FWidget)
                Changed(ccState);
        });
    }

  protected:
    void ApplyText() override {
        static_cast<QCheckBox*>(FWidget.data())->setText(ToQString(FBox->Caption()));
    }
    void ApplyState() override {
        auto* widget = static_cast<QCheckBox*>(FWidget.data());
        widget->setTristate(FBox->AllowGrayed());
        widget->setCheckState(FBox->State() == cbChecked  ? Qt::Checked
                              : FBox->State() == cbGrayed ? Qt::PartiallyChecked
                                                          : Qt::Unchecked);
        // The caption to the left of the box.
        widget->setLayoutDirection(FBox->Alignment() == taLeftJustify ? Qt::RightToLeft
                                                                      : Qt::LeftToRight);
    }

  private:
    TCheckBox* FBox;
};

// A classic group box: an etched frame whose top line runs through the
// middle of the caption, the caption inset from the left on the frame line.
class TGroupFrame : public QWidget {
  public:
    explicit TGroupFrame(QWidget* parent) : QWidget(parent) {
        SetAccessibleRole(this, QAccessible::Grouping);
    }
    void SetCaption(const QString& caption) {
        FCaption = caption;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QFontMetrics metrics(font());
        const int top = metrics.height() / 2;
        const QRect frame(0, top, width() - 1, height() - top - 1);
        const QColor dark = palette().color(QPalette::Dark);
        const QColor light = palette().color(QPalette::Light);
        // The etch: a dark line with a light one below and right of it.
        painter.setPen(light);
        painter.drawRect(frame.translated(1, 1).adjusted(0, 0, -1, -1));
        painter.setPen(dark);
        painter.drawRect(frame.adjusted(0, 0, -1, -1));
        if (FCaption.isEmpty())
            return;
        const QString caption = QString(FCaption).remove('&');
        const int captionWidth = metrics.horizontalAdvance(caption);
        const QRect captionRect(8, 0, captionWidth + 4, metrics.height());
        painter.fillRect(captionRect, palette().color(QPalette::Window));
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                       QPalette::WindowText));
        painter.drawText(captionRect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         caption);
    }

  private:
    QString FCaption;
};

class TGroupBoxPeer : public TWidgetPeer {
  public:
    TGroupBoxPeer(TGroupBox* box, QWidget* parent)
        : TWidgetPeer(box, new TGroupFrame(parent)), FBox(box) {}

  protected:
    void ApplyText() override {
        static_cast<TGroupFrame*>(FWidget.data())->SetCaption(ToQString(FBox->Caption()));
    }

  private:
    TGroupBox* FBox;
};

class TPanelPeer : public TWidgetPeer {
  public:
    TPanelPeer(TPanel* panel, QWidget* parent)
        : TWidgetPeer(panel, new QFrame(parent)), FPanel(panel) {
        SetAccessibleRole(FWidget, QAccessible::Pane);
        FWidget->setAutoFillBackground(true);
    }

  protected:
    void ApplyState() override {
        auto* frame = static_cast<QFrame*>(FWidget.data());
        const int bevels = (FPanel->BevelOuter() != bvNone) + (FPanel->BevelInner() != bvNone);
        if (bevels == 0) {
            frame->setFrameStyle(QFrame::NoFrame);
            return;
        }
        const TPanelBevel shown =
            FPanel->BevelInner() != bvNone ? FPanel->BevelInner() : FPanel->BevelOuter();
        frame->setFrameStyle(QFrame::Panel |
                             (shown == bvLowered ? QFrame::Sunken : QFrame::Raised));
        frame->setLineWidth(FPanel->BevelWidth() * bevels);
    }

  private:
    TPanel* FPanel;
};

}  // namespace

std::unique_ptr<TWidgetPeer> NewLabelPeer(TLabel* label, QWidget* parent) {
    return std::make_unique<TLabelPeer>(label, parent);
}

std::unique_ptr<TWidgetPeer> NewButtonPeer(TButton* button, QWidget* parent) {
    return std::make_unique<TButtonPeer>(button, parent);
}

std::unique_ptr<TWidgetPeer> NewCheckBoxPeer(TCheckBox* box, QWidget* parent) {
    return std::make_unique<TCheckBoxPeer>(box, parent);
}

std::unique_ptr<TWidgetPeer> NewGroupBoxPeer(TGroupBox* box, QWidget* parent) {
    return std::make_unique<TGroupBoxPeer>(box, parent);
}

std::unique_ptr<TWidgetPeer> NewPanelPeer(TPanel* panel, QWidget* parent) {
    return std::make_unique<TPanelPeer>(panel, parent);
}
