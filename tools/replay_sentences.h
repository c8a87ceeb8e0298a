// The sentences of a recorded NMEA log, in the form in which the replay server writes them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Every line of text that is neither blank nor a '#' comment, without its surrounding blanks and
// ending in CR LF, in file order. Lines may end in LF, CR LF or a lone CR; the last line needs
// no line end. Receiver logs carry a '#' header that is not part of the stream.
std::vector<std::string> SplitReplaySentences(std::string_view text);

// Reads the file at path and splits it as SplitReplaySentences does. Returns false, with a
// message naming the file in *error, when the file cannot be read or holds no sentence.
bool LoadReplaySentences(const std::string& path, std::vector<std::string>* sentences,
                         std::string* error);
