// SPDX-License-Identifier: GPL-3.0-or-later
#include "command_line.h"
#include "part_check.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <map>

#include "before_reset.h"
#include "dump_target.h"
#include "kestro/sim/board/variant.h"
#include "monitor/commands.h"
#include "persisted_board.h"
#include "register_bytes.h"
#include "start_address.h"

namespace kestro::cli {

namespace {

// The options a command takes besides --help.
enum Option : unsigned {
    kMemory = 1u << 0,
    kRange = 1u << 1,
    kOutput = 1u << 2,
    kStart = 1u << 3,
    kBits = 1u << 4,
    kEeBlock = 1u << 5,
    kSfr = 1u << 6,
    kMap = 1u << 7,
    kResetHigh = 1u << 8,
    kPbLam = 1u << 9,
    kProtect = 1u << 10,
    kSecure = 1u << 11,
    kTerminal = 1u << 12,
    kBaud = 1u << 13,
    kNoVerify = 1u << 14,
    kScript = 1u << 15,
    kSymbols = 1u << 16,
};

struct OptionName {
    Option option;
    const char* name;
    bool takesValue;
};
// clang-format off
constexpr OptionName kOptionNames[] = {
    {kMemory, "--memory", true},         {kRange, "--range", true},   {kOutput, "-o", true},
    {kOutput, "--output", true},         {kStart, "--start", true},   {kBits, "--bits", true},
    {kEeBlock, "--ee-block", true},      {kSfr, "--sfr", true},       {kMap, "--map", true},
    {kResetHigh, "--reset-high", false}, {kPbLam, "--pb-lam", false}, {kProtect, "--protect", true},
    {kSecure, "--secure", false},        {kNoVerify, "--no-verify", false},
    {kTerminal, "--terminal", false},    {kBaud, "--baud", true},
    {kScript, "--script", true},         {kSymbols, "--symbols", true},
};
// clang-format on

// The buttons behind a command, by the memory it works on; the first is the default.
struct Memory {
    const char* name;
    const char* button;
};

struct Command {
    const char* name;
    bool needsFile;
    unsigned options;
    std::vector<Memory> memories;
    const char* summary;
    const char* details;
};

const std::vector<Command>& commands() {
    static const std::vector<Command> kCommands = {
        {"test", false, 0, {{"", "TestComm"}}, "test the link: the HC11 echoes the alphabet", ""},
        {"identify",
         false,
         0,
         {{"", "Identify"}},
         "tell which part answers: CONFIG bit by bit, its memory map, the rates",
         ""},
        {"status",
         false,
         kMemory | kRange,
         {{"eeprom", "EepromCheck"}, {"eprom", "EpromCheck"}},
         "check whether a range holds data (exit 1: data)",
         "  --memory eeprom|eprom   which memory (default eeprom)\n"
         "  --range BEGIN-END       whole pages in hex, e.g. B600-B7FF (default: the window's;\n"
         "                          with --chip, that part's EEPROM)\n"},
        {"program",
         true,
         kMemory,
         {{"eeprom", "EepromProgram"},
          {"eprom", "EpromProgram"},
          {"ext", "ExtEEprog"},
          {"xicor", "Xiprog"}},
         "program a memory with an S-record, Intel HEX or ELF FILE",
         "  --memory eeprom|eprom|ext|xicor   internal EEPROM (default), the 711E9's EPROM,\n"
         "                          the external EEPROM, the companion chip's EEPROM\n"},
        {"compare",
         true,
         kMemory,
         {{"eeprom", "EepromCompare"},
          {"eprom", "EpromCompare"},
          {"ext", "ExtEEcomp"},
          {"xicor", "Xicomp"}},
         "compare a memory with an S-record, Intel HEX or ELF FILE",
         "  --memory eeprom|eprom|ext|xicor   as for program\n"},
        {"erase",
         false,
         kRange,
         {{"", "EepromErase"}},
         "erase the internal EEPROM",
         "  --range BEGIN-END       whole pages in hex (default: the window's EEPROM range;\n"
         "                          with --chip, that part's EEPROM)\n"},
        {"config",
         false,
         kBits | kEeBlock | kSecure | kNoVerify,
         {{"", "ConfigProgram"}},
         "program CONFIG, then read it after the next reset (it takes effect then)",
         "  --bits LIST             EEON,ROMON,NOCOP,NOSEC or none (required)\n"
         "  --secure                needed when NOSEC is left out: that secures a part made\n"
         "                          with the security option, whose next reset into bootstrap\n"
         "                          mode erases its EEPROM and CONFIG (other parts ignore it);\n"
         "                          CONFIG is then not read back\n"
         "  --ee-block X800         where CONFIG bits 7-4 put the EEPROM: the 811E2's\n"
         "                          $X800-$XFFF, or the F1's $XE00-$XFFF given as XE00\n"
         "                          (default F800)\n"
         "  --no-verify             do not wait for the next reset to read CONFIG back (for\n"
         "                          adapters or scripts that cannot reset the HC11 twice)\n"},
        {"ram",
         true,
         kStart | kTerminal | kBaud,
         {{"", "ExtRam"}},
         "run an S-record, Intel HEX or ELF FILE from external RAM",
         "  --start ADDRESS         one to four hex digits, 0001 to FFFF, sent as typed\n"
         "                          (default: the window's)\n"
         "  --terminal              then connect this terminal to the serial line, as a\n"
         "                          terminal program would, until Ctrl-] or the end of input;\n"
         "                          what is typed before the HC11 confirms the start waits\n"
         "  --baud RATE             the program's rate on the line (default 9600)\n"},
        {"dump",
         false,
         kRange | kOutput,
         {{"", "DumpStart"}},
         "dump a range into an S-record file (about 5.6 s a page)",
         "  --range BEGIN-END       whole pages in hex (default: the window's dump range;\n"
         "                          with --chip, that part's EEPROM)\n"
         "  -o, --output FILE       where the records go (default upload.s19 here; - for the\n"
         "                          standard output, not with --json); with several ports, a\n"
         "                          file, the Nth board's with -N before its extension\n"
         "                          (upload-2.s19). Replaced only by a whole dump, which keeps\n"
         "                          its mode and owner; a link is followed, a device or FIFO\n"
         "                          written through (one nobody reads is refused at once); a\n"
         "                          damaged dump goes beside it (keep.damaged.s19 for keep.s19)\n"},
        {"monitor",
         false,
         kScript | kSymbols,
         {{"", kMonitorButton}},
         "a monitor session: memory, registers, breakpoints and steps",
         "  --script FILE           run the monitor commands of FILE (- for the standard\n"
         "                          input), each echoed; the first that fails ends the job:\n"
         "                          7 a command that does not read, 5 a file, 2 refused by\n"
         "                          the HC11, 3 the session ended. Without it, a prompt with\n"
         "                          line editing and history, or the standard input when it\n"
         "                          is no terminal\n"
         "  --symbols FILE          the program's linked ELF file: its symbols name addresses\n"
         "                          in commands, and show in dasm and rd\n"},
        {"sdp-off",
         false,
         0,
         {{"", "XISDPoff"}},
         "switch the companion chip's software data protection off",
         ""},
        {"xicor-reset",
         false,
         0,
         {{"", "XIreset"}},
         "restore the companion chip's default registers",
         ""},
        {"sfr",
         false,
         kSfr,
         {{"", "XISFR"}},
         "place the companion chip's register block",
         "  --sfr ADDRESS           hex, 1000, 2000, ... F000: the places where every command\n"
         "                          looks for the chip (default: the window's, if one of them)\n"},
        {"eem",
         false,
         kMap | kResetHigh | kPbLam,
         {{"", "XIeem"}},
         "place the companion chip's EEPROM",
         "  --map ADDRESS           the 8 KB block, e.g. E000 (default E000)\n"
         "  --reset-high            the chip's reset input is active high\n"
         "  --pb-lam                port B carries the low address byte A7-A0\n"},
        {"bpr",
         false,
         kProtect,
         {{"", "XIBPR"}},
         "protect blocks of the companion chip's EEPROM",
         "  --protect LIST          1 KB blocks 0-7, e.g. 0,7, or none (default none)\n"},
    };
    return kCommands;
}

const Command* findCommand(std::string_view name) {
    for (const Command& c : commands())
        if (name == c.name)
            return &c;
    return nullptr;
}

std::string upper(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

// A hex number of one to five digits, with an optional "$".
std::optional<unsigned> hexNumber(std::string_view s) {
    if (!s.empty() && s.front() == '$')
        s.remove_prefix(1);
    if (s.empty() || s.size() > 5)
        return std::nullopt;
    unsigned v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 16);
    if (ec != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return v;
}

// The rates a PC's serial port offers, from 300 baud up.
std::optional<int> terminalRate(std::string_view s) {
    static constexpr int kRates[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    int v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    for (const int r : kRates)
        if (r == v)
            return v;
    return std::nullopt;
}

std::string hex4(unsigned v) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s(4, '0');
    for (int i = 3; i >= 0; --i, v >>= 4)
        s[static_cast<std::size_t>(i)] = kDigits[v & 0xF];
    return s;
}

// Where the talkers look for the companion chip's register block: $x040 for x = 1 to $F
// (talkers/xicor.inc). A block at $0000 or past $FFFF, or between two of them, is never found.
constexpr const char* kSfrPlaces = "1000, 2000, ... F000";
bool sfrFindable(unsigned place) {
    return place % 0x1000 == 0 && place >= 0x1000 && place <= 0xF000;
}

std::vector<std::string> splitList(std::string_view s) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= s.size()) {
        const std::size_t comma = std::min(s.find(',', start), s.size());
        items.emplace_back(s.substr(start, comma - start));
        start = comma + 1;
    }
    return items;
}

constexpr std::array<std::string_view, 4> kConfigBits = {"EEON", "ROMON", "NOCOP", "NOSEC"};
constexpr std::size_t kNosec = 3;
constexpr std::array<std::string_view, 8> kBlocks = {"0", "1", "2", "3", "4", "5", "6", "7"};

// "none" or a comma list of names: which of the names it holds. The first item that is none of
// them comes back; empty when all are.
template <std::size_t N>
std::string readSet(std::string_view value, const std::array<std::string_view, N>& names,
                    std::array<bool, N>& chosen) {
    chosen = {};
    if (upper(value) == "NONE")
        return {};
    for (const std::string& item : splitList(value)) {
        const auto it = std::find(names.begin(), names.end(), upper(item));
        if (it == names.end())
            return item.empty() ? "\"\"" : item;
        chosen[static_cast<std::size_t>(it - names.begin())] = true;
    }
    return {};
}

// The usage error for a RAM start address the talker would not run at, from --start or the
// window's settings alike.
std::string startAddressRefusal(const std::string& text) {
    return std::string(ops::kInvalidStartAddress) + ": " + text +
           " (one to four hex digits, 0001 to FFFF)";
}

// Reads one command's options into its step; the error text when one does not hold.
class StepBuilder {
  public:
    StepBuilder(const Command& c, const ops::Inputs& defaults) : command_(c) {
        step_.command = c.name;
        step_.inputs = defaults;
    }

