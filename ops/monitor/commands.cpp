// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/commands.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "elf_image.h"
#include "frame.h"
#include "intel_hex.h"
#include "memory_image.h"
#include "monitor/instruction.h"
#include "monitor/symbols.h"
#include "operations.h"
#include "srecord.h"

namespace kestro::ops::monitor {

namespace {

constexpr std::uint32_t kAddressSpace = 0x10000;
constexpr std::size_t kDisplayLength = 64;
constexpr std::size_t kBytesPerLine = 16;
constexpr std::size_t kDisassemblyCount = 16;
// The longest HC11 instruction: a prebyte, the opcode, and three bytes (BRSET indexed by Y).
constexpr std::size_t kLongestInstruction = 5;
// How often a wait looks at stopRequested while the program runs.
constexpr Duration kPollSlice = 50ms;

// One command's help: the table behind help, and kestro-cli's help and manual.
struct CommandHelp {
    std::string_view name;
    std::string_view arguments;  // "ADDR [LEN]"
    std::string_view summary;    // one line
    std::string_view details;    // further lines, each ending in "\n"; may be empty
};

// clang-format off
const std::vector<CommandHelp> kHelp = {
    {"load", "FILE", "write an S-record, Intel HEX or ELF file into memory",
     "  RAM and registers as stored, EEPROM through its programming cycles, each byte read\n"
     "  back; PC set to the file's entry where it gives one. A block the part cannot take\n"
     "  refuses the file before anything is written.\n"},
    {"md", "[ADDR [LEN]]", "display memory: address, 16 bytes in hex, ASCII",
     "  LEN in hex, default 40 (64 bytes); without ADDR, the bytes after the last display.\n"},
    {"mm", "ADDR BYTE...", "write bytes from ADDR on, each read back", ""},
    {"rd", "", "display the registers, the flags spelled out (a clear one as .)",
     "  A=xx B=xx X=xxxx Y=xxxx SP=xxxx PC=xxxx CCR=xx SXHINZVC, and PC's symbol.\n"},
    {"rm", "REG VALUE", "set a register of the stopped program: A B X Y SP PC CCR", ""},
    {"br", "ADDR", "set a breakpoint (RAM or EEPROM)", ""},
    {"bc", "ADDR", "clear a breakpoint", ""},
    {"bl", "", "list the breakpoints", ""},
    {"go", "[ADDR]", "run from ADDR (or PC) until a breakpoint, its own SWI or Ctrl-C",
     "  Prints why the program stopped, the registers and the next instruction.\n"},
    {"step", "[N]", "run N instructions (default 1), branches, JSR and RTS followed", ""},
    {"run", "[ADDR]", "start the program from ADDR (or PC) and return at once", ""},
    {"wait", "[MS]", "wait until the running program stops, at most MS milliseconds",
     "  MS in decimal; without it, until it stops or Ctrl-C stops it. Fails when the\n"
     "  program still runs at the end.\n"},
    {"stop", "", "stop the running program", ""},
    {"dasm", "[ADDR [N]]", "disassemble N instructions (default 10 in hex: 16)",
     "  A * marks a breakpoint; without ADDR, the instructions after the last listing, or\n"
     "  the program's PC.\n"},
    {"fill", "ADDR LEN BYTE", "write BYTE into LEN bytes from ADDR on (LEN in hex)", ""},
    {"help", "[COMMAND]", "list the commands, or one command's use", ""},
    {"quit", "", "end the session", ""},
};
// clang-format on

std::string hex(unsigned value, int digits) {
    char text[8];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::vector<std::string_view> split(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])))
            ++i;
        // A word in double quotes may hold spaces, as a file's path may.
        if (i < line.size() && line[i] == '"') {
            const std::size_t start = ++i;
            i = std::min(line.find('"', start), line.size());
            words.push_back(line.substr(start, i - start));
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])))
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

