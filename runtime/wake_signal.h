// A wake-up that one thread raises and another waits for in the kernel, beside its socket (a
// pipe: poll() watches its read end). Raising it never blocks; it stays raised until cleared.
//
// Threads: Raise may be called from any thread; Clear only while no thread waits on it.
#pragma once

class WakeSignal {
  public:
    WakeSignal() = default;
    ~WakeSignal() { Close(); }
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    // Opens the pipe (close-on-exec, non-blocking). False when none can be had.
    bool Open();
    void Close();
    // The descriptor to watch for POLLIN, or -1 when not open.
    int Fd() const { return readFd_; }
    void Raise();
    void Clear();

  private:
    int readFd_ = -1;
    int writeFd_ = -1;
};
