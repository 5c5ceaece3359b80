// SPDX-License-Identifier: GPL-3.0-or-later
// Every operation through the program's real event loop against the virtual board, timed
// against its floor: the same run in virtual time, which is exactly the line time of the bytes
// on the wire, the waits the operation prescribes and the board's programming time, with no
// cost of its own. A program that sleeps properly stays within 2 % of it.
// Usage: kestro_operations_bench [button...]   (default: every operation)
#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "event_loop_clock.h"
#include "kestro/sim/board/board.h"
#include "operations.h"
#include "recorders.h"
#include "virtual_clock.h"
#include "virtual_port.h"

namespace {

using namespace kestro;
namespace fs = std::filesystem;

struct Operation {
    const char* button;
    sim::Chip chip;
    const char* file;  // S-record text to choose, or nullptr
};

// Each run has a fresh board, erased: the programs write, the compares find it erased. The
// companion's EEPROM lies under the E9's ROM until CONFIG turns the ROM off, so Xiprog's
// verdict is its error, found as quickly as a success.
const char* const kEepromPage =
    "S113B600000102030405060708090A0B0C0D0E0FBE\r\nS113B610101112131415161718191A1B1C1D1E1FAE\r\n"
    "S9030000FC\r\n";
const char* const kErasedPage =
    "S113B600FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF46\r\nS113B610FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF36\r\n"
    "S9030000FC\r\n";
const Operation kOperations[] = {
    {"TestComm", sim::Chip::E9, nullptr},
    {"EepromCheck", sim::Chip::E9, nullptr},
    {"EpromCheck", sim::Chip::E9_711, nullptr},
    {"EepromProgram", sim::Chip::E9, kEepromPage},
    {"EepromCompare", sim::Chip::E9, kErasedPage},
    {"EpromProgram", sim::Chip::E9_711, "S107D000A55A0F0F0B\r\nS9030000FC\r\n"},
    {"EpromCompare", sim::Chip::E9_711, "S107D000FFFFFFFF2C\r\nS9030000FC\r\n"},
    {"ExtEEprog", sim::Chip::E9, "S1078010010203045E\r\nS9030000FC\r\n"},
    {"ExtEEcomp", sim::Chip::E9, "S1078010FFFFFFFF6C\r\nS9030000FC\r\n"},
    {"Xiprog", sim::Chip::E9, "S107E400010203040A\r\nS9030000FC\r\n"},
    {"Xicomp", sim::Chip::E9, "S107E400FFFFFFFF18\r\nS9030000FC\r\n"},
    {"EepromErase", sim::Chip::E9, nullptr},
    {"ConfigProgram", sim::Chip::E9, nullptr},
    {"ExtRam", sim::Chip::E9, "S10720007E2000003A\r\nS9030000FC\r\n"},
    {"DumpStart", sim::Chip::E9, nullptr},
    {"XISDPoff", sim::Chip::E9, nullptr},
    {"XIreset", sim::Chip::E9, nullptr},
    {"XISFR", sim::Chip::E9, nullptr},
    {"XIeem", sim::Chip::E9, nullptr},
    {"XIBPR", sim::Chip::E9, nullptr},
};

struct Run {
    Duration took{};
    std::string verdict;
};

// One run on a fresh board, from the button to the run's end; the same in either time.
template <typename TheClock>
Run runOnce(TheClock& clock, const Operation& op, const fs::path& folder) {
    VirtualLine line(clock);
    VirtualPort port(clock);
    port.attach(1, line);
    LinkState link(port, clock, clock);
    port.setListener(&link);
    testing::RecordingView view;
    testing::RecordingUi ui;
    link.setView(&view);
    link.startupSearch();
    sim::Board board(clock, line, sim::BoardOptions{op.chip, true, std::chrono::milliseconds(2)});
    if (op.file) {
        ui.chooserAnswer = (folder / "chosen.s19").string();
        std::ofstream(ui.chooserAnswer, std::ios::binary) << op.file;
    }
    ops::Inputs inputs;
    inputs.dumpFolder = folder;
    inputs.dumpBegin = "B600";
    inputs.dumpEnd = "B6FF";
    board.resetBootstrap();
    clock.sleepFor(std::chrono::milliseconds(100));
    if (!link.ready())
        return {Duration{0}, "no reset seen"};
    Target target{link, ui, KESTRO_ASM_DIR};
    const TimePoint start = clock.now();
    ops::operationFor(op.button)(target, inputs);
    Run r{clock.now() - start, ui.messages.empty() ? "(no box)" : ui.messages.back().text};
    for (char& c : r.verdict)
        if (c == '\r' || c == '\n')
            c = ' ';
    return r;
}

double seconds(Duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::vector<const Operation*> chosen;
    for (const Operation& op : kOperations) {
        bool wanted = argc == 1;
        for (int i = 1; i < argc; ++i)
            wanted = wanted || op.button == std::string_view(argv[i]);
        if (wanted)
            chosen.push_back(&op);
    }
    const fs::path folder =
        fs::temp_directory_path() / ("kestro-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);

    std::printf("%-14s %9s %9s %8s  %s\n", "operation", "floor s", "wall s", "ratio", "verdict");
    double worst = 0;
    for (const Operation* op : chosen) {
        VirtualClock virtualTime;
        const Run floor = runOnce(virtualTime, *op, folder);
        EventLoopClock realTime;
        const Run wall = runOnce(realTime, *op, folder);
        const double ratio = seconds(wall.took) / seconds(floor.took);
        worst = std::max(worst, ratio);
        std::printf("%-14s %9.3f %9.3f %8.4f  %s%s\n", op->button, seconds(floor.took),
                    seconds(wall.took), ratio, wall.verdict.c_str(),
                    wall.verdict == floor.verdict ? "" : "  (differs in virtual time!)");
    }
    std::printf("worst ratio %.4f\n", worst);
    fs::remove_all(folder);
    return worst <= 1.02 ? 0 : 1;
}
