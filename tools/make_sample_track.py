#!/usr/bin/env python3
"""Writes data/sample-track.nmea: a synthetic five-minute drive through Munich as NMEA 0183.

The track is computed, not recorded, and the script uses no randomness, so every run writes the
same file. One $GPRMC sentence per second, with a $GPGGA sentence after every fifteenth one as
real receivers interleave other sentences. Replay it with tools/nmea_replay.

    python3 tools/make_sample_track.py [OUTPUT]     (default: data/sample-track.nmea)
"""

import math
import sys
from pathlib import Path

START_LATITUDE = 48 + 7.038 / 60  # 48 07.038' N
START_LONGITUDE = 11 + 31.000 / 60  # 011 31.000' E
START_SECOND_OF_DAY = 12 * 3600 + 35 * 60 + 19  # 12:35:19 UTC
DATE = "140524"  # 14 May 2024, ddmmyy
MAGNETIC_VARIATION = "004.0,E"  # about right for Munich in 2024
FIX_COUNT = 300  # one fix a second
GGA_EVERY = 15  # seconds between $GPGGA sentences
START_ALTITUDE_M = 519.6
GEOID_SEPARATION_M = 47.3

METRES_PER_DEGREE = 6371000.0 * math.pi / 180.0
KMH_PER_KNOT = 1.852

# (second, km/h): pull away, slow down for a left turn, stop at a red light, a faster stretch,
# a right turn, and stop at the end.
SPEED_PROFILE = [
    (0, 0.0), (14, 48.0), (62, 50.0), (72, 18.0), (80, 18.0), (92, 46.0), (128, 46.0),
    (140, 0.0), (162, 0.0), (176, 42.0), (222, 55.0), (236, 22.0), (244, 22.0), (256, 48.0),
    (284, 44.0), (299, 0.0),
]

# (second, degrees true): headings beyond 0..360 let a left turn through north interpolate
# smoothly; the course field is taken modulo 360.
HEADING_PROFILE = [
    (0, 84.4), (40, 84.4), (55, 80.0), (72, 80.0), (80, -10.0), (150, -10.0), (170, -4.0),
    (236, -4.0), (244, 38.0), (299, 38.0),
]


def interpolate(profile, second):
    """The value of a piecewise-linear (second, value) profile at the given second."""
    for (t0, v0), (t1, v1) in zip(profile, profile[1:]):
        if t0 <= second <= t1:
            return v0 + (v1 - v0) * (second - t0) / (t1 - t0)
    return profile[-1][1]


def nmea_checksum(body):
    """The two hex digits after '*': XOR of every character between '$' and '*'."""
    value = 0
    for char in body:
        value ^= ord(char)
    return f"{value:02X}"


def sentence(body):
    return f"${body}*{nmea_checksum(body)}"


def degrees_minutes(value, degree_digits):
    """ddmm.mmmm (or dddmm.mmmm) of |value|, rounded once so minutes never read 60."""
    ten_thousandths = round(abs(value) * 60 * 10000)
    degrees, minutes = divmod(ten_thousandths, 60 * 10000)
    whole, fraction = divmod(minutes, 10000)
    return f"{degrees:0{degree_digits}d}{whole:02d}.{fraction:04d}"


def latitude_fields(latitude):
    return f"{degrees_minutes(latitude, 2)},{'N' if latitude >= 0 else 'S'}"


def longitude_fields(longitude):
    return f"{degrees_minutes(longitude, 3)},{'E' if longitude >= 0 else 'W'}"


def utc_time(second):
    seconds_of_day = (START_SECOND_OF_DAY + second) % 86400
    hours, rest = divmod(seconds_of_day, 3600)
    minutes, seconds = divmod(rest, 60)
    return f"{hours:02d}{minutes:02d}{seconds:02d}.00"


def drive():
    """Yields (second, latitude, longitude, km/h, course, metres driven) for each fix."""
    north = east = driven = 0.0
    metres_per_degree_east = METRES_PER_DEGREE * math.cos(math.radians(START_LATITUDE))
    for second in range(FIX_COUNT):
        heading = interpolate(HEADING_PROFILE, second)
        yield (second, START_LATITUDE + north / METRES_PER_DEGREE,
               START_LONGITUDE + east / metres_per_degree_east,
               interpolate(SPEED_PROFILE, second), heading % 360.0, driven)
        # Move to the next second with the mean speed and the heading half-way through it.
        step = (interpolate(SPEED_PROFILE, second) + interpolate(SPEED_PROFILE, second + 1)) / 7.2
        mid_heading = math.radians(interpolate(HEADING_PROFILE, second + 0.5))
        north += step * math.cos(mid_heading)
        east += step * math.sin(mid_heading)
        driven += step


def track_lines():
    yield "# Name: Navlume sample track"
    yield "# Description: synthetic 5-minute drive through Munich at 1 Hz, starting at"
    yield "#   48 07.038' N, 011 31.000' E on 2024-05-14 12:35:19 UTC: two turns, a red light,"
    yield f"#   {FIX_COUNT} $GPRMC sentences with a $GPGGA sentence every {GGA_EVERY} seconds."
    yield "# Generated-by: tools/make_sample_track.py (deterministic; rerun it instead of editing)"
    yield "# Lines starting with '#' are not part of the stream."
    for second, latitude, longitude, kmh, course, driven in drive():
        time = utc_time(second)
        position = f"{latitude_fields(latitude)},{longitude_fields(longitude)}"
        yield sentence(f"GPRMC,{time},A,{position},{kmh / KMH_PER_KNOT:05.1f},{course:05.1f},"
                       f"{DATE},{MAGNETIC_VARIATION},A")
        if second % GGA_EVERY == 0:
            altitude = START_ALTITUDE_M - driven / 250.0  # a gentle slope down towards the Isar
            yield sentence(f"GPGGA,{time},{position},1,09,0.9,{altitude:.1f},M,"
                           f"{GEOID_SEPARATION_M:.1f},M,,")


def main(argv):
    default = Path(__file__).resolve().parent.parent / "data" / "sample-track.nmea"
    output = Path(argv[1]) if len(argv) > 1 else default
    output.parent.mkdir(parents=True, exist_ok=True)
    with open(output, "w", encoding="ascii", newline="\n") as file:
        for line in track_lines():
            file.write(line + "\n")
    print(f"wrote {output}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
