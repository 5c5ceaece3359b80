// SPDX-License-Identifier: GPL-3.0-or-later
#include "runner.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "before_reset.h"
#include "command_ui.h"
#include "dump_target.h"
#include "event_loop_clock.h"
#include "identity_record.h"
#include "interruption.h"
#include "link_state.h"
#include "monitor_prompt.h"
#include "part_check.h"
#include "persisted_board.h"
#include "register_bytes.h"
#include "terminal.h"
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
// The button behind identify: it runs no operation of the window's.
constexpr std::string_view kIdentify = "Identify";

// What an operation cut short may have left half done, by the button behind the command.
struct PartlyDone {
    std::string_view button;
    const char* what;
};
constexpr PartlyDone kPartlyDone[] = {
    {"EepromProgram", "the EEPROM may be partly programmed"},
    {"EpromProgram", "the EPROM may be partly programmed"},
    {"ExtEEprog", "the external EEPROM may be partly programmed"},
    {"Xiprog", "the companion chip's EEPROM may be partly programmed"},
    {"EepromErase", "the EEPROM may be partly erased"},
    {"ConfigProgram", "CONFIG may be erased or partly programmed"},
    {"ExtRam", "external RAM may hold part of the program"},
    {"DumpStart", "no dump was written"},
    {"XISDPoff", "the companion chip may or may not have taken the command"},
    {"XIreset", "the companion chip may or may not have taken the command"},
    {"XISFR", "the companion chip may or may not have taken the command"},
    {"XIeem", "the companion chip may or may not have taken the command"},
    {"XIBPR", "the companion chip may or may not have taken the command"},
};

// The bytes of a range of whole pages as the inputs give it ("B600", "B6FF").
std::int64_t rangeBytes(const std::string& begin, const std::string& end) {
    unsigned b = 0, e = 0;
    std::from_chars(begin.data(), begin.data() + begin.size(), b, 16);
    std::from_chars(end.data(), end.data() + end.size(), e, 16);
    return e >= b ? static_cast<std::int64_t>(e - b) + 1 : 0;
}

}  // namespace

std::string partlyDone(const std::string& button) {
    for (const PartlyDone& p : kPartlyDone)
        if (p.button == button)
            return p.what;
    return "no memory was changed";
}

namespace {

class PortRun {
  public:
    PortRun(const Plan& plan, const PortChoice& choice, const Environment& env, Reporter& reporter)
        : plan_(plan), choice_(choice), env_(env), reporter_(reporter) {}

    Exit run() {
        try {
            return runSteps();
        } catch (const Interrupted& i) {
            return interrupted(i.signal);
        }
    }

    ~PortRun() {
        if (port_) {
            port_->close();
            port_->setListener(nullptr);
            port_->setTrace(nullptr);
        }
    }

  private:
    Exit runSteps() {
        if (Exit e = setUp(); e != Exit::Success) {
            record(plan_.steps.front(), e, failure_, 0, clock_.now());
            return e;
        }
        // Every file is checked before the first reset: a chain should not fail halfway
        // through for a file that was never usable.
        for (const Step& step : plan_.steps)
            if (const Exit e = checkFile(step); e != Exit::Success)
                return e;
        // Likewise every dump's place, a FIFO with nobody reading included.
        for (const Step& step : plan_.steps) {
            if (step.output.empty())
                continue;
            auto& dump = dumps_.emplace_back(&step, std::make_unique<DumpTarget>(step.output));
            if (const std::string& e = dump.second->error(); !e.empty()) {
                reporter_.line(Channel::Error, e);
                return record(step, Exit::FileError, e, 0, clock_.now());
            }
        }
        if (plan_.chipAuto)
            if (const Exit e = identifyPart(); e != Exit::Success)
                return e;
        Exit worst = Exit::Success;
        for (const Step& step : plan_.steps) {
            current_ = &step;
            stepStart_ = clock_.now();
            const Exit e = runStep(step);
            worst = worse(worst, e);
            if (e != Exit::Success)
                break;
            if (step.terminalBaud)
                return worse(worst, terminal(*step.terminalBaud));
        }
        return worst;
    }

    // Where the run is, for the user.
    std::string where() const {
        if (port_ && choice_.kind != PortChoice::Kind::Virtual)
            return port_->deviceName(port_->commPort());
        return choice_.label();
    }

