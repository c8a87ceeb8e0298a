// SIGUSR1 with a handler that does nothing and no SA_RESTART, for the object's life: sent to a
// thread, it interrupts the blocking call the thread is in with EINTR.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <thread>

class InterruptingSignal {
  public:
    InterruptingSignal() {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigaction(SIGUSR1, &action, &previous_);
    }
    ~InterruptingSignal() { sigaction(SIGUSR1, &previous_, nullptr); }
    InterruptingSignal(const InterruptingSignal&) = delete;
    InterruptingSignal& operator=(const InterruptingSignal&) = delete;

    void Send(std::thread& thread) const { pthread_kill(thread.native_handle(), SIGUSR1); }

  private:
    struct sigaction previous_ {};
};
