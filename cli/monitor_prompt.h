// SPDX-License-Identifier: GPL-3.0-or-later
// kestro-cli monitor: the monitor's commands at a prompt with line editing and history, or
// from a script, over a session the runner opens after the reset. The commands themselves
// are the interpreter's (ops/monitor/commands.h); this only reads lines and shows results.
#pragma once

#include <cstdio>
#include <istream>
#include <memory>
#include <optional>
#include <string>

#include "command_line.h"
#include "frame.h"
#include "monitor/commands.h"
#include "monitor/symbols.h"

namespace kestro::cli {

inline constexpr std::string_view kMonitorPrompt = "monitor> ";

// What the monitor's lines go to: the commands' output on out, errors on err, and what the
// running program sends on out as it comes, each command's lines starting on a line of their
// own after it.
class MonitorConsole {
  public:
    MonitorConsole(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

    // Where a long read or write shows how far it has come (the job's bar); nullopt: it is over.
    void setProgress(std::function<void(const std::optional<Received>&)> show) {
        showProgress_ = std::move(show);
    }

    ops::monitor::InterpreterIo io(std::function<bool()> stopRequested);
    // A script's command as the log shows it, behind the prompt.
    void echo(const std::string& line);
    void error(const std::string& text);
    // After each command: a bar that its transfer left goes.
    void commandEnded();

  private:
    void freshLine();
    std::FILE* out_;
    std::FILE* err_;
    bool atLineStart_ = true;
    std::function<void(const std::optional<Received>&)> showProgress_;
    bool progressShown_ = false;
};

// The code a command's outcome gives a script that stops there.
Exit exitFor(ops::monitor::Outcome outcome);

// Runs a script's lines in order, each echoed behind the prompt; the first that fails ends it
// with its line number and text. name: how the messages call the script.
Exit runMonitorScript(ops::monitor::Interpreter& interpreter, MonitorConsole& console,
                      std::istream& script, const std::string& name);

// The prompt on this terminal, with line editing and the history of earlier sessions; Ctrl-C
// there clears the line, Ctrl-D or quit ends it.
Exit runMonitorPrompt(ops::monitor::Interpreter& interpreter, MonitorConsole& console);

// The files monitor takes, read before the first reset so that a missing one uses none up.
struct MonitorInputs {
    std::unique_ptr<std::istream> script;  // nullptr: the prompt
    std::string scriptName;
    std::optional<ops::monitor::Symbols> symbols;
    std::string error;  // set: why a file cannot be used
};
// standardInputIsTerminal: whether commands come from a person or from a pipe or file.
MonitorInputs readMonitorInputs(const Step& step, bool standardInputIsTerminal);

// The session on the link just reset, inside an operation's frame (whose box says why it could
// not start), then the script or the prompt: the code the session ends with. The link's waits
// must leave signals to the session: Ctrl-C stops the user's program.
Exit runMonitor(Target& target, const sim::Variant& part, MonitorInputs& inputs);

}  // namespace kestro::cli