    const Command& command() const { return command_; }
    bool wantsFile() const { return command_.needsFile && step_.file.empty(); }
    void setFile(std::string f) { step_.file = std::move(f); }

    std::string option(Option o, const std::string& value) {
        ops::Inputs& in = step_.inputs;
        switch (o) {
            case kMemory:
                memory_ = value;
                return {};
            case kRange:
                range_ = value;
                return {};
            case kOutput:
                if (value.empty())
                    return "-o needs a file name";
                step_.output = value;
                return {};
            case kStart:
                if (!ops::readStartAddress(value))
                    return startAddressRefusal(value);
                in.startAddress = value;
                return {};
            case kBits: {
                bitsGiven_ = true;
                std::array<bool, 4> bits{};
                if (const std::string bad = readSet(value, kConfigBits, bits); !bad.empty())
                    return "not a CONFIG bit: " + bad + " (EEON, ROMON, NOCOP, NOSEC)";
                for (std::size_t i = 0; i < bits.size(); ++i)
                    in.config[i] = bits[i] ? 1 : 0;
                return {};
            }
            case kEeBlock: {
                std::string v = upper(value);
                // The F1's 512 bytes sit at the top of the same 4 KB block: CONFIG bits 7-4 place
                // both parts' EEPROM, so $XE00 names the 811E2's $X800 row.
                if (const auto at = v.find("E00");
                    at != std::string::npos && at + 3 == v.size() && at >= 1 && at <= 2)
                    v.replace(at, 3, "800");
                const auto& rows = ops::configLocationRows();
                for (const std::string& row : rows) {
                    // "$F800-$FFFF", "$F800", "F800"
                    if (v == row || "$" + v == row.substr(0, 5) || v == row.substr(0, 5)) {
                        in.config5Text = row;
                        return {};
                    }
                }
                return "not an EEPROM block: " + value +
                       " (0800, 1800, ... F800 on the 811E2; 0E00, 1E00, ... FE00 on the F1)";
            }
            case kSfr: {
                // Only a place every talker's search finds the chip at again; the window's
                // finer steps would be rounded to one of them, or lose the chip.
                const auto v = hexNumber(value);
                if (!v || !sfrFindable(*v))
                    return "not a register block location: " + value + " (" + kSfrPlaces + ")";
                in.sfrPosition = static_cast<int>(*v / 0x400);
                return {};
            }
            case kMap: {
                const auto v = hexNumber(value);
                if (!v || *v % 0x2000 != 0 || *v > 0xE000)
                    return "not an 8 KB block: " + value + " (0000, 2000, ... E000)";
                in.eemMapText = ops::eemMapRows()[*v / 0x2000];
                return {};
            }
            case kResetHigh:
                in.eemRes = true;
                return {};
            case kPbLam:
                in.eemLam = true;
                return {};
            case kProtect:
                if (const std::string bad = readSet(value, kBlocks, in.bpr); !bad.empty())
                    return "not a block number: " + bad + " (0 to 7)";
                return {};
            case kSecure:
                secure_ = true;
                return {};
            case kNoVerify:
                noVerify_ = true;
                return {};
            case kTerminal:
                step_.terminalBaud = step_.terminalBaud.value_or(kTerminalBaud);
                return {};
            case kScript:
                if (value.empty())
                    return "--script needs a file, or - for the standard input";
                step_.script = value;
                return {};
            case kSymbols:
                if (value.empty())
                    return "--symbols needs the program's ELF file";
                step_.symbols = value;
                return {};
            case kBaud: {
                const auto rate = terminalRate(value);
                if (!rate)
                    return "not a serial rate: " + value + " (300 to 115200, e.g. 9600)";
                baud_ = *rate;
                return {};
            }
        }
        return "unknown option";
    }