// A plain hex number ($FF, FF, 0xFF) of at most limit: the monitor's habit for every number.
std::optional<unsigned> hexValue(std::string_view s, unsigned limit) {
    if (s.starts_with('$'))
        s.remove_prefix(1);
    else if (s.starts_with("0x") || s.starts_with("0X"))
        s.remove_prefix(2);
    if (s.empty() || s.size() > 8)
        return std::nullopt;
    unsigned v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 16);
    if (ec != std::errc() || end != s.data() + s.size() || v > limit)
        return std::nullopt;
    return v;
}

std::optional<unsigned> decimalValue(std::string_view s, unsigned limit) {
    unsigned v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 10);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || v > limit)
        return std::nullopt;
    return v;
}

// How a stop begins its report, by its cause.
struct CauseText {
    StopCause cause;
    const char* text;
};
constexpr CauseText kCauseTexts[] = {
    {StopCause::Breakpoint, "Stopped at the breakpoint at "},
    {StopCause::Step, "Stepped to "},
    {StopCause::Stopped, "Stopped from the PC at "},
    {StopCause::Swi, "Stopped by the program's own SWI; PC "},
    {StopCause::IllegalOpcode, "Stopped by an illegal opcode; PC "},
};

std::string causeText(StopCause c) {
    for (const CauseText& t : kCauseTexts)
        if (t.cause == c)
            return t.text;
    return "Stopped at ";
}

std::optional<std::string> readWholeFile(const std::string& name, std::string& reason) {
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        reason = "cannot be opened";
        return std::nullopt;
    }
    std::string content{std::istreambuf_iterator<char>(in), {}};
    if (in.bad()) {
        reason = "cannot be read";
        return std::nullopt;
    }
    return content;
}

std::uint32_t bigEndian(std::string_view bytes) {
    std::uint32_t v = 0;
    for (const char c : bytes)
        v = v << 8 | static_cast<unsigned char>(c);
    return v;
}

std::uint32_t littleEndian(std::string_view bytes) {
    std::uint32_t v = 0;
    for (auto c = bytes.rbegin(); c != bytes.rend(); ++c)
        v = v << 8 | static_cast<unsigned char>(*c);
    return v;
}

std::uint32_t hexField(std::string_view line, std::size_t at, std::size_t digits) {
    std::uint32_t v = 0;
    if (at + digits <= line.size())
        std::from_chars(line.data() + at, line.data() + at + digits, v, 16);
    return v;
}

// Where a file says its program starts, from a file its reader took: an S-record file's end
// record (S9, S8, S7), an Intel HEX start address (05, or 03 as segment and offset), an ELF
// file's entry. $0000 is the toolchains' "none", and on the monitor's RAM in any case.
std::optional<std::uint16_t> entryOf(formats::Kind kind, std::string_view content) {
    std::uint32_t entry = 0;
    if (kind == formats::Kind::Elf) {
        // e_ident's class (1: 32 bits) and data (2: big-endian) bytes; e_entry at 24.
        if (content.size() >= 28 && content[4] == 1)
            entry = content[5] == 2 ? bigEndian(content.substr(24, 4))
                                    : littleEndian(content.substr(24, 4));
    } else {
        std::size_t at = 0;
        while (at < content.size()) {
            std::size_t end = content.find('\n', at);
            if (end == std::string_view::npos)
                end = content.size();
            std::string_view line = content.substr(at, end - at);
            at = end + 1;
            while (!line.empty() && std::isspace(static_cast<unsigned char>(line.front())))
                line.remove_prefix(1);
            if (kind == formats::Kind::SRecord && line.size() > 4 &&
                (line[0] == 'S' || line[0] == 's') && line[1] >= '7' && line[1] <= '9')
                entry = hexField(line, 4, static_cast<std::size_t>('9' - line[1] + 2) * 2);
            else if (kind == formats::Kind::IntelHex && line.starts_with(":04000005"))
                entry = hexField(line, 9, 8);
            else if (kind == formats::Kind::IntelHex && line.starts_with(":04000003"))
                entry = hexField(line, 9, 4) * 16 + hexField(line, 13, 4);
        }
    }
    if (entry == 0 || entry >= kAddressSpace)
        return std::nullopt;
    return static_cast<std::uint16_t>(entry);
}

}  // namespace

