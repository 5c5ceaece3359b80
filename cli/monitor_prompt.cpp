// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor_prompt.h"

#include <readline/history.h>
#include <readline/readline.h>
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "interruption.h"
#include "monitor/instruction.h"
#include "monitor/session.h"

namespace kestro::cli {

namespace {

namespace fs = std::filesystem;
using ops::monitor::Outcome;

constexpr int kHistoryLines = 1000;
// Reads and writes shorter than this end before a bar would tell the user anything, and would
// only add lines to a script's log.
constexpr std::size_t kProgressFrom = 1024;

// The session over the resident monitor talker, on the link just reset.
std::unique_ptr<ops::monitor::Monitor> openSession(Frame& f, const sim::Variant& part) {
    return std::make_unique<ops::monitor::TalkerMonitor>(f, part, ops::monitor::successors);
}

// Where the history of earlier sessions is kept: the XDG state folder.
fs::path historyFile() {
    fs::path base;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && fs::path(state).is_absolute())
        base = state;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = fs::path(home) / ".local" / "state";
    else
        return {};
    return base / "kestro" / "monitor_history";
}

// What readline's line handler hands over to the loop that runs the command.
struct PromptLine {
    bool ready = false;
    bool endOfInput = false;
    std::string text;
};
PromptLine g_line;

void takeLine(char* text) {
    g_line.ready = true;
    g_line.endOfInput = text == nullptr;
    g_line.text = text ? text : "";
    std::free(text);
    // The prompt comes back only once the command's output is written.
    rl_callback_handler_remove();
}

// The prompt's line after Ctrl-C: empty, on a line of its own, ready for the next command.
void clearLine() {
    rl_free_line_state();
    rl_callback_sigcleanup();
    rl_replace_line("", 0);
    rl_crlf();
    rl_on_new_line();
    rl_redisplay();
}

// Feeds readline until a line has come or the input has ended; 0, or the signal other than
// Ctrl-C that ends the session. The signals are blocked but while the wait for input runs, so
// that one coming between the look at it and the wait still ends the wait.
int readLine() {
    sigset_t signals, others;
    sigemptyset(&signals);
    for (const int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&signals, s);
    ::sigprocmask(SIG_BLOCK, &signals, &others);
    int ended = 0;
    while (!g_line.ready && ended == 0) {
        if (const int signal = interruption(); signal == SIGINT) {
            noteInterruption(0);
            clearLine();
        } else if (signal != 0) {
            ended = signal;
            break;
        }
        fd_set in;
        FD_ZERO(&in);
        FD_SET(STDIN_FILENO, &in);
        if (::pselect(STDIN_FILENO + 1, &in, nullptr, nullptr, nullptr, &others) < 0) {
            if (errno == EINTR)
                continue;
            // The input is gone: as its end.
            g_line.ready = g_line.endOfInput = true;
            break;
        }
        rl_callback_read_char();
    }
    ::sigprocmask(SIG_SETMASK, &others, nullptr);
    return ended;
}

}  // namespace

ops::monitor::InterpreterIo MonitorConsole::io(std::function<bool()> stopRequested) {
    return {
        .line =
            [this](const std::string& text) {
                freshLine();
                std::fprintf(out_, "%s\n", text.c_str());
                std::fflush(out_);
            },
        .error = [this](const std::string& text) { error(text); },
        .programOutput =
            [this](ByteView bytes) {
                if (bytes.empty())
                    return;
                std::fwrite(bytes.data(), 1, bytes.size(), out_);
                std::fflush(out_);
                atLineStart_ = bytes.back() == '\n';
            },
        .stopRequested = std::move(stopRequested),
        .progress =
            [this](std::size_t done, std::size_t total) {
                if (!showProgress_ || total < kProgressFrom)
                    return;
                progressShown_ = done < total;
                showProgress_(progressShown_ ? std::optional<Received>(
                                                   Received{static_cast<std::int64_t>(done),
                                                            static_cast<std::int64_t>(total)})
                                             : std::nullopt);
            },
    };
}

void MonitorConsole::echo(const std::string& line) {
    freshLine();
    std::fprintf(out_, "%s%s\n", kMonitorPrompt.data(), line.c_str());
    std::fflush(out_);
}

void MonitorConsole::error(const std::string& text) {
    freshLine();
    std::fprintf(err_, "%s\n", text.c_str());
    std::fflush(err_);
}

void MonitorConsole::commandEnded() {
    if (progressShown_) {
        showProgress_(std::nullopt);
        progressShown_ = false;
    }
}

void MonitorConsole::freshLine() {
    commandEnded();
    // The program's output may end mid-line; the monitor's words start on their own.
    if (!atLineStart_) {
        std::fputc('\n', out_);
        atLineStart_ = true;
    }
}

Exit exitFor(Outcome outcome) {
    switch (outcome) {
        case Outcome::Done:
        case Outcome::Quit:
            return Exit::Success;
        case Outcome::Usage:
            return Exit::Usage;
        case Outcome::File:
            return Exit::FileError;
        case Outcome::Refused:
            return Exit::TargetError;
        case Outcome::Ended:
            return Exit::NoAnswer;
    }
    return Exit::TargetError;
}

