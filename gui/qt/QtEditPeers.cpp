// The peers of the edits: the one-line edit (masked or not) and the memo.
// The framework's edit decides what a field holds; the widget shows it.
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <algorithm>
#include <cstdlib>
#include <functional>

#include "gui/Clipbrd.h"
#include "gui/Input.h"
#include "gui/Mask.h"
#include "gui/StdCtrls.h"
#include "gui/qt/QtBackend.h"
#include "gui/qt/QtPeers.h"

namespace {

// A line edit whose keys go to the framework's edit, which decides what the
// field holds (the masked edit's rules live there) and where the caret and
// the selection are; the widget shows that.  The mouse selects in the widget
// itself, and each change of its selection is handed to the framework.
class TFrameworkLineEdit : public QLineEdit {
  public:
    TFrameworkLineEdit(TCustomEdit* edit, QWidget* parent) : QLineEdit(parent), FEdit(edit) {
        setAcceptDrops(false);
    }

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        const TShiftState shift = ShiftOf(event);
        const bool ctrl = shift.Contains(ssCtrl);
        const bool alt = shift.Contains(ssAlt);
        switch (event->key()) {
            case Qt::Key_Backspace:
                if (alt) {
                    SendKeyDown(FEdit, VK_BACK, shift);
                } else if (!ctrl) {
                    SendChars(FEdit, "\b");
                }
                return;
            case Qt::Key_Delete:
                SendKeyDown(FEdit, VK_DELETE, shift);
                return;
            case Qt::Key_Insert:
                SendKeyDown(FEdit, VK_INSERT, shift);
                return;
            case Qt::Key_Left:
                SendKeyDown(FEdit, VK_LEFT, shift);
                return;
            case Qt::Key_Right:
                SendKeyDown(FEdit, VK_RIGHT, shift);
                return;
            case Qt::Key_Home:
                SendKeyDown(FEdit, VK_HOME, shift);
                return;
            case Qt::Key_End:
                SendKeyDown(FEdit, VK_END, shift);
                return;
            default:
                break;
        }
        if (ctrl && !alt) {
            // The control characters the edit answers (select all, copy,
            // paste, cut, undo); other shortcuts belong to the window.
            static const std::map<int, char> controls{{Qt::Key_A, '\x01'},
                                                      {Qt::Key_C, '\x03'},
                                                      {Qt::Key_V, '\x16'},
                                                      {Qt::Key_X, '\x18'},
                                                      {Qt::Key_Z, '\x1A'}};
            if (auto it = controls.find(event->key()); it != controls.end()) {
                SendChars(FEdit, std::string_view(&it->second, 1));
                return;
            }
            event->ignore();
            return;
        }
        const String typed = FromQString(event->text());
        if (alt || typed.empty() || static_cast<unsigned char>(typed[0]) < 32) {
            // Tab, Enter, Escape and the menu's accelerators go on to the window.
            event->ignore();
            return;
        }
        SendChars(FEdit, typed);
    }

    void contextMenuEvent(QContextMenuEvent* event) override {
        // The edit's own menu, in the words of Qt's translations, acting
        // through the framework's edit like the keys do.
        QMenu menu(this);
        const bool selected = FEdit->SelLength() > 0;
        const bool writable = !FEdit->ReadOnly();
        auto add = [&](const char* text, QKeySequence::StandardKey key, bool enabled,
                       std::function<void()> action) {
            QString caption = QCoreApplication::translate("QLineEdit", text);
            const QString shortcut = QKeySequence(key).toString(QKeySequence::NativeText);
            if (!shortcut.isEmpty())
                caption += '\t' + shortcut;
            QAction* item = menu.addAction(caption);
            item->setEnabled(enabled);
            QObject::connect(item, &QAction::triggered, &menu, std::move(action));
        };
        TCustomEdit* edit = FEdit;
        auto send = [edit](win::UINT message) {
            return [edit, message] { win::SendMessage(edit->Handle(), message, 0, 0); };
        };
        add("&Undo", QKeySequence::Undo, writable && FEdit->CanUndo(), send(WM_UNDO));
        menu.addSeparator();
        add("Cu&t", QKeySequence::Cut, writable && selected, send(WM_CUT));
        add("&Copy", QKeySequence::Copy, selected, send(WM_COPY));
        add("&Paste", QKeySequence::Paste, writable && Clipboard()->HasText(), send(WM_PASTE));
        add("Delete", QKeySequence::UnknownKey, writable && selected, send(WM_CLEAR));
        menu.addSeparator();
        add("Select All", QKeySequence::SelectAll, !FEdit->Text().empty(),
            [edit] { edit->SelectAll(); });
        menu.exec(event->globalPos());
    }

