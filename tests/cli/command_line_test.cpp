// SPDX-License-Identifier: GPL-3.0-or-later
// The command line as a user types it: which operations it plans, with which of the window's
// inputs, on which ports; and what it refuses. What it is not told it takes from the window's
// settings store.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "command_line.h"
#include "settings_inputs.h"

namespace kestro::cli {
namespace {

// What the window's settings give, where they differ from a fresh window.
ops::Inputs windowInputs() {
    ops::Inputs in;
    in.dumpFolder = "/work";
    in.config = {1, 1, 1, 1};
    in.sfrPosition = 0;
    return in;
}

Parsed parse(std::vector<std::string> args) {
    return parseCommandLine(args, windowInputs());
}

// A step in one line: its operation, its files, and the inputs it has other than those given.
std::string describe(const Step& s, const ops::Inputs& given) {
    const auto fields = [](const ops::Inputs& in) {
        std::string config, bpr;
        for (const int bit : in.config)
            config += std::to_string(bit);
        for (const bool block : in.bpr)
            bpr += block ? '1' : '0';
        return std::vector<std::string>{"eeprom " + in.eepromBegin + "-" + in.eepromEnd,
                                        "eprom " + in.epromBegin + "-" + in.epromEnd,
                                        "dump " + in.dumpBegin + "-" + in.dumpEnd,
                                        "config " + config,
                                        in.config5Text,
                                        "start " + in.startAddress,
                                        "sfr " + std::to_string(in.sfrPosition),
                                        "eem " + in.eemMapText,
                                        in.eemRes ? "reset-high" : "",
                                        in.eemLam ? "pb-lam" : "",
                                        "bpr " + bpr};
    };
    std::string text = s.button;
    if (s.readBack)
        text += " read-back";
    if (!s.file.empty())
        text += " " + s.file.string();
    if (!s.output.empty())
        text += " -> " + s.output.string();
    const std::vector<std::string> mine = fields(s.inputs), theirs = fields(given);
    for (std::size_t i = 0; i < mine.size(); ++i)
        if (mine[i] != theirs[i])
            text += " " + mine[i];
    return text;
}

TEST(CommandLine, PlansTheOperationsOfTheWindowsButtons) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"status"}, "EepromCheck"},
        {{"status", "--memory", "eprom", "--range", "d000-d0ff"}, "EpromCheck eprom D000-D0FF"},
        // The range option before the memory that decides where it goes.
        {{"status", "--range=B600-B6FF", "--memory=eeprom"}, "EepromCheck eeprom B600-B6FF"},
        {{"program", "a.s19", "--memory", "xicor"}, "Xiprog a.s19"},
        {{"compare", "a.s19", "--memory", "ext"}, "ExtEEcomp a.s19"},
        {{"erase", "--range", "B700-B7FF"}, "EepromErase eeprom B700-B7FF"},
        // CONFIG read back after the next reset, unless told not to or secured (a secured
        // part's next bootstrap reset wipes what it secures).
        {{"config", "--bits", "eeon,nocop", "--ee-block", "B800", "--secure"},
         "ConfigProgram config 1010 $B800-$BFFF"},
        {{"config", "--bits", "eeon,nocop", "--ee-block", "$1e00", "--secure"},
         "ConfigProgram config 1010 $1800-$1FFF"},
        {{"config", "--secure", "--bits", "none"}, "ConfigProgram config 0000"},
        {{"config", "--bits", "NOSEC"}, "ConfigProgram read-back config 0001"},
        {{"config", "--bits", "NOSEC", "--no-verify"}, "ConfigProgram config 0001"},
        {{"--no-wait", "config", "--no-verify", "--bits", "NOSEC"}, "ConfigProgram config 0001"},
        {{"ram", "p.s19", "--start", "ffff"}, "ExtRam p.s19 start ffff"},
        {{"ram", "p.s19", "--start", "1"}, "ExtRam p.s19 start 1"},
        {{"ram", "p.s19", "--start=0B60"}, "ExtRam p.s19 start 0B60"},
        {{"dump", "-o", "x/out.s19", "--range", "0000-00FF"},
         "DumpStart -> x/out.s19 dump 0000-00FF"},
        {{"sfr", "--sfr", "$1000"}, "XISFR sfr 4"},
        {{"sfr", "--sfr", "F000"}, "XISFR sfr 60"},
        {{"eem", "--map", "2000", "--reset-high", "--pb-lam"},
         "XIeem eem $2000-$3FFF reset-high pb-lam"},
        {{"bpr", "--protect", "0,7"}, "XIBPR bpr 10000001"},
        // A named part's own EEPROM, wherever --chip stands, unless a range is typed.
        {{"status", "erase", "dump", "--chip", "811E2", "dump", "--range", "0000-00FF"},
         "EepromCheck eeprom F800-FFFF; EepromErase eeprom F800-FFFF; DumpStart -> "
         "/work/upload.s19 dump F800-FFFF; DumpStart -> /work/upload.s19 dump 0000-00FF"},
        {{"--chip", "e9", "status", "--range", "B600-B6FF"}, "EepromCheck eeprom B600-B6FF"},
        {{"--chip", "F1", "status"}, "EepromCheck eeprom FE00-FFFF"},
        // Where CONFIG is unknown, a range at the part's place in any 4 KB page.
        {{"--chip", "F1", "erase", "--range", "3E00-3FFF"}, "EepromErase eeprom 3E00-3FFF"},
        {{"--chip", "711E20", "compare", "f.s19", "--memory", "eprom"}, "EpromCompare f.s19"},
        // Read and written, a device loses nothing.
        {{"program", "/dev/null", "dump", "-o", "/dev/null"},
         "EepromProgram /dev/null; DumpStart -> /dev/null"},
        // A chain, with global options anywhere.
        {{"--board", "a", "erase", "program", "f.s19", "--json", "compare", "f.s19"},
         "EepromErase; EepromProgram f.s19; EepromCompare f.s19"},
    };
    for (const auto& [args, steps] : cases) {
        const Parsed p = parse(args);
        EXPECT_EQ(p.error, "");
        std::string planned;
        for (const Step& step : p.plan.steps)
            planned += (planned.empty() ? "" : "; ") + describe(step, windowInputs());
        EXPECT_EQ(planned, steps);
    }
}

