// Picks the position out of one received chunk of the NMEA stream.
#pragma once

#include "runtime/string_variable.h"

// When chunk starts with "$GPRMC", stores the decimal-degree texts of its fields 4/5 (latitude)
// and 6/7 (longitude) and returns true; any other chunk gives false. Only the first sentence
// of a chunk counts: a line end and later sentences fall into fields after 7.
bool PositionFromChunk(const char* chunk, StringVariable* latitude, StringVariable* longitude);
