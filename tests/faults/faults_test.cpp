// SPDX-License-Identifier: GPL-3.0-or-later
// One operation of each kind (the buttons of one kind share their code) against the virtual
// board running the real talkers, and a fault at each of its steps: the port lost, the target
// fallen silent, garbage from the target, a break (someone pressed reset), the chosen file gone
// before it is sent (it was read when chosen, so the run goes on), a dump folder that fills up.
// However a run ends, the window comes back usable and captioned as before, at most one box says
// what happened, a target whose reset was used is not shown ready, and no file is half-written.
// Every job's end is confirmed by its talker: a target fallen silent at any step is a failure,
// never a success.
//
// Every button again through the fast protocol, where the registry gives it a fast form: with
// a block damaged on the line either way, a talker that hangs after its download and an adapter
// that refuses or misses the fast rates besides. The blocks are checked and answered, so a
// damage or garbage is sent again and changes nothing; a talker that stops is told within a
// second, never taken for a verdict.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <map>
#include <set>

#include "fast_link.h"
#include "sci_rates.h"
#include "station.h"

namespace kestro::sim {
namespace {

using kestro::testing::slurp;
using station::Station;
namespace fs = std::filesystem;

const std::string kPreviousDump = "previous dump\r\n";

// The boxes of jobs that went well; the others end well without one.
const std::set<std::string> kSuccesses = {
    "Communication is OK", "Eeprom is program", "Eprom is program", "File equal Eeprom",
    "File equal Eprom",    "Eeprom Erase",      "No Data"};

struct Operation {
    const char* button;
    Chip chip;
    std::string file;  // the chosen S-record file; empty for none
};

const std::string kEeprom = "S107B6000102030438\r\nS9030000FC\r\n";
const std::string kExternal = "S1078010010203045E\r\nS9030000FC\r\n";

// What a button needs: these a chip or a file of their own, the others an E9 and no file. The
// EPROM's range is kept to one block.
const Operation kSetUps[] = {
    {"EepromProgram", Chip::E9, kEeprom},
    {"EepromCompare", Chip::A8, kEeprom},
    {"EpromProgram", Chip::E9_711, "S107D000A55A0F0F0B\r\nS9030000FC\r\n"},
    {"EpromCompare", Chip::E9_711, "S107D000FFFFFFFF2C\r\nS9030000FC\r\n"},
    {"EpromCheck", Chip::E9_711, ""},
    {"ExtEEprog", Chip::E9, kExternal},
    {"ExtEEcomp", Chip::E9, kExternal},
    {"Xiprog", Chip::E9, "S107E400010203040A\r\nS9030000FC\r\n"},
    {"Xicomp", Chip::E9, "S107E400FFFFFFFF18\r\nS9030000FC\r\n"},
    {"EepromErase", Chip::E2_811, ""},
    {"ExtRam", Chip::A8, "S10720007E2000003A\r\nS9030000FC\r\n"},
};

Operation setUp(const char* button) {
    for (const Operation& s : kSetUps)
        if (std::string_view(button) == s.button)
            return {button, s.chip, s.file};
    return {button, Chip::E9, ""};
}

struct Case {
    Operation op;
    bool fast;
};

// One button of each kind for the default path (the buttons of a kind share their steps), then
// every button the program has through the fast protocol: which of them has a fast form is the
// registry's answer when it runs.
std::vector<Case> cases() {
    std::vector<Case> all;
    for (const char* button :
         {"TestComm", "EepromCheck", "EepromProgram", "ExtEEprog", "EepromCompare", "ExtEEcomp",
          "EepromErase", "ConfigProgram", "ExtRam", "DumpStart", "XISDPoff", "XISFR"})
        all.push_back({setUp(button), false});
    using Unit = std::vector<ops::ButtonOperation> (*)();
    for (Unit unit :
         {ops::commTestOperations, ops::statusCheckOperations, ops::programCompareOperations,
          ops::eepromEraseOperations, ops::configOperations, ops::ramDownloadOperations,
          ops::memoryDumpOperations, ops::xicorOperations})
        for (const ops::ButtonOperation& b : unit())
            all.push_back({setUp(b.button.data()), true});
    return all;
}

enum class Fault {
    None,
    PortLost,
    Silent,
    Garbage,
    Break,
    FileGone,
    FolderFull,
    // The fast protocol's own
    DamagedRequest,     // a byte more in a request, as noise on the line makes one
    DamagedAnswer,      // and in an answer
    Hung,               // the talker stops: its RAM overwritten by branches to themselves
    RateRefused,        // the adapter sets no rate but 1200
    RateOff,            // the adapter sets every fast rate 6 % low, beyond the SCI's tolerance
    LoaderRateRefused,  // the adapter refuses the boot loader's 7812 alone
    DamagedEcho,        // the boot loader's echo of the download comes with a bit changed
};

constexpr const char* kFaultNames[] = {
    "none",          "port lost",   "silent target",   "garbage",        "break",
    "file gone",     "folder full", "damaged request", "damaged answer", "hung talker",
    "rates refused", "rates off",   "7812 refused",    "damaged echo"};

// When the program wrote to the port: the first write of each burst begins a step, and once the
// fast protocol's first request (the ping after the download) has gone, every request does. A
// fault comes within the step's first character. Also at which rates bytes went.
struct Steps : PortTrace {
    Steps(const VirtualClock& clock, const SerialPort& port) : clock(clock), port(port) {}
    void sent(ByteView bytes) override {
        if (starts.empty() || ping || clock.now() - last > 20ms)
            starts.push_back(clock.now() +
                             std::min<Duration>(1ms, characterTime(port.settings().baud) / 2));
        last = clock.now();
        rates.insert(port.settings().baud);
        wire.insert(wire.end(), bytes.begin(), bytes.end());
        for (const Bytes& p : kPings)
            if (!ping && wire.size() >= p.size() &&
                std::equal(p.begin(), p.end(), wire.end() - static_cast<std::ptrdiff_t>(p.size())))
                ping = starts.back();
    }
    void received(ByteView) override {}
    void breakReceived() override {}
    void rateChanged(int, int inForce, bool) override {
        if (onRate)
            onRate(inForce);
    }
    std::function<void(int)> onRate;
    const VirtualClock& clock;
    const SerialPort& port;
    std::vector<TimePoint> starts;  // where a fault comes in each step
    TimePoint last{};
    std::set<int> rates;
    Bytes wire;
    std::optional<TimePoint> ping;  // the step that began with it
    // With either check: the programming talkers' blocks carry a CRC-8.
    const Bytes kPings[2] = {fast::request(fast::kPing, 0, 0),
                             fast::request(fast::kPing, 0, 0, {}, fast::Check::Crc8)};
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
    std::vector<std::string> done;  // what a job that ends without a box said it did
    ops::Inputs inputs;
    TimePoint ended{};
    std::string caption;
    bool ready = false;
    bool disconnected = false;
    bool windowEnabled = false;
    std::vector<TimePoint> steps;     // empty when nothing was written
    std::string upload;               // the dump folder's upload.s19 afterwards
    std::string damaged;              // and a damaged dump written beside it
    std::vector<std::string> strays;  // anything else left in the dump folder
    std::set<int> rates;              // at which the program sent
    std::optional<TimePoint> ping;    // the fast protocol's first step
};

Outcome runWith(const Operation& op, bool fast, Fault fault, TimePoint at) {
    Station s(op.chip);
    s.board.setProgrammingVoltage(true);
    const fs::path file = op.file.empty() ? fs::path() : s.file(op.file);
    const fs::path dumps = s.dir.path / "dumps";
    fs::create_directories(dumps);
    std::ofstream(dumps / "upload.s19", std::ios::binary) << kPreviousDump;
    ops::Inputs inputs;
    inputs.dumpBegin = "B600";
    inputs.dumpEnd = "B6FF";
    inputs.dumpFolder = dumps;
    inputs.epromBegin = "D000";
    inputs.epromEnd = "D0FF";
    inputs.fast = fast;
    if (fault == Fault::RateRefused)
        s.inner.setAdapter(
            [](int asked) { return asked == 1200 ? std::optional(asked) : std::nullopt; });
    if (fault == Fault::RateOff)
        s.inner.setAdapter([](int asked) { return asked == 1200 ? asked : asked / 100 * 94; });
    if (fault == Fault::LoaderRateRefused)
        s.inner.setAdapter([](int asked) {
            return asked == SciClock{}.loaderRate().asked ? std::nullopt : std::optional(asked);
        });
    s.port.damageEcho = fault == Fault::DamagedEcho;

    Steps steps(s.clock, s.port);
    s.inner.setTrace(&steps);
    Transmitter intruder(s.line.toPc);
    Transmitter noise(s.line.toTarget);
    // What the board's side sends goes at the line's rate, as the port changes it.
    steps.onRate = [&intruder](int baud) { intruder.setBaud(baud); };
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
                s.inner.pull();
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
            case Fault::DamagedRequest:
                // The request being sent gets a byte more.
                noise.setBaud(s.port.settings().baud);
                noise.queue(Bytes{0x55});
                break;
            case Fault::DamagedAnswer: {
                // Once a short request has gone (5 or 6 bytes), a byte more where its answer
                // comes (4 or 5 bytes): the 7th character time is in both.
                s.clock.schedule(s.clock.now() + characterTime(s.port.settings().baud, 7),
                                 [&intruder, &s] {
                                     intruder.setBaud(s.port.settings().baud);
                                     intruder.queue(Bytes{0x55});
                                 });
                break;
            }
            case Fault::Hung: {
                s.board.catchUp();
                auto ram = s.board.ram();
                for (std::size_t i = 0; i < ram.size(); ++i)
                    ram[i] = i % 2 ? 0xFE : 0x20;  // BRA * (LDX $20FE, then BRA *, when odd)
                break;
            }
            case Fault::None:
            case Fault::FolderFull:
            case Fault::RateRefused:
            case Fault::RateOff:
            case Fault::LoaderRateRefused:
            case Fault::DamagedEcho:
                break;
        }
    };
    s.clock.schedule(at, inject);
    std::optional<FullDisk> full;
    if (fault == Fault::FolderFull)
        full.emplace();
    Outcome o;
    o.boxes = s.run(op.button, inputs, file);
    o.ended = s.clock.now() - 100ms;  // the station's own wait after the job
    full.reset();
    s.inner.setTrace(nullptr);