TEST(CommandLine, PortsAndWhatEveryWorkerIsGiven) {
    const Parsed p = parse({"--port", "/dev/ttyUSB0", "program", "f.s19", "--trace", "t.txt",
                            "--port=/dev/ttyUSB1", "--board", "b1", "--comm", "3", "--quiet"});
    ASSERT_EQ(p.error, "");
    std::vector<std::string> labels;
    for (const PortChoice& port : p.plan.ports)
        labels.push_back(port.label());
    EXPECT_EQ(labels,
              (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB1", "board b1", "Comm 3"}));
    EXPECT_EQ(p.plan.trace, "t.txt");
    // The ports and the trace are each worker's own; a worker given its port back plans the
    // same job.
    EXPECT_EQ(p.plan.jobArguments, (std::vector<std::string>{"program", "f.s19", "--quiet"}));
    for (int i = 1; i <= 4; ++i) {
        std::vector<std::string> again = p.plan.jobArguments;
        const PortChoice& port = p.plan.ports[static_cast<std::size_t>(i - 1)];
        for (const std::string& a : port.arguments())
            again.push_back(a);
        again.insert(again.end(), {"--worker", std::to_string(i)});
        const Parsed worker = parse(again);
        EXPECT_EQ(worker.plan.worker, i);
        EXPECT_EQ(worker.plan.ports, std::vector<PortChoice>{port});
    }
    // Boards dumped at once keep a file each.
    EXPECT_EQ(
        parse({"dump", "-o", "d/board.s19", "--board", "b", "--worker", "2"}).plan.steps[0].output,
        "d/board-2.s19");
    EXPECT_EQ(parse({"dump", "--worker", "1", "--board", "b"}).plan.steps[0].output,
              "/work/upload-1.s19");
    EXPECT_EQ(parse({"test"}).plan.ports.front().label(), "Comm 1");
}

// --fast reaches every command wherever it stands, and every worker.
TEST(CommandLine, FastReachesEveryCommandAndEveryWorker) {
    for (const auto& args : {std::vector<std::string>{"--fast", "dump", "compare", "f.s19"},
                             std::vector<std::string>{"dump", "compare", "f.s19", "--fast"}}) {
        const Parsed p = parse(args);
        ASSERT_EQ(p.error, "");
        ASSERT_EQ(p.plan.steps.size(), 2u);
        for (const Step& step : p.plan.steps)
            EXPECT_TRUE(step.inputs.fast) << step.command;
        EXPECT_EQ(std::count(p.plan.jobArguments.begin(), p.plan.jobArguments.end(), "--fast"), 1);
    }
    EXPECT_FALSE(parse({"dump"}).plan.steps[0].inputs.fast);
}

TEST(CommandLine, RefusesWhatItCannotRun) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "no command given"},
        {{"flash"}, "unknown command: flash"},
        {{"test", "--range", "B600-B7FF"}, "unknown option: --range"},
        {{"program"}, "program needs an S-record, Intel HEX or ELF file"},
        {{"test", "extra"}, "unexpected argument: extra"},
        {{"status", "--memory", "ext"}, "no memory ext for status (eeprom, eprom)"},
        {{"erase", "--range", "B601-B7FF"}, "not a range of whole pages"},
        {{"erase", "--range", "B700-B6FF"}, "not a range of whole pages"},
        {{"dump", "--range"}, "--range needs a value"},
        {{"ram", "p.s19", "--start", "10000"}, "Invalid start adress: 10000"},
        // The window's field would read this as $0009; typed on a command line it is a mistake
        // (which texts are: the start address's own rule).
        {{"ram", "p.s19", "--start", "9Z00"}, "Invalid start adress: 9Z00"},
        {{"ram", "p.s19", "--start", "$2000"}, "Invalid start adress: $2000"},
        {{"ram", "p.s19", "--start="}, "Invalid start adress: "},
        {{"config", "--bits", "EEON,FAST"}, "not a CONFIG bit: FAST"},
        {{"config", "--ee-block", "B000"}, "not an EEPROM block"},
        {{"config", "--ee-block", "BE01"}, "not an EEPROM block"},
        // Only where the talkers find the companion chip again, never rounded to it; the
        // window's place too ($0000 in these tests).
        {{"sfr", "--sfr", "1100"}, "not a register block location: 1100 (1000, 2000, ... F000)"},
        {{"sfr", "--sfr", "1400"}, "not a register block location"},
        {{"sfr", "--sfr", "0"}, "not a register block location"},
        {{"sfr", "--sfr", "10000"}, "not a register block location"},
        {{"sfr"}, "the window's register block location $0000 is one where no command finds"},
        {{"eem", "--map", "3000"}, "not an 8 KB block"},
        {{"bpr", "--protect", "8"}, "not a block number: 8"},
        {{"--comm", "5", "test"}, "--comm needs a port number from 1 to 4"},
        {{"--board", "../x", "test"}, "--board needs a name"},
        {{"--chip", "F2", "test"}, "--chip needs a part: A0, A1, A8, E0, E1, E9, E20"},
        {{"--chip", "11A8", "test"}, "--chip needs a part"},
        {{"--chip", "HC711E9", "test"}, "--chip needs a part"},
        {{"--reset-timeout", "0", "test"}, "--reset-timeout needs seconds"},
        // A memory the named part lacks, refused by its name before any reset.
        {{"--chip", "A0", "program", "f.s19"},
         "'program' on the EEPROM is refused: the MC68HC11A0 is sold without EEPROM"},
        {{"test", "erase", "--chip", "e0"}, "the MC68HC11E0 is sold without EEPROM"},
        {{"--chip", "E9", "program", "f.s19", "--memory", "eprom"},
         "'program' on the EPROM is refused: the MC68HC11E9 has no EPROM"},
        {{"--chip", "E1", "status", "--memory", "eprom"}, "the MC68HC11E1 has no EPROM"},
        {{"--chip", "A8", "erase", "--range", "F800-FFFF"},
         "the range $F800-$FFFF is not within the MC68HC11A8's EEPROM at $B600-$B7FF"},
        // No CONFIG puts the F1's 512 bytes below $xE00, nor the 811E2's 2 KB below $x800:
        // the bulk erase would latch an address where the part has none.
        {{"--chip", "F1", "erase", "--range", "F800-FFFF"},
         "the range $F800-$FFFF is not within the MC68HC11F1's EEPROM at $xE00-$xFFF (x from "
         "CONFIG bits 7-4)"},
        {{"--chip", "811E2", "erase", "--range", "B600-B7FF"}, "EEPROM at $x800-$xFFF"},
        // Below E = 1 MHz the fast EEPROM talkers cannot put the pump on its R-C clock: told
        // before the reset, not at the talker download after it.
        {{"--crystal", "3.6864", "--fast", "program", "f.s19"},
         "'program' with --fast is refused: at an E clock of 0.9216 MHz (below 1 MHz)"},
        {{"--crystal", "3.6864", "erase", "--fast"}, "talker fasterase has no room to select"},
        {{"--no-wait", "erase", "test"}, "--no-wait runs one command"},
        {{"--no-wait", "config", "--bits", "NOSEC"}, "which --no-wait cannot see: add --no-verify"},
        {{"test", "--no-verify"}, "unknown option: --no-verify"},
        {{"--board", "a", "--board", "a", "test"}, "named twice"},
        {{"--reset-high", "test"}, "unknown option: --reset-high"},
        // The window's saved boxes clear NOSEC by default: no CONFIG without its bits typed,
        // and none that secures the part without saying so.
        {{"config"}, "config needs --bits"},
        {{"config", "--bits", "EEON,ROMON,NOCOP"}, "add --secure"},
        // An output over an input of the same job, however it is spelled.
        {{"program", "same.s19", "dump", "-o", "same.s19"}, "same.s19 is both read and written"},
        {{"dump", "-o", "x/../f.s19", "program", "./f.s19"}, "is both read and written"},
        {{"compare", "f.s19", "--trace", "f.s19"}, "is both read and written"},
        {{"--board", "a", "--board", "b", "program", "f-2.s19", "dump", "-o", "f.s19"},
         "f-2.s19 is both read and written"},
        {{"dump", "-o", "t.s19", "--trace", "./t.s19"}, "t.s19 is both the trace and a dump"},
        // The records on the standard output are JSON's, and each board's dump is a file.
        {{"--json", "dump", "-o", "-"}, "--json writes its records to the standard output"},
        {{"--json", "dump", "-o", "/dev/stdout"}, "would mix the S-records into them"},
        {{"--board", "a", "--board", "b", "dump", "-o", "-"}, "-o - is no file"},
        {{"--board", "a", "--board", "b", "dump", "-o", "/dev/null"}, "a file of its own"},
        // A monitor session holds the terminal and one board to itself.
        {{"monitor", "test"}, "monitor is a session of its own"},
        {{"--board", "a", "--board", "b", "monitor"}, "monitor runs on one port"},
        {{"--json", "monitor"}, "not with --json"},
        {{"monitor", "--script"}, "--script needs a value"},
    };
    for (const auto& [args, error] : cases) {
        const Parsed p = parse(args);
        EXPECT_NE(p.error.find(error), std::string::npos) << p.error << " for " << error;
    }
    // The window's start address as --start would be: refused before any reset, unless --start
    // stands in for it.
    ops::Inputs saved = windowInputs();
    saved.startAddress = "20 00";
    EXPECT_EQ(parseCommandLine({"ram", "p.s19"}, saved).error,
              parse({"ram", "p.s19", "--start", "20 00"}).error);
    EXPECT_EQ(parseCommandLine({"--fast", "test", "ram", "p.s19"}, saved).error,
              parse({"ram", "p.s19", "--start", "20 00"}).error);
    EXPECT_EQ(parseCommandLine({"ram", "p.s19", "--start", "2000"}, saved).error, "");
    // "-" reads the standard input and writes the standard output: no clash between them.
    EXPECT_EQ(parse({"program", "-", "dump", "-o", "-"}).error, "");
    // The default path's talkers select CSEL, and fastcfg does.
    for (const auto& args : {std::vector<std::string>{"--crystal", "3.6864", "program", "f.s19"},
                             {"--crystal", "3.6864", "--fast", "config", "--bits", "EEON,NOSEC"}})
        EXPECT_EQ(parse(args).error, "") << args[2];
}

