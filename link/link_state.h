// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "clock.h"
#include "messages.h"
#include "sci_rates.h"
#include "serial_port.h"

namespace kestro {

// What the link shows in the window: the readiness pictures and label, the reset prompt, the
// disconnected picture, the port-in-use warning and the selected Comm button.
class LinkView {
  public:
    virtual ~LinkView() = default;
    // Ready: the ready picture and "Ready", prompt hidden; not ready: the other picture,
    // "Not Ready" and the reset prompt.
    virtual void showReadiness(bool ready) = 0;
    virtual void showResetPrompt(bool shown) = 0;
    // reason: why the port could not be opened, empty when there is nothing to explain.
    virtual void showDisconnected(bool shown, const std::string& reason) = 0;
    // text: the warning to show beside its picture; nullopt hides both.
    virtual void showPortWarning(const std::optional<std::string>& text) = 0;
    // Marks Comm n as chosen without running its change handler (0: none).
    virtual void selectComm(int n) = 0;
    virtual void message(const Message& m) = 0;
};

// Which port is in use, whether the target has announced itself with a break, and the tick
// counter of the dump's quiet-line timer.
class LinkState : public PortListener {
  public:
    static constexpr int kPorts = 4;
    static constexpr int kNoPort = 5;
    static constexpr Duration kTickInterval = 500ms;
    static constexpr Duration kPortChangePause = 2000ms;

    LinkState(SerialPort& port, Clock& clock, Scheduler& scheduler);
    // The window that shows the link; set before anything runs.
    void setView(LinkView* view) { view_ = view; }
    ~LinkState() override;

    SerialPort& port() { return port_; }
    // The board's SCI at its crystal: every rate the link asks for and every wait it counts in
    // characters come from it. Set before the port opens; a change holds from the next job.
    const SciClock& sciClock() const { return sciClock_; }
    void setSciClock(const SciClock& clock) { sciClock_ = clock; }
    // The part the user named, as printed on it ("MC68HC711E20"); empty where none is named. The
    // talkers' operands that differ between parts are written for it (talker_parts.h).
    const std::string& part() const { return part_; }
    void setPart(std::string part) { part_ = std::move(part); }
    // What the port listens at for the boot loader's break, and after a change of port (twice
    // the talker's rate, at 8 MHz 2400 baud): at or above the rate the break is sent at, so that
    // it lasts a whole character.
    std::string startupSettings() const;
    std::string changeSettings() const;
    Clock& clock() { return clock_; }
    int portNumber() const { return portNumber_; }
    bool ready() const { return ready_; }
    // Breaks seen since the link was made: a job compares it to notice a reset under it.
    std::uint64_t breaks() const { return breaks_; }
    int ticks() const { return ticks_; }

    void startupSearch();
    void changePort(int n);
    void connect();
    void disconnect();

    // The readiness display.
    void refresh();
    // Ends a use of the target: the next operation needs a new reset.
    void clearReady();
    // While an operation runs, a lone NUL is data, never a break; every job starts with its
    // answers taken as bytes, not text.
    void setOperationRunning(bool running);
    bool operationRunning() const { return operationRunning_; }

    // Set when a talker download at the boot loader's 7812 baud came back damaged: the jobs
    // after it download at 1200 until the port changes.
    void setLoaderRateFailed(bool failed) { loaderRateFailed_ = failed; }
    bool loaderRateFailed() const { return loaderRateFailed_; }
    // Set when a job ended at a reset that bytes of it may have followed: the boot loader may
    // then run them, and what they send can read as the next reset. Cleared by the next echoed
    // talker download or a change of port.
    void setStrayAfterReset(bool stray) { strayAfterReset_ = stray; }
    bool takeStrayAfterReset() { return std::exchange(strayAfterReset_, false); }

    void setTimerEnabled(bool enabled);
    void resetTicks() { ticks_ = 0; }

    // Text that says why port n could not be opened.
    std::string openFailureText(int n, PortError error) const;

    // PortListener
    void portBreak() override;
    void portFailed(PortError error) override;

  private:
    void tick();
    // Opens the first of Comm 1 to kPorts that opens; reasons collects why the others did not.
    std::optional<int> openFirstFree(std::string& reasons, std::string_view separator);
    // The disconnected picture; one shown for a failure goes once a port opens.
    void showDisconnected(bool shown, const std::string& reason);

    SerialPort& port_;
    Clock& clock_;
    SciClock sciClock_;
    std::string part_;
    Scheduler& scheduler_;
    LinkView* view_ = nullptr;
    int portNumber_ = 0;
    bool ready_ = false;
    int ticks_ = 0;
    bool operationRunning_ = false;
    bool failureShown_ = false;
    bool loaderRateFailed_ = false;
    bool strayAfterReset_ = false;
    std::uint64_t breaks_ = 0;
    std::optional<Scheduler::EventId> timer_;
    TimePoint nextTick_{0};
};

}  // namespace kestro
