#pragma once
// Draws the framework's forms with Qt 6 Widgets.  One widget per control at
// the control's geometry, the form's menu bar with accelerators and check
// marks, modal message boxes, the wait cursor.  The message layer's sources
// (posted messages, timers, watched descriptors) are registered with Qt's
// event loop, so they keep flowing inside Qt's nested loops (a message box,
// an open menu, the calendar pop-up), and every wait is Qt's.  SIGTERM,
// SIGINT and SIGHUP close the main form as its close button does.
//
//   TQtBackend backend(argc, argv);   // before the first form is shown
//   Application->Initialize(); ... Application->Run();

#include <memory>
#include <string>

#include "gui/Backend.h"

class QWidget;

class TQtBackend : public TGuiBackend {
  public:
    // Makes the QApplication unless one exists, takes the screen's size and
    // resolution, registers the message layer's sources and installs itself
    // as the framework's backend.
    TQtBackend(int& argc, char** argv);
    // When set before the backend is made, a display that cannot be opened
    // ends the program with exit status 1 and this one line on stderr,
    // instead of Qt's abort.
    static void SetNoDisplayMessage(const std::string& text);
    // The desktop entry the program's windows belong to (its file name
    // without ".desktop"), which docks and task bars match them with, and
    // the icon every window shows: a picture file, or ":/..." for one
    // compiled into the program (an SVG needs Qt's SVG icon plugin).  False
    // when the icon cannot be drawn; the windows then keep Qt's own.
    bool SetDesktopIdentity(const std::string& desktopEntry, const std::string& iconFile);
    ~TQtBackend() override;
    TQtBackend(const TQtBackend&) = delete;
    TQtBackend& operator=(const TQtBackend&) = delete;

    std::unique_ptr<TControlPeer> CreatePeer(TControl* control) override;
    int ShowMessageBox(const String& text, const String& caption, win::UINT flags) override;
    void CursorChanged(TCursor cursor) override;
    void ApplicationMinimized(bool minimized) override;
    void ProcessEvents() override;
    void WaitForEvents() override;
    std::vector<win::RECT> WorkAreas() override;
    bool ClipboardText(String& text) override;
    bool SetClipboardText(const String& text) override;

    // The widget that shows a control (a form: its top-level window), or nullptr.
    static QWidget* WidgetOf(const TControl* control);

    struct TImpl;

  private:
    std::unique_ptr<TImpl> F;
};

// Text for Qt: cp1251 to UTF-16, "\r\n" and "\n\r" as one line break.
class QString;
QString ToQString(const String& text);
String FromQString(const QString& text);

// Writes a PNG picture of what the control's widget shows now (a form: its
// client area with the menu bar) to fileName; false when the control has no
// widget or the file cannot be written.  For screenshots and visual checks.
bool SaveControlImage(const TControl* control, const std::string& fileName);

// The accessibility tree of a control's widget as the desktop's
// accessibility layer gets it: one line per visible node, "Role \"name\"",
// indented two spaces per level.  For tests and checks.
std::string AccessibleTree(const TControl* control);
// The whole text a reader gets from a control's text interface (UTF-8).
std::string AccessibleText(const TControl* control);
