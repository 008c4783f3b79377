#pragma once
// The bridge between the message layer and Qt's event loop.  What the message
// layer would poll (its wake-up descriptor, the watched sockets, the next
// timer) is registered with Qt's loop as socket notifiers and one timer, each
// of which delivers the pending messages when it fires.  So the messages keep
// flowing inside Qt's nested loops (a message box, an open menu, the calendar
// pop-up), and the message layer's own waits are Qt's.  Private to gui/qt.

#include <QObject>
#include <map>

class QSocketNotifier;
class QTimer;

class TQtEventBridge {
  public:
    TQtEventBridge() = default;
    TQtEventBridge(const TQtEventBridge&) = delete;
    TQtEventBridge& operator=(const TQtEventBridge&) = delete;

    // Follows the message layer's sources from now on and makes its waits
    // Qt's.  The application object must exist.
    void Install();
    // Gives the message layer its own waits back and stops following it.
    void Uninstall();

    // Delivers the pending messages, then registers the sources anew.
    // Reentrant: a handler may open a modal box whose loop delivers again.
    void Deliver();
    // Registers what the message layer would poll with Qt's loop.
    void Sync();

    // The parent of the bridge's notifiers and timer, and a context for
    // connections that must end with it.
    QObject& Context() { return FContext; }

  private:
    struct Watch {
        QSocketNotifier* Read = nullptr;
        QSocketNotifier* Write = nullptr;
    };
    std::map<int, Watch> FWatches;
    QSocketNotifier* FWake = nullptr;
    int FWakeFd = -1;
    QTimer* FTimer = nullptr;
    // Last, so that it and its children go first.
    QObject FContext;
};
