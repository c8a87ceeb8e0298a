// The live KML files that globe viewers other than the AppleScript one follow: Google Earth Pro
// on any platform, QGIS.
//
// Navlume.kml is written once: a network link that asks the viewer to reload
// Navlume-position.kml every second and fly to its view. Navlume-position.kml is rewritten with
// every position: the view, a placemark on the position with the fix time, speed and course,
// and the run's trail. Both are written to a temporary file beside them first and take their name
// in one step, so a viewer never reads half a file.
#pragma once

#include <cstdint>

#include "app/rmc_sentence.h"
#include "app/trail.h"

// The files live in the working directory, which is the bundle's Contents folder beside
// settings.cfg.
constexpr const char* kPositionKmlFile = "Navlume-position.kml";
constexpr const char* kNetworkLinkKmlFile = "Navlume.kml";

// Replaces Navlume-position.kml with a view of position from rangeMetres above it, a placemark
// on it and, when trail has points, a line through them. The position's latitude and longitude
// texts are those the labels show (ISO Latin-1), written as UTF-8 with XML's markup characters
// escaped. The placemark carries the fix time as its time stamp and the speed (in km/h) and
// course as its description, each only when the position has it. Numbers are written with
// "." whatever the process locale. Returns true when the file was replaced; after a failure the
// old file stays as it was. (The viewer writes at most twice a second, so a full disk or a
// read-only bundle costs no failing write per position.)
//
// Called from one thread at a time (the tracker's viewer thread); the text is built in a buffer
// of the calling thread that is kept from one call to the next.
bool WritePositionKml(const Position& position, const Trail& trail, int64_t rangeMetres);

// Writes Navlume.kml, a network link to the position file by its absolute file:// URL, when no
// file of that name exists. An existing file is never touched, whether it holds what would be
// written or something the user edited. Returns true when the file exists afterwards; false
// when it could not be written, or when something other than a readable file lies there.
//
// Called from the worker thread at the start of a tracking run; safe alongside
// WritePositionKml.
bool EnsureNetworkLinkKml();
