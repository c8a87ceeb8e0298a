// Processor time that moving Marble adds per position: MoveMarble as the viewer thread calls it,
// through the real link (QtMarbleLink on the session bus), 1000 times at 500 a second from a
// thread of its own. The figure is the whole process's processor time (Qt's D-Bus thread
// included) for those calls, less that of the same paced loop without the calls. Run it with a
// Marble on the bus ("attached") and without one ("none running"); bench/marble_bench.sh sets
// up a private bus and a Marble and runs both.
#include <sys/resource.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <chrono>
#include <cstdio>
#include <thread>

#include "ui/platform/marble_link.h"
#include "ui/platform/qt/qt_marble.h"

namespace {

constexpr int kMoves = 1000;
constexpr auto kSpacing = std::chrono::microseconds(2000);

double ProcessCpuSeconds() {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
           static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

// Processor time of kMoves paced steps, each moving Marble when move is true.
double PacedLoop(bool move) {
    const double before = ProcessCpuSeconds();
    std::thread viewer([move] {
        auto next = std::chrono::steady_clock::now();
        for (int i = 0; i < kMoves; ++i) {
            if (move) MoveMarble(11.5 + i * 1e-5, 48.1 + i * 1e-5, 3018);
            next += kSpacing;
            std::this_thread::sleep_until(next);
        }
    });
    viewer.join();
    return ProcessCpuSeconds() - before;
}

// Lets the link hear whether Marble runs (its question is answered on this thread's events).
void RunEventsFor(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QtMarbleLink link;
    RunEventsFor(1000);
    const QDBusConnection bus = QDBusConnection::sessionBus();
    const bool attached =
        bus.isConnected() && bus.interface()->isServiceRegistered("org.kde.marble");
    const double idle = PacedLoop(false);
    const double moving = PacedLoop(true);
    std::printf(
        "Marble moves: %s, %d positions at %lld a second\n"
        "  processor time per position the Marble calls add: %.2f us (%.3f ms with the calls, "
        "%.3f ms for the loop alone)\n",
        !bus.isConnected() ? "no session bus"
        : attached         ? "Marble attached"
                           : "none running",
        kMoves, static_cast<long long>(std::chrono::seconds(1) / kSpacing),
        (moving - idle) * 1e6 / kMoves, moving * 1e3, idle * 1e3);
    return 0;
}
