// Replacing a whole file so that a failure can never leave it half written.
//
// The new bytes go to a fresh temporary file beside the destination, are flushed to the disk
// (unless the caller does without) and only then renamed over the destination. Until the rename the
// old file is untouched; when any step fails the temporary file is removed and the old file stays
// byte-for-byte as it was.
//
// A destination that is a symbolic link (or a chain of them) stays a link: the file it leads to
// is replaced, with the temporary file made in that file's directory.
#pragma once

#include <cstddef>

// Whether ReplaceFileContents(path, ...) can replace what lies at path (after following links):
// nothing, or a regular file that could be opened for writing, in a directory that accepts a
// new file (checked by creating a temporary file there and removing it again). Any other kind
// of file (directory, FIFO, device) is never replaced.
bool FileCouldBeReplaced(const char* path);

// Whether a replacement is flushed to the disk before it takes the file's name. A file that is
// rewritten many times a second and worthless after a crash need not be.
enum class FileFlush { ToDisk, NotFlushed };

// Replaces the file at path (after following links) with length bytes. An existing file's
// permission bits (and, where the process may set them, owner and group) carry over; a new
// file gets the usual mode 0666 narrowed by the process's umask. Returns false, with the old
// file unchanged and no temporary file left, when anything fails.
bool ReplaceFileContents(const char* path, const char* bytes, size_t length,
                         FileFlush flush = FileFlush::ToDisk);
