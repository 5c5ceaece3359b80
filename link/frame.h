// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "bytes.h"
#include "link_state.h"
#include "operation_ui.h"

namespace kestro {

// The one error type of the link layer. It carries the text the user is shown and says how
// the run ends: some failures leave the target as it was, others have used it up.
class LinkError : public std::runtime_error {
  public:
    enum class Ending {
        KeepTarget,  // caption back, window enabled, nothing else changes
        EndAsFrame,  // the target counts as used: not ready, caption back, window enabled
    };
    LinkError(const std::string& text, Ending ending, std::string detail = {})
        : std::runtime_error(text), ending(ending), detail(std::move(detail)) {}
    Ending ending;
    std::string detail;
};

// Everything an operation works with.
struct Target {
    LinkState& link;
    OperationUi& ui;
    std::filesystem::path talkerDir;  // the asm folder beside the executable
};

// A user's file as chosen: read once, so that what is checked is what is sent, whatever happens
// to the file afterwards.
struct ChosenFile {
    std::string name;  // as the chooser gave it
    std::string content;
};

// The frame every operation runs in. Each member is one step, so an operation reads as the
// sequence of steps it performs; run() ends the run soundly whatever fails on the way.
class Frame {
  public:
    static constexpr Duration kSettle = 250ms;
    static constexpr Duration kReplyWait = 500ms;
    static constexpr const char* kBusyCaption = "Please Wait";

    using Body = std::function<void(Frame&)>;
    // Runs body inside the frame for the named button; body starts with begin().
    static void run(Target& target, std::string button, std::string restingCaption,
                    const Body& body);

    SerialPort& port() { return target_.link.port(); }
    LinkState& link() { return target_.link; }
    OperationUi& ui() { return target_.ui; }
    // The object name of the button the run is for.
    const std::string& button() const { return button_; }
    // Every wait of a job goes through this clock: once the talker download has begun, a
    // break (the HC11 reset under the job) ends the wait at once and the job with it.
    Clock& clock() { return clock_; }

    // Refuses with "Please reset your HC11" unless the target is ready; otherwise disables the
    // window and shows "Please Wait" on the button.
    bool begin();
    // Lets the user choose a file and reads it; on Cancel the run ends quietly and nullopt
    // comes back.
    std::optional<ChosenFile> chooseFile();
    // At which rate a talker download goes: the talker's rate (1200 baud at an 8 MHz crystal),
    // or the boot loader's own (7812 there) where the port sets it within the SCI's tolerance
    // (the talker's rate otherwise).
    enum class DownloadRate { Settings, LoaderWherePossible };
    // Sends the talker through the bootstrap loader, at the loader's line settings or, when
    // asked, at the boot loader's own rate; returns the rate in force for it.
    int downloadTalker(const std::string& talkerFile, DownloadRate rate = DownloadRate::Settings);
    // Puts the port at one of the SCI's rates; a port that cannot make it ends the job, saying
    // so.
    void setLineRate(const SciRate& r);
    // Waits until everything queued has left the PC, within a limit that a working line never
    // reaches.
    void waitDrained();
    // The wait routine.
    void wait(Duration d);
    // Waits until the boot loader's echo of the talker has come whole, or the line has brought
    // nothing for gap.
    void waitForEcho(Duration gap);
    // What the talker sends back: the default path's talkers only text, the fast ones bytes.
    enum class Answers { Text, Binary };
    // Checks the boot loader's echo of the talker, then discards both buffers; from then on a
    // byte that reads as a break is the HC11's reset where the talker answers in text.
    void discardBuffers(Answers answers = Answers::Text);
    void checkTalkerEcho();
    // Checks the echo, then what the talker sent after it (the boot loader's echo of its $00
    // fill left out): the answer of a talker that takes no message.
    Bytes afterEcho();
    // Waits until an answer comes, within kReplyWait, and then for the line to be quiet for a
    // few characters: the answer, empty when none came.
    std::string awaitReply();
    void send(ByteView bytes);
    void send(std::string_view text);
    void send(Byte b);
    // At most this much line time is queued ahead of the wire while a file goes: what the PC
    // has handed over still reaches the boot loader after a reset, and an adapter's FIFO cannot
    // be called back.
    static constexpr Duration kQueuedAhead = 20ms;
    // A talker that takes a file acknowledges every character it takes with this byte: no
    // answer holds it, and a reset that cuts it short leaves it whole or a break's pattern
    // (talkers/srec.inc).
    static constexpr Byte kAcknowledgement = 0xFD;
    // Characters of a file sent and not yet acknowledged, at most: once the talker falls
    // silent, no more than these reach the line, and the talker never holds more.
    static constexpr std::size_t kUnacknowledged = 3;
    // Sends a user's file, as read and checked, with progress on the bars, to a talker that
    // acknowledges its characters; no faster than a character every perCharacter, for a
    // talker that takes longer than the line over each. Ends early when the talker answers, or
    // takes nothing more for longer than any of its waits: its answer (or the lack of one) then
    // says why.
    void streamFile(std::string_view content, Duration perCharacter = Duration::zero());
    // Whether the talker that took the file has begun an answer, or the line has brought what
    // no talker sends: what came is read one byte at a time, acknowledgements counted and left
    // out, and nothing after the answer's first byte.
    bool answered();
    // The answer of the talker that took the file, its acknowledgements left out: all that has
    // come, or its first atMost bytes, leaving what follows them in the port (the output of a
    // program the talker has started). A byte that is neither text nor an acknowledgement ends
    // the job as a reset: it is what the boot loader's break makes of an acknowledgement that
    // a reset cut short.
    std::string answer(std::size_t atMost = std::string::npos);
    // The frame's last steps: target not ready, caption back, window enabled.
    void finish();
    // Ends a run that has not used the target: caption back, window enabled.
    void cancel();