    // The step as the command's options make it, or the error text.
    std::string finish(Step& out) {
        if (wantsFile())
            return std::string(command_.name) + " needs an S-record, Intel HEX or ELF file";
        const Memory* memory = &command_.memories.front();
        if (memory_) {
            memory = nullptr;
            for (const Memory& m : command_.memories)
                if (*memory_ == m.name)
                    memory = &m;
            if (!memory) {
                std::string names;
                for (const Memory& m : command_.memories)
                    names += std::string(names.empty() ? "" : ", ") + m.name;
                return "no memory " + *memory_ + " for " + command_.name + " (" + names + ")";
            }
        }
        step_.button = memory->button;
        if (baud_ && !step_.terminalBaud)
            return "--baud is the terminal's rate: give --terminal with it";
        if (baud_)
            step_.terminalBaud = baud_;
        if (step_.button == "ConfigProgram") {
            // The window's saved boxes are no default here: a fresh window's clear NOSEC, and
            // a secured part wipes its EEPROM at its next reset.
            if (!bitsGiven_)
                return "config needs --bits: EEON,ROMON,NOCOP,NOSEC or none";
            if (step_.inputs.config[kNosec] != 1 && !secure_)
                return "--bits without NOSEC secures a part made with the security option: its "
                       "next reset into bootstrap mode erases its EEPROM and CONFIG; add --secure "
                       "to do that";
            // Only a reset shows what the cell holds; a secured part's next bootstrap reset
            // would wipe what it secures, so that one is not asked for.
            step_.readBack = !noVerify_ && step_.inputs.config[kNosec] == 1;
        }
        // The window's own place, when it sends one that no command finds the chip at again.
        if (const unsigned place = static_cast<unsigned>(step_.inputs.sfrPosition) * 0x400;
            step_.button == "XISFR" && !sfrFindable(place))
            return "the window's register block location $" +
                   (place > 0xFFFF ? std::string("10000") : hex4(place)) +
                   " is one where no command finds the companion chip again: give --sfr (" +
                   kSfrPlaces + ")";
        step_.rangeGiven = range_.has_value();
        if (range_) {
            const auto range = parseRange(*range_);
            if (!range)
                return "not a range of whole pages: " + *range_ + " (e.g. B600-B7FF)";
            ops::Inputs& in = step_.inputs;
            if (step_.button == "EpromCheck")
                std::tie(in.epromBegin, in.epromEnd) = *range;
            else if (step_.button == "DumpStart")
                std::tie(in.dumpBegin, in.dumpEnd) = *range;
            else
                std::tie(in.eepromBegin, in.eepromEnd) = *range;
        }
        if (step_.button == "DumpStart" && step_.output.empty())
            step_.output = step_.inputs.dumpFolder / "upload.s19";
        out = std::move(step_);
        return {};
    }

