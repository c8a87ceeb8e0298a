#include "ui/platform/qt/qt_marble.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QPointF>
#include <atomic>

#include "ui/platform/marble_link.h"

namespace {

const QString kMarbleService = QStringLiteral("org.kde.marble");
const QString kMarbleObject = QStringLiteral("/Marble");
const QString kMarbleInterface = QStringLiteral("org.kde.marble");
// The answer to "does Marble run?" at start-up; the watcher keeps it current afterwards.
constexpr int kOwnerQueryTimeoutMs = 2000;

// Whether a Marble owns its name now: written on the GUI thread, read by the mover.
std::atomic<bool> marblePresent{false};
// The bus the mover sends on; set while the mover is in place.
QDBusConnection* moverBus = nullptr;

QDBusMessage MarbleCall(const QString& method, const QVariant& argument) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kMarbleService, kMarbleObject, kMarbleInterface, method);
    call.setAutoStartService(false);  // never start a Marble, only follow a running one
    call << argument;
    return call;
}

// Sent without waiting for an answer (send() marks the call as needing none), so a Marble that
// hangs costs the caller nothing.
void SendToMarble(double longitude, double latitude, int32_t zoom) {
    if (!marblePresent.load(std::memory_order_relaxed) || moverBus == nullptr) return;
    // A QPointF travels as the struct (dd) that setCenter takes: x longitude, y latitude.
    moverBus->send(MarbleCall(QStringLiteral("setCenter"), QPointF(longitude, latitude)));
    moverBus->send(MarbleCall(QStringLiteral("setZoom"), static_cast<int>(zoom)));
}

}  // namespace

struct QtMarbleLink::Watch {
    explicit Watch(const QDBusConnection& connection)
        : bus(connection), owners(kMarbleService, bus, QDBusServiceWatcher::WatchForOwnerChange) {}

    QDBusConnection bus;
    QDBusServiceWatcher owners;
    std::unique_ptr<QDBusPendingCallWatcher> query;
};

QtMarbleLink::QtMarbleLink() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;  // no session bus: nothing to follow
    watch_ = std::make_unique<Watch>(bus);
    QObject::connect(&watch_->owners, &QDBusServiceWatcher::serviceOwnerChanged,
                     [](const QString&, const QString&, const QString& newOwner) {
                         marblePresent.store(!newOwner.isEmpty());
                     });
    // Whether one runs already, asked without blocking the GUI thread. The watcher is in place
    // first, so a change after the answer is not missed.
    const QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                            QStringLiteral("/org/freedesktop/DBus"),
                                                            QStringLiteral("org.freedesktop.DBus"),
                                                            QStringLiteral("NameHasOwner"))
                             << kMarbleService;
    watch_->query =
        std::make_unique<QDBusPendingCallWatcher>(watch_->bus.asyncCall(ask, kOwnerQueryTimeoutMs));
    QObject::connect(watch_->query.get(), &QDBusPendingCallWatcher::finished,
                     [](QDBusPendingCallWatcher* call) {
                         const QDBusPendingReply<bool> reply = *call;
                         if (reply.isValid() && reply.value()) marblePresent.store(true);
                     });
    moverBus = &watch_->bus;
    SetMarbleMover(SendToMarble);
}

QtMarbleLink::~QtMarbleLink() {
    if (!watch_) return;
    SetMarbleMover(nullptr);
    moverBus = nullptr;
    marblePresent.store(false);
}
