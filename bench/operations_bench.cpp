// SPDX-License-Identifier: GPL-3.0-or-later
// Every operation through the program's real event loop against the virtual board, timed
// against its floor: the same run in virtual time, which is exactly the line time of the bytes
// on the wire, the waits the operation prescribes and the board's programming time, with no
// cost of its own. A program that sleeps properly stays within 2 % of it.
//
// Every button with a fast form (the registry's answer: a run that sends the fast protocol's
// ping) runs again through the fast protocol, against a floor of its own: the talker download
// at 1200 baud and the settling wait, the line time of every byte that follows at the rate in
// force as it passed (the requests, the answers, their CRCs), the quiet line the rate
// agreement prescribes before each change of rate, and the chip's own programming
// time (10 ms an EEPROM cycle, 2 ms an EPROM byte). It must stay within 1.10 of it. The rate is
// what the run chose, read from the port as each byte went. Then the data phase (all that
// follows the download) through an adapter that goes no higher than 9600 baud, against the
// default path's: at least 6 times faster. And a dump of all 64 KB, at most 10 s.
// Usage: kestro_operations_bench [button...]   (default: every operation)
#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

#include "event_loop_clock.h"
#include "fast_link.h"
#include "kestro/sim/board/board.h"
#include "operations.h"
#include "recorders.h"
#include "sci_rates.h"
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

// The SCI's rate that a port at baud talks to: the faster, where the two differ.
double sciBaud(int baud) {
    for (const SciRate& r : kFastRates)
        if (withinTolerance(r, baud))
            return std::max<double>(baud, sciRate(r.baudRegister));
    return withinTolerance(kSlowRate, baud)
               ? std::max<double>(baud, sciRate(kSlowRate.baudRegister))
               : baud;
}

// Ten bits a character.
Duration lineTime(double baud, std::size_t characters) {
    return std::chrono::nanoseconds(static_cast<std::int64_t>(1e10 * characters / baud));
}

// The line time of what went each way, at the rate in force as it passed: the download (the
// first burst of writes) apart from what follows it. Half-duplex blocks never overlap, so
// their line times add up.
struct Wire : PortTrace {
    Wire(const Clock& clock, const SerialPort& port) : clock(clock), port(port) {}
    void sent(ByteView bytes) override {
        const int baud = port.settings().baud;
        if (!after && (writes == 0 || clock.now() - last <= 20ms)) {
            download += characterTime(baud, static_cast<std::int64_t>(bytes.size()));
            downloadEnd = std::max(downloadEnd, clock.now()) +
                          characterTime(baud, static_cast<std::int64_t>(bytes.size()));
        } else {
            after = true;
            line += characterTime(baud, static_cast<std::int64_t>(bytes.size()));
            fastest = std::max(fastest, baud);
            quietFrom = std::max(quietFrom, clock.now()) +
                        characterTime(baud, static_cast<std::int64_t>(bytes.size()));
        }
        ++writes;
        last = clock.now();
        seen.insert(seen.end(), bytes.begin(), bytes.end());
        ping =
            ping || std::search(seen.begin(), seen.end(), kPing.begin(), kPing.end()) != seen.end();
        if (seen.size() > 64)
            seen.erase(seen.begin(), seen.end() - 8);
    }
    void received(ByteView bytes) override {
        // The boot loader's echo of the download is in before the first request goes. The
        // talker sends at the SCI's own rate (1201.9 baud for 1200), a little faster.
        if (after) {
            line += lineTime(sciBaud(port.settings().baud), bytes.size());
            quietFrom = std::max(quietFrom, clock.now());
        }
    }
    void breakReceived() override {}
    // The rate agreement's prescribed wait: the quiet line before the port changes its rate,
    // while the talker lets its answer leave and switches.
    void rateChanged(int, int, bool) override {
        if (after && clock.now() > quietFrom)
            waits += clock.now() - quietFrom;
        quietFrom = std::max(quietFrom, clock.now());
    }
    const Clock& clock;
    const SerialPort& port;
    const Bytes kPing = fast::request(fast::kPing, 0, 0);
    Bytes seen;
    int writes = 0;
    TimePoint last{};
    bool after = false;
    Duration download{}, line{}, waits{};
    TimePoint quietFrom{};
    TimePoint downloadEnd{};
    int fastest = 0;  // the highest rate at which the program sent after the download
    bool ping = false;
};