  private:
    const Command& command_;
    Step step_;
    std::optional<std::string> memory_;
    std::optional<std::string> range_;
    bool bitsGiven_ = false;
    bool secure_ = false;
    bool noVerify_ = false;
    std::optional<int> baud_;
};

bool isOption(const std::string& a) {
    return a.size() > 1 && a[0] == '-';
}

// The EEPROM of a named part as it leaves the factory; a movable one sits where its factory
// CONFIG puts it (bits 7-4, $x800).
std::pair<std::string, std::string> eepromRangeOf(const sim::Variant& v) {
    const unsigned base = v.eepromBaseFor(v.factoryConfig);
    return {hex4(base), hex4(base + v.eepromSize - 1)};
}

// Where a job writes and reads the same file it would destroy its own input. A device or a
// pipe read and written (a terminal, /dev/null) loses nothing.
bool samePath(const std::filesystem::path& a, const std::filesystem::path& b) {
    namespace fs = std::filesystem;
    // "-": the standard input as a file, the standard output as -o.
    if (a == "-" || b == "-")
        return false;
    std::error_code ec;
    if (fs::exists(a, ec) && fs::exists(b, ec))
        return fs::equivalent(a, b, ec) && !ec && fs::is_regular_file(a, ec);
    const fs::path ca = fs::weakly_canonical(fs::absolute(a, ec), ec);
    const fs::path cb = fs::weakly_canonical(fs::absolute(b, ec), ec);
    return ca == cb;
}

std::filesystem::path workerOutput(const std::filesystem::path& output, int worker) {
    std::filesystem::path p = output;
    p.replace_filename(output.stem().string() + "-" + std::to_string(worker) +
                       output.extension().string());
    return p;
}

// The usage error when an output of the job is also one of its inputs, or the trace is also
// a dump (appended to as the dump is replaced: one of them would be lost).
std::string outputsOverInputs(const Plan& plan) {
    std::vector<std::filesystem::path> dumps, traces;
    const int copies =
        plan.worker || plan.ports.size() == 1 ? 1 : static_cast<int>(plan.ports.size());
    for (const Step& step : plan.steps) {
        if (step.output.empty())
            continue;
        for (int n = 1; n <= copies; ++n)
            dumps.push_back(copies == 1 ? step.output : workerOutput(step.output, n));
    }
    if (plan.trace)
        for (int n = 1; n <= copies; ++n)
            traces.emplace_back(copies == 1 ? *plan.trace : *plan.trace + "." + std::to_string(n));
    for (const Step& step : plan.steps)
        for (const auto* outputs : {&dumps, &traces})
            for (const std::filesystem::path& out : *outputs)
                if (!step.file.empty() && samePath(step.file, out))
                    return out.string() +
                           " is both read and written by this job: write to another file";
    for (const std::filesystem::path& trace : traces)
        for (const std::filesystem::path& dump : dumps)
            if (samePath(trace, dump))
                return trace.string() +
                       " is both the trace and a dump of this job: write to another file";
    return {};
}

// The usage error when a dump would go where it cannot: among the --json records, or with
// several boards into one device or pipe (each board's file is FILE-N).
std::string dumpsWhereTheyCannotGo(const Plan& plan) {
    namespace fs = std::filesystem;
    for (const Step& step : plan.steps) {
        if (step.output.empty())
            continue;
        if (plan.json && isStandardOutput(step.output))
            return "--json writes its records to the standard output: dump -o " +
                   step.output.string() + " would mix the S-records into them";
        std::error_code ec;
        const fs::file_type type = fs::status(step.output, ec).type();
        if (plan.ports.size() > 1 && (step.output == "-" || type == fs::file_type::character ||
                                      type == fs::file_type::block || type == fs::file_type::fifo))
            return "with several ports, each board's dump goes to a file of its own "
                   "(FILE-N): -o " +
                   step.output.string() + " is no file";
    }
    return {};
}

}  // namespace