std::vector<std::string> helpLines() {
    std::vector<std::string> lines;
    for (const CommandHelp& h : kHelp) {
        std::string usage = std::string(h.name) + " " + std::string(h.arguments);
        usage.resize(std::max<std::size_t>(usage.size() + 2, 20), ' ');
        lines.push_back(usage + std::string(h.summary));
    }
    return lines;
}

struct Interpreter::Args {
    std::string_view command;
    std::vector<std::string_view> words;  // after the command
};

const std::vector<Interpreter::Entry>& Interpreter::entries() {
    static const std::vector<Entry> kEntries = {
        {"load", &Interpreter::load, true},
        {"md", &Interpreter::memoryDisplay, true},
        {"mm", &Interpreter::memoryModify, true},
        {"rd", &Interpreter::registerDisplay, true},
        {"rm", &Interpreter::registerModify, true},
        {"br", &Interpreter::breakpointSet, true},
        {"bc", &Interpreter::breakpointClear, true},
        {"bl", &Interpreter::breakpointList, false},
        {"go", &Interpreter::go, true},
        {"step", &Interpreter::step, true},
        {"run", &Interpreter::start, true},
        {"wait", &Interpreter::wait, false},
        {"stop", &Interpreter::stop, false},
        {"dasm", &Interpreter::disassemble, true},
        {"fill", &Interpreter::fill, true},
        {"help", &Interpreter::help, false},
        {"quit", &Interpreter::quit, false},
    };
    return kEntries;
}

Interpreter::Interpreter(Monitor& monitor, InterpreterIo io, const Symbols* symbols)
    : monitor_(monitor), io_(std::move(io)), symbols_(symbols) {
    // What the program sends while a stop or a step waits for it is its output like any other.
    monitor_.setOutput(io_.programOutput);
}

Outcome Interpreter::run(std::string_view line) {
    const std::vector<std::string_view> words = split(line);
    if (words.empty() || words.front().starts_with('#'))
        return Outcome::Done;
    const std::string name = lower(words.front());
    const auto& table = entries();
    const auto entry =
        std::find_if(table.begin(), table.end(), [&](const Entry& e) { return e.name == name; });
    if (entry == table.end())
        return usage("Unknown command: " + std::string(words.front()) +
                     " (help lists the commands).");
    if (ended_ && entry->handler != &Interpreter::help && entry->handler != &Interpreter::quit) {
        io_.error("The session has ended: quit, then start a new one.");
        return Outcome::Ended;
    }
    if (entry->needsStopped && monitor_.running()) {
        io_.error("The program is running: stop it first (stop, or wait until it stops).");
        return Outcome::Refused;
    }
    const Args args{entry->name, {words.begin() + 1, words.end()}};
    try {
        return (this->*entry->handler)(args);
    } catch (const LinkError& e) {
        io_.error(e.what());
        if (!e.detail.empty())
            io_.error(e.detail);
        if (e.ending == LinkError::Ending::KeepTarget)
            return Outcome::Refused;
        ended_ = true;
        return Outcome::Ended;
    }
}

Outcome Interpreter::usage(const std::string& text) {
    io_.error(text);
    return Outcome::Usage;
}

std::string Interpreter::addressText(std::uint16_t address) const {
    std::string text = "$" + hex(address, 4);
    if (symbols_)
        if (const std::string name = symbols_->nameFor(address); !name.empty())
            text += " (" + name + ")";
    return text;
}

std::string Interpreter::registersLine(const Registers& r) const {
    std::string text = "A=" + hex(r.a, 2) + " B=" + hex(r.b, 2) + " X=" + hex(r.x, 4) +
                       " Y=" + hex(r.y, 4) + " SP=" + hex(r.sp, 4) + " PC=" + hex(r.pc, 4) +
                       " CCR=" + hex(r.ccr, 2) + " " + flagLetters(r.ccr);
    if (symbols_)
        if (const std::string name = symbols_->nameFor(r.pc); !name.empty())
            text += " <" + name + ">";
    return text;
}

std::optional<std::uint16_t> Interpreter::addressArgument(std::string_view word) {
    const auto address = parseAddress(word, symbols_);
    if (!address)
        io_.error("Not an address: " + std::string(word) + ".");
    return address;
}

