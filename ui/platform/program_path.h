// Finding a program along the directories of PATH, the way a shell would, without a shell.
#pragma once

#include <cstddef>

// Writes to path (capacity bytes, with its zero) the first "<directory>/<name>" along PATH that
// is an executable regular file, and returns true. PATH unset means the system's default
// search path; empty entries (which would mean the working directory) are skipped. False when
// nothing fits, when name is empty or contains "/", or when the result does not fit.
bool FindProgramOnPath(const char* name, char* path, size_t capacity);
