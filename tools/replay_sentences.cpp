#include "tools/replay_sentences.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kLineEnd = "\r\n";

std::string_view TrimBlanks(std::string_view line) {
    const size_t first = line.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const size_t last = line.find_last_not_of(kBlanks);
    return line.substr(first, last - first + 1);
}

// Reads the whole file into *text; false with errno describing the failure.
bool ReadWholeFile(const std::string& path, std::string* text) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    char block[4096];
    size_t count = 0;
    while ((count = std::fread(block, 1, sizeof block, file)) > 0)
        text->append(block, count);
    // fopen accepts a directory on some systems; the read then fails with EISDIR.
    const bool failed = std::ferror(file) != 0;
    const int read_errno = errno;
    std::fclose(file);
    errno = read_errno;
    return !failed;
}

}  // namespace

std::vector<std::string> SplitReplaySentences(std::string_view text) {
    std::vector<std::string> sentences;
    while (!text.empty()) {
        const size_t end = text.find_first_of(kLineEnd);
        const std::string_view line = TrimBlanks(text.substr(0, end));
        if (!line.empty() && line.front() != '#') {
            sentences.emplace_back(line);
            sentences.back().append(kLineEnd);
        }
        if (end == std::string_view::npos) break;
        // A CR LF pair is one line end; a lone CR or LF is one as well.
        const size_t next = text.compare(end, kLineEnd.size(), kLineEnd) == 0 ? end + 2 : end + 1;
        text.remove_prefix(next);
    }
    return sentences;
}

bool LoadReplaySentences(const std::string& path, std::vector<std::string>* sentences,
                         std::string* error) {
    std::string text;
    if (!ReadWholeFile(path, &text)) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    *sentences = SplitReplaySentences(text);
    if (sentences->empty()) {
        *error = path + " holds no sentences (only blank or '#' lines)";
        return false;
    }
    return true;
}