    o.done = s.ui.done;
    o.inputs = inputs;
    o.caption = s.ui.captions[op.button];
    o.ready = s.link.ready();
    o.disconnected = s.view.disconnected;
    o.windowEnabled = s.ui.windowEnabled();
    o.steps = steps.starts;
    o.rates = steps.rates;
    o.ping = steps.ping;
    o.upload = slurp(dumps / "upload.s19");
    for (const auto& e : fs::directory_iterator(dumps))
        if (e.path().filename() == "upload.damaged.s19")
            o.damaged = slurp(e.path());
        else if (e.path().filename() != "upload.s19")
            o.strays.push_back(e.path().filename().string());
    return o;
}

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.op.button << (c.fast ? " fast" : "");
}

bool sameEnd(const Outcome& a, const Outcome& b) {
    return a.boxes == b.boxes && a.upload == b.upload && a.damaged == b.damaged &&
           a.caption == b.caption;
}

// Whether the SCI can make the rate the PC sent at (any of its rates, the boot loader's too).
bool sciMakes(int baud) {
    const SciClock sci;
    if (sci.withinTolerance(sci.talkerRate(), baud) || sci.withinTolerance(sci.loaderRate(), baud))
        return true;
    const auto fast = sci.fastRates();
    return std::any_of(fast.begin(), fast.end(),
                       [&](const SciRate& r) { return sci.withinTolerance(r, baud); });
}

