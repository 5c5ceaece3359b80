// SPDX-License-Identifier: GPL-3.0-or-later
#include "command_ui.h"

#include "verdict.h"

namespace kestro::cli {

void CommandUi::message(const Message& m) {
    const Exit e = exitFor(m);
    // A box the target's reply chose goes to standard output; failures of the program, the
    // port and the files to standard error.
    const bool fromTarget = e == Exit::Success || e == Exit::Found || e == Exit::TargetError;
    std::string text = terminalText(m);
    // A difference's address is the talker's answer: nothing goes after it.
    if (!memory_.empty() && (e == Exit::Success || e == Exit::TargetError))
        text += " (" + memory_ + ")";
    if (!m.reason.empty())
        text += ": " + m.reason;
    std::string detail = m.detail;
    if (wording_) {
        text = wording_(std::move(text));
        detail = wording_(std::move(detail));
    }
    reporter_.line(fromTarget ? Channel::Verdict : Channel::Error, text);
    if (!detail.empty())
        reporter_.line(fromTarget ? Channel::Info : Channel::Error, detail);
    if (!exit_ || worse(*exit_, e) != *exit_) {
        exit_ = e;
        verdict_ = std::move(text);
        detail_ = std::move(detail);
    }
}

void CommandUi::setProgress(std::optional<int> percent) {
    if (!percent) {
        show(std::nullopt);
        return;
    }
    show(Received{.bytes = fileSize_ * *percent / 100, .total = fileSize_}, *percent);
}

void CommandUi::setReceived(std::optional<Received> received) {
    if (!received) {
        show(std::nullopt);
        return;
    }
    show(received,
         received->total > 0 ? static_cast<int>(received->bytes * 100 / received->total) : 0);
}

void CommandUi::show(std::optional<Received> amount, int percent) {
    if (!amount) {
        transferStart_.reset();
        reporter_.progress(std::nullopt);
        return;
    }
    if (!transferStart_) {
        transferStart_ = clock_.now();
        meter_ = RateMeter();
    }
    Transfer t;
    t.done = amount->bytes;
    t.total = amount->total;
    t.percent = percent;
    t.seconds = std::chrono::duration<double>(clock_.now() - *transferStart_).count();
    t.rate = meter_.rate(t.done, t.seconds);
    t.baud = baud_;
    reporter_.progress(t);
}

std::string CommandUi::chooseFile() {
    return file_.empty() ? std::string(kChooserCancel) : file_.string();
}

}  // namespace kestro::cli
