// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include "clock.h"
#include "command_line.h"

namespace kestro::cli {

// Ctrl-C, SIGTERM and SIGHUP end a job at its next wait, so that what it leaves behind (the
// terminal, the port's queue, a virtual board's memories, the dump's files) is put in order
// and said. A second signal ends the process at once.
void catchInterruptions();

// The signal that asked the job to end; 0 while none has.
int interruption();
// Notes a signal as the handler does; 0 forgets it (for tests).
void noteInterruption(int signal);

// Exit code for an interrupted job: 128 plus the signal, as a shell gives.
Exit exitForSignal(int signal);

// Workers, which a second signal kills at once with the process that started them.
void addChildProcess(pid_t pid);

// What a wait throws once a signal has asked the job to end.
struct Interrupted {
    int signal;
};

// The job's clock: waits as the inner one does, and ends every wait, with Interrupted, within
// one of its polls of a signal.
class InterruptibleClock final : public Clock {
  public:
    explicit InterruptibleClock(Clock& inner) : inner_(inner) {}
    TimePoint now() const override { return inner_.now(); }
    void sleepFor(Duration d) override;
    bool waitUntil(const std::function<bool()>& done, Duration limit) override;

    // While held, a signal is left to the job to look at (interruption()) and every wait runs
    // as the inner clock's: the monitor stops the user's program on Ctrl-C rather than cut an
    // exchange with the HC11 short.
    void hold(bool held) { held_ = held; }

  private:
    void check() const;
    Clock& inner_;
    bool held_ = false;
};

}  // namespace kestro::cli