    // A signal ended the job: nothing more goes to the target, the terminal's bar goes, a
    // virtual board keeps what it has been given, and the user learns what may be half done.
    Exit interrupted(int signal) {
        reporter_.progress(std::nullopt);
        if (port_)
            port_->discardOutput();
        if (board_) {
            board_->board().catchUp();
            if (const auto told = board_->save())
                reporter_.line(Channel::Error, *told);
        }
        const Step& step = current_ ? *current_ : plan_.steps.front();
        const std::string text =
            "Interrupted during " + step.command + " on " + where() +
            (secondReset_ ? ", before the reset that reads CONFIG back: CONFIG was sent."
             : awaitingReset_ || !current_ ? ", before the HC11 was reset: nothing was sent."
                                           : ": " + partlyDone(step.button) + ".");
        reporter_.line(Channel::Error, text);
        return record(step, exitForSignal(signal), text, 0, current_ ? stepStart_ : clock_.now());
    }

    // The trace's first write error, said once; Success while it writes.
    Exit traceProblem() {
        if (!trace_)
            return Exit::Success;
        trace_->flush();
        if (trace_->ok())
            return Exit::Success;
        failure_ = "Cannot write the trace file " + *plan_.trace + ": " +
                   std::strerror(trace_->error()) + ".";
        reporter_.line(Channel::Error, failure_);
        return Exit::FileError;
    }

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
                        choice_.board, plan_.crystalHz);
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
                    if (auto lost =
                            board_->setPart(*sim::variantNamed(*plan_.chip), choice_.board)) {
                        (*lost)[0] =
                            static_cast<char>(std::toupper(static_cast<unsigned char>((*lost)[0])));
                        reporter_.line(Channel::Error, *lost + ".");
                    }
                    board_->save();
                }
                // The board's own part and CONFIG: a memory it lacks is refused before the reset,
                // judged on the ranges the steps will have after it.
                const std::uint8_t cell = board.eeprom().configCell();
                std::vector<Step> steps = plan_.steps;
                if (plan_.chip || plan_.chipAuto || !choice_.board.empty())
                    for (Step& step : steps)
                        if (!step.rangeGiven)
                            ownRange(board.chip().eepromBaseFor(cell & board.chip().configMask),
                                     board.chip().eepromSize, step.button, step.inputs);
                std::string e = ops::crystalRefusal(board.chip(), plan_.crystalHz);
                if (!e.empty())
                    e = static_cast<char>(std::toupper(static_cast<unsigned char>(e[0]))) +
                        e.substr(1) + ".";
                else
                    e = partRefusal(board.chip(), cell, steps);
                if (!e.empty()) {
                    failure_ = e;
                    reporter_.line(Channel::Error, failure_);
                    return Exit::Usage;
                }
                board.setProgrammingVoltage(plan_.programmingVoltage);
                port_ = std::move(port);
                break;
            }
        }
        if (plan_.trace) {
            trace_ = std::make_unique<WireTrace>(*plan_.trace, clock_);
            if (!trace_->ok()) {
                failure_ = "Cannot write the trace file " + *plan_.trace + ": " +
                           std::strerror(trace_->error()) + ".";
                reporter_.line(Channel::Error, failure_);
                return Exit::FileError;
            }
            port_->setTrace(trace_.get());
        }
        link_ = std::make_unique<LinkState>(*port_, waits_, clock_);
        link_->setSciClock(SciClock(plan_.crystalHz));
        // The talkers are set up for the part named, or for the virtual board's own part.
        link_->setPart(board_ ? std::string(board_->board().chip().name) : plan_.chip.value_or(""));
        port_->setListener(link_.get());
        port_->setSettings(link_->startupSettings());
        port_->setCommPort(n);
        if (const PortError e = port_->open(); e != PortError::None) {
            failure_ = "Cannot open the serial port " + port_->deviceName(n) + ": " +
                       link_->openFailureText(n, e) + ".";
            reporter_.line(Channel::Error, failure_);
            return Exit::PortError;
        }
        return ratesMade();
    }

    // Whether the port makes the rates the job will ask for at the crystal, found out before
    // the first reset: a job that could never talk to the HC11 must not use one up.
    Exit ratesMade() {
        const SciClock& sci = link_->sciClock();
        std::vector<SciRate> needed{sci.talkerRate()};
        for (const Step& step : plan_.steps)
            if (step.button == "ExtRam" && !plan_.fast)
                needed.push_back(sci.ramRate());
        for (const SciRate& r : needed) {
            const PortError e = setPortRate(*port_, sci, r);
            if (e == PortError::None)
                continue;
            const std::string device = port_->deviceName(port_->commPort());
            failure_ = e == PortError::BadSettings
                           ? rateUnmadeText(device, sci, r)
                           : "The serial port " + device +
                                 " failed: " + link_->openFailureText(port_->commPort(), e) + ".";
            reporter_.line(Channel::Error, failure_);
            return Exit::PortError;
        }
        port_->setSettings(link_->startupSettings());
        return Exit::Success;
    }

    // Waits for the break of a reset into bootstrap mode.
    Exit awaitReset() {
        awaitingReset_ = true;
        const Exit e = resetSeen();
        awaitingReset_ = false;
        return e;
    }

    Exit resetSeen() {
        if (board_) {
            board_->board().resetBootstrap();
            waits_.waitUntil([this] { return link_->ready(); }, kVirtualResetLimit);
        } else if (plan_.noWait) {
            link_->portBreak();
        } else if (!link_->ready()) {
            const auto seconds =
                std::chrono::duration_cast<std::chrono::seconds>(plan_.resetTimeout);
            reporter_.line(Channel::Info, std::string(secondReset_ ? "Reset the HC11 into "
                                                                     "bootstrap mode again to "
                                                                     "read CONFIG back"
                                                                   : "Reset the HC11 into "
                                                                     "bootstrap mode") +
                                              " (waiting up to " + std::to_string(seconds.count()) +
                                              " s for its break on " +
                                              port_->deviceName(port_->commPort()) + ")");
            waits_.waitUntil(
                [this] { return link_->ready() || port_->failure() != PortError::None; },
                plan_.resetTimeout);
        }
        if (port_->failure() != PortError::None) {
            failure_ = "The serial port " + port_->deviceName(port_->commPort()) +
                       " failed: " + link_->openFailureText(port_->commPort(), port_->failure()) +
                       ".";
            reporter_.line(Channel::Error, failure_);
            return Exit::PortError;
        }
        if (!link_->ready()) {
            failure_ = secondReset_
                           ? "No second reset seen on " + port_->deviceName(port_->commPort()) +
                                 ": CONFIG was sent but not read back (--no-verify "
                                 "leaves the read back out)."
                           : "No reset seen on " + port_->deviceName(port_->commPort()) + ".";
            // Bytes without a break are what a reset looks like from a board at another rate:
            // its break is shorter than a character here.
            if (port_->inBufferCount() != 0)
                failure_ += " Bytes came, but no break: the HC11's crystal may not be the " +
                            link_->sciClock().crystalText() +
                            " MHz set; give its crystal with --crystal.";
            reporter_.line(Channel::Error, failure_);
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
        return record(step, Exit::FileError, problem->what(), 0, clock_.now(), problem->detail);
    }

    Exit runStep(const Step& step) {
        if (step.button == kIdentify)
            return identify(step);
        if (step.button == kMonitorButton)
            return monitor(step);
        const TimePoint start = clock_.now();
        // The file as it was read and checked before the first reset, and what goes out for it.
        const std::string* content = step.file.empty() ? nullptr : &*files().get(step.file).content;
        // What --json and the bars count: the memory bytes the file carries.
        const std::int64_t sent =
            content
                ? ops::recordsSpan(ops::recordsToSend(step.button, step.file.string(), *content))
                      .bytes
                : 0;
        DumpTarget* dump = nullptr;
        for (auto& [of, target] : dumps_)
            if (of == &step)
                dump = target.get();
        ops::Inputs inputs = step.inputs;
        if (dump)
            inputs.dumpFolder = dump->folder();
        std::optional<CommandUi> attempt;
        while (true) {
            if (const Exit e = awaitReset(); e != Exit::Success) {
                // Without the retry's reset the job's failure is still the damaged download.
                if (attempt)
                    return record(step, worse(e, attempt->exit().value_or(e)),
                                  attempt->verdict() + " " + failure_, 0, start, attempt->detail());
                return record(step, e, failure_, 0, start);
            }

            // A named board is of the part it was saved as; the window's settings are for the
            // window's board.
            if (board_ && (plan_.chip || plan_.chipAuto || !choice_.board.empty()) &&
                !step.rangeGiven)
                boardsOwnRange(step.button, inputs);
            else if (autoPart_ && !step.rangeGiven)
                autoRange(*autoPart_, step.button, inputs);

            CommandUi& ui = attempt.emplace(reporter_, clock_, step.file, sent, content);
            ui.setMemory(memoryName(step.button));
            if (dump)
                ui.setWording([dump](std::string text) { return dump->userText(std::move(text)); });
            Target target{*link_, ui, env_.talkerDir};
            const bool loaderRateFailed = link_->loaderRateFailed();
            ops::operationFor(step.button)(target, inputs);
            // A download damaged at the boot loader's rate has used up the reset but nothing
            // else: the job goes again after a new one, its download at the talker's rate from
            // now on, so never more than once.
            if (loaderRateFailed || !link_->loaderRateFailed())
                break;
            reporter_.line(Channel::Info, "kestro-cli retries the talker download at " +
                                              std::to_string(link_->sciClock().talkerRate().asked) +
                                              " baud.");
        }
        CommandUi& ui = *attempt;
        // The program has started and may talk at once: the terminal's rate before anything
        // else, the board's settling wait included.
        if (step.terminalBaud && !ui.exit())
            port_->setSettings(std::to_string(*step.terminalBaud) + ",N,8,1");
        lineRate_ = ui.lineRate();
        if (board_) {
            // The operation has ended and said so: a signal now waits for the next step.
            clock_.sleepFor(kVirtualSettle);
            board_->board().catchUp();
            if (const auto told = board_->save())
                reporter_.line(Channel::Error, *told);
        }

        Exit exit = ui.exit().value_or(Exit::Success);
        std::string verdict = ui.verdict();
        std::string detail = ui.detail();
        // A port lost under the job: what it may have left half done, as for a signal.
        if (exit == Exit::PortError) {
            std::string what = partlyDone(step.button);
            what[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(what[0])));
            reporter_.line(Channel::Error, what + ".");
            verdict += " " + what + ".";
        }
        // The talker checks the range against CONFIG, which a named part's own range could not
        // know before the reset.
        if (exit == Exit::TargetError && plan_.chip && !board_ && !autoPart_)
            if (const sim::Variant* part = sim::variantNamed(*plan_.chip))
                if (std::string hint = movedEepromHint(*part, step); !hint.empty()) {
                    reporter_.line(Channel::Error, hint);
                    detail += (detail.empty() ? "" : "\n") + hint;
                }
        std::int64_t bytes = sent;
        if (dump) {
            // A damaged dump, written beside the good one, is the user's whatever the verdict.
            if (std::string e = dump->placeBeside(); !e.empty()) {
                reporter_.line(Channel::Error, e);
                return record(step, Exit::FileError, e, 0, start);
            }
            if (ui.exit() && *ui.exit() != Exit::Success)
                if (const std::string told = dump->placeDamaged(); !told.empty())
                    reporter_.line(Channel::Error, told);
        }
        if (!ui.exit()) {
            // Only the operation's word makes a job without a box one that went well.
            if (!ui.done()) {
                exit = Exit::TargetError;
                verdict = "The HC11 answered with nothing Kestro knows.";
                reporter_.line(Channel::Error, verdict);
            } else {
                if (dump) {
                    if (std::string e = dump->place(); !e.empty()) {
                        reporter_.line(Channel::Error, e);
                        return record(step, Exit::FileError, e, 0, start);
                    }
                    bytes = rangeBytes(inputs.dumpBegin, inputs.dumpEnd);
                }
                verdict = doneText(step);
                // Not among the records on the standard output.
                reporter_.line(dump && dump->toStandardOutput() ? Channel::Info : Channel::Verdict,
                               verdict);
            }
        }
        if (exit == Exit::Success && step.readBack)
            exit = readConfigBack(step, verdict, detail);
        if (const Exit e = traceProblem(); e != Exit::Success && exit == Exit::Success) {
            exit = e;
            verdict = failure_;
            detail.clear();
        }
        return record(step, exit, verdict, bytes, start, detail);
    }

    // monitor: its files read before the reset, so that a missing one uses none up; then the
    // session on the link until the user or the script ends it. The job's waits are held
    // meanwhile: Ctrl-C stops the user's program, it does not cut an exchange short.
    Exit monitor(const Step& step) {
        const TimePoint start = clock_.now();
        // The monitor routes every write by the part's memory map.
        const sim::Variant* part = board_       ? &board_->board().chip()
                                   : plan_.chip ? sim::variantNamed(*plan_.chip)
                                   : autoPart_  ? autoPart_->part
                                                : nullptr;
        if (!part) {
            failure_ = "monitor needs the part: give --chip PART, or --chip auto.";
            reporter_.line(Channel::Error, failure_);
            return record(step, Exit::Usage, failure_, 0, start);
        }
        MonitorInputs inputs = readMonitorInputs(step, ::isatty(STDIN_FILENO) == 1);
        if (!inputs.error.empty()) {
            reporter_.line(Channel::Error, inputs.error);
            return record(step, Exit::FileError, inputs.error, 0, start);
        }
        if (const Exit e = awaitReset(); e != Exit::Success)
            return record(step, e, failure_, 0, start);
        CommandUi ui(reporter_, clock_, {}, 0);
        Target target{*link_, ui, env_.talkerDir};
        waits_.hold(true);
        Exit exit = runMonitor(target, *part, inputs);
        waits_.hold(false);
        // A session that could not start said why in its box.
        exit = worse(exit, ui.exit().value_or(Exit::Success));
        if (board_) {
            board_->board().catchUp();
            if (const auto told = board_->save())
                reporter_.line(Channel::Error, *told);
        }
        return record(step, exit,
                      exit == Exit::Success ? "The monitor session ended."
                                            : "The monitor session ended on a failure.",
                      0, start);
    }

    // A reset, then ident's reading and the rate it agreed on; nullopt, with the step's record
    // made and failed set, when either did not come.
    std::optional<ops::IdentReading> identReading(const Step& step, TimePoint start, Exit& failed) {
        if (failed = awaitReset(); failed != Exit::Success) {
            record(step, failed, failure_, 0, start);
            return std::nullopt;
        }
        CommandUi ui(reporter_, clock_, {}, 0);
        Target target{*link_, ui, env_.talkerDir};
        auto reading = ops::readIdentity(target);
        lineRate_ = ui.lineRate();
        if (board_)
            board_->board().catchUp();
        if (!reading) {
            failed = ui.exit().value_or(Exit::NoAnswer);
            record(step, failed, ui.verdict(), 0, start, ui.detail());
        }
        return reading;
    }

    // identify: ident's reading, decoded by the parts' rows, printed and in the record. A part
    // named with --chip that the reading rules out is a warning: the job itself went well.
    Exit identify(const Step& step) {
        const TimePoint start = clock_.now();
        Exit failed = Exit::Success;
        const auto reading = identReading(step, start, failed);
        if (!reading)
            return failed;
        const ops::Identity id = ops::identify(*reading, sim::variants());
        const auto lines = ops::identityReport(id, *reading, lineRate_);
        for (const std::string& line : lines)
            reporter_.line(Channel::Verdict, line);
        if (plan_.chip)
            if (const sim::Variant* named = sim::variantNamed(*plan_.chip))
                if (std::string w = ops::namedPartWarning(id, *named); !w.empty())
                    reporter_.line(Channel::Error, "Warning: " + w);
        const Exit exit = id.candidates.empty() ? Exit::TargetError : Exit::Success;
        identity_ = identityJson(id, *reading, lineRate_);
        if (const Exit e = traceProblem(); e != Exit::Success)
            return record(step, e, failure_, 0, start);
        return record(step, exit, lines.front(), 0, start);
    }

    // --chip auto: identify first, after a reset of its own; the steps then take the part it
    // finds where they depend on it (the EEPROM's range without --range, the refusals of a
    // memory the part lacks). Where it cannot tell the parts apart and they would run the job
    // differently, nothing runs: guessing would put a range or a latch where the part has none.
    Exit identifyPart() {
        const Step& first = plan_.steps.front();
        const TimePoint start = clock_.now();
        Exit failed = Exit::Success;
        const auto reading = identReading(first, start, failed);
        if (!reading)
            return failed;
        lineRate_ = 0;  // the rate of the steps' own talkers goes in their records
        const ops::Identity id = ops::identify(*reading, sim::variants());
        std::vector<const sim::Variant*> parts = id.candidates;
        if (id.part)
            parts = {id.part};
        std::optional<std::vector<Step>> agreed;
        std::string refusal;
        for (const sim::Variant* v : parts) {
            const AutoPart part{v, id.config};
            std::vector<Step> steps = plan_.steps;
            for (Step& step : steps)
                if (!step.rangeGiven)
                    autoRange(part, step.button, step.inputs);
            const std::string why = partRefusal(*v, id.config, steps);
            if (!agreed) {
                agreed = steps;
                refusal = why;
                autoPart_ = part;
            } else if (!sameRanges(*agreed, steps) || refusal.empty() != why.empty()) {
                failure_ = "--chip auto: the HC11 answers as one of the " + partNames(parts) +
                           ", which this job would treat differently; name the part with --chip.";
                reporter_.line(Channel::Error, failure_);
                return record(first, Exit::Usage, failure_, 0, start);
            }
        }
        if (!agreed) {
            failure_ = "--chip auto: the HC11 answers as no part Kestro knows.";
            reporter_.line(Channel::Error, failure_);
            return record(first, Exit::TargetError, failure_, 0, start);
        }
        if (!refusal.empty()) {
            failure_ = refusal;
            reporter_.line(Channel::Error, failure_);
            return record(first, Exit::Usage, failure_, 0, start);
        }
        // The talkers that differ by part (the 711E20's EPROM register) follow the part read.
        if (id.part && link_)
            link_->setPart(std::string(id.part->name));
        reporter_.line(
            Channel::Info,
            "--chip auto: the HC11 answers as the " +
                (id.part ? std::string(id.part->name) : "one of the " + partNames(parts)) + ".");
        return Exit::Success;
    }

    struct AutoPart {
        const sim::Variant* part;
        std::uint8_t config;
    };

    static void autoRange(const AutoPart& p, const std::string& button, ops::Inputs& in) {
        ownRange(p.part->eepromBaseFor(p.config & p.part->configMask), p.part->eepromSize, button,
                 in);
    }

    static bool sameRanges(const std::vector<Step>& a, const std::vector<Step>& b) {
        for (std::size_t i = 0; i < a.size(); ++i) {
            const ops::Inputs &x = a[i].inputs, &y = b[i].inputs;
            if (x.eepromBegin != y.eepromBegin || x.eepromEnd != y.eepromEnd ||
                x.dumpBegin != y.dumpBegin || x.dumpEnd != y.dumpEnd)
                return false;
        }
        return true;
    }

    static std::string partNames(const std::vector<const sim::Variant*>& parts) {
        std::string s;
        for (std::size_t i = 0; i < parts.size(); ++i)
            s += (i == 0                  ? ""
                  : i + 1 == parts.size() ? " and "
                                          : ", ") +
                 std::string(parts[i]->shortName);
        return s;
    }

    // config: the cell becomes CONFIG only at a reset, so the value is confirmed only by
    // reading $103F after the next one. verdict and detail: the step's, replaced by the read
    // back's.
    Exit readConfigBack(const Step& step, std::string& verdict, std::string& detail) {
        detail.clear();
        const Byte sent = ops::configByte(step.inputs.config5Text, step.inputs.config);
        secondReset_ = true;
        const Exit reset = awaitReset();
        secondReset_ = false;
        if (reset != Exit::Success) {
            verdict = failure_;
            return reset;
        }
        CommandUi ui(reporter_, clock_, {}, 0);
        Target target{*link_, ui, env_.talkerDir};
        const std::optional<Byte> read = ops::readConfigRegister(target);
        if (board_)
            board_->board().catchUp();
        if (!read) {
            verdict = ui.verdict();
            detail = ui.detail();
            return ui.exit().value_or(Exit::NoAnswer);
        }
        char text[64];
        if (!ops::configReadsAsSent(*read, sent)) {
            std::snprintf(text, sizeof text, "CONFIG reads $%02X after the reset, not $%02X",
                          unsigned{*read}, unsigned{sent});
            verdict = text;
            reporter_.line(Channel::Error, verdict);
            return Exit::TargetError;
        }
        // The steps after this one find the EEPROM where this CONFIG puts it, as those after
        // --chip auto find it where the CONFIG read then put it.
        if (autoPart_)
            autoPart_->config = *read;
        else if (!board_ && plan_.chip)
            if (const sim::Variant* part = sim::variantNamed(*plan_.chip))
                autoPart_ = AutoPart{part, *read};
        std::snprintf(text, sizeof text, "CONFIG reads $%02X after the reset", unsigned{*read});
        verdict = text;
        reporter_.line(Channel::Verdict, verdict);
        return Exit::Success;
    }

    // ram --terminal: the user's program has started; this terminal talks to it.
    Exit terminal(int baud) {
        reporter_.line(Channel::Info, "Terminal on " + where() + " at " + std::to_string(baud) +
                                          " baud; Ctrl-] ends it.");
        // What was typed ahead goes once the program runs, not into the talker's last wait.
        waits_.sleepFor(ops::kRamRunDelay + 10ms);
        const PortError e = runTerminal(*port_, waits_, baud);
        if (board_) {
            board_->board().catchUp();
            if (const auto told = board_->save())
                reporter_.line(Channel::Error, *told);
        }
        if (e == PortError::None)
            return Exit::Success;
        failure_ = "The serial port " + port_->deviceName(port_->commPort()) +
                   " failed: " + link_->openFailureText(port_->commPort(), e) + ".";
        reporter_.line(Channel::Error, failure_);
        return Exit::PortError;
    }

    // A virtual board's EEPROM where its CONFIG has put it at the reset just made (the 811E2's
    // and F1's move), rather than where the part leaves the factory.
    void boardsOwnRange(const std::string& button, ops::Inputs& in) {
        const sim::Board& board = board_->board();
        ownRange(board.eepromBase(), board.chip().eepromSize, button, in);
    }

    static void ownRange(unsigned begin, unsigned size, const std::string& button,
                         ops::Inputs& in) {
        const unsigned end = begin + size - 1;
        char text[2][8];
        std::snprintf(text[0], sizeof text[0], "%04X", begin);
        std::snprintf(text[1], sizeof text[1], "%04X", end);
        if (button == "EepromCheck" || button == "EepromErase")
            std::tie(in.eepromBegin, in.eepromEnd) = std::pair{text[0], text[1]};
        else if (button == "DumpStart")
            std::tie(in.dumpBegin, in.dumpEnd) = std::pair{text[0], text[1]};
    }

    Exit record(const Step& step, Exit exit, std::string verdict, std::int64_t bytes,
                TimePoint start, std::string detail = {}) {
        reporter_.record({.operation = step.command,
                          .port = choice_.label(),
                          .verdict = std::move(verdict),
                          .exit = exit,
                          .bytes = bytes,
                          .seconds = std::chrono::duration<double>(clock_.now() - start).count(),
                          .baud = std::exchange(lineRate_, 0),
                          .identity = std::exchange(identity_, {}),
                          .detail = std::move(detail)});
        return exit;
    }

    const Plan& plan_;
    const PortChoice& choice_;
    const Environment& env_;
    Reporter& reporter_;
    InputFiles ownFiles_;
    EventLoopClock clock_;
    // The job's waits, which a signal ends.
    InterruptibleClock waits_{clock_};
    // The board outlives the port that holds its line.
    std::unique_ptr<sim::PersistedBoard> board_;
    std::unique_ptr<SerialPort> port_;
    std::unique_ptr<WireTrace> trace_;
    std::unique_ptr<LinkState> link_;
    // Each dump's place, taken before the first reset.
    std::vector<std::pair<const Step*, std::unique_ptr<DumpTarget>>> dumps_;
    // The last failure said, for the record.
    std::string failure_;
    // The rate the step's fast job agreed on, for its record.
    int lineRate_ = 0;
    // What identify found, for its record.
    std::string identity_;
    // The part and CONFIG the steps without --range follow: what --chip auto's identify found
    // before the steps, or a named part's once config has read CONFIG back.
    std::optional<AutoPart> autoPart_;
    const Step* current_ = nullptr;
    TimePoint stepStart_{0};
    bool awaitingReset_ = false;
    // The reset awaited is the one after config, for its read back.
    bool secondReset_ = false;
};

}  // namespace

Exit runOnPort(const Plan& plan, const PortChoice& choice, const Environment& env,
               Reporter& reporter) {
    PortRun run(plan, choice, env, reporter);
    return run.run();
}

}  // namespace kestro::cli
