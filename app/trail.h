// The path of one tracking run, as the live KML file draws it: the accepted positions in order,
// thinned so that a receiver standing still (which jitters by a few metres) adds nothing, and
// capped at the newest kMostPoints.
//
// Each point's text is formatted once, when it joins, into a ring of bytes allocated once:
// writing the trail copies at most two blocks, and a full trail drops its oldest point without
// moving the others. A Trail belongs to one thread (the viewer thread); TrailPoint is plain data
// that may be made on one thread and added on another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "app/rmc_sentence.h"

// One position as it may join a trail: its numbers and its KML tuple "longitude,latitude,0".
struct TrailPoint {
    static constexpr size_t kTupleCapacity = 62;

    double latitude = 0;
    double longitude = 0;
    uint8_t length = 0;
    char tuple[kTupleCapacity] = {};

    std::string_view Tuple() const { return {tuple, length}; }
};

// The point of position: the tuple holds the label texts as they are, or, when those do not fit
// (minutes written with dozens of decimals), the numbers with nine decimals.
TrailPoint MakeTrailPoint(const Position& position);

class Trail {
  public:
    static constexpr size_t kMostPoints = 1000;
    // A position nearer than this to the last point does not join.
    static constexpr double kLeastStepMetres = 10.0;

    // Forgets every point (a new run begins).
    void Clear();
    // Adds point unless it lies within kLeastStepMetres of the last point; the first point of
    // a trail always joins. A full trail drops its oldest point. True when point joined. May
    // allocate the ring on first use; false, with the trail unchanged, when that fails.
    bool Add(const TrailPoint& point);
    size_t Size() const { return count_; }
    // Appends each point's tuple, oldest first, each on a line of its own (ended by a line feed).
    void AppendLines(std::string& out) const;

  private:
    static constexpr size_t kLongestLine = TrailPoint::kTupleCapacity + 1;
    static constexpr size_t kRingBytes = kMostPoints * kLongestLine;

    void Write(size_t at, const char* bytes, size_t length);

    std::unique_ptr<char[]> text_;        // the lines, a ring of kRingBytes
    std::unique_ptr<uint8_t[]> lengths_;  // each line's length, a ring of kMostPoints
    size_t firstLine_ = 0;
    size_t count_ = 0;
    size_t firstByte_ = 0;
    size_t byteCount_ = 0;
    double lastLatitude_ = 0;
    double lastLongitude_ = 0;
};

// The distance in metres along the Earth's surface between two positions in degrees.
double SurfaceDistanceMetres(double latitude1, double longitude1, double latitude2,
                             double longitude2);
