// SPDX-License-Identifier: GPL-3.0-or-later
#include "runner.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>

#include "command_ui.h"
#include "event_loop_clock.h"
#include "link_state.h"
#include "persisted_board.h"
#include "termios_port.h"
#include "verdict.h"
#include "virtual_port.h"
#include "wire_trace.h"

namespace kestro::cli {

namespace {

namespace fs = std::filesystem;

// The virtual board answers its reset within a few line times, and a wait returns only after
// every event due before its end has run, however long a loaded machine held the process up:
// this only bounds a board that has gone wrong.
constexpr Duration kVirtualResetLimit = 2s;
// What the talker may still do after the PC's verdict (CONFIG's last cycle) before the board's
// memories are saved.
constexpr Duration kVirtualSettle = 100ms;

std::int64_t sizeOf(const fs::path& p) {
    std::error_code ec;
    const auto size = fs::file_size(p, ec);
    return ec ? 0 : static_cast<std::int64_t>(size);
}

// The dump always writes upload.s19 in a folder; another name gets a private folder beside
// it, so the file appears under its own name only when complete.
class DumpTarget {
  public:
    explicit DumpTarget(const fs::path& output) : output_(output) {
        const fs::path parent = output.has_parent_path() ? output.parent_path() : fs::path(".");
        if (output.filename() == "upload.s19") {
            folder_ = parent;
            return;
        }
        std::string pattern = (parent / ".kestro-dump-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            error_ = "Cannot write in " + parent.string() + ": " + std::strerror(errno) + ".";
            return;
        }
        folder_ = pattern;
        temporary_ = true;
    }
    ~DumpTarget() {
        if (temporary_) {
            std::error_code ec;
            fs::remove_all(folder_, ec);
        }
    }
    DumpTarget(const DumpTarget&) = delete;
    DumpTarget& operator=(const DumpTarget&) = delete;

    const std::string& error() const { return error_; }
    const fs::path& folder() const { return folder_; }
    // Moves a written dump to its name; the error text when it cannot.
    std::string place() {
        if (!temporary_)
            return {};
        std::error_code ec;
        fs::rename(folder_ / "upload.s19", output_, ec);
        return ec ? "Cannot write " + output_.string() + ": " + ec.message() + "." : "";
    }

  private:
    fs::path output_;
    fs::path folder_;
    bool temporary_ = false;
    std::string error_;
};

class PortRun {
  public:
    PortRun(const Plan& plan, const PortChoice& choice, const Environment& env, Reporter& reporter)
        : plan_(plan), choice_(choice), env_(env), reporter_(reporter) {}

    Exit run() {
        if (Exit e = setUp(); e != Exit::Success) {
            record(plan_.steps.front(), e, "", 0, clock_.now());
            return e;
        }
        // Every file is checked before the first reset: a chain should not fail halfway
        // through for a file that was never usable.
        for (const Step& step : plan_.steps)
            if (const Exit e = checkFile(step); e != Exit::Success)
                return e;
        Exit worst = Exit::Success;
        for (const Step& step : plan_.steps) {
            const Exit e = runStep(step);
            worst = worse(worst, e);
            if (e != Exit::Success)
                break;
        }
        return worst;
    }

    ~PortRun() {
        if (port_) {
            port_->close();
            port_->setListener(nullptr);
            port_->setTrace(nullptr);
        }
    }

  private:
    Exit setUp() {
        int n = 1;
        switch (choice_.kind) {
            case PortChoice::Kind::Comm:
                n = choice_.comm;
                port_ = std::make_unique<TermiosPort>(env_.deviceForComm);
                break;
            case PortChoice::Kind::Device:
                port_ = std::make_unique<TermiosPort>([d = choice_.device](int) { return d; });
                break;
            case PortChoice::Kind::Virtual: {
                auto port = std::make_unique<VirtualPort>(clock_);
                try {
                    board_ = std::make_unique<sim::PersistedBoard>(
                        clock_, *port, 1,
                        choice_.board.empty() ? "virtual HC11 board"
                                              : "virtual board " + choice_.board,
                        sim::PersistedBoard::folderFor(choice_.board), std::chrono::milliseconds(2),
                        choice_.board);
                } catch (const sim::BoardInUse& e) {
                    // As a real port in use: refused before any reset.
                    std::string text = e.what();
                    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
                    reporter_.line(Channel::Error, text + ".");
                    return Exit::PortError;
                }
                if (const auto& error = board_->loadError())
                    reporter_.line(Channel::Error,
                                   "The saved state of the virtual board could not be read, so "
                                   "it starts in its factory state: " +
                                       *error);
                sim::Board& board = board_->board();
                if (plan_.chip && board.chip().name != *plan_.chip) {
                    board.setChip(sim::variantNamed(*plan_.chip)->chip);
                    board_->save();
                }
                board.setProgrammingVoltage(plan_.programmingVoltage);
                port_ = std::move(port);
                break;
            }
        }
        if (plan_.trace) {
            trace_ = std::make_unique<WireTrace>(*plan_.trace, clock_);
            if (!trace_->ok()) {
                reporter_.line(Channel::Error, "Cannot write the trace file " + *plan_.trace + ".");
                return Exit::FileError;
            }
            port_->setTrace(trace_.get());
        }
        link_ = std::make_unique<LinkState>(*port_, clock_, clock_);
        port_->setListener(link_.get());
        port_->setSettings(LinkState::kStartupSettings);
        port_->setCommPort(n);
        if (const PortError e = port_->open(); e != PortError::None) {
            reporter_.line(Channel::Error, "Cannot open the serial port " + port_->deviceName(n) +
                                               ": " + link_->openFailureText(n, e) + ".");
            return Exit::PortError;
        }
        return Exit::Success;
    }