std::optional<Exit> exitFromCode(int code) {
    if ((code >= 0 && code <= static_cast<int>(Exit::Usage)) ||
        code == static_cast<int>(Exit::Interrupted) || code == static_cast<int>(Exit::Terminated))
        return static_cast<Exit>(code);
    return std::nullopt;
}

std::string PortChoice::label() const {
    switch (kind) {
        case Kind::Comm:
            return "Comm " + std::to_string(comm);
        case Kind::Device:
            return device;
        case Kind::Virtual:
            return board.empty() ? "virtual board" : "board " + board;
    }
    return {};
}

std::vector<std::string> PortChoice::arguments() const {
    switch (kind) {
        case Kind::Comm:
            return {"--comm", std::to_string(comm)};
        case Kind::Device:
            return {"--port", device};
        case Kind::Virtual:
            if (board.empty())
                return {"--virtual-board"};
            return {"--board", board};
    }
    return {};
}

std::optional<std::pair<std::string, std::string>> parseRange(std::string_view text) {
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos)
        return std::nullopt;
    const auto begin = hexNumber(text.substr(0, dash));
    const auto end = hexNumber(text.substr(dash + 1));
    if (!begin || !end || *begin > 0xFFFF || *end > 0xFFFF || (*begin & 0xFF) != 0 ||
        (*end & 0xFF) != 0xFF || *begin > *end)
        return std::nullopt;
    return std::pair{hex4(*begin), hex4(*end)};
}

