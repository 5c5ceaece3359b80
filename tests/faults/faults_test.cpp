// SPDX-License-Identifier: GPL-3.0-or-later
// One operation of each kind (the buttons of one kind share their code) against the virtual
// board running the real talkers, and a fault at each of its steps: the port lost, the target
// fallen silent, garbage from the target, a break (someone pressed reset), the chosen file gone
// before it is sent (it was read when chosen, so the run goes on), a dump folder that fills up.
// However a run ends, the window comes back usable and captioned as before, at most one box says
// what happened, a target whose reset was used is not shown ready, and no file is half-written.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <map>

#include "station.h"

namespace kestro::sim {
namespace {

using kestro::testing::slurp;
using station::Station;
namespace fs = std::filesystem;

const std::string kPreviousDump = "previous dump\r\n";

struct Operation {
    const char* button;
    Chip chip;
    std::string file;  // the chosen S-record file; empty for none
};

const std::string kEeprom = "S107B6000102030438\r\nS9030000FC\r\n";
const std::string kExternal = "S1078010010203045E\r\nS9030000FC\r\n";
const std::string kRam = "S10720007E2000003A\r\nS9030000FC\r\n";

const Operation kOperations[] = {
    {"TestComm", Chip::E9, ""},           {"EepromCheck", Chip::E9, ""},
    {"EepromProgram", Chip::E9, kEeprom}, {"ExtEEprog", Chip::E9, kExternal},
    {"EepromCompare", Chip::A8, kEeprom}, {"ExtEEcomp", Chip::E9, kExternal},
    {"EepromErase", Chip::E2_811, ""},    {"ConfigProgram", Chip::E9, ""},
    {"ExtRam", Chip::A8, kRam},           {"DumpStart", Chip::E9, ""},
    {"XISDPoff", Chip::E9, ""},           {"XISFR", Chip::E9, ""},
};

enum class Fault { None, PortLost, Silent, Garbage, Break, FileGone, FolderFull };

constexpr const char* kFaultNames[] = {"none",  "port lost", "silent target", "garbage",
                                       "break", "file gone", "folder full"};

// When the program wrote to the port: the first write of each burst begins a step.
struct Steps : PortTrace {
    explicit Steps(const VirtualClock& clock) : clock(clock) {}
    void sent(ByteView) override {
        if (starts.empty() || clock.now() - last > 20ms)
            starts.push_back(clock.now());
        last = clock.now();
    }
    void received(ByteView) override {}
    void breakReceived() override {}
    const VirtualClock& clock;
    std::vector<TimePoint> starts;
    TimePoint last{};
};

// The dump folder fills up: every file the process writes stops at a few bytes.
struct FullDisk {
    FullDisk() {
        std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = 40;
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FullDisk() { ::setrlimit(RLIMIT_FSIZE, &saved); }
    rlimit saved{};
};

struct Outcome {
    std::vector<Message> boxes;
    std::string caption;
    bool ready = false;
    bool disconnected = false;
    bool windowEnabled = false;
    std::vector<TimePoint> steps;     // empty when nothing was written
    std::string upload;               // the dump folder's upload.s19 afterwards
    std::string damaged;              // and a damaged dump written beside it
    std::vector<std::string> strays;  // anything else left in the dump folder
};

Outcome runWith(const Operation& op, Fault fault, TimePoint at) {
    Station s(op.chip);
    const fs::path file = op.file.empty() ? fs::path() : s.file(op.file);
    const fs::path dumps = s.dir.path / "dumps";
    fs::create_directories(dumps);
    std::ofstream(dumps / "upload.s19", std::ios::binary) << kPreviousDump;
    ops::Inputs inputs;
    inputs.dumpBegin = "B600";
    inputs.dumpEnd = "B6FF";
    inputs.dumpFolder = dumps;

    Steps steps(s.clock);
    s.port.setTrace(&steps);
    Transmitter intruder(s.line.toPc);
    std::function<void()> inject = [&] {
        // The boot loader's break holds the line until the host sends: what else comes from
        // the board's side follows it.
        const bool held = s.line.toPc.idleAt() == TimePoint::max();
        if (held && (fault == Fault::Garbage || fault == Fault::Break)) {
            s.clock.schedule(s.clock.now() + 1ms, inject);
            return;
        }
        switch (fault) {
            case Fault::PortLost:
                s.port.pull();
                break;
            case Fault::Silent:
                s.line.toTarget.setReceiver(0, {});
                break;
            case Fault::Garbage:
                // At the port's rate: bytes, not breaks.
                intruder.setBaud(s.port.settings().baud);
                intruder.queue(bytesOf("\x13S1\xFF garbage \r\n"));
                break;
            case Fault::Break:
                intruder.queueBreak(20ms);
                break;
            case Fault::FileGone:
                fs::remove(file);
                break;
            case Fault::None:
            case Fault::FolderFull:
                break;
        }
    };
    s.clock.schedule(at, inject);
    std::optional<FullDisk> full;
    if (fault == Fault::FolderFull)
        full.emplace();
    Outcome o;
    o.boxes = s.run(op.button, inputs, file);
    full.reset();
    s.port.setTrace(nullptr);

    o.caption = s.ui.captions[op.button];
    o.ready = s.link.ready();
    o.disconnected = s.view.disconnected;
    o.windowEnabled = s.ui.windowEnabled();
    o.steps = steps.starts;
    o.upload = slurp(dumps / "upload.s19");
    for (const auto& e : fs::directory_iterator(dumps))
        if (e.path().filename() == "upload.damaged.s19")
            o.damaged = slurp(e.path());
        else if (e.path().filename() != "upload.s19")
            o.strays.push_back(e.path().filename().string());
    return o;
}

void PrintTo(const Operation& op, std::ostream* os) {
    *os << op.button;
}

class EveryStep : public ::testing::TestWithParam<Operation> {};

TEST_P(EveryStep, AFaultEndsTheRunSoundly) {
    const Operation& op = GetParam();
    const Outcome clean = runWith(op, Fault::None, TimePoint::max());
    ASSERT_FALSE(clean.steps.empty());
    ASSERT_FALSE(clean.caption.empty());
    ASSERT_LE(clean.boxes.size(), 1u);
    ASSERT_TRUE(clean.boxes.empty() || clean.boxes[0].icon != Icon::Critical ||
                clean.boxes[0].text.starts_with("Error"))
        << clean.boxes[0].text;

    std::vector<std::pair<Fault, TimePoint>> runs;
    for (const TimePoint step : clean.steps)
        for (Fault f : {Fault::PortLost, Fault::Silent, Fault::Garbage, Fault::Break})
            runs.emplace_back(f, step + 1ms);
    if (!op.file.empty())
        runs.emplace_back(Fault::FileGone, clean.steps.front() + 1ms);
    if (std::string_view(op.button) == "DumpStart")
        runs.emplace_back(Fault::FolderFull, TimePoint::max());

    for (const auto& [fault, at] : runs) {
        SCOPED_TRACE(
            std::string(kFaultNames[static_cast<int>(fault)]) + " at " +
            std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(at).count()) +
            " ms");
        const Outcome o = runWith(op, fault, at);
        EXPECT_TRUE(o.windowEnabled);
        EXPECT_EQ(o.caption, clean.caption);
        ASSERT_LE(o.boxes.size(), 1u);
        for (const Message& m : o.boxes) {
            EXPECT_FALSE(m.text.empty());
            EXPECT_FALSE(m.title.empty());
        }
        // The boot loader took the download's first byte: only a new reset makes it ready.
        EXPECT_FALSE(o.ready);
        EXPECT_TRUE(o.strays.empty()) << o.strays.front();
        // A dump that ended is written whole, whatever the line brought; one that did not
        // leaves the previous file.
        EXPECT_TRUE(o.upload == kPreviousDump || o.upload.ends_with("\r\n")) << o.upload;
        // A damaged dump goes beside the good file, whole, and never replaces it.
        if (!o.damaged.empty()) {
            EXPECT_EQ(o.upload, kPreviousDump);
            EXPECT_TRUE(o.damaged.ends_with("\r\n"));
        }

        // A lost port, a reset under the job and a full folder are each told in a box of their
        // own; the file was read when chosen, so a file gone ends the run as it would have.
        const std::map<Fault, const char*> told = {
            {Fault::PortLost, "virtual port 1 failed: it was lost"},
            {Fault::Break, "The HC11 was reset during the job."},
            {Fault::FolderFull, "upload.s19"}};
        if (fault == Fault::FileGone) {
            EXPECT_EQ(o.boxes, clean.boxes);
        }
        if (told.contains(fault)) {
            ASSERT_EQ(o.boxes.size(), 1u);
            EXPECT_NE(o.boxes[0].text.find(told.at(fault)), std::string::npos) << o.boxes[0].text;
        }
        EXPECT_EQ(o.disconnected, fault == Fault::PortLost);
        if (fault == Fault::FolderFull) {
            EXPECT_EQ(o.boxes[0].icon, Icon::Critical);
            EXPECT_EQ(o.upload, kPreviousDump);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, EveryStep, ::testing::ValuesIn(kOperations),
                         [](const auto& info) { return std::string(info.param.button); });

}  // namespace
}  // namespace kestro::sim
