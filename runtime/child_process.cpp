#include "runtime/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "runtime/sigpipe.h"

extern char** environ;

namespace {

// How long a child may take to end after SIGTERM before it gets SIGKILL.
constexpr auto kTerminateGrace = std::chrono::milliseconds(200);
constexpr int kGraceStepMs = 5;
// Waiting for a child that closed its output but has not exited yet: checks start 1 ms apart
// and back off to this.
constexpr int kLongestExitCheckMs = 50;
constexpr size_t kLargestWrite = 65536;
// Read on the caller's stack, which may be a small secondary-thread stack.
constexpr size_t kReadChunk = 16384;
constexpr int64_t kFirstOutputCapacity = 4096;
// Searched for programs when PATH is not set at all.
constexpr const char* kDefaultSearchPath = "/usr/bin:/bin";

enum class ExchangeEnd { Finished, Cancelled, TimedOut, Broken };
enum class ExitWait { Exited, Cancelled, TimedOut, Lost };

using Clock = std::chrono::steady_clock;

// A run's time limit; a limit below 1 never expires.
class Deadline {
  public:
    explicit Deadline(int64_t limitMs)
        : limited_(limitMs >= 1), end_(Clock::now() + std::chrono::milliseconds(limitMs)) {}
    // Milliseconds left, capped at cap; -1 (no limit) when neither applies; 0 once expired.
    int WaitMs(int cap = -1) const {
        if (!limited_) return cap;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end_ - Clock::now()).count();
        if (left <= 0) return 0;
        if (cap >= 0 && left > cap) return cap;
        return static_cast<int>(left);
    }
    bool Expired() const { return limited_ && Clock::now() >= end_; }

  private:
    bool limited_;
    Clock::time_point end_;
};

struct SpawnedChild {
    pid_t pid = -1;
    int inputFd = -1;   // our end of the child's standard input
    int outputFd = -1;  // our end of the child's standard output
};

// Pipes are opened and children started under this lock. Where a pipe cannot be made
// close-on-exec in one step, it keeps a run on another thread from handing the fresh
// descriptors to its own child before the flag is set. Never destroyed: a detached thread may
// still run a child while the process exits.
std::mutex& SpawnLock() {
    static std::mutex* const lock = new std::mutex;
    return *lock;
}

void CloseDescriptor(int* fd) {
    if (*fd < 0) return;
    // Not retried on EINTR: the descriptor is released either way, and a retry could close
    // one that another thread has just opened.
    close(*fd);
    *fd = -1;
}

// A copy numbered 3 or higher (close-on-exec) replaces fd; -1 when that fails.
int MoveAboveStandard(int fd) {
    if (fd > STDERR_FILENO) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    close(fd);
    return moved;
}

bool OpenPipeLocked(int ends[2]) {
#if NAVLUME_HAVE_PIPE2
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
#else
    if (pipe(ends) != 0) return false;
    if (fcntl(ends[0], F_SETFD, FD_CLOEXEC) != 0 || fcntl(ends[1], F_SETFD, FD_CLOEXEC) != 0) {
        close(ends[0]);
        close(ends[1]);
        return false;
    }
#endif
    // A descriptor that is already 0, 1 or 2 would be "duplicated" onto itself in the child
    // and keep its close-on-exec flag, leaving the child without that standard stream.
    ends[0] = MoveAboveStandard(ends[0]);
    ends[1] = MoveAboveStandard(ends[1]);
    if (ends[0] >= 0 && ends[1] >= 0) return true;
    CloseDescriptor(&ends[0]);
    CloseDescriptor(&ends[1]);
    return false;
}

void SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// Starts program with the child ends of two fresh pipes as its standard input and output.
bool SpawnChild(const char* program, SpawnedChild* child) {
    std::lock_guard<std::mutex> guard(SpawnLock());
    int input[2] = {-1, -1};
    int output[2] = {-1, -1};
    if (!OpenPipeLocked(input)) return false;
    if (!OpenPipeLocked(output)) {
        CloseDescriptor(&input[0]);
        CloseDescriptor(&input[1]);
        return false;
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    const bool actionsReady = posix_spawn_file_actions_init(&actions) == 0;
    const bool attributesReady = posix_spawnattr_init(&attributes) == 0;
    bool prepared = actionsReady && attributesReady;
    if (prepared) {
        prepared = posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO) == 0 &&
                   posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO) == 0 &&
                   posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY,
                                                    0) == 0;
#if NAVLUME_HAVE_SPAWN_CLOSEFROM
        // Descriptors that other code opened without close-on-exec stay out of the child too.
        if (prepared)
            prepared = posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1) == 0;
#endif
    }
    if (prepared) {
        // Its own process group, so that ending it reaches whatever it started. Signal mask
        // and dispositions start clean: the calling thread may block or ignore signals that
        // the child needs (an ignored SIGPIPE or SIGTERM would survive the exec).
        short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#if NAVLUME_HAVE_SPAWN_CLOEXEC_DEFAULT
        flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#endif
        sigset_t none;
        sigset_t defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        for (const int signal :
             {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2}) {
            sigaddset(&defaults, signal);
        }
        prepared = posix_spawnattr_setflags(&attributes, flags) == 0 &&
                   posix_spawnattr_setpgroup(&attributes, 0) == 0 &&
                   posix_spawnattr_setsigmask(&attributes, &none) == 0 &&
                   posix_spawnattr_setsigdefault(&attributes, &defaults) == 0;
    }

    bool started = false;
    if (prepared) {
        char* arguments[] = {const_cast<char*>(program), nullptr};
        started = posix_spawn(&child->pid, program, &actions, &attributes, arguments, environ) == 0;
    }
    if (actionsReady) posix_spawn_file_actions_destroy(&actions);
    if (attributesReady) posix_spawnattr_destroy(&attributes);

    CloseDescriptor(&input[0]);
    CloseDescriptor(&output[1]);
    if (!started) {
        CloseDescriptor(&input[1]);
        CloseDescriptor(&output[0]);
        child->pid = -1;
        return false;
    }
    child->inputFd = input[1];
    child->outputFd = output[0];
    SetNonBlocking(child->inputFd);
    SetNonBlocking(child->outputFd);
#if defined(F_SETNOSIGPIPE)
    fcntl(child->inputFd, F_SETNOSIGPIPE, 1);  // belt and braces where the platform has it
#endif
    return true;
}

// Adds count bytes, keeping at most limit in all. False when memory runs out.
bool AppendOutput(ChildOutput* output, const char* bytes, int64_t count, int64_t limit) {
    if (count > limit - output->length) count = limit - output->length;
    if (count <= 0) return true;
    const int64_t needed = output->length + count;
    if (needed > output->capacity) {
        int64_t capacity = output->capacity > 0 ? output->capacity : kFirstOutputCapacity;
        while (capacity < needed)
            capacity = capacity > limit / 2 ? limit : capacity * 2;
        if (capacity > limit) capacity = limit;
        void* grown = std::realloc(output->bytes, static_cast<size_t>(capacity));
        if (grown == nullptr) return false;
        output->bytes = static_cast<char*>(grown);
        output->capacity = capacity;
    }
    std::memcpy(output->bytes + output->length, bytes, static_cast<size_t>(count));
    output->length = needed;
    return true;
}