std::string Interpreter::instructionLine(const Instruction& i,
                                         const std::vector<std::uint16_t>& breakpoints) const {
    std::string bytes;
    for (std::size_t k = 0; k < i.bytes.size(); ++k)
        bytes += (k ? " " : "") + hex(i.bytes[k], 2);
    bytes.resize(std::max<std::size_t>(bytes.size() + 1, 16), ' ');
    const bool marked =
        std::find(breakpoints.begin(), breakpoints.end(), i.address) != breakpoints.end();
    return std::string(marked ? "*" : " ") + hex(i.address, 4) + "  " + bytes + i.text;
}

void Interpreter::reportInstructionAt(std::uint16_t address) {
    const std::size_t length = std::min<std::size_t>(kLongestInstruction, kAddressSpace - address);
    io_.line(instructionLine(decode(monitor_.read(address, length), address, symbols_),
                             monitor_.breakpoints()));
}

void Interpreter::reportStop(const Stop& s) {
    io_.line(causeText(s.cause) + addressText(s.registers.pc) + ".");
    io_.line(registersLine(s.registers));
    reportInstructionAt(s.registers.pc);
}

Outcome Interpreter::writeChecked(std::uint16_t address, const Bytes& bytes,
                                  std::string_view what) {
    if (address + bytes.size() > kAddressSpace)
        return usage(std::string(what) + " would run past $FFFF: nothing written.");
    monitor_.write(address, bytes, io_.progress);
    return Outcome::Done;
}

Outcome Interpreter::load(const Args& a) {
    if (a.words.size() != 1)
        return usage("load takes one file: load FILE");
    const std::string name(a.words[0]);
    std::string reason;
    const auto content = readWholeFile(name, reason);
    if (!content) {
        io_.error("The file " + name + " " + reason + ".");
        return Outcome::File;
    }
    // The same check and words as every other job that takes a file: a file with an address
    // given twice or data past $FFFF goes nowhere, rather than partly.
    if (const auto problem = userFileProblem("", name, *content)) {
        io_.error(problem->what());
        if (!problem->detail.empty())
            io_.error(problem->detail);
        return Outcome::File;
    }
    const formats::Kind kind = formats::kindOf(*content);
    const auto image = kind == formats::Kind::SRecord    ? formats::readSRecords(*content)
                       : kind == formats::Kind::IntelHex ? formats::readIntelHex(*content)
                                                         : formats::readElf(*content);
    // Records that follow on from each other go as one write: fewer exchanges, and the user
    // reads what went where rather than a line per record.
    std::vector<formats::Block> blocks;
    for (const formats::Block& b : std::get<formats::Image>(image)) {
        if (!blocks.empty() && blocks.back().address + blocks.back().bytes.size() == b.address)
            blocks.back().bytes.insert(blocks.back().bytes.end(), b.bytes.begin(), b.bytes.end());
        else
            blocks.push_back(b);
    }
    // A block the part has no place for refuses the file before anything is written.
    for (const formats::Block& block : blocks)
        monitor_.checkWrite(static_cast<std::uint16_t>(block.address), block.bytes);
    std::size_t written = 0;
    for (const formats::Block& block : blocks) {
        try {
            monitor_.write(static_cast<std::uint16_t>(block.address), block.bytes, io_.progress);
        } catch (const LinkError&) {
            // What went in before the refusal stays: the user must know how much that was.
            io_.error("load stopped at the block " + formats::hexAddress(block.address) + "-" +
                      formats::hexAddress(block.address + block.bytes.size() - 1) + " of " + name +
                      ": the " + std::to_string(written) +
                      " bytes before it are loaded, that block may be partly written.");
            throw;
        }
        written += block.bytes.size();
        io_.line("Loaded " + formats::hexAddress(block.address) + "-" +
                 formats::hexAddress(block.address + block.bytes.size() - 1) + " (" +
                 std::to_string(block.bytes.size()) + " bytes).");
    }
    // As HC11 monitors do: the program starts where its file says, at the next go or step.
    if (const auto entry = entryOf(kind, *content)) {
        Registers r = monitor_.registers();
        r.pc = *entry;
        monitor_.setRegisters(r);
        io_.line("PC " + addressText(*entry) + ", the file's entry.");
    }
    return Outcome::Done;
}

