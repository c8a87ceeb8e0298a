// Runs AppleScript through the system's command-line runner ("osascript") and brings its result
// back as text. The script goes to the runner's standard input in UTF-8 (converted from the
// program's Latin-1 text); the runner's standard output comes back converted to Latin-1, where
// characters that Latin-1 cannot hold become "?".
//
// Threads: runs may happen on any thread, several at a time. CancelScriptRuns may be called
// from any thread (the main thread calls it at Stop and when the program quits); it never
// waits, and every run in progress ends soon after it, so that no runner outlives the program.
#pragma once

#include <cstdint>

// A procedure that runs a script source to its end and returns the script's result text,
// written at start in the temporary buffer (the empty text on any failure). The tracker calls
// its script runner through this type, so tests can put a recording runner in its place.
using ScriptRunner = char* (*)(const char* source, int64_t start);

// Most bytes of a runner's output that are kept; the rest is read and dropped. The tracker
// ignores the result, so a viewer that prints megabytes costs no memory.
constexpr int64_t kScriptOutputLimit = 4096;
// A run still going after this long is ended (and gives the empty text): a viewer that hangs
// must not hold up the positions behind it for ever.
constexpr int64_t kScriptTimeLimitMs = 10000;

// Runs source with the "osascript" found along PATH and waits for it to end. The runner's path
// is searched again at most once a second and whenever PATH changes. Returns what the
// runner printed, less one line feed at the end (the runner ends every result with one; a plain
// value thus comes back as its bare text, and a list as the runner prints it: "a, b"). The
// empty text when there is no runner on PATH, when it cannot be started, when it exits with a
// status other than 0 (a script that does not compile or fails, an application that does not
// answer), when the run was cancelled or took longer than kScriptTimeLimitMs. Same contract as
// ScriptRunner. May grow (and move) the temporary buffer: raw pointers into it taken before the
// call are invalid afterwards.
char* RunAppleScript(const char* source, int64_t start);

// RunAppleScript with the runner given as a path (no PATH search, no shell); the program is
// started without arguments and reads the script from its standard input.
char* RunScriptWith(const char* program, const char* source, int64_t start,
                    int64_t timeLimitMs = kScriptTimeLimitMs);

// How a cancel ends a runner: SIGTERM and SIGKILL after a short grace, or SIGKILL at once
// (when the program quits and must not wait for the grace). A runner already in its grace is
// killed at once by a second cancel of either kind.
enum class ScriptRunEnd { WithGrace, AtOnce };

// Ends every run in progress as end says, and the call running it returns the empty text.
// Returns at once, without waiting for those runs to end. From then on every run returns the
// empty text at once, without starting a runner, until AllowScriptRuns; a run that was in
// progress stays cancelled even then.
void CancelScriptRuns(ScriptRunEnd end = ScriptRunEnd::WithGrace);

// Lets runs start again after CancelScriptRuns.
void AllowScriptRuns();

// How many runs are in progress (cancelled ones that are still ending included).
int ScriptRunsInProgress();
