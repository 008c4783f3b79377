#pragma once
// The seam between the framework and a rendering backend.  Headless (no
// backend set) every control keeps its state, message boxes are recorded and
// return at once, and the message loop is the message layer's own.  A
// backend (gui/qt/) makes one peer per control of a shown form, keeps it in
// step with the control through Changed(), and feeds the user's input back
// through gui/Input.h.

#include <memory>
#include <vector>

#include "gui/Controls.h"

// The backend's object for one control.  It reads whatever it shows from
// the control itself; Changed() names what to read again.
class TControlPeer {
  public:
    virtual ~TControlPeer() = default;
    virtual void Changed(TControlChange what) = 0;
};

class TGuiBackend {
  public:
    virtual ~TGuiBackend() = default;

    // A peer for a control that is about to be shown (a form first, then
    // its children, parents before children), or nullptr for a control the
    // backend does not show.
    virtual std::unique_ptr<TControlPeer> CreatePeer(TControl* control) = 0;
    // Shows a modal message box and returns the pressed button (IDOK).
    virtual int ShowMessageBox(const String& text, const String& caption, win::UINT flags) = 0;
    // Screen->Cursor changed.
    virtual void CursorChanged(TCursor cursor) = 0;
    // The application was minimised (true) or restored (false).
    virtual void ApplicationMinimized(bool minimized) = 0;
    // Delivers what is pending now (the backend's own events and the message
    // layer's messages) without blocking.
    virtual void ProcessEvents() = 0;
    // Blocks until an event or a message arrives.
    virtual void WaitForEvents() = 0;
    // The work area (the screen less the desktop's panels) of each screen;
    // none when the backend cannot tell (the whole screen then stands for it).
    virtual std::vector<win::RECT> WorkAreas() { return {}; }
    // The desktop's clipboard as text; false when the backend has none (the
    // framework then keeps a clipboard of its own).
    virtual bool ClipboardText(String& text) {
        (void)text;
        return false;
    }
    virtual bool SetClipboardText(const String& text) {
        (void)text;
        return false;
    }
};

// The current backend, or nullptr headless.  Set it before the first form is shown.
TGuiBackend* GuiBackend();
void SetGuiBackend(TGuiBackend* backend);
