// SPDX-License-Identifier: GPL-3.0-or-later
#include "interruption.h"

#include <signal.h>
#include <unistd.h>

#include <array>

namespace kestro::cli {

namespace {

volatile sig_atomic_t g_signal = 0;
// Written before the workers can be signalled, read only by the handler.
std::array<volatile pid_t, 64> g_children{};
volatile sig_atomic_t g_childCount = 0;

void onSignal(int signal) {
    if (g_signal != 0) {
        // The user asked twice: no more tidying, and no worker left behind.
        for (sig_atomic_t i = 0; i < g_childCount; ++i)
            ::kill(g_children[static_cast<std::size_t>(i)], SIGKILL);
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    g_signal = signal;
}

}  // namespace

void catchInterruptions() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int s : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(s, &action, nullptr);
}

int interruption() {
    return g_signal;
}

void noteInterruption(int signal) {
    g_signal = signal;
}

Exit exitForSignal(int signal) {
    return signal == SIGINT ? Exit::Interrupted : Exit::Terminated;
}

void addChildProcess(pid_t pid) {
    if (g_childCount < static_cast<sig_atomic_t>(g_children.size())) {
        g_children[static_cast<std::size_t>(g_childCount)] = pid;
        g_childCount = g_childCount + 1;
    }
}

void InterruptibleClock::check() const {
    if (const int s = g_signal; s != 0)
        throw Interrupted{s};
}

void InterruptibleClock::sleepFor(Duration d) {
    if (held_)
        return inner_.sleepFor(d);
    check();
    // A wait that polls, where a plain sleep would not look at the signal until it ends.
    inner_.waitUntil([] { return g_signal != 0; }, d);
    check();
}

bool InterruptibleClock::waitUntil(const std::function<bool()>& done, Duration limit) {
    if (held_)
        return inner_.waitUntil(done, limit);
    check();
    const bool result = inner_.waitUntil([&done] { return g_signal != 0 || done(); }, limit);
    check();
    return result;
}

}  // namespace kestro::cli