Outcome Interpreter::memoryDisplay(const Args& a) {
    if (a.words.size() > 2)
        return usage("md takes an address and a length: md ADDR [LEN]");
    std::optional<std::uint16_t> address = nextDisplay_.value_or(0);
    if (!a.words.empty() && !(address = addressArgument(a.words[0])))
        return Outcome::Usage;
    std::size_t length = kDisplayLength;
    if (a.words.size() == 2) {
        const auto v = hexValue(a.words[1], kAddressSpace);
        if (!v || *v == 0)
            return usage("Not a length: " + std::string(a.words[1]) + " (hex, 1 to 10000).");
        length = *v;
    }
    // The display ends at the top of memory; the next one starts again from $0000.
    length = std::min<std::size_t>(length, kAddressSpace - *address);
    const Bytes bytes = monitor_.read(*address, length, io_.progress);
    for (std::size_t at = 0; at < bytes.size(); at += kBytesPerLine) {
        const std::size_t n = std::min(kBytesPerLine, bytes.size() - at);
        std::string line = hex(*address + static_cast<unsigned>(at), 4) + " ";
        std::string ascii;
        for (std::size_t k = 0; k < kBytesPerLine; ++k) {
            line += k < n ? " " + hex(bytes[at + k], 2) : "   ";
            if (k < n) {
                const Byte c = bytes[at + k];
                ascii += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
            }
        }
        io_.line(line + "  " + ascii);
    }
    nextDisplay_ = static_cast<std::uint16_t>(*address + bytes.size());
    return Outcome::Done;
}

Outcome Interpreter::memoryModify(const Args& a) {
    if (a.words.size() < 2)
        return usage("mm takes an address and bytes: mm ADDR BYTE...");
    const auto address = addressArgument(a.words[0]);
    if (!address)
        return Outcome::Usage;
    Bytes bytes;
    for (std::size_t k = 1; k < a.words.size(); ++k) {
        const auto v = hexValue(a.words[k], 0xFF);
        if (!v)
            return usage("Not a byte: " + std::string(a.words[k]) +
                         " (hex, 00 to FF): nothing written.");
        bytes.push_back(static_cast<Byte>(*v));
    }
    return writeChecked(*address, bytes, "mm");
}

Outcome Interpreter::registerDisplay(const Args& a) {
    if (!a.words.empty())
        return usage("rd takes nothing.");
    io_.line(registersLine(monitor_.registers()));
    return Outcome::Done;
}

Outcome Interpreter::registerModify(const Args& a) {
    if (a.words.size() != 2)
        return usage("rm takes a register and a value: rm REG VALUE");
    const std::string name = lower(a.words[0]);
    const auto reg = std::find_if(kRegisterNames.begin(), kRegisterNames.end(),
                                  [&](const RegisterName& r) { return r.name == name; });
    if (reg == kRegisterNames.end())
        return usage("Not a register: " + std::string(a.words[0]) +
                     " (A, B, X, Y, SP, PC or CCR).");
    // A 16-bit register may be given a symbol, as an address.
    const std::optional<unsigned> value =
        reg->wide ? std::optional<unsigned>(parseAddress(a.words[1], symbols_))
                  : hexValue(a.words[1], 0xFF);
    if (!value)
        return usage("Not a value for " + std::string(a.words[0]) + ": " + std::string(a.words[1]) +
                     (reg->wide ? " (hex, 0 to FFFF)." : " (hex, 0 to FF)."));
    Registers r = monitor_.registers();
    setRegisterValue(r, static_cast<std::size_t>(reg - kRegisterNames.begin()), *value);
    monitor_.setRegisters(r);
    io_.line(registersLine(monitor_.registers()));
    return Outcome::Done;
}

Outcome Interpreter::breakpointSet(const Args& a) {
    if (a.words.size() != 1)
        return usage("br takes an address: br ADDR");
    const auto address = addressArgument(a.words[0]);
    if (!address)
        return Outcome::Usage;
    monitor_.setBreakpoint(*address);
    io_.line("Breakpoint at " + addressText(*address) + ".");
    return Outcome::Done;
}