class EveryStep : public ::testing::TestWithParam<Case> {};

TEST_P(EveryStep, AFaultEndsTheRunSoundly) {
    const Operation& op = GetParam().op;
    const bool fast = GetParam().fast;
    const Outcome clean = runWith(op, fast, Fault::None, TimePoint::max());
    // Every button that talks to the target has a fast form, but the communication test.
    const bool hasFastForm = std::string_view(op.button) != "TestComm";
    if (fast && !clean.ping) {
        ASSERT_FALSE(hasFastForm) << "no fast request went";
        GTEST_SKIP() << op.button << " has no fast form";
    }
    ASSERT_FALSE(clean.steps.empty());
    // A fast job downloads its talker at the boot loader's 7812 baud; the default path never.
    EXPECT_EQ(clean.rates.contains(SciClock{}.loaderRate().asked), fast);
    ASSERT_FALSE(clean.caption.empty());
    ASSERT_LE(clean.boxes.size(), 1u);
    // A clean run ends with its box, or says what it did where it ends without one.
    EXPECT_EQ(clean.done, clean.boxes.empty() ? std::vector{ops::doneText(op.button, clean.inputs)}
                                              : std::vector<std::string>{});
    ASSERT_TRUE(clean.boxes.empty() || clean.boxes[0].icon != Icon::Critical ||
                clean.boxes[0].text.starts_with("Error"))
        << clean.boxes[0].text;

    std::vector<std::pair<Fault, TimePoint>> runs;
    for (const TimePoint step : clean.steps) {
        for (Fault f : {Fault::PortLost, Fault::Silent, Fault::Garbage, Fault::Break})
            runs.emplace_back(f, step);
        if (fast && step >= *clean.ping)
            for (Fault f : {Fault::DamagedRequest, Fault::DamagedAnswer, Fault::Hung})
                runs.emplace_back(f, step);
    }
    if (!op.file.empty())
        runs.emplace_back(Fault::FileGone, clean.steps.front());
    if (std::string_view(op.button) == "DumpStart")
        runs.emplace_back(Fault::FolderFull, TimePoint::max());
    if (fast)
        for (Fault f : {Fault::RateRefused, Fault::RateOff, Fault::LoaderRateRefused})
            runs.emplace_back(f, TimePoint::max());
    runs.emplace_back(Fault::DamagedEcho, TimePoint::max());

    for (const auto& [fault, at] : runs) {
        SCOPED_TRACE(
            std::string(kFaultNames[static_cast<int>(fault)]) + " at " +
            std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(at).count()) +
            " ms");
        const Outcome o = runWith(op, fast, fault, at);
        EXPECT_TRUE(o.windowEnabled);
        EXPECT_EQ(o.caption, clean.caption);
        ASSERT_LE(o.boxes.size(), 1u);
        // Never a job done beside a failure, and never other than what was asked.
        if (!o.done.empty()) {
            EXPECT_TRUE(o.boxes.empty()) << o.boxes[0].text;
            EXPECT_EQ(o.done, std::vector{ops::doneText(op.button, o.inputs)});
        }
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
        // Nothing goes at a rate the HC11 cannot receive; a download the port cannot make at
        // 7812 goes at 1200.
        for (int baud : o.rates)
            EXPECT_TRUE(sciMakes(baud)) << baud;
        const bool adapter = fault == Fault::RateRefused || fault == Fault::RateOff ||
                             fault == Fault::LoaderRateRefused;
        if (adapter) {
            EXPECT_FALSE(o.rates.contains(SciClock{}.loaderRate().asked));
        }

        // A lost port, a reset under the job and a full folder are each told in a box of their
        // own; the file was read when chosen, so a file gone ends the run as it would have.
        const std::map<Fault, const char*> told = {
            {Fault::PortLost, "virtual port 1 failed: it was lost"},
            {Fault::Break, "The HC11 was reset during the job."},
            {Fault::FolderFull, "upload.s19"},
            {Fault::DamagedEcho, "The talker download was not echoed by the HC11."}};
        if (fault == Fault::FileGone) {
            EXPECT_EQ(o.boxes, clean.boxes);
        }
        if (told.contains(fault)) {
            ASSERT_EQ(o.boxes.size(), 1u);
            EXPECT_NE(o.boxes[0].text.find(told.at(fault)), std::string::npos) << o.boxes[0].text;
        }
        EXPECT_EQ(o.disconnected, fault == Fault::PortLost);
        if (fault == Fault::Silent) {
            ASSERT_EQ(o.boxes.size(), 1u) << "silence taken for a job that ended well";
            EXPECT_FALSE(kSuccesses.contains(o.boxes[0].text)) << o.boxes[0].text;
        }
        if (fault == Fault::FolderFull) {
            EXPECT_EQ(o.boxes[0].icon, Icon::Critical);
            EXPECT_EQ(o.upload, kPreviousDump);
        }

        // Through the fast protocol a block that the line spoilt is sent again, and the run
        // ends as the clean one; a talker that no longer answers after its download is told
        // within a second, and nothing is written.
        const bool spoilt = fault == Fault::Garbage || fault == Fault::DamagedRequest ||
                            fault == Fault::DamagedAnswer;
        // The run request's answer is the talker's last word before it jumps: spoilt, the PC
        // cannot vouch that the program started and says so, and it sends the request only once,
        // for a program may be running.
        const bool lastWord = std::string_view(op.button) == "ExtRam" && at == clean.steps.back();
        const bool recovers = adapter || (spoilt && at >= *clean.ping && !lastWord);
        if (fast && spoilt && at >= *clean.ping) {
            if (lastWord)
                EXPECT_EQ(o.steps.size(), clean.steps.size()) << "the run request went again";
            else
                EXPECT_GT(o.steps.size(), clean.steps.size()) << "nothing was sent again";
        }
        if (fast && recovers) {
            EXPECT_TRUE(sameEnd(o, clean))
                << (o.boxes.empty() ? "no box" : o.boxes[0].text)
                << "; clean: " << (clean.boxes.empty() ? "no box" : clean.boxes[0].text);
        }
        const bool stopped = fault == Fault::Hung || (fault == Fault::Silent && at >= *clean.ping);
        if (fast && stopped) {
            ASSERT_EQ(o.boxes.size(), 1u);
            const std::set<std::string> said = {
                fast::kStoppedAnswering, "The HC11 sent nothing, so upload.s19 was not written.",
                "The HC11 did not confirm the start of the program."};
            EXPECT_TRUE(said.contains(o.boxes[0].text)) << o.boxes[0].text;
            EXPECT_LT(o.ended - at, 1s);
            EXPECT_EQ(o.upload, kPreviousDump);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, EveryStep, ::testing::ValuesIn(cases()), [](const auto& info) {
    return std::string(info.param.op.button) + (info.param.fast ? "_fast" : "");
});

}  // namespace
}  // namespace kestro::sim