  private:
    TCustomEdit* FEdit;
};

class TEditPeer : public TWidgetPeer {
  public:
    TEditPeer(TCustomEdit* edit, QWidget* parent)
        : TWidgetPeer(edit, new TFrameworkLineEdit(edit, parent)), FEdit(edit) {
        auto* line = static_cast<QLineEdit*>(FWidget.data());
        // What reaches the widget some other way (an input method) is
        // handed over as a text change, and a masked field shows what its
        // mask makes of it.
        QObject::connect(line, &QLineEdit::textEdited, [this](const QString& text) {
            if (FApplying)
                return;
            SendTextChange(FEdit, FromQString(text));
            if (FWidget)
                Changed(ccText);
        });
        // The mouse (and focus by Tab, which selects all) selects in the
        // widget: the framework follows.
        QObject::connect(line, &QLineEdit::selectionChanged, [this] { TakeSelection(); });
        QObject::connect(line, &QLineEdit::cursorPositionChanged,
                         [this](int, int) { TakeSelection(); });
    }

  protected:
    void ApplyText() override {
        auto* widget = static_cast<QLineEdit*>(FWidget.data());
        auto* masked = dynamic_cast<TMaskEdit*>(FEdit);
        const QString text = ToQString(masked ? masked->EditText() : FEdit->Text());
        const bool applying = FApplying;
        FApplying = true;
        if (widget->text() != text)
            widget->setText(text);
        // The selection as the framework has it: from its anchor to the caret.
        const int caret = FEdit->CaretPos();
        const int anchor =
            caret == FEdit->SelStart() ? FEdit->SelStart() + FEdit->SelLength() : FEdit->SelStart();
        if (anchor == caret) {
            if (widget->hasSelectedText() || widget->cursorPosition() != caret)
                widget->setCursorPosition(caret);
        } else if (widget->cursorPosition() != caret ||
                   widget->selectionStart() != std::min(anchor, caret) ||
                   widget->selectedText().size() != std::abs(caret - anchor)) {
            widget->setSelection(anchor, caret - anchor);
        }
        FApplying = applying;
    }
    void ApplyState() override {
        auto* widget = static_cast<QLineEdit*>(FWidget.data());
        widget->setReadOnly(FEdit->ReadOnly());
        widget->setMaxLength(32767);
        ApplyText();
    }

  private:
    void TakeSelection() {
        if (FApplying || !FWidget)
            return;
        auto* widget = static_cast<QLineEdit*>(FWidget.data());
        const int caret = widget->cursorPosition();
        int anchor = caret;
        if (widget->hasSelectedText()) {
            const int start = widget->selectionStart();
            const int end = start + static_cast<int>(widget->selectedText().size());
            anchor = caret == start ? end : start;
        }
        FEdit->Select(anchor, caret);
    }

    TCustomEdit* FEdit;
};

class TMemoPeer : public TWidgetPeer {
  public:
    TMemoPeer(TMemo* memo, QWidget* parent)
        : TWidgetPeer(memo, new QPlainTextEdit(parent)), FMemo(memo) {
        auto* widget = static_cast<QPlainTextEdit*>(FWidget.data());
        QObject::connect(widget, &QPlainTextEdit::textChanged, [this, widget] {
            if (FApplying || FMemo->ReadOnly())
                return;
            SendTextChange(FMemo, FromQString(widget->toPlainText()));
        });
    }

  protected:
    void ApplyText() override {
        auto* widget = static_cast<QPlainTextEdit*>(FWidget.data());
        const QString text = ToQString(FMemo->Text());
        if (widget->toPlainText() != text)
            widget->setPlainText(text);
    }
    void ApplyState() override {
        auto* widget = static_cast<QPlainTextEdit*>(FWidget.data());
        widget->setReadOnly(FMemo->ReadOnly());
        widget->setLineWrapMode(FMemo->WordWrap() ? QPlainTextEdit::WidgetWidth
                                                  : QPlainTextEdit::NoWrap);
        const TScrollStyle bars = FMemo->ScrollBars();
        widget->setVerticalScrollBarPolicy(
            bars == ssVertical || bars == ssBoth ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
        ApplyText();
    }

  private:
    TMemo* FMemo;
};

}  // namespace

std::unique_ptr<TWidgetPeer> NewEditPeer(TCustomEdit* edit, QWidget* parent) {
    return std::make_unique<TEditPeer>(edit, parent);
}

std::unique_ptr<TWidgetPeer> NewMemoPeer(TMemo* memo, QWidget* parent) {
    return std::make_unique<TMemoPeer>(memo, parent);
}