bool Readable(short events) {
    return (events & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// Writes the input and reads the output at the same time until the child has taken all input
// (or stopped taking it) and closed its output. A child that prints a lot before it reads can
// therefore never block against a parent that is still writing.
ExchangeEnd Exchange(SpawnedChild* child, const char* input, int64_t inputLength, int cancelFd,
                     const Deadline& deadline, int64_t outputLimit, ChildOutput* output,
                     bool* outOfMemory) {
    int64_t written = 0;
    char chunk[kReadChunk];
    while (child->inputFd >= 0 || child->outputFd >= 0) {
        pollfd watched[3];
        nfds_t count = 0;
        int inputSlot = -1;
        int outputSlot = -1;
        int cancelSlot = -1;
        if (child->inputFd >= 0) {
            inputSlot = static_cast<int>(count);
            watched[count++] = {child->inputFd, POLLOUT, 0};
        }
        if (child->outputFd >= 0) {
            outputSlot = static_cast<int>(count);
            watched[count++] = {child->outputFd, POLLIN, 0};
        }
        if (cancelFd >= 0) {
            cancelSlot = static_cast<int>(count);
            watched[count++] = {cancelFd, POLLIN, 0};
        }
        const int ready = poll(watched, count, deadline.WaitMs());
        if (ready < 0) {
            if (errno == EINTR) continue;
            return ExchangeEnd::Broken;
        }
        if (ready == 0 || deadline.Expired()) return ExchangeEnd::TimedOut;
        if (cancelSlot >= 0 && watched[cancelSlot].revents != 0) return ExchangeEnd::Cancelled;

        if (inputSlot >= 0 && watched[inputSlot].revents != 0) {
            if ((watched[inputSlot].revents & POLLOUT) == 0) {
                CloseDescriptor(&child->inputFd);  // the child closed its input
            } else {
                const int64_t left = inputLength - written;
                const size_t size = left < static_cast<int64_t>(kLargestWrite)
                                        ? static_cast<size_t>(left)
                                        : kLargestWrite;
                const ssize_t done = WriteWithoutSigpipe(child->inputFd, input + written, size);
                if (done > 0) written += done;
                // EPIPE: the child stopped reading early, which is its own business.
                if ((done < 0 && errno != EAGAIN && errno != EWOULDBLOCK) ||
                    written >= inputLength) {
                    CloseDescriptor(&child->inputFd);
                }
            }
        }

        if (outputSlot >= 0 && Readable(watched[outputSlot].revents)) {
            const ssize_t got = read(child->outputFd, chunk, sizeof chunk);
            if (got > 0) {
                if (!*outOfMemory && !AppendOutput(output, chunk, got, outputLimit))
                    *outOfMemory = true;  // keep draining so the child can finish
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
                CloseDescriptor(&child->outputFd);
            }
        }
    }
    return ExchangeEnd::Finished;
}

// Sleeps up to milliseconds; true when cancelFd became readable meanwhile.
bool CancelledWithin(int cancelFd, int milliseconds) {
    if (cancelFd < 0) {
        poll(nullptr, 0, milliseconds);
        return false;
    }
    pollfd watched = {cancelFd, POLLIN, 0};
    return poll(&watched, 1, milliseconds) > 0 && watched.revents != 0;
}

// Reaps the child once it exits, staying responsive to cancelFd: a child may close its output
// and still run for a while.
ExitWait WaitForExit(pid_t pid, int cancelFd, const Deadline& deadline, int* status) {
    int delay = 1;
    for (;;) {
        const pid_t reaped = waitpid(pid, status, WNOHANG);
        if (reaped == pid) return ExitWait::Exited;
        if (reaped < 0 && errno != EINTR) return ExitWait::Lost;  // reaped elsewhere
        if (reaped == 0) {
            if (deadline.Expired()) return ExitWait::TimedOut;
            if (CancelledWithin(cancelFd, deadline.WaitMs(delay))) return ExitWait::Cancelled;
            delay = delay * 2 < kLongestExitCheckMs ? delay * 2 : kLongestExitCheckMs;
        }
    }
}

void SignalGroup(pid_t pid, int signal) {
    if (kill(-pid, signal) != 0) kill(pid, signal);
}

// Takes one cancel request (a byte) off cancelFd, when there is one.
void TakeCancelRequest(int cancelFd) {
    if (cancelFd < 0) return;
    pollfd watched = {cancelFd, POLLIN, 0};
    char request;
    // The byte is only taken away; a failed read leaves it for the next look.
    if (poll(&watched, 1, 0) > 0 && (watched.revents & POLLIN) != 0 &&
        read(cancelFd, &request, 1) < 0) {
        return;
    }
}

// Ends a child that has not been reaped yet (so its process id and group cannot have been
// reused): SIGTERM to its group, SIGKILL after the grace, or at once on a further cancel
// request, and reaps it.
void EndChild(pid_t pid, int cancelFd) {
    int status = 0;
    TakeCancelRequest(cancelFd);
    SignalGroup(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kTerminateGrace;
    for (;;) {
        const pid_t reaped = waitpid(pid, &status, WNOHANG);
        if (reaped == pid) return;
        if (reaped < 0 && errno != EINTR) return;
        if (std::chrono::steady_clock::now() >= deadline) break;
        if (CancelledWithin(cancelFd, kGraceStepMs)) break;
    }
    SignalGroup(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

bool IsExecutableFile(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISREG(info.st_mode) && access(path, X_OK) == 0;
}

}  // namespace

void ChildOutputFree(ChildOutput* output) {
    std::free(output->bytes);
    *output = ChildOutput{};
}

bool OpenPrivatePipe(int ends[2]) {
    std::lock_guard<std::mutex> guard(SpawnLock());
    return OpenPipeLocked(ends);
}

ChildRunResult RunChildProcess(const char* program, const char* input, int64_t inputLength,
                               int cancelFd, int64_t timeLimitMs, int64_t outputLimit,
                               ChildOutput* output) {
    if (program == nullptr || program[0] == '\0') return ChildRunResult::Failed;
    if (outputLimit < 0) outputLimit = 0;
    const Deadline deadline(timeLimitMs);
    SpawnedChild child;
    if (!SpawnChild(program, &child)) return ChildRunResult::Failed;
    if (input == nullptr || inputLength <= 0) CloseDescriptor(&child.inputFd);

    bool outOfMemory = false;
    const ExchangeEnd end =
        Exchange(&child, input, inputLength, cancelFd, deadline, outputLimit, output, &outOfMemory);
    // Closed before any signal, so a child still writing gets EPIPE and ends on its own.
    CloseDescriptor(&child.inputFd);
    CloseDescriptor(&child.outputFd);
    if (end != ExchangeEnd::Finished) {
        EndChild(child.pid, cancelFd);
        return end == ExchangeEnd::Cancelled ? ChildRunResult::Cancelled : ChildRunResult::Failed;
    }

    int status = 0;
    switch (WaitForExit(child.pid, cancelFd, deadline, &status)) {
        case ExitWait::Cancelled:
            EndChild(child.pid, cancelFd);
            return ChildRunResult::Cancelled;
        case ExitWait::TimedOut:
            EndChild(child.pid, cancelFd);
            return ChildRunResult::Failed;
        case ExitWait::Lost:
            return ChildRunResult::Failed;
        case ExitWait::Exited:
            break;
    }
    if (outOfMemory) return ChildRunResult::Failed;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ChildRunResult::Succeeded
                                                         : ChildRunResult::Failed;
}

bool FindProgramOnPath(const char* name, char* path, size_t capacity) {
    if (name == nullptr || name[0] == '\0' || std::strchr(name, '/') != nullptr) return false;
    const char* searchPath = std::getenv("PATH");
    if (searchPath == nullptr) searchPath = kDefaultSearchPath;
    const size_t nameLength = std::strlen(name);

    for (const char* entry = searchPath; *entry != '\0';) {
        const char* end = std::strchr(entry, ':');
        const size_t entryLength =
            end != nullptr ? static_cast<size_t>(end - entry) : std::strlen(entry);
        // Room for the directory, "/", the name and the zero.
        if (entryLength > 0 && entryLength + 1 + nameLength < capacity) {
            std::memcpy(path, entry, entryLength);
            path[entryLength] = '/';
            std::memcpy(path + entryLength + 1, name, nameLength + 1);
            if (IsExecutableFile(path)) return true;
        }
        if (end == nullptr) break;
        entry = end + 1;
    }
    if (capacity > 0) path[0] = '\0';
    return false;
}