Parsed parseCommandLine(const std::vector<std::string>& args, const ops::Inputs& defaults,
                        const std::optional<std::string>& settingsCrystal) {
    Parsed result;
    Plan& plan = result.plan;
    bool crystalGiven = false;
    std::optional<StepBuilder> current;
    auto fail = [&result](std::string text) {
        result.error = std::move(text);
        return result;
    };
    auto closeStep = [&]() -> std::string {
        if (!current)
            return {};
        Step step;
        if (std::string e = current->finish(step); !e.empty())
            return e;
        plan.steps.push_back(std::move(step));
        current.reset();
        return {};
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg.resize(eq);
            }
        }
        // The value of an option: after "=", or the next argument.
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 >= args.size())
                return std::nullopt;
            return args[++i];
        };
        bool isPortOption = false;

        if (!isOption(arg)) {
            if (const Command* c = findCommand(arg)) {
                if (std::string e = closeStep(); !e.empty())
                    return fail(e);
                current.emplace(*c, defaults);
            } else if (current && current->wantsFile()) {
                current->setFile(arg);
            } else if (current) {
                return fail("unexpected argument: " + arg);
            } else {
                return fail("unknown command: " + arg);
            }
            plan.jobArguments.push_back(args[i]);
            continue;
        }

        if (arg == "--help" || arg == "-h") {
            plan.help = true;
            if (current)
                plan.helpCommand = current->command().name;
            continue;
        }
        if (current) {
            const OptionName* known = nullptr;
            for (const OptionName& o : kOptionNames)
                if (arg == o.name && (current->command().options & o.option) != 0)
                    known = &o;
            if (known) {
                const std::size_t first = i;
                std::string v;
                if (known->takesValue) {
                    const auto got = value();
                    if (!got)
                        return fail(arg + " needs a value");
                    v = *got;
                } else if (inlineValue) {
                    return fail(arg + " takes no value");
                }
                if (std::string e = current->option(known->option, v); !e.empty())
                    return fail(e);
                for (std::size_t k = first; k <= i; ++k)
                    plan.jobArguments.push_back(args[k]);
                continue;
            }
        }

        const std::size_t first = i;
        auto addPort = [&](PortChoice::Kind kind, int comm, std::string device, std::string board) {
            PortChoice p;
            p.kind = kind;
            p.comm = comm;
            p.device = std::move(device);
            p.board = std::move(board);
            plan.ports.push_back(std::move(p));
            isPortOption = true;
        };
        if (arg == "--comm") {
            const auto v = value();
            if (!v || v->size() != 1 || (*v)[0] < '1' || (*v)[0] > '4')
                return fail("--comm needs a port number from 1 to 4");
            addPort(PortChoice::Kind::Comm, (*v)[0] - '0', {}, {});
        } else if (arg == "--port") {
            const auto v = value();
            if (!v || v->empty())
                return fail("--port needs a device, e.g. /dev/ttyUSB0");
            addPort(PortChoice::Kind::Device, 1, *v, {});
        } else if (arg == "--virtual-board") {
            addPort(PortChoice::Kind::Virtual, 1, {}, {});
        } else if (arg == "--board") {
            const auto v = value();
            if (!v || !sim::PersistedBoard::validBoardName(*v))
                return fail("--board needs a name of letters, digits, '-' and '_'");
            addPort(PortChoice::Kind::Virtual, 1, {}, *v);
        } else if (arg == "--chip") {
            const auto v = value();
            if (v && (*v == "auto" || *v == "AUTO")) {
                plan.chip.reset();
                plan.chipAuto = true;
                for (std::size_t k = first; k <= i; ++k)
                    plan.jobArguments.push_back(args[k]);
                continue;
            }
            plan.chipAuto = false;
            const sim::Variant* part = v ? sim::PersistedBoard::partNamed(*v) : nullptr;
            if (!part)
                return fail("--chip needs a part: " + std::string(sim::partList()));
            plan.chip = std::string(part->name);
        } else if (arg == "--vpp") {
            plan.programmingVoltage = true;
        } else if (arg == "--fast") {
            plan.fast = true;
        } else if (arg == "--crystal") {
            const auto v = value();
            const auto hz = v ? parseCrystalMHz(*v) : std::nullopt;
            if (!hz)
                return fail("--crystal needs the crystal in MHz from " +
                            std::to_string(kCrystalMinMHz) + " to " +
                            std::to_string(kCrystalMaxMHz) + ", e.g. 7.3728" +
                            (v ? ", not " + *v : std::string()));
            plan.crystalHz = *hz;
            crystalGiven = true;
        } else if (arg == "--trace") {
            const auto v = value();
            if (!v || v->empty())
                return fail("--trace needs a file");
            plan.trace = *v;
            isPortOption = true;
        } else if (arg == "--reset-timeout") {
            const auto v = value();
            int seconds = 0;
            if (!v ||
                std::from_chars(v->data(), v->data() + v->size(), seconds).ptr !=
                    v->data() + v->size() ||
                seconds < 1 || seconds > 3600)
                return fail("--reset-timeout needs seconds from 1 to 3600");
            plan.resetTimeout = std::chrono::seconds(seconds);
        } else if (arg == "--no-wait") {
            plan.noWait = true;
        } else if (arg == "--quiet" || arg == "-q") {
            plan.quiet = true;
        } else if (arg == "--json") {
            plan.json = true;
        } else if (arg == "--worker") {
            const auto v = value();
            if (!v || v->size() > 3 || v->empty() ||
                !std::all_of(v->begin(), v->end(), [](char c) { return c >= '0' && c <= '9'; }) ||
                std::stoi(*v) < 1)
                return fail("--worker needs its place among the ports, from 1");
            plan.worker = std::stoi(*v);
        } else if (arg == "--version") {
            plan.version = true;
        } else {
            return fail("unknown option: " + arg);
        }
        if (!isPortOption && arg != "--worker")
            for (std::size_t k = first; k <= i; ++k)
                plan.jobArguments.push_back(args[k]);
    }
    if (plan.help || plan.version)
        return result;
    if (std::string e = closeStep(); !e.empty())
        return fail(e);
    for (Step& step : plan.steps)
        step.inputs.fast = plan.fast;
    if (!crystalGiven && settingsCrystal) {
        const auto hz = parseCrystalMHz(*settingsCrystal);
        if (!hz)
            return fail(
                "the settings' crystal (group [link], key crystal) is not a crystal in "
                "MHz from " +
                std::to_string(kCrystalMinMHz) + " to " + std::to_string(kCrystalMaxMHz) + ": " +
                *settingsCrystal + "; give --crystal");
        plan.crystalHz = *hz;
    }
    if (plan.chip)
        if (const sim::Variant* v = sim::variantNamed(*plan.chip))
            if (std::string e = ops::crystalRefusal(*v, plan.crystalHz); !e.empty())
                return fail(e);
    if (plan.steps.empty())
        return fail("no command given");
    if (plan.ports.empty())
        plan.ports.push_back({});
    if (plan.noWait && plan.steps.size() > 1)
        return fail(
            "--no-wait runs one command: each further one needs a reset that "
            "--no-wait cannot see");
    if (plan.noWait)
        for (const Step& step : plan.steps)
            if (step.readBack)
                return fail(
                    "config reads CONFIG back after the next reset, which --no-wait cannot see: "
                    "add --no-verify");
    // A monitor session holds this terminal and one board until the user ends it.
    if (std::any_of(plan.steps.begin(), plan.steps.end(),
                    [](const Step& s) { return s.button == kMonitorButton; })) {
        if (plan.steps.size() != 1)
            return fail("monitor is a session of its own: give no other command with it");
        if (plan.ports.size() != 1)
            return fail("monitor runs on one port");
        if (plan.json)
            return fail("monitor writes lines, not JSON records: not with --json");
    }
    if (plan.worker && plan.ports.size() != 1)
        return fail("a worker runs on one port");
    // The terminal holds this terminal's input and output: one board, and the job's end.
    for (std::size_t k = 0; k < plan.steps.size(); ++k)
        if (plan.steps[k].terminalBaud && (k + 1 != plan.steps.size() || plan.ports.size() != 1))
            return fail("--terminal ends the job on one port: give it to the last command only");
    if (plan.json && !plan.steps.empty() && plan.steps.back().terminalBaud)
        return fail(
            "--terminal writes what the HC11 sends to the standard output: not with --json");
    // Boards dumped side by side must not write over each other's file: each worker's file
    // gets its place before the extension (upload-2.s19).
    if (!plan.worker)
        if (std::string e = dumpsWhereTheyCannotGo(plan); !e.empty())
            return fail(e);
    if (plan.worker)
        for (Step& step : plan.steps)
            if (!step.output.empty())
                step.output = workerOutput(step.output, plan.worker);
    if (std::string e = outputsOverInputs(plan); !e.empty())
        return fail(e);
    // A start address the window saved is checked as --start is, before any reset: after it,
    // the operation would refuse it with the reset used up.
    for (const Step& step : plan.steps)
        if (step.button == "ExtRam" && !ops::readStartAddress(step.inputs.startAddress))
            return fail(startAddressRefusal(step.inputs.startAddress));
    // A named part's EEPROM is where its data is; the window's saved range is for its own part.
    if (plan.chip)
        if (const sim::Variant* v = sim::variantNamed(*plan.chip))
            for (Step& step : plan.steps) {
                if (step.rangeGiven)
                    continue;
                ops::Inputs& in = step.inputs;
                if (step.button == "EepromCheck" || step.button == "EepromErase")
                    std::tie(in.eepromBegin, in.eepromEnd) = eepromRangeOf(*v);
                else if (step.button == "DumpStart")
                    std::tie(in.dumpBegin, in.dumpEnd) = eepromRangeOf(*v);
            }
    if (plan.chip)
        if (const sim::Variant* v = sim::variantNamed(*plan.chip))
            if (std::string e = partRefusal(*v, std::nullopt, plan.steps); !e.empty())
                return fail(e);
    for (const Step& step : plan.steps)
        if (const auto no =
                ops::talkerRefusal(step.button, step.inputs, SciClock(plan.crystalHz).eHz()))
            return fail("'" + step.command + (step.inputs.fast ? "' with --fast" : "'") +
                        " is refused: " + no->reason);
    for (std::size_t a = 0; a < plan.ports.size(); ++a)
        for (std::size_t b = a + 1; b < plan.ports.size(); ++b)
            if (plan.ports[a] == plan.ports[b])
                return fail("the port " + plan.ports[a].label() + " is named twice");
    return result;
}

