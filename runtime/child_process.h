// Running a program as a child process with a pipe on each of its standard input and output
// (the input is written while the output is read, so neither side can stall the other), with
// a time limit and an output limit, and finding a program along PATH. POSIX only.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes collected from a child's standard output, in a block from malloc.
struct ChildOutput {
    char* bytes = nullptr;
    int64_t length = 0;
    int64_t capacity = 0;
};

// Frees the block of output and leaves it empty.
void ChildOutputFree(ChildOutput* output);

enum class ChildRunResult {
    Succeeded,  // the program ran and exited with status 0
    Failed,     // it could not be started, exited with another status or died from a signal
    Cancelled,  // cancelFd became readable; the program was ended
};

// Opens a pipe whose two ends are close-on-exec and numbered above 2 (so they never collide
// with the standard descriptors a child is given). Returns false when no pipe can be opened.
bool OpenPrivatePipe(int ends[2]);

// Starts program (a path; no search along PATH, no shell) with no arguments, writes the
// inputLength bytes of input to its standard input, then closes it, and collects its standard
// output into output (at most outputLimit bytes; the rest is read and dropped). Its standard
// error goes to /dev/null. Returns when the child has ended and has been reaped.
//
// cancelFd (or -1) is watched throughout: once it is readable the child's process group gets
// SIGTERM, then SIGKILL after a short grace, and the call returns Cancelled. Each byte written
// to cancelFd is one request; the first is read when the child is ended, and a second one
// during the grace sends SIGKILL at once. A child still
// running timeLimitMs after its start (below 1: no limit) is ended the same way and the call
// returns Failed. The child runs in a process group of its own, so anything it starts is ended
// with it.
//
// The caller's signal mask and dispositions do not reach the child. A child that stops reading
// its input early is not an error; SIGPIPE from that write is kept from the process.
ChildRunResult RunChildProcess(const char* program, const char* input, int64_t inputLength,
                               int cancelFd, int64_t timeLimitMs, int64_t outputLimit,
                               ChildOutput* output);

// Writes to path (capacity bytes, with its zero) the first "<directory>/<name>" along PATH that
// is an executable regular file, and returns true. PATH unset means the system's default
// search path; empty entries (which would mean the working directory) are skipped. False when
// nothing fits, when name is empty or contains "/", or when the result does not fit.
bool FindProgramOnPath(const char* name, char* path, size_t capacity);
