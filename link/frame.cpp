// SPDX-License-Identifier: GPL-3.0-or-later
#include "frame.h"

#include <algorithm>

#include "sci_rates.h"
#include "streamer.h"
#include "talker_loader.h"
#include "talker_parts.h"
#include "talker_waits.h"

namespace kestro {

namespace {

// Generous against a working line: twice the line time of what is queued, plus two seconds
// for a USB adapter's latency.
Duration drainLimit(std::size_t queued, int baud) {
    return 2 * characterTime(std::max(baud, 1), static_cast<std::int64_t>(queued)) + 2s;
}

// How long one round of the streamer lets events run before it moves the bars again.
constexpr Duration kProgressRound = 100ms;

// What a USB adapter may still send after the driver counts nothing queued: it starts at its
// next bus frame, from a FIFO the driver no longer counts.
constexpr Duration kAdapterLag = 20ms;

// The reset box's detail, by whether bytes of the job can have followed the reset.
struct ResetDetail {
    bool sentAfter;
    const char* text;
};
constexpr ResetDetail kResetDetails[] = {
    {false,
     "Nothing more was sent to it, and what the job was doing may be partly done. Reset your "
     "HC11 into bootstrap mode and start the job again."},
    {true,
     "What the job was doing may be partly done. The boot loader may have taken bytes sent "
     "after its reset as a program: reset your HC11 into bootstrap mode again before the next "
     "job."},
};

}  // namespace

Frame::Frame(Target& target, std::string button, std::string restingCaption)
    : target_(target), button_(std::move(button)), restingCaption_(std::move(restingCaption)) {}

TimePoint Frame::JobClock::now() const {
    return frame_.link().clock().now();
}

void Frame::JobClock::sleepFor(Duration d) {
    Clock& clock = frame_.link().clock();
    // Before the talker download a break is the target announcing itself: one plain sleep.
    if (!frame_.targetUsed_) {
        clock.sleepFor(d);
        return;
    }
    if (!frame_.resetSeen())
        clock.waitUntil([this] { return frame_.resetSeen(); }, d);
    if (frame_.resetSeen())
        frame_.resetDuringJob();
}

bool Frame::JobClock::waitUntil(const std::function<bool()>& done, Duration limit) {
    const bool result = frame_.link().clock().waitUntil(
        [this, &done] { return frame_.resetSeen() || done(); }, limit);
    if (frame_.resetSeen())
        frame_.resetDuringJob();
    return result;
}

bool Frame::resetSeen() const {
    return targetUsed_ && target_.link.breaks() != breaksAtDownload_;
}

bool Frame::sentAfterReset() {
    // The break began at least a character before the PC read it (a break cut short by the
    // PC's next byte reads as a character too).
    const Duration character = characterTime(std::max(port().settings().baud, 1));
    // A talker's answer, or what the line made of one, may be the boot loader's echo of bytes
    // sent after the reset: the reset came before it.
    const TimePoint seen = answerAt_ ? std::min(*answerAt_, clock_.now()) : clock_.now();
    return port().outBufferCount() != 0 || sendingUntil_ + kAdapterLag > seen - character;
}

void Frame::handedOver() {
    const Duration queued = characterTime(std::max(port().settings().baud, 1),
                                          static_cast<std::int64_t>(port().outBufferCount()));
    sendingUntil_ = std::max(sendingUntil_, link().clock().now() + queued);
}

void Frame::resetDuringJob() {
    const bool sentAfter = sentAfterReset();
    // What is still queued would reach a boot loader that takes it for a program to run.
    port().discardOutput();
    ui().setProgress(std::nullopt);
    // A board at another crystal echoes the download at its own rate, and a character of it
    // that holds the line low longer than one at ours reads as a break: before the echo is
    // confirmed, what came with the break tells a reset from a board at another rate.
    bool breakBeforeEcho = false;
    if (!echoChecked_) {
        // Looked at, not taken: bytes left waiting keep a NUL that the boot loader echoes after
        // its reset from reading as its break, which would show the target ready.
        Bytes came = received_;
        const Bytes waiting = port().waiting();
        came.insert(came.end(), waiting.begin(), waiting.end());
        // The echo's start ends what came, after any leftovers of an earlier run and before
        // the last character, which the reset itself may cut short.
        const std::size_t whole = came.empty() ? 0 : came.size() - 1;
        bool echoBegun = whole == 0;
        for (std::size_t n = std::min(whole, expectedEcho_.size()); n > 0 && !echoBegun; --n)
            echoBegun = std::equal(came.begin() + static_cast<std::ptrdiff_t>(whole - n),
                                   came.begin() + static_cast<std::ptrdiff_t>(whole),
                                   expectedEcho_.begin());
        // Characters that are not the echo, which no reset sends: told as the echo's failure.
        if (!echoBegun)
            checkTalkerEcho();
        // A break before any echo: a reset as the download began, or a board at another rate.
        breakBeforeEcho = whole == 0;
    }
    const auto* detail =
        std::find_if(std::begin(kResetDetails), std::end(kResetDetails),
                     [sentAfter](const ResetDetail& d) { return d.sentAfter == sentAfter; });
    std::string text = detail->text;
    const bool strayBefore = link().takeStrayAfterReset();
    link().setStrayAfterReset(sentAfter);
    if (breakBeforeEcho && strayBefore)
        text +=
            " The last job too ended with a reset while Kestro was still sending: what "
            "reads as a reset may be the output of the program the boot loader took then.";
    else if (breakBeforeEcho)
        text += " If no one reset it, the HC11's crystal may not be the " +
                link().sciClock().crystalText() +
                " MHz Kestro is set for: a board at another rate can answer the download with "
                "what reads as a break. Set the board's crystal (--crystal on the command line, "
                "Preferences in the window).";
    throw LinkError(kResetDuringJob, LinkError::Ending::EndAsFrame, text);
}

void Frame::resetOnLine() {
    link().portBreak();
    resetDuringJob();
}

void Frame::run(Target& target, std::string button, std::string restingCaption, const Body& body) {
    Frame f(target, std::move(button), std::move(restingCaption));
    try {
        body(f);
    } catch (const LinkError& e) {
        f.ui().message({e.what(), kAppTitle, Icon::Critical, e.detail});
        f.end(e.ending == LinkError::Ending::EndAsFrame);
    } catch (const std::exception& e) {
        // Not a failure the link foresees (out of memory, a file system error): say what it
        // was and leave the window usable.
        f.ui().message({e.what(), kAppTitle, Icon::Critical});
        f.end(false);
    }
    // A body that returned without ending its run must not leave the window disabled.
    if (!f.ended_ && f.link().operationRunning())
        f.end(false);
}

bool Frame::begin() {
    if (!link().ready()) {
        ended_ = true;
        // The refusal keeps its words; a closed port, where no reset can reach the PC, is
        // named with what to do first.
        ui().message({"Please reset your HC11", kAppTitle, Icon::Exclamation,
                      port().isOpen() ? "" : "The serial port is closed: press Connect first."});
        return false;
    }
    link().setOperationRunning(true);
    ui().setWindowEnabled(false);
    ui().setCaption(button_, kBusyCaption);
    return true;
}

std::optional<ChosenFile> Frame::chooseFile() {
    const std::string chosen = ui().chooseFile();
    if (chosen == kChooserCancel) {
        cancel();
        return std::nullopt;
    }
    if (const std::string* content = ui().chosenFileContent())
        return ChosenFile{chosen, *content};
    // Found out now, before the talker download uses up the reset.
    std::string reason;
    auto content = readFile(chosen, &reason);
    if (!content)
        throw LinkError("Cannot read the file " + chosen + ": " + reason + ".",
                        LinkError::Ending::KeepTarget);
    return ChosenFile{chosen, std::move(*content)};
}

int Frame::downloadTalker(const std::string& talkerFile, DownloadRate rate) {
    const std::filesystem::path path = target_.talkerDir / talkerFile;
    std::string reason;
    const auto text = readFile(path, &reason);
    if (!text)
        throw LinkError("Cannot read the talker file " + path.string() + ": " + reason + ".",
                        LinkError::Ending::KeepTarget,
                        "Kestro looks for its talkers in the asm folder beside the program.");
    // The talkers count their waits for E = 2 MHz; the counts for the board's E go in before
    // the download, and an E no count serves is refused before anything is sent.
    const std::string talker = std::filesystem::path(talkerFile).stem().string();
    auto image = withWaitsFor(talker, talkerImage(*text), link().sciClock().eHz(), &reason);
    if (!image)
        throw LinkError("The talker " + talkerFile + " cannot run at this crystal: " + reason + ".",
                        LinkError::Ending::KeepTarget);
    // A named part's registers and ranges where they differ from those assembled.
    image = withOperandsFor(talker, std::move(*image), link().part(), &reason);
    if (!image)
        throw LinkError("The talker " + talkerFile + " cannot be set up for the " + link().part() +
                            ": " + reason + ".",
                        LinkError::Ending::KeepTarget);
    if (!port().isOpen())
        portFailed(port().failure());

    const SciClock& sci = link().sciClock();
    setLineRate(sci.talkerRate());
    // A line that damaged a download at the boot loader's rate before gets the next ones at the
    // talker's.
    if (rate == DownloadRate::LoaderWherePossible && !link().loaderRateFailed()) {
        // The sync byte $FF at E/16/16 keeps the boot loader there (M68HC11 Reference Manual
        // 3.5.4.1): the download takes a sixth of its time at the talker's rate. Judged, as the
        // rate agreement judges its rates, on what the port says it set.
        const SciRate loader[] = {sci.loaderRate()};
        const RateChoice c =
            chooseRate([this](int baud) { return port().setRate(baud); }, sci, loader);
        if (c.error != PortError::None)
            portFailed(c.error);
        atLoaderRate_ = c.inForce != 0;
        if (c.inForce == 0)
            setLineRate(sci.talkerRate());
    }
    const Bytes wire = talkerWireBytes(*image);
    targetUsed_ = true;
    breaksAtDownload_ = link().breaks();
    for (Byte b : wire) {
        if (const PortError e = port().output(b); e != PortError::None)
            portFailed(e);
    }
    handedOver();
    expectedEcho_.assign(wire.begin() + 1, wire.begin() + 1 + kEchoChecked);
    received_.clear();
    echoChecked_ = false;
    return port().settings().baud;
}

void Frame::setLineRate(const SciRate& r) {
    const PortError e = setPortRate(port(), link().sciClock(), r);
    if (e == PortError::BadSettings)
        throw LinkError(rateUnmadeText(port().deviceName(port().commPort()), link().sciClock(), r),
                        LinkError::Ending::KeepTarget,
                        "Check the crystal set for the HC11; some adapters make only the "
                        "standard rates.");
    if (e != PortError::None)
        portFailed(e);
}

void Frame::waitDrained() {
    const Duration limit = drainLimit(port().outBufferCount(), port().settings().baud);
    const bool drained = clock().waitUntil(
        [this] { return port().failure() != PortError::None || port().outBufferCount() == 0; },
        limit);
    if (port().failure() != PortError::None)
        portFailed(port().failure());
    if (!drained)
        throw LinkError("The serial port " + port().deviceName(port().commPort()) +
                            " did not send its data in time.",
                        LinkError::Ending::EndAsFrame,
                        "Check that the port works and is not held up by flow control.");
}

void Frame::wait(Duration d) {
    clock().sleepFor(d);
    if (port().failure() != PortError::None)
        portFailed(port().failure());
}

bool Frame::echoSeen() const {
    return std::search(received_.begin(), received_.end(), expectedEcho_.begin(),
                       expectedEcho_.end()) != received_.end();
}

void Frame::waitForEcho(Duration gap) {
    // Bytes that are not the echo (garbage on the line) keep the wait going as long as the line
    // brings them, so that the rest of the echo does not reach the link after the job as bytes
    // of its own (a lone $00 reads as a break on some adapters); a flood ends it after a second.
    const TimePoint giveUp = clock().now() + 1s;
    while (true) {
        const Bytes more = port().input();
        received_.insert(received_.end(), more.begin(), more.end());
        if (echoSeen() || clock().now() > giveUp)
            return;
        const bool came = clock().waitUntil(
            [this] { return port().failure() != PortError::None || port().inBufferCount() != 0; },
            gap);
        if (port().failure() != PortError::None)
            portFailed(port().failure());
        if (!came)
            return;
    }
}

void Frame::checkTalkerEcho() {
    if (echoChecked_)
        return;
    echoChecked_ = true;
    // Bytes left over from an earlier run may come first: look for the echo as one block.
    const Bytes more = port().input();
    received_.insert(received_.end(), more.begin(), more.end());
    const SciClock& sci = link().sciClock();
    if (link().takeStrayAfterReset() && !echoSeen())
        // No reset since the one that ended the last job: what looked like one was the boot
        // loader running the bytes that followed it, or their output. Said once: the next try
        // looks for the other causes.
        throw LinkError(kNotEchoed, LinkError::Ending::EndAsFrame,
                        "The last job ended with a reset while Kestro was still sending, and the "
                        "boot loader may have run what followed it: what that program sends can "
                        "look like a new reset. Reset your HC11 into bootstrap mode again and "
                        "start the job once more.");
    if (!echoSeen() && atLoaderRate_) {
        // The boot loader has taken the damaged bytes: only a new reset lets it take them again.
        link().setLoaderRateFailed(true);
        throw LinkError(kNotEchoed, LinkError::Ending::EndAsFrame,
                        "It went at the boot loader's " + std::to_string(sci.loaderRate().asked) +
                            " baud, which the line did not carry whole. Reset your HC11 into "
                            "bootstrap mode and start the job again: the download then goes at " +
                            std::to_string(sci.talkerRate().asked) + " baud.");
    }
    if (!echoSeen() && !received_.empty())
        // Something came back, so the line is there: an SCI at another rate hears the download
        // as garbage and echoes garbage, which is what a board with another crystal does.
        throw LinkError(kNotEchoed, LinkError::Ending::EndAsFrame,
                        "What came back was not the echo. The HC11's crystal may not be the " +
                            sci.crystalText() +
                            " MHz Kestro is set for, which puts the two ends at different "
                            "rates: set the board's crystal (--crystal on the command line, "
                            "Preferences in the window), then reset your HC11 into bootstrap "
                            "mode and try again.");
    if (!echoSeen())
        // Nothing at all: the wiring, or a boot loader at another rate, which hears the start
        // bit of the download's first byte as a break and runs its EEPROM instead (AN1060).
        throw LinkError(kNotEchoed, LinkError::Ending::EndAsFrame,
                        "Check the wiring between the port and the HC11. If it is sound, the "
                        "HC11's crystal may not be the " +
                            sci.crystalText() +
                            " MHz Kestro is set for: a boot loader at another rate can take the "
                            "download for a break and run its EEPROM instead. Set the board's "
                            "crystal (--crystal on the command line, Preferences in the window), "
                            "then reset your HC11 into bootstrap mode and try again.");
}

Bytes Frame::afterEcho() {
    checkTalkerEcho();
    auto from =
        std::search(received_.begin(), received_.end(), expectedEcho_.begin(), expectedEcho_.end());
    from += static_cast<std::ptrdiff_t>(expectedEcho_.size());
    while (from != received_.end() && *from == 0)
        ++from;
    return Bytes(from, received_.end());
}

std::string Frame::awaitReply() {
    const auto came = [this](std::size_t had) {
        return [this, had] {
            return port().failure() != PortError::None || port().inBufferCount() > had;
        };
    };
    clock().waitUntil(came(0), kReplyWait);
    // The rest of a longer answer, or garbage after it, follows at the line's pace.
    const Duration quiet = characterTime(std::max(port().settings().baud, 1), 3);
    const TimePoint giveUp = clock().now() + 1s;
    for (std::size_t had = port().inBufferCount(); had != 0 && clock().now() < giveUp;) {
        if (!clock().waitUntil(came(had), quiet))
            break;
        if (port().failure() != PortError::None)
            break;
        had = port().inBufferCount();
    }
    if (port().failure() != PortError::None)
        portFailed(port().failure());
    return textOf(port().input());
}

void Frame::discardBuffers(Answers answers) {
    checkTalkerEcho();
    port().discardOutput();
    port().discardInput();
    port().setTextAnswers(answers == Answers::Text);
}

void Frame::send(ByteView bytes) {
    if (const PortError e = port().output(bytes); e != PortError::None)
        portFailed(e);
    handedOver();
}

void Frame::send(std::string_view text) {
    const Bytes b = bytesOf(text);
    send(ByteView(b));
}

void Frame::send(Byte b) {
    send(ByteView(&b, 1));
}

void Frame::streamFile(std::string_view content, Duration perCharacter) {
    const std::size_t length = content.size();
    const int baud = std::max(port().settings().baud, 1);
    const Duration character = characterTime(baud);
    // Paced: one character at a time, each at least perCharacter after the one before, where
    // the line alone would bring them faster than the talker takes them.
    const bool paced = perCharacter > character;
    const std::size_t queued =
        paced ? 1 : static_cast<std::size_t>(std::max<std::int64_t>(1, kQueuedAhead / character));
    const std::size_t room = std::max<std::size_t>(
        1, std::min(queued, port().outBufferSize() -
                                std::min(port().outBufferSize(), port().outBufferCount())));
    // Longer than the talker ever takes over a character (a programming cycle, the pace, the
    // acknowledgements of those ahead on the line): beyond it, it takes nothing more.
    const Duration silent =
        kReplyWait + 2 * perCharacter + characterTime(baud, 2 * kUnacknowledged);
    // The file and the one byte the streamer sends beyond its end.
    const std::size_t total = length + 1;
    acknowledged_ = 0;
    answer_.clear();
    garbled_ = false;
    answerAt_.reset();
    std::size_t sent = 0;
    TimePoint nextSend = clock().now();
    int shown = 1;
    ui().setProgress(shown);
    const auto showProgress = [&] {
        const int now = streamProgress(static_cast<std::int64_t>(sent),
                                       static_cast<std::int64_t>(port().outBufferCount()),
                                       static_cast<std::int64_t>(length));
        if (now != shown)
            ui().setProgress(shown = now);
    };
    const auto failed = [this] { return port().failure() != PortError::None; };
    // An acknowledgement more than was sent (a line's garbage) gives no credit.
    const auto ahead = [&] { return sent - std::min(sent, acknowledged_); };
    const auto mayGo = [&] {
        return failed() || answered() ||
               (ahead() < kUnacknowledged && port().outBufferCount() < room);
    };
    while (sent < total) {
        if (paced && clock().now() < nextSend)
            clock().waitUntil([this] { return answered(); }, nextSend - clock().now());
        const TimePoint since = clock().now();
        const TimePoint drainBy = since + drainLimit(port().outBufferCount(), baud);
        while (!clock().waitUntil(mayGo, kProgressRound)) {
            showProgress();
            if (port().outBufferCount() != 0 && clock().now() > drainBy) {
                ui().setProgress(std::nullopt);
                throw LinkError("The serial port " + port().deviceName(port().commPort()) +
                                    " did not send its data in time.",
                                LinkError::Ending::EndAsFrame);
            }
            // The talker has stopped taking the file without a word: what it answers, or
            // that it does not, is told after.
            if (port().outBufferCount() == 0 && clock().now() - since > silent) {
                ui().setProgress(std::nullopt);
                return;
            }
        }
        if (failed()) {
            ui().setProgress(std::nullopt);
            portFailed(port().failure());
        }
        if (garbled_)
            resetOnLine();
        // A talker answers during the file only at its end or with an error, after which it
        // takes nothing more.
        if (answered()) {
            port().discardOutput();
            break;
        }
        const std::size_t n = std::min({kUnacknowledged - ahead(), room - port().outBufferCount(),
                                        paced ? std::size_t{1} : total, total - sent});
        Bytes bytes(n, kBeyondEndByte);
        const std::size_t fromFile = sent < length ? std::min(n, length - sent) : 0;
        std::copy_n(content.begin() + static_cast<std::ptrdiff_t>(sent), fromFile, bytes.begin());
        send(ByteView(bytes));
        sent += n;
        nextSend = std::max(nextSend, clock().now()) + perCharacter;
        showProgress();
    }
    // The bars follow the last characters out.
    if (sent == total) {
        clock().waitUntil([&] { return port().outBufferCount() == 0 || failed() || answered(); },
                          drainLimit(port().outBufferCount(), baud));
        showProgress();
    }
    ui().setProgress(std::nullopt);
}

void Frame::takeAnswer(std::size_t atMost) {
    const bool bounded = atMost != std::string::npos;
    while (!garbled_ && answer_.size() < atMost && port().inBufferCount() != 0) {
        if (bounded)
            port().setInputLen(1);
        const Bytes came = port().input();
        if (bounded)
            port().setInputLen(0);
        for (const Byte b : came) {
            if (b == kAcknowledgement)
                ++acknowledged_;
            else if (b >= 0x80)
                garbled_ = true;
            else
                answer_.push_back(static_cast<char>(b));
            if (b != kAcknowledgement && !answerAt_)
                answerAt_ = clock_.now();
        }
    }
}

bool Frame::answered() {
    takeAnswer(1);
    return garbled_ || !answer_.empty();
}

std::string Frame::answer(std::size_t atMost) {
    takeAnswer(atMost);
    if (garbled_)
        resetOnLine();
    const std::size_t n = std::min(atMost, answer_.size());
    std::string out = answer_.substr(0, n);
    answer_.erase(0, n);
    return out;
}

void Frame::finish() {
    link().clearReady();
    restoreIdle();
}

void Frame::cancel() {
    restoreIdle();
}

void Frame::end(bool targetUsed) {
    if (targetUsed || targetUsed_)
        finish();
    else
        cancel();
}

void Frame::restoreIdle() {
    ended_ = true;
    link().setOperationRunning(false);
    ui().setCaption(button_, restingCaption_);
    ui().setWindowEnabled(true);
}

void Frame::portFailed(PortError error) {
    const std::string device = port().deviceName(port().commPort());
    std::string why;
    switch (error) {
        case PortError::Lost:
            why = "it was lost (was the adapter unplugged?)";
            break;
        case PortError::NotOpen:
        case PortError::None:
            why = "it is not open; choose a port or press Connect";
            break;
        default:
            why = target_.link.openFailureText(port().commPort(), error);
            break;
    }
    throw LinkError("The serial port " + device + " failed: " + why + ".",
                    LinkError::Ending::KeepTarget);
}

}  // namespace kestro