    // Waits for the break of a reset into bootstrap mode.
    Exit awaitReset() {
        if (board_) {
            board_->board().resetBootstrap();
            clock_.waitUntil([this] { return link_->ready(); }, kVirtualResetLimit);
        } else if (plan_.noWait) {
            link_->portBreak();
        } else if (!link_->ready()) {
            const auto seconds =
                std::chrono::duration_cast<std::chrono::seconds>(plan_.resetTimeout);
            reporter_.line(Channel::Info, "Reset the HC11 into bootstrap mode (waiting up to " +
                                              std::to_string(seconds.count()) +
                                              " s for its "
                                              "break on " +
                                              port_->deviceName(port_->commPort()) + ")");
            clock_.waitUntil(
                [this] { return link_->ready() || port_->failure() != PortError::None; },
                plan_.resetTimeout);
        }
        if (port_->failure() != PortError::None) {
            reporter_.line(Channel::Error,
                           "The serial port " + port_->deviceName(port_->commPort()) + " failed: " +
                               link_->openFailureText(port_->commPort(), port_->failure()) + ".");
            return Exit::PortError;
        }
        if (!link_->ready()) {
            reporter_.line(Channel::Error,
                           "No reset seen on " + port_->deviceName(port_->commPort()) + ".");
            return Exit::NoAnswer;
        }
        return Exit::Success;
    }

    InputFiles& files() { return env_.files ? *env_.files : ownFiles_; }

    Exit checkFile(const Step& step) {
        if (step.file.empty())
            return Exit::Success;
        const InputFiles::File& file = files().get(step.file);
        const auto problem =
            file.content
                ? ops::userFileProblem(step.button, step.file.string(), *file.content)
                : LinkError("Cannot read the file " + step.file.string() + ": " + file.reason + ".",
                            LinkError::Ending::KeepTarget);
        if (!problem)
            return Exit::Success;
        reporter_.line(Channel::Error, problem->what());
        if (!problem->detail.empty())
            reporter_.line(Channel::Error, problem->detail);
        return record(step, Exit::FileError, problem->what(), 0, clock_.now());
    }

    Exit runStep(const Step& step) {
        const TimePoint start = clock_.now();
        // The file as it was read and checked before the first reset, and what goes out for it.
        const std::string* content = step.file.empty() ? nullptr : &*files().get(step.file).content;
        const std::int64_t sent =
            content ? static_cast<std::int64_t>(
                          ops::recordsToSend(step.button, step.file.string(), *content).size())
                    : 0;
        std::optional<DumpTarget> dump;
        ops::Inputs inputs = step.inputs;
        if (!step.output.empty()) {
            dump.emplace(step.output);
            if (!dump->error().empty()) {
                reporter_.line(Channel::Error, dump->error());
                return record(step, Exit::FileError, dump->error(), 0, start);
            }
            inputs.dumpFolder = dump->folder();
        }
        if (const Exit e = awaitReset(); e != Exit::Success)
            return record(step, e, "", 0, start);

        CommandUi ui(reporter_, clock_, step.file, sent, content);
        Target target{*link_, ui, env_.talkerDir};
        ops::operationFor(step.button)(target, inputs);
        if (board_) {
            clock_.sleepFor(kVirtualSettle);
            board_->board().catchUp();
            if (const auto told = board_->save())
                reporter_.line(Channel::Error, *told);
        }

        Exit exit = ui.exit().value_or(Exit::Success);
        std::string verdict = ui.verdict();
        if (!ui.exit()) {
            if (expectsBox(step.button)) {
                exit = Exit::TargetError;
                verdict = "The HC11 answered with nothing Kestro knows.";
                reporter_.line(Channel::Error, verdict);
            } else {
                if (dump) {
                    if (std::string e = dump->place(); !e.empty()) {
                        reporter_.line(Channel::Error, e);
                        return record(step, Exit::FileError, e, 0, start);
                    }
                }
                verdict = doneText(step);
                reporter_.line(Channel::Verdict, verdict);
            }
        }
        const std::int64_t bytes =
            !step.output.empty() && exit == Exit::Success ? sizeOf(step.output) : sent;
        return record(step, exit, verdict, bytes, start);
    }

    Exit record(const Step& step, Exit exit, std::string verdict, std::int64_t bytes,
                TimePoint start) {
        reporter_.record({.operation = step.command,
                          .port = choice_.label(),
                          .verdict = std::move(verdict),
                          .exit = exit,
                          .bytes = bytes,
                          .seconds = std::chrono::duration<double>(clock_.now() - start).count()});
        return exit;
    }

    const Plan& plan_;
    const PortChoice& choice_;
    const Environment& env_;
    Reporter& reporter_;
    InputFiles ownFiles_;
    EventLoopClock clock_;
    // The board outlives the port that holds its line.
    std::unique_ptr<sim::PersistedBoard> board_;
    std::unique_ptr<SerialPort> port_;
    std::unique_ptr<WireTrace> trace_;
    std::unique_ptr<LinkState> link_;
};

}  // namespace

Exit runOnPort(const Plan& plan, const PortChoice& choice, const Environment& env,
               Reporter& reporter) {
    PortRun run(plan, choice, env, reporter);
    return run.run();
}

}  // namespace kestro::cli