Exit runMonitorScript(ops::monitor::Interpreter& interpreter, MonitorConsole& console,
                      std::istream& script, const std::string& name) {
    std::string line;
    for (int number = 1; std::getline(script, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos)
            continue;
        console.echo(line);
        const Outcome outcome = interpreter.run(line);
        console.commandEnded();
        // Ctrl-C has stopped a running program through the interpreter; the script ends.
        if (const int signal = interruption(); signal != 0) {
            console.error("Interrupted at line " + std::to_string(number) + " of " + name + ".");
            return exitForSignal(signal);
        }
        if (outcome == Outcome::Quit)
            return Exit::Success;
        if (outcome != Outcome::Done) {
            console.error("The script stops at line " + std::to_string(number) + " of " + name +
                          ": " + line);
            return exitFor(outcome);
        }
    }
    if (script.bad()) {
        console.error("Cannot read " + name + " to its end.");
        return Exit::FileError;
    }
    return Exit::Success;
}

Exit runMonitorPrompt(ops::monitor::Interpreter& interpreter, MonitorConsole& console) {
    const fs::path history = historyFile();
    std::error_code ec;
    if (!history.empty())
        fs::create_directories(history.parent_path(), ec);
    using_history();
    stifle_history(kHistoryLines);
    if (!history.empty())
        read_history(history.c_str());
    // Ctrl-C is kestro-cli's to catch: readline must not take the handler over.
    rl_catch_signals = 0;
    const std::string prompt(kMonitorPrompt);
    console.error("Monitor commands: help lists them, quit or Ctrl-D ends the session.");
    while (true) {
        g_line = {};
        rl_callback_handler_install(prompt.c_str(), takeLine);
        if (const int signal = readLine(); signal != 0) {
            rl_callback_handler_remove();
            return exitForSignal(signal);
        }
        if (g_line.endOfInput) {
            rl_callback_handler_remove();
            std::fputc('\n', stdout);
            return Exit::Success;
        }
        const std::string line = g_line.text;
        if (line.find_first_not_of(" \t") != std::string::npos) {
            const HIST_ENTRY* last = history_length > 0 ? history_get(history_length) : nullptr;
            if (!last || line != last->line) {
                add_history(line.c_str());
                if (!history.empty())
                    write_history(history.c_str());
            }
        }
        const Outcome outcome = interpreter.run(line);
        console.commandEnded();
        // Ctrl-C stopped what ran; the prompt goes on. Other signals end the session.
        if (const int signal = interruption(); signal == SIGINT)
            noteInterruption(0);
        else if (signal != 0)
            return exitForSignal(signal);
        if (outcome == Outcome::Quit)
            return Exit::Success;
        if (outcome == Outcome::Ended)
            return exitFor(outcome);
    }
}

MonitorInputs readMonitorInputs(const Step& step, bool standardInputIsTerminal) {
    MonitorInputs inputs;
    if (!step.symbols.empty()) {
        const std::string name = step.symbols.string();
        std::ifstream in(step.symbols, std::ios::binary);
        const std::string content{std::istreambuf_iterator<char>(in), {}};
        if (!in.is_open() || in.bad()) {
            inputs.error = "Cannot read the symbols' file " + name + ".";
            return inputs;
        }
        try {
            inputs.symbols = ops::monitor::Symbols::fromElf(name, content);
        } catch (const LinkError& e) {
            // The reason (not an ELF file, a stripped one) is what tells the user what to do.
            inputs.error = e.what();
            if (!e.detail.empty())
                inputs.error += " " + e.detail;
            return inputs;
        }
    }
    if (!step.script.empty() && step.script != "-") {
        auto file = std::make_unique<std::ifstream>(step.script);
        if (!file->is_open()) {
            inputs.error = "Cannot read the script " + step.script.string() + ".";
            return inputs;
        }
        inputs.script = std::move(file);
        inputs.scriptName = step.script.string();
    } else if (!step.script.empty() || !standardInputIsTerminal) {
        // Not owned: the standard input outlives the session.
        inputs.script = std::make_unique<std::istream>(std::cin.rdbuf());
        inputs.scriptName = "the standard input";
    }
    return inputs;
}

Exit runMonitor(Target& target, const sim::Variant& part, MonitorInputs& inputs) {
    Exit exit = Exit::Success;
    Frame::run(target, kMonitorButton, "Monitor", [&](Frame& f) {
        if (!f.begin())
            return;
        const auto session = openSession(f, part);
        MonitorConsole console(stdout, stderr);
        console.setProgress([&f](const std::optional<Received>& r) { f.ui().setReceived(r); });
        ops::monitor::Interpreter interpreter(*session,
                                              console.io([] { return interruption() != 0; }),
                                              inputs.symbols ? &*inputs.symbols : nullptr);
        exit = inputs.script
                   ? runMonitorScript(interpreter, console, *inputs.script, inputs.scriptName)
                   : runMonitorPrompt(interpreter, console);
        // A program left running may run on, but with none of the session's SWIs in it.
        try {
            ops::monitor::release(*session);
        } catch (const LinkError& e) {
            console.error(e.what());
            if (!e.detail.empty())
                console.error(e.detail);
            if (exit == Exit::Success)
                exit = exitFor(e.ending == LinkError::Ending::KeepTarget ? Outcome::Refused
                                                                         : Outcome::Ended);
        }
        // Whatever the program does now, the link is no longer the boot loader's.
        f.finish();
    });
    return exit;
}

}  // namespace kestro::cli
