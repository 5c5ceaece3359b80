// SPDX-License-Identifier: GPL-3.0-or-later
#include "link_state.h"

#include <string_view>
#include <utility>

namespace kestro {

LinkState::LinkState(SerialPort& port, Clock& clock, Scheduler& scheduler)
    : port_(port), clock_(clock), scheduler_(scheduler) {
    port_.setLoneNulIsBreak(true);
}

std::string LinkState::startupSettings() const {
    return sciClock_.baseSettings(sciClock_.talkerRate());
}

std::string LinkState::changeSettings() const {
    const SciRate talker = sciClock_.talkerRate();
    return sciClock_.baseSettings({2 * talker.asked, talker.baudRegister});
}

LinkState::~LinkState() {
    setTimerEnabled(false);
}

namespace {

// Why a port could not be had, where the device's name (%1) is all the text needs. A failure
// without a row is the system's own, which the user can do nothing about but try again.
constexpr std::pair<PortError, std::string_view> kFailureTexts[] = {
    {PortError::InUse, "CommPort already in use"},
    {PortError::Absent, "%1 does not exist"},
    {PortError::Lost, "%1 was lost"},
    {PortError::NotSerial, "%1 is not a serial port"},
    {PortError::NoDevice,
     "%1 has no device behind it (a port without its hardware, or /dev/tty without a "
     "controlling terminal)"},
};

}  // namespace

std::string LinkState::openFailureText(int n, PortError error) const {
    const std::string device = port_.deviceName(n);
    if (error == PortError::None)
        return {};
    if (error == PortError::NoPermission) {
        // Group advice only where joining the group would let the user in.
        const AccessProblem why = port_.accessProblem();
        const std::string refused = "No permission to open " + device;
        switch (why.kind) {
            case AccessProblem::Kind::NotInGroup:
                return refused + ": add yourself to the " + why.name + " group and log in again";
            case AccessProblem::Kind::OwnerOnly:
                return refused + ": only its owner, " + why.name + ", may use it";
            case AccessProblem::Kind::ClosedFolder:
                return refused + ": you may not enter the folder " + why.name;
            case AccessProblem::Kind::Unknown:
                break;
        }
        return refused;
    }
    std::string_view text = "%1 cannot be opened";
    for (const auto& [e, t] : kFailureTexts)
        if (e == error)
            text = t;
    std::string out(text);
    if (const auto at = out.find("%1"); at != std::string::npos)
        out.replace(at, 2, device);
    return out;
}

std::optional<int> LinkState::openFirstFree(std::string& reasons, std::string_view separator) {
    for (int n = 1; n <= kPorts; ++n) {
        port_.setCommPort(n);
        const PortError e = port_.open();
        if (e == PortError::None)
            return n;
        if (!reasons.empty())
            reasons += separator;
        reasons += "Comm " + std::to_string(n) + ": " + openFailureText(n, e);
    }
    return std::nullopt;
}

void LinkState::startupSearch() {
    portNumber_ = 0;
    port_.setSettings(startupSettings());
    std::string reasons;
    const std::optional<int> opened = openFirstFree(reasons, "\n");
    portNumber_ = opened.value_or(kNoPort);
    if (opened) {
        // Choosing a button other than the first counts as the user choosing it.
        if (portNumber_ == 1) {
            if (view_)
                view_->selectComm(1);
        } else {
            changePort(portNumber_);
        }
        return;
    }
    if (view_)
        view_->message({"No free CommPort!", "Error", Icon::Exclamation, reasons});
}

void LinkState::changePort(int n) {
    const int old = portNumber_;
    loaderRateFailed_ = false;
    strayAfterReset_ = false;
    // Another port's HC11 has not said what it is: no part is taken for it until one is named.
    part_.clear();
    port_.close();
    portNumber_ = n;
    PortError e = port_.setSettings(changeSettings());
    port_.setCommPort(n);
    if (e == PortError::None)
        e = port_.open();
    if (e != PortError::None) {
        if (view_)
            view_->showPortWarning(openFailureText(n, e));
        portNumber_ = old;
        port_.setSettings(changeSettings());
        port_.setCommPort(old);
        port_.open();  // failing again here changes nothing more
    }
    // The break that made the target ready came on the old port; a reopened old port keeps
    // it, any other ending does not.
    if (ready_ && (portNumber_ != old || !port_.isOpen()))
        clearReady();
    if (port_.isOpen() && failureShown_)
        showDisconnected(false, {});
    if (view_)
        view_->selectComm(portNumber_ >= 1 && portNumber_ <= kPorts ? portNumber_ : 0);
    clock_.sleepFor(kPortChangePause);
    if (view_)
        view_->showPortWarning(std::nullopt);
}

void LinkState::connect() {
    if (port_.isOpen())
        return;
    loaderRateFailed_ = false;
    strayAfterReset_ = false;
    port_.setSettings(startupSettings());
    if (portNumber_ < 1 || portNumber_ > kPorts) {
        // No port was ever found: look again at the ports the user can choose, never beyond.
        std::string reasons;
        const std::optional<int> opened = openFirstFree(reasons, "; ");
        if (!opened) {
            showDisconnected(true, "No free CommPort! " + reasons);
            return;
        }
        portNumber_ = *opened;
        if (view_)
            view_->selectComm(portNumber_);
    } else {
        port_.setCommPort(portNumber_);
        if (const PortError e = port_.open(); e != PortError::None) {
            showDisconnected(true, openFailureText(portNumber_, e));
            return;
        }
    }
    showDisconnected(false, {});
    if (view_)
        view_->showResetPrompt(true);
}

void LinkState::disconnect() {
    if (!port_.isOpen())
        return;
    port_.close();
    showDisconnected(true, {});
    ready_ = false;
    refresh();
    if (view_)
        view_->showResetPrompt(false);
}

void LinkState::refresh() {
    if (view_)
        view_->showReadiness(ready_);
}

void LinkState::clearReady() {
    ready_ = false;
    refresh();
}

void LinkState::setOperationRunning(bool running) {
    operationRunning_ = running;
    port_.setLoneNulIsBreak(!running);
    port_.setTextAnswers(false);
}

void LinkState::portBreak() {
    ++breaks_;
    ready_ = true;
    refresh();
}

void LinkState::portFailed(PortError error) {
    // An open port that went away is shown as a disconnect; the user connects again, and the
    // target, whose break came on that port, must be reset again.
    ready_ = false;
    refresh();
    if (view_)
        view_->showResetPrompt(false);
    showDisconnected(true, openFailureText(portNumber_, error));
}

void LinkState::showDisconnected(bool shown, const std::string& reason) {
    failureShown_ = shown && !reason.empty();
    if (view_)
        view_->showDisconnected(shown, reason);
}

void LinkState::setTimerEnabled(bool enabled) {
    if (timer_) {
        scheduler_.cancel(*timer_);
        timer_.reset();
    }
    if (enabled) {
        nextTick_ = scheduler_.now() + kTickInterval;
        timer_ = scheduler_.schedule(nextTick_, [this] { tick(); });
    }
}

void LinkState::tick() {
    ++ticks_;
    nextTick_ += kTickInterval;
    timer_ = scheduler_.schedule(nextTick_, [this] { tick(); });
}

}  // namespace kestro
