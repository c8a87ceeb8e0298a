// The AppleScript that moves the globe viewer ("Google Earth") to a position.
#pragma once

#include <cstdint>

// The eight-line viewer script for one position, written at start in the temporary buffer:
//
//   tell application "Google Earth"
//   set viewInfo To GetViewInfo
//   set latitude of viewInfo To <latitude>
//   set longitude of viewInfo To <longitude>
//   set distance of viewInfo To <distance as decimal integer>
//   set tilt of viewInfo To 0
//   SetViewInfo viewInfo speed 0.9
//   End tell
//
// The lines are joined with lineBreak (the program passes its LineBreak, CR LF): seven
// separators, none before the first line and none after the last. The two coordinate texts go
// in unchanged (no quoting, no escaping); null reads as the empty text. The arguments may lie in
// the temporary buffer, even at start. May grow (and move) the buffer: raw pointers into it
// taken before the call are invalid afterwards.
char* ComposeViewerScript(const char* latitude, const char* longitude, int64_t distance,
                          const char* lineBreak, int64_t start);