    // Ends a run that failed: as finish() when the target was used, as cancel() otherwise.
    void end(bool targetUsed);

    // A port failure as the user is told it.
    [[noreturn]] void portFailed(PortError error);

    static constexpr const char* kNotEchoed = "The talker download was not echoed by the HC11.";
    static constexpr const char* kResetDuringJob = "The HC11 was reset during the job.";
    // A reset that the line shows other than as a break (a NUL alone where no talker sends
    // one): ends the job as a break would.
    [[noreturn]] void resetOnLine();

  private:
    // The link's clock, whose waits end when the target is reset under the job.
    class JobClock final : public Clock {
      public:
        explicit JobClock(Frame& frame) : frame_(frame) {}
        TimePoint now() const override;
        void sleepFor(Duration d) override;
        bool waitUntil(const std::function<bool()>& done, Duration limit) override;

      private:
        Frame& frame_;
    };

    Frame(Target& target, std::string button, std::string restingCaption);
    void restoreIdle();
    // Whether a break came after the talker download began: the boot loader then runs again
    // and takes whatever follows as a new download.
    bool resetSeen() const;
    // Sends nothing more and ends the job.
    [[noreturn]] void resetDuringJob();
    // Whether bytes of the job can have reached the boot loader after its reset.
    bool sentAfterReset();
    // Notes when what was just handed over can have left the wire.
    void handedOver();
    // Whether what came since the talker download holds its echo.
    bool echoSeen() const;

    Target& target_;
    JobClock clock_{*this};
    std::uint64_t breaksAtDownload_ = 0;
    // When what the job last handed to the port can have left the wire.
    TimePoint sendingUntil_{0};
    std::string button_;
    std::string restingCaption_;
    Bytes expectedEcho_;
    Bytes received_;  // since the talker download, until its echo is checked
    // From a talker that takes a file: its acknowledgements counted, what else came kept; a
    // byte that is neither text nor an acknowledgement marks the line garbled.
    std::size_t acknowledged_ = 0;
    std::string answer_;
    bool garbled_ = false;
    std::optional<TimePoint> answerAt_;  // when its first byte was taken
    // Reads what has come until answer_ holds atMost bytes (one byte at a time where atMost is
    // given) or nothing more is waiting.
    void takeAnswer(std::size_t atMost);
    bool echoChecked_ = true;
    bool atLoaderRate_ = false;  // the talker download went at the boot loader's own rate
    // Set as the first byte of a talker download goes out: from then on the boot loader no
    // longer waits for a download, so however the run ends, the next one needs a new reset.
    bool targetUsed_ = false;
    bool ended_ = false;
};

}  // namespace kestro