Outcome Interpreter::breakpointClear(const Args& a) {
    if (a.words.size() != 1)
        return usage("bc takes an address: bc ADDR");
    const auto address = addressArgument(a.words[0]);
    if (!address)
        return Outcome::Usage;
    const auto set = monitor_.breakpoints();
    if (std::find(set.begin(), set.end(), *address) == set.end()) {
        io_.error("No breakpoint at " + addressText(*address) + ".");
        return Outcome::Refused;
    }
    monitor_.clearBreakpoint(*address);
    io_.line("Breakpoint at " + addressText(*address) + " cleared.");
    return Outcome::Done;
}

Outcome Interpreter::breakpointList(const Args& a) {
    if (!a.words.empty())
        return usage("bl takes nothing.");
    std::vector<std::uint16_t> set = monitor_.breakpoints();
    std::sort(set.begin(), set.end());
    if (set.empty())
        io_.line("No breakpoints.");
    for (const std::uint16_t address : set)
        io_.line("Breakpoint at " + addressText(address) + ".");
    return Outcome::Done;
}

// ADDR of go and run, when given: nullopt inside means the program's PC.
static std::optional<std::optional<std::uint16_t>> startAddress(
    const std::vector<std::string_view>& words, const Symbols* symbols) {
    if (words.empty())
        return std::optional<std::uint16_t>();
    if (words.size() > 1)
        return std::nullopt;
    const auto address = parseAddress(words[0], symbols);
    if (!address)
        return std::nullopt;
    return address;
}

Outcome Interpreter::go(const Args& a) {
    const auto from = startAddress(a.words, symbols_);
    if (!from)
        return usage("go takes an address, or none for the PC: go [ADDR]");
    RunHooks hooks{.output = io_.programOutput, .stopRequested = io_.stopRequested};
    if (!hooks.output)
        hooks.output = [](ByteView) {};
    reportStop(monitor::go(monitor_, *from, hooks));
    return Outcome::Done;
}

Outcome Interpreter::start(const Args& a) {
    const auto from = startAddress(a.words, symbols_);
    if (!from)
        return usage("run takes an address, or none for the PC: run [ADDR]");
    const std::uint16_t pc = from->value_or(monitor_.registers().pc);
    monitor_.run(*from);
    io_.line("Running from " + addressText(pc) + ".");
    return Outcome::Done;
}

Outcome Interpreter::wait(const Args& a) {
    std::optional<unsigned> limit;
    if (a.words.size() > 1 ||
        (a.words.size() == 1 && !(limit = decimalValue(a.words[0], 86400000))))
        return usage("wait takes milliseconds in decimal: wait [MS]");
    if (!monitor_.running()) {
        io_.line("The program is not running.");
        return Outcome::Done;
    }
    const auto output = io_.programOutput ? io_.programOutput : [](ByteView) {};
    Duration waited{0};
    // At least one look, so that a stop already come is told, wait 0's too.
    do {
        Duration slice = kPollSlice;
        if (limit)
            slice = std::min<Duration>(slice, std::chrono::milliseconds(*limit) - waited);
        if (const auto s = monitor_.poll(output, slice)) {
            reportStop(*s);
            return Outcome::Done;
        }
        waited += slice;
        if (io_.stopRequested && io_.stopRequested()) {
            reportStop(monitor_.stop());
            return Outcome::Done;
        }
    } while (!limit || waited < std::chrono::milliseconds(*limit));
    io_.error("The program still runs after " + std::to_string(*limit) + " ms.");
    return Outcome::Refused;
}

Outcome Interpreter::stop(const Args& a) {
    if (!a.words.empty())
        return usage("stop takes nothing.");
    if (!monitor_.running()) {
        io_.line("The program is not running.");
        return Outcome::Done;
    }
    reportStop(monitor_.stop());
    return Outcome::Done;
}