// The crystal from --crystal, else from the settings, else 8 MHz; what no part or no HC11 runs
// from is refused before anything is opened, and every worker is given it.
TEST(CommandLine, TheCrystalFromTheOptionOrTheSettings) {
    struct Case {
        std::vector<std::string> args;
        std::optional<std::string> settings;
        std::uint32_t crystal;  // 0: refused
        std::string error;
    };
    const Case cases[] = {
        {{"test"}, std::nullopt, 8'000'000, ""},
        {{"--crystal", "7.3728", "test"}, std::nullopt, 7'372'800, ""},
        {{"test", "--crystal=4.9152"}, std::nullopt, 4'915'200, ""},
        {{"test"}, "4.9152", 4'915'200, ""},
        {{"--crystal", "12", "test"}, "4.9152", 12'000'000, ""},
        {{"--crystal", "12", "test"}, "rubbish", 12'000'000, ""},
        {{"--chip", "A8", "--crystal", "8", "test"}, std::nullopt, 8'000'000, ""},
        {{"test"}, "7,3728", 0, "the settings' crystal (group [link], key crystal) is not"},
        {{"--crystal", "7,3728", "test"}, std::nullopt, 0, "--crystal needs the crystal in MHz"},
        {{"--crystal", "test"}, std::nullopt, 0, "--crystal needs the crystal in MHz"},
        {{"--crystal", "0.5", "test"}, std::nullopt, 0, "from 1 to 40"},
        {{"--chip", "E9", "--crystal", "12", "test"}, std::nullopt, 12'000'000, ""},
        {{"--chip", "A8", "--crystal", "12", "test"},
         std::nullopt,
         0,
         "the MC68HC11A8 runs from a crystal of 8 MHz at the most, not 12 MHz"},
        {{"--chip", "811E2", "test"}, "9.8304", 0, "not 9.8304 MHz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const Parsed p = parseCommandLine(c.args, windowInputs(), c.settings);
        if (c.crystal == 0) {
            EXPECT_NE(p.error.find(c.error), std::string::npos) << p.error;
            continue;
        }
        ASSERT_EQ(p.error, "");
        EXPECT_EQ(p.plan.crystalHz, c.crystal);
        const bool typed = std::count(c.args.begin(), c.args.end(), "--crystal") == 1;
        EXPECT_EQ(std::count(p.plan.jobArguments.begin(), p.plan.jobArguments.end(), "--crystal"),
                  typed ? 1 : 0);
    }
}

// kestro-board takes the same names, so a command line can be copied from one to the other.
TEST(CommandLine, APartByItsShortOrItsFullNameInEitherCase) {
    const std::pair<std::string, std::string> cases[] = {
        {"A8", "MC68HC11A8"},         {"e9", "MC68HC11E9"},           {"711e20", "MC68HC711E20"},
        {"mc68hc11e9", "MC68HC11E9"}, {"MC68HC811E2", "MC68HC811E2"},
    };
    for (const auto& [typed, part] : cases) {
        const Parsed p = parse({"--chip", typed, "test"});
        EXPECT_EQ(p.error, "") << typed;
        EXPECT_EQ(p.plan.chip, part) << typed;
    }
}

TEST(SettingsInputs, TheWindowsStoredValuesAndItsDefaults) {
    QTemporaryDir dir;
    QSettings settings(dir.filePath("kestro.ini"), QSettings::IniFormat);
    Step step;
    step.inputs = inputsFromSettings(settings);
    EXPECT_EQ(describe(step, ops::Inputs{}), "");
    // DumpBegin is not a range the selectors can make: the default stays.
    for (const QString& pair :
         QStringLiteral(
             "EEpromBegin=B700;EpromBegin=E000;EpromEnd=E0FF;DumpBegin=B650;ValueConfig1=1;"
             "ValueConfig4=1;ValueConfig3=x;StartAdress=ffff ;SCsfr=8")
             .split(';'))
        settings.setValue("startup/" + pair.section('=', 0, 0), pair.section('=', 1));
    // The window's fast key is the window's: a script gets the fast mode from --fast only.
    settings.setValue("link/fast", "true");
    step.inputs = inputsFromSettings(settings);
    EXPECT_FALSE(step.inputs.fast);
    EXPECT_EQ(describe(step, ops::Inputs{}),
              " eeprom B700-B7FF eprom E000-E0FF config 1001 start ffff  sfr 8");
}

}  // namespace
}  // namespace kestro::cli