std::string generalHelp() {
    std::string text =
        "Usage: kestro-cli [options] COMMAND [FILE] [command options] [COMMAND ...]\n"
        "\n"
        "Runs Kestro's operations on a 68HC11 in bootstrap mode from a shell. Several commands\n"
        "run in order, each after its own reset of the HC11; the first whose exit code is not 0\n"
        "ends the job. A FILE of - is the standard input.\n"
        "\n"
        "Commands (kestro-cli COMMAND --help for each one's options):\n";
    for (const Command& c : commands()) {
        std::string name = std::string("  ") + c.name + (c.needsFile ? " FILE" : "");
        name.resize(std::max<std::size_t>(name.size() + 1, 20), ' ');
        text += name + c.summary + "\n";
    }
    text +=
        "\n"
        "Ports (default Comm 1):\n"
        "  --comm N              Comm N as the window maps it (settings group [ports])\n"
        "  --port DEVICE         a serial device, e.g. /dev/ttyUSB0; give several to run the\n"
        "                        same job on every board at once\n"
        "  --virtual-board       the window's virtual HC11 board and its saved memories\n"
        "  --board NAME          a named virtual board with memories of its own (several\n"
        "                        at once for tests and demonstrations)\n"
        "  --chip PART           the part: A0, A1, A8, E0, E1, E9, E20, 711E9, 711E20,\n"
        "                        811E2 or F1 (a virtual board of another part starts\n"
        "                        from the factory state; an operation on a memory the\n"
        "                        part lacks is refused), or auto: the part identify\n"
        "                        finds, after one reset more\n"
        "  --vpp                 +12 V on the virtual board's XIRQ/VPPE, to program the EPROM\n"
        "  --trace FILE          append every byte each way to FILE (FILE.N for board N)\n"
        "  --fast                every job but the link test in binary blocks, each checked,\n"
        "                        at the highest rate the adapter and the HC11 share\n"
        "  --crystal MHZ         the HC11's crystal in MHz, e.g. 7.3728 (default 8, or the\n"
        "                        settings' [link] crystal): every rate on the line follows\n"
        "                        it, and a virtual board runs from it\n"
        "\n"
        "Readiness:\n"
        "  --reset-timeout SEC   how long to wait for each reset break of the HC11, config's\n"
        "                        second one included (default 60)\n"
        "  --no-wait             take the HC11 as just reset, for adapters that cannot report\n"
        "                        a break; one command only (config with --no-verify).\n"
        "                        A virtual board is reset by kestro-cli itself.\n"
        "\n"
        "Output:\n"
        "  -q, --quiet           no prompts, progress or verdicts; errors only\n"
        "  --json                one JSON record per command on standard output: operation,\n"
        "                        port, verdict, exit, bytes (the memory bytes the file\n"
        "                        carries, or the dump's range), seconds (with --fast: baud;\n"
        "                        for a refusal or failure that has a reason: detail)\n"
        "  -h, --help            this help\n"
        "  --version             the version\n"
        "\n"
        "Exit codes (with several boards, the highest wins):\n"
        "  0  success\n"
        "  1  a difference found (compare), or data found (status)\n"
        "  2  the target reported an error (CONFIG not read back as sent included)\n"
        "  3  no reset seen, no answer from the HC11, the HC11 reset during the job, or the\n"
        "     end of the job (the program's start) not confirmed by the HC11\n"
        "  4  the talker download was not echoed\n"
        "  5  file error: a missing or unreadable file, not a file for the HC11, a dump not "
        "written\n"
        "  6  port error: a port that cannot be opened or failed\n"
        "  7  usage error\n"
        "  130  interrupted by Ctrl-C (SIGINT)\n"
        "  143  ended by SIGTERM or SIGHUP\n"
        "Ctrl-C ends a job at once and says what may be partly done; a second Ctrl-C ends\n"
        "kestro-cli without that.\n";
    return text;
}

std::string commandHelp(std::string_view name) {
    const Command* c = findCommand(name);
    if (!c)
        return {};
    std::string text = std::string("Usage: kestro-cli [options] ") + c->name +
                       (c->needsFile ? " FILE" : "") + (c->options ? " [options]" : "") + "\n\n" +
                       c->summary + ".\n";
    if (*c->details)
        text += std::string("\nOptions:\n") + c->details;
    if (c->memories.front().button == std::string_view(kMonitorButton)) {
        text += "\nCommands at the prompt and in a script:\n";
        for (const std::string& line : ops::monitor::helpLines())
            text += "  " + line + "\n";
        text += std::string(ops::monitor::kNumbersNote) + "\n";
    }
    text += "\nkestro-cli --help lists the ports, output options and exit codes.\n";
    return text;
}

}  // namespace kestro::cli