Outcome Interpreter::step(const Args& a) {
    if (a.words.size() > 1)
        return usage("step takes a count: step [N]");
    unsigned count = 1;
    if (!a.words.empty()) {
        const auto v = hexValue(a.words[0], 0xFFFF);
        if (!v || *v == 0)
            return usage("Not a count: " + std::string(a.words[0]) + " (hex, 1 to FFFF).");
        count = *v;
    }
    for (unsigned k = 0; k < count; ++k) {
        const Stop s = monitor_.step();
        if (s.cause != StopCause::Step || k + 1 == count) {
            reportStop(s);
            break;
        }
        io_.line(registersLine(s.registers));
        if (io_.stopRequested && io_.stopRequested()) {
            io_.line("Stepping interrupted after " + std::to_string(k + 1) + " steps.");
            break;
        }
    }
    return Outcome::Done;
}

Outcome Interpreter::disassemble(const Args& a) {
    if (a.words.size() > 2)
        return usage("dasm takes an address and a count: dasm [ADDR [N]]");
    std::optional<std::uint16_t> address = nextDisassembly_;
    if (!a.words.empty() && !(address = addressArgument(a.words[0])))
        return Outcome::Usage;
    if (!address)
        address = monitor_.registers().pc;
    std::size_t count = kDisassemblyCount;
    if (a.words.size() == 2) {
        const auto v = hexValue(a.words[1], 0x1000);
        if (!v || *v == 0)
            return usage("Not a count: " + std::string(a.words[1]) + " (hex, 1 to 1000).");
        count = *v;
    }
    const std::size_t length =
        std::min<std::size_t>(count * kLongestInstruction, kAddressSpace - *address);
    const Bytes code = monitor_.read(*address, length, io_.progress);
    const auto breakpoints = monitor_.breakpoints();
    std::size_t at = 0;
    for (std::size_t n = 0; n < count && at < code.size(); ++n) {
        const auto here = static_cast<std::uint16_t>(*address + at);
        const Instruction i = decode(ByteView(code).subspan(at), here, symbols_);
        if (symbols_)
            if (const std::string name = symbols_->nameFor(here);
                !name.empty() && name.find('+') == std::string::npos)
                io_.line(name + ":");
        io_.line(instructionLine(i, breakpoints));
        at += std::max<std::size_t>(i.length, 1);
    }
    nextDisassembly_ = static_cast<std::uint16_t>(*address + at);
    return Outcome::Done;
}

Outcome Interpreter::fill(const Args& a) {
    if (a.words.size() != 3)
        return usage("fill takes an address, a length and a byte: fill ADDR LEN BYTE");
    const auto address = addressArgument(a.words[0]);
    if (!address)
        return Outcome::Usage;
    const auto length = hexValue(a.words[1], kAddressSpace);
    if (!length || *length == 0)
        return usage("Not a length: " + std::string(a.words[1]) + " (hex, 1 to 10000).");
    const auto byte = hexValue(a.words[2], 0xFF);
    if (!byte)
        return usage("Not a byte: " + std::string(a.words[2]) + " (hex, 00 to FF).");
    return writeChecked(*address, Bytes(*length, static_cast<Byte>(*byte)), "fill");
}

Outcome Interpreter::help(const Args& a) {
    if (a.words.empty()) {
        for (const std::string& line : helpLines())
            io_.line(line);
        io_.line(std::string(kNumbersNote));
        return Outcome::Done;
    }
    const std::string name = lower(a.words[0]);
    for (const CommandHelp& h : kHelp) {
        if (h.name != name)
            continue;
        io_.line(std::string(h.name) + (h.arguments.empty() ? "" : " ") + std::string(h.arguments) +
                 ": " + std::string(h.summary) + ".");
        std::string_view details = h.details;
        while (!details.empty()) {
            const std::size_t end = details.find('\n');
            io_.line(std::string(details.substr(0, end)));
            details.remove_prefix(end == std::string_view::npos ? details.size() : end + 1);
        }
        return Outcome::Done;
    }
    return usage("No such command: " + std::string(a.words[0]) + " (help lists them).");
}

Outcome Interpreter::quit(const Args& a) {
    if (!a.words.empty())
        return usage("quit takes nothing.");
    return Outcome::Quit;
}

}  // namespace kestro::ops::monitor