struct Run {
    Duration took{};
    std::string verdict;
    bool fast = false;  // the fast protocol's ping went
    int rate = 0;       // the highest rate the program sent at after the download
    Duration floor{};   // download, settling, line time after it, rate waits, programming
    Duration data{};    // from the end of the download to the end of the run
};

struct How {
    bool fast = false;
    int highestRate = 0;  // the adapter refuses rates above it; 0: none
    const char* dumpBegin = "B600";
    const char* dumpEnd = "B6FF";
};

// One run on a fresh board, from the button to the run's end; the same in either time.
template <typename TheClock>
Run runOnce(TheClock& clock, const Operation& op, const fs::path& folder, const How& how) {
    VirtualLine line(clock);
    VirtualPort port(clock);
    port.attach(1, line);
    if (how.highestRate)
        port.setAdapter([max = how.highestRate](int asked) {
            return asked <= max ? std::optional(asked) : std::nullopt;
        });
    Wire wire(clock, port);
    LinkState link(port, clock, clock);
    port.setListener(&link);
    testing::RecordingView view;
    testing::RecordingUi ui;
    link.setView(&view);
    link.startupSearch();
    sim::Board board(clock, line, sim::BoardOptions{op.chip, true, std::chrono::milliseconds(2)});
    board.setProgrammingVoltage(true);
    if (op.file) {
        ui.chooserAnswer = (folder / "chosen.s19").string();
        std::ofstream(ui.chooserAnswer, std::ios::binary) << op.file;
    }
    ops::Inputs inputs;
    inputs.dumpFolder = folder;
    inputs.dumpBegin = how.dumpBegin;
    inputs.dumpEnd = how.dumpEnd;
    inputs.epromBegin = "D000";
    inputs.epromEnd = "D0FF";
    inputs.fast = how.fast;
    board.resetBootstrap();
    clock.sleepFor(std::chrono::milliseconds(100));
    if (!link.ready())
        return {Duration{0}, "no reset seen"};
    Target target{link, ui, KESTRO_ASM_DIR};
    const int eepromCycles = board.eeprom().cyclesCompleted();
    const std::vector<std::uint8_t> eprom(board.eprom().begin(), board.eprom().end());
    port.setTrace(&wire);
    const TimePoint start = clock.now();
    ops::operationFor(op.button)(target, inputs);
    const TimePoint end = clock.now();
    port.setTrace(nullptr);
    board.catchUp();
    std::size_t epromBytes = 0;
    for (std::size_t i = 0; i < eprom.size(); ++i)
        epromBytes += eprom[i] != board.eprom()[i];
    const Duration programming = (board.eeprom().cyclesCompleted() - eepromCycles) * 10ms +
                                 static_cast<std::int64_t>(epromBytes) * 2ms;
    Run r{end - start, ui.messages.empty() ? "(no box)" : ui.messages.back().text};
    r.fast = wire.ping;
    r.rate = wire.fastest;
    r.floor = wire.download + Frame::kSettle + wire.line + wire.waits + programming;
    r.data = end - std::max(start, wire.downloadEnd);
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

    std::printf("## The default path: real time against the same run in virtual time\n");
    std::printf("%-14s %9s %9s %8s  %s\n", "operation", "floor s", "wall s", "ratio", "verdict");
    double worst = 0;
    std::vector<std::pair<const Operation*, Run>> defaults;
    for (const Operation* op : chosen) {
        VirtualClock virtualTime;
        const Run floor = runOnce(virtualTime, *op, folder, How{});
        EventLoopClock realTime;
        const Run wall = runOnce(realTime, *op, folder, How{});
        const double ratio = seconds(wall.took) / seconds(floor.took);
        worst = std::max(worst, ratio);
        std::printf("%-14s %9.3f %9.3f %8.4f  %s%s\n", op->button, seconds(floor.took),
                    seconds(wall.took), ratio, wall.verdict.c_str(),
                    wall.verdict == floor.verdict ? "" : "  (differs in virtual time!)");
        defaults.emplace_back(op, floor);
    }
    std::printf("worst ratio %.4f\n", worst);
    bool met = worst <= 1.02;

    std::printf(
        "\n## The fast protocol: real time against its floor; the data phase at 9600 baud "
        "against the default path's\n");
    std::printf("%-14s %7s %8s %9s %9s %7s  %7s %9s %9s %7s  %s\n", "operation", "baud", "floor s",
                "virtual s", "wall s", "ratio", "baud", "default s", "fast s", "faster", "verdict");
    double worstFast = 0, slowest = 1e9;
    for (const auto& [op, byDefault] : defaults) {
        VirtualClock virtualTime;
        const Run v = runOnce(virtualTime, *op, folder, How{.fast = true});
        if (!v.fast)
            continue;  // no fast form: the default path ran
        EventLoopClock realTime;
        const Run wall = runOnce(realTime, *op, folder, How{.fast = true});
        VirtualClock slowTime;
        const Run at9600 = runOnce(slowTime, *op, folder, How{.fast = true, .highestRate = 9600});
        const double ratio = seconds(wall.took) / seconds(v.floor);
        const double faster = seconds(byDefault.data) / seconds(at9600.data);
        worstFast = std::max(worstFast, ratio);
        slowest = std::min(slowest, faster);
        const bool same = wall.verdict == byDefault.verdict && v.verdict == byDefault.verdict;
        std::printf("%-14s %7d %8.3f %9.3f %9.3f %7.4f  %7d %9.3f %9.3f %7.2f  %s%s\n", op->button,
                    v.rate, seconds(v.floor), seconds(v.took), seconds(wall.took), ratio,
                    at9600.rate, seconds(byDefault.data), seconds(at9600.data), faster,
                    wall.verdict.c_str(), same ? "" : "  (not the default path's!)");
    }
    if (worstFast > 0) {
        std::printf(
            "worst ratio %.4f (at most 1.10), data phase at least %.2f times faster (at "
            "least 6)\n",
            worstFast, slowest);
        met = met && worstFast <= 1.10 && slowest >= 6;
    }

    // All 64 KB, at the rate the run chooses. Through the event loop only where that is quick.
    const bool dumpChosen = std::any_of(chosen.begin(), chosen.end(), [](const Operation* op) {
        return op->button == std::string_view("DumpStart");
    });
    if (dumpChosen) {
        const Operation whole{"DumpStart", sim::Chip::E9, nullptr};
        const How all{.fast = true, .dumpBegin = "0000", .dumpEnd = "FFFF"};
        VirtualClock virtualTime;
        const Run v = runOnce(virtualTime, whole, folder, all);
        std::printf("\n## A dump of all 64 KB through the fast protocol (at most 10 s)\n");
        std::printf("%7d baud: floor %.3f s, virtual %.3f s", v.rate, seconds(v.floor),
                    seconds(v.took));
        double took = seconds(v.took);
        if (v.took < 60s) {
            EventLoopClock realTime;
            const Run wall = runOnce(realTime, whole, folder, all);
            took = seconds(wall.took);
            std::printf(", wall %.3f s, ratio %.4f", took, took / seconds(v.floor));
            met = met && took / seconds(v.floor) <= 1.10;
        } else {
            std::printf(" (not run in real time)");
        }
        std::printf("  %s\n", v.verdict.c_str());
        met = met && v.fast && took <= 10;
    }
    fs::remove_all(folder);
    return met ? 0 : 1;
}
