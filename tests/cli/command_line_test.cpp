// The command line as a user types it: which operations it plans, with which of the window's
// inputs, on which ports; and what it refuses.
#include <gtest/gtest.h>

#include "command_line.h"

namespace kestro::cli {
namespace {

Parsed parse(std::vector<std::string> args) {
    ops::Inputs defaults;
    defaults.dumpFolder = "/work";
    return parseCommandLine(args, defaults);
}

struct Planned {
    std::vector<std::string> args;
    std::vector<std::string> buttons;
    // Checks one input of the first step.
    std::function<bool(const Step&)> check = [](const Step&) { return true; };
};

TEST(CommandLine, PlansTheOperationsOfTheWindowsButtons) {
    const Planned cases[] = {
        {{"test"}, {"TestComm"}},
        {{"status"}, {"EepromCheck"}},
        {{"status", "--memory", "eprom", "--range", "d000-ffff"},
         {"EpromCheck"},
         [](const Step& s) {
             return s.inputs.epromBegin == "D000" && s.inputs.epromEnd == "FFFF";
         }},
        // The range option before the memory that decides where it goes.
        {{"status", "--range=B600-B6FF", "--memory=eeprom"},
         {"EepromCheck"},
         [](const Step& s) { return s.inputs.eepromEnd == "B6FF"; }},
        {{"program", "a.s19", "--memory", "xicor"},
         {"Xiprog"},
         [](const Step& s) { return s.file == "a.s19"; }},
        {{"compare", "a.s19", "--memory", "ext"}, {"ExtEEcomp"}},
        {{"program", "--memory", "eprom", "a.s19"}, {"EpromProgram"}},
        {{"erase", "--range", "B700-B7FF"},
         {"EepromErase"},
         [](const Step& s) { return s.inputs.eepromBegin == "B700"; }},
        {{"config", "--bits", "eeon,nocop", "--ee-block", "B800"},
         {"ConfigProgram"},
         [](const Step& s) {
             return s.inputs.config == std::array<int, 4>{1, 0, 1, 0} &&
                    s.inputs.config5Text == "$B800-$BFFF";
         }},
        {{"config", "--bits", "none"},
         {"ConfigProgram"},
         [](const Step& s) { return s.inputs.config == std::array<int, 4>{}; }},
        // The start address is sent as typed.
        {{"ram", "p.s19", "--start", "ffff"},
         {"ExtRam"},
         [](const Step& s) { return s.inputs.startAddress == "ffff"; }},
        {{"dump"}, {"DumpStart"}, [](const Step& s) { return s.output == "/work/upload.s19"; }},
        {{"dump", "-o", "x/out.s19", "--range", "0000-00FF"},
         {"DumpStart"},
         [](const Step& s) { return s.output == "x/out.s19" && s.inputs.dumpBegin == "0000"; }},
        {{"sdp-off"}, {"XISDPoff"}},
        {{"xicor-reset"}, {"XIreset"}},
        {{"sfr", "--sfr", "$1000"},
         {"XISFR"},
         [](const Step& s) { return s.inputs.sfrPosition == 4; }},
        {{"sfr", "--sfr", "10000"},
         {"XISFR"},
         [](const Step& s) { return s.inputs.sfrPosition == 64; }},
        {{"eem", "--map", "2000", "--reset-high", "--pb-lam"},
         {"XIeem"},
         [](const Step& s) {
             return s.inputs.eemMapText == "$2000-$3FFF" && s.inputs.eemRes && s.inputs.eemLam;
         }},
        {{"bpr", "--protect", "0,7"},
         {"XIBPR"},
         [](const Step& s) { return s.inputs.bpr[0] && s.inputs.bpr[7] && !s.inputs.bpr[3]; }},
        // A chain, with global options anywhere.
        {{"--board", "a", "erase", "program", "f.s19", "--json", "compare", "f.s19"},
         {"EepromErase", "EepromProgram", "EepromCompare"}},
    };
    for (const Planned& c : cases) {
        const Parsed p = parse(c.args);
        SCOPED_TRACE(c.args.front());
        ASSERT_EQ(p.error, "");
        std::vector<std::string> buttons;
        for (const Step& s : p.plan.steps)
            buttons.push_back(s.button);
        EXPECT_EQ(buttons, c.buttons);
        EXPECT_TRUE(c.check(p.plan.steps.front()));
    }
}

TEST(CommandLine, PortsAndWhatEveryWorkerIsGiven) {
    const Parsed p = parse({"--port", "/dev/ttyUSB0", "program", "f.s19", "--trace", "t.txt",
                            "--port=/dev/ttyUSB1", "--board", "b1", "--comm", "3", "--quiet"});
    ASSERT_EQ(p.error, "");
    ASSERT_EQ(p.plan.ports.size(), 4u);
    EXPECT_EQ(p.plan.ports[0].label(), "/dev/ttyUSB0");
    EXPECT_EQ(p.plan.ports[2].label(), "board b1");
    EXPECT_EQ(p.plan.ports[3].label(), "Comm 3");
    EXPECT_EQ(p.plan.trace, "t.txt");
    // The ports and the trace are each worker's own.
    EXPECT_EQ(p.plan.jobArguments, (std::vector<std::string>{"program", "f.s19", "--quiet"}));
    // A worker given its port back plans the same job.
    std::vector<std::string> again = p.plan.jobArguments;
    for (const std::string& a : p.plan.ports[2].arguments())
        again.push_back(a);
    again.push_back("--worker");
    again.push_back("3");
    const Parsed worker = parse(again);
    ASSERT_EQ(worker.error, "");
    EXPECT_EQ(worker.plan.worker, 3);
    EXPECT_EQ(worker.plan.ports, std::vector<PortChoice>{p.plan.ports[2]});

    // Three boards dumped at once keep three files.
    const Parsed dump = parse({"dump", "-o", "d/board.s19", "--board", "b", "--worker", "2"});
    ASSERT_EQ(dump.error, "");
    EXPECT_EQ(dump.plan.steps.front().output, "d/board-2.s19");
    EXPECT_EQ(parse({"dump", "--worker", "1", "--board", "b"}).plan.steps.front().output,
              "/work/upload-1.s19");

    const Parsed none = parse({"test"});
    EXPECT_EQ(none.plan.ports.front().label(), "Comm 1");
}

TEST(CommandLine, RefusesWhatItCannotRun) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "no command given"},
        {{"flash"}, "unknown command: flash"},
        {{"--frobnicate", "test"}, "unknown option: --frobnicate"},
        {{"test", "--range", "B600-B7FF"}, "unknown option: --range"},
        {{"program"}, "program needs an S-record file"},
        {{"test", "extra"}, "unexpected argument: extra"},
        {{"status", "--memory", "ext"}, "no memory ext for status (eeprom, eprom)"},
        {{"erase", "--range", "B601-B7FF"}, "not a range of whole pages"},
        {{"erase", "--range", "B700-B6FF"}, "not a range of whole pages"},
        {{"dump", "--range"}, "--range needs a value"},
        {{"ram", "p.s19", "--start", "10000"}, "Invalid start adress: 10000"},
        {{"ram", "p.s19", "--start", "XYZ"}, "Invalid start adress"},
        {{"ram", "p.s19", "--start", "0"}, "Invalid start adress: 0"},
        {{"config", "--bits", "EEON,FAST"}, "not a CONFIG bit: FAST"},
        {{"config", "--ee-block", "B000"}, "not an 811E2 EEPROM block"},
        {{"sfr", "--sfr", "1100"}, "not a register block location"},
        {{"eem", "--map", "3000"}, "not an 8 KB block"},
        {{"bpr", "--protect", "8"}, "not a block number: 8"},
        {{"--comm", "5", "test"}, "--comm needs a port number from 1 to 4"},
        {{"--board", "../x", "test"}, "--board needs a name"},
        {{"--chip", "F1", "test"}, "--chip needs a part"},
        {{"--reset-timeout", "0", "test"}, "--reset-timeout needs seconds"},
        {{"--no-wait", "erase", "test"}, "--no-wait runs one command"},
        {{"--board", "a", "--board", "a", "test"}, "named twice"},
        {{"--reset-high", "test"}, "unknown option: --reset-high"},
    };
    for (const auto& [args, error] : cases) {
        const Parsed p = parse(args);
        EXPECT_NE(p.error.find(error), std::string::npos) << p.error << " for " << error;
    }
}

TEST(CommandLine, HelpForTheProgramAndForEachCommand) {
    const Parsed general = parse({"--help"});
    EXPECT_TRUE(general.plan.help);
    EXPECT_EQ(general.plan.helpCommand, "");
    EXPECT_NE(generalHelp().find("7  usage error"), std::string::npos);

    const Parsed program = parse({"program", "--help"});
    ASSERT_EQ(program.error, "");
    EXPECT_EQ(program.plan.helpCommand, "program");
    EXPECT_NE(commandHelp("program").find("--memory"), std::string::npos);
    EXPECT_EQ(commandHelp("flash"), "");
}

}  // namespace
}  // namespace kestro::cli
