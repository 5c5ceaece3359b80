// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor's commands as the user types them, one line at a time, over any Monitor: what
// kestro-cli's prompt and its scripts run. Nothing here prints: each line of output and each
// error goes to the front end's callbacks.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/monitor.h"

namespace kestro::ops::monitor {

class Symbols;
struct Instruction;

// How a command went, and whether the session goes on after it.
enum class Outcome {
    Done,     // it ran
    Usage,    // not a command, or an argument that does not read: nothing was sent
    File,     // load: a file that cannot be read or is not for the HC11
    Refused,  // the session refused it (a write to ROM, a breakpoint there): it goes on
    Ended,    // the session ended under it (a silent talker, a reset): nothing more can run
    Quit,     // quit
};

inline bool sessionGoesOn(Outcome o) {
    return o != Outcome::Ended && o != Outcome::Quit;
}

struct InterpreterIo {
    std::function<void(const std::string&)> line;   // a line of a command's output
    std::function<void(const std::string&)> error;  // a line saying what went wrong
    // What the running program sends on the SCI while go or wait runs.
    std::function<void(ByteView)> programOutput;
    // Polled while go or wait runs: true stops the program (Ctrl-C).
    std::function<bool()> stopRequested;
    // How far a long read or write (md, dasm, load, fill) has come.
    Progress progress;
};

// The commands as `help` lists them, one a line (kestro-cli's help and manual list the same),
// and what it says of numbers.
std::vector<std::string> helpLines();
inline constexpr std::string_view kNumbersNote =
    "Numbers are hex ($B600, B600, 0xB600); with the program's symbols, ADDR may also be a "
    "name or name+offset.";

class Interpreter {
  public:
    // symbols: where addresses may be named and are shown by name; nullptr: hex only.
    Interpreter(Monitor& monitor, InterpreterIo io, const Symbols* symbols = nullptr);

    // Runs one line: blank lines and lines starting with # do nothing.
    Outcome run(std::string_view line);

    // The registers as rd prints them.
    std::string registersLine(const Registers& r) const;

  private:
    struct Args;
    using Handler = Outcome (Interpreter::*)(const Args&);
    struct Entry {
        std::string_view name;
        Handler handler;
        bool needsStopped;  // refused while the program runs
    };
    static const std::vector<Entry>& entries();

    Outcome load(const Args& a);
    Outcome memoryDisplay(const Args& a);
    Outcome memoryModify(const Args& a);
    Outcome registerDisplay(const Args& a);
    Outcome registerModify(const Args& a);
    Outcome breakpointSet(const Args& a);
    Outcome breakpointClear(const Args& a);
    Outcome breakpointList(const Args& a);
    Outcome go(const Args& a);
    Outcome step(const Args& a);
    Outcome stop(const Args& a);
    Outcome start(const Args& a);
    Outcome wait(const Args& a);
    Outcome disassemble(const Args& a);
    Outcome fill(const Args& a);
    Outcome help(const Args& a);
    Outcome quit(const Args& a);

    // The stop as the user reads it: why, the registers, the instruction it stops before.
    void reportStop(const Stop& s);
    void reportInstructionAt(std::uint16_t address);
    std::string instructionLine(const Instruction& i,
                                const std::vector<std::uint16_t>& breakpoints) const;
    // The address a word names, or nullopt once the user is told it names none.
    std::optional<std::uint16_t> addressArgument(std::string_view word);
    std::string addressText(std::uint16_t address) const;
    Outcome usage(const std::string& text);
    Outcome writeChecked(std::uint16_t address, const Bytes& bytes, std::string_view what);

    Monitor& monitor_;
    InterpreterIo io_;
    const Symbols* symbols_;
    bool ended_ = false;
    // Where md and dasm go on when given no address.
    std::optional<std::uint16_t> nextDisplay_;
    std::optional<std::uint16_t> nextDisassembly_;
};

}  // namespace kestro::ops::monitor
