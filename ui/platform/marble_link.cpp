#include "ui/platform/marble_link.h"

#include <cmath>
#include <mutex>
#include <numbers>
#include <shared_mutex>

namespace {

constexpr double kEarthRadiusMetres = 6378000.0;
constexpr double kRadiusShare = 0.4;
constexpr double kHalfViewAngleDegrees = 55.0;
constexpr double kZoomScale = 200.0;

void MoveNothing(double, double, int32_t) {}

// Never destroyed: a thread that outlives main may still move.
std::shared_mutex& MoverLock() {
    static auto* const lock = new std::shared_mutex;
    return *lock;
}

MarbleMover currentMover = MoveNothing;  // under MoverLock

}  // namespace

void SetMarbleMover(MarbleMover mover) {
    std::unique_lock<std::shared_mutex> guard(MoverLock());
    currentMover = mover != nullptr ? mover : MoveNothing;
}

void MoveMarble(double longitude, double latitude, int32_t zoom) {
    std::shared_lock<std::shared_mutex> guard(MoverLock());
    currentMover(longitude, latitude, zoom);
}

int32_t MarbleZoomForDistance(int64_t distanceMetres) {
    const double kilometres = static_cast<double>(distanceMetres < 1 ? 1 : distanceMetres) / 1000.0;
    const double tangent = std::tan(kHalfViewAngleDegrees * std::numbers::pi / 180.0);
    return static_cast<int32_t>(std::lround(
        kZoomScale * std::log(kEarthRadiusMetres * kRadiusShare / (kilometres * tangent))));
}
