#include "gui/qt/QtEventBridge.h"

#include <poll.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>

#include "platform/messages/Messages.h"

namespace {

// Qt's loop waits, and the bridge's notifiers deliver as they fire.
bool WaitInQtLoop(int timeoutMs) {
    QTimer guard;
    bool timedOut = false;
    if (timeoutMs >= 0) {
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&] { timedOut = true; });
        guard.start(timeoutMs);
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return !timedOut;
}

}  // namespace

void TQtEventBridge::Install() {
    FTimer = new QTimer(&FContext);
    FTimer->setSingleShot(true);
    FTimer->setTimerType(Qt::PreciseTimer);
    QObject::connect(FTimer, &QTimer::timeout, &FContext, [this] { Deliver(); });
    win::SetWaitSourcesObserver([this] { Sync(); });
    win::SetWaitFunction(WaitInQtLoop);
}

void TQtEventBridge::Uninstall() {
    win::SetWaitSourcesObserver(nullptr);
    win::SetWaitFunction(nullptr);
}

void TQtEventBridge::Deliver() {
    win::ProcessMessages();
    Sync();
}

void TQtEventBridge::Sync() {
    const win::WaitSources sources = win::GetWaitSources();
    if (sources.WakeFd != FWakeFd) {
        delete FWake;
        FWake = nullptr;
        FWakeFd = sources.WakeFd;
        if (FWakeFd >= 0) {
            FWake = new QSocketNotifier(FWakeFd, QSocketNotifier::Read, &FContext);
            QObject::connect(FWake, &QSocketNotifier::activated, &FContext, [this] {
                std::uint64_t value = 0;
                ssize_t n = ::read(FWakeFd, &value, sizeof(value));
                (void)n;
                Deliver();
            });
        }
    }
    std::map<int, short> wanted;
    for (const auto& [fd, events] : sources.Descriptors)
        wanted[fd] = events;
    for (auto it = FWatches.begin(); it != FWatches.end();) {
        if (!wanted.count(it->first)) {
            it->second.Read->setEnabled(false);
            it->second.Write->setEnabled(false);
            it->second.Read->deleteLater();
            it->second.Write->deleteLater();
            it = FWatches.erase(it);
        } else {
            ++it;
        }
    }
    for (const auto& [fd, events] : wanted) {
        Watch& watch = FWatches[fd];
        if (!watch.Read) {
            watch.Read = new QSocketNotifier(fd, QSocketNotifier::Read, &FContext);
            watch.Write = new QSocketNotifier(fd, QSocketNotifier::Write, &FContext);
            QObject::connect(watch.Read, &QSocketNotifier::activated, &FContext,
                             [this] { Deliver(); });
            QObject::connect(watch.Write, &QSocketNotifier::activated, &FContext,
                             [this] { Deliver(); });
        }
        watch.Read->setEnabled((events & (POLLIN | POLLPRI)) != 0);
        watch.Write->setEnabled((events & POLLOUT) != 0);
    }
    if (sources.NextTimer) {
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(*sources.NextTimer -
                                                                                clocks::Now());
        FTimer->start(static_cast<int>(std::clamp<long long>(wait.count(), 0, INT_MAX)));
    } else {
        FTimer->stop();
    }
}
