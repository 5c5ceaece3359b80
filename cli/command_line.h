// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "clock.h"
#include "operations.h"
#include "sci_rates.h"

namespace kestro::cli {

// What a run tells the shell. Higher is worse: with several boards the highest wins.
enum class Exit : int {
    Success = 0,
    Found = 1,        // a difference, or data where none was expected
    TargetError = 2,  // the talker reported an error
    NoAnswer = 3,     // no reset seen, or the HC11 did not answer
    NotEchoed = 4,    // the talker download was not echoed
    FileError = 5,
    PortError = 6,
    Usage = 7,
    Interrupted = 130,  // SIGINT: 128 plus the signal, as a shell counts
    Terminated = 143,   // SIGTERM or SIGHUP
};

// The code a run ended with, when it is one of ours.
std::optional<Exit> exitFromCode(int code);

// Where a job runs.
struct PortChoice {
    enum class Kind { Comm, Device, Virtual };
    Kind kind = Kind::Comm;
    int comm = 1;
    std::string device;
    std::string board;  // a named virtual board; empty: the window's board
    // How the user reads it in messages and the summary.
    std::string label() const;
    // The options that select this port alone, for a worker run.
    std::vector<std::string> arguments() const;
    bool operator==(const PortChoice&) const = default;
};

// The button behind monitor: it runs no operation of the window's, but a session.
inline constexpr const char* kMonitorButton = "Monitor";

// One operation of the job, with everything the window's controls would give it.
struct Step {
    std::string command;  // as typed: "program"
    std::string button;   // the operation behind it: "EepromProgram"
    std::filesystem::path file;
    // dump: the file the records go to.
    std::filesystem::path output;
    ops::Inputs inputs;
    bool rangeGiven = false;  // --range was typed; otherwise a named part's own may apply
    // ram --terminal: after the run, the terminal on the line at this rate.
    std::optional<int> terminalBaud;
    // config: CONFIG read after the next reset and compared with the value sent.
    bool readBack = false;
    // monitor: the commands' file ("-": the standard input), and the program's symbols.
    std::filesystem::path script;
    std::filesystem::path symbols;
};

inline constexpr int kTerminalBaud = 9600;

struct Plan {
    std::vector<Step> steps;
    std::vector<PortChoice> ports;
    std::optional<std::string> chip;  // the virtual board's part, as printed on it
    // --chip auto: the part identify finds on each board, for the commands that depend on it.
    bool chipAuto = false;
    bool programmingVoltage = false;
    // The fast protocol where an operation has it (docs/fast-protocol.md).
    bool fast = false;
    // The HC11's crystal: every rate on the line follows it, and a virtual board runs at it.
    std::uint32_t crystalHz = SciClock::kDefaultCrystalHz;
    std::optional<std::string> trace;
    Duration resetTimeout = 60s;
    bool noWait = false;
    bool quiet = false;
    bool json = false;
    // A worker's place among the ports it was started for, from 1; 0 when not a worker.
    int worker = 0;
    bool help = false;
    std::string helpCommand;  // the command whose help was asked for; empty: the general help
    bool version = false;
    // The arguments without the port options and the trace: what every worker is given.
    std::vector<std::string> jobArguments;
};

struct Parsed {
    Plan plan;
    std::string error;  // set: a usage error, said so
};

// Reads the arguments (without the program name). defaults: what the window's settings give
// every control; the current folder for the dump. settingsCrystal: the settings' crystal, taken
// where --crystal is not given.
Parsed parseCommandLine(const std::vector<std::string>& args, const ops::Inputs& defaults,
                        const std::optional<std::string>& settingsCrystal = std::nullopt);

// "B600-B7FF" as the window's selectors make them: whole pages, begin not above end.
std::optional<std::pair<std::string, std::string>> parseRange(std::string_view text);

std::string generalHelp();
// Empty for a command that does not exist.
std::string commandHelp(std::string_view command);

}  // namespace kestro::cli
