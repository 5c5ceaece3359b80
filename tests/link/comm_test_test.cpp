#include <gtest/gtest.h>

#include <optional>

#include "bench.h"
#include "operations.h"
#include "talker_loader.h"

namespace kestro {
namespace {

using testing::Bench;

constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz";

void runTestComm(Bench& b) {
    ops::operationFor("TestComm")(b.frameTarget, ops::Inputs{});
}

void expectEndedAsFrame(Bench& b) {
    EXPECT_FALSE(b.link.ready());
    EXPECT_FALSE(b.view.ready);
    EXPECT_EQ(b.ui.captions["TestComm"], "Test Comm");
    EXPECT_EQ(b.ui.captionLog.front(), "Please Wait");
    EXPECT_EQ(b.ui.enabled, (std::vector<bool>{false, true}));
    EXPECT_FALSE(b.link.operationRunning());
}

struct VerdictCase {
    const char* name;
    std::function<void(Bench&)> script;
    Message verdict;
};

class CommTestVerdict : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(CommTestVerdict, JudgesTheEchoOfTheAlphabet) {
    Bench b;
    b.connectAndReset();
    GetParam().script(b);
    runTestComm(b);
    ASSERT_EQ(b.ui.messages.size(), 1u);
    EXPECT_EQ(b.ui.messages[0], GetParam().verdict);
    expectEndedAsFrame(b);
}

const Message kOk{"Communication is OK", kAppTitle, Icon::Exclamation};
const Message kError{"Error in communication", kAppTitle, Icon::Critical};

INSTANTIATE_TEST_SUITE_P(
    CommTest, CommTestVerdict,
    ::testing::Values(
        VerdictCase{"RightEcho",
                    [](Bench& b) { b.target.talker = [&b](Byte x) { b.target.send(x); }; }, kOk},
        VerdictCase{"WrongEcho",
                    [](Bench& b) {
                        b.target.talker = [&b](Byte x) { b.target.send(Byte(std::toupper(x))); };
                    },
                    kError},
        VerdictCase{"LateEcho",
                    [](Bench& b) {
                        b.target.talker = [&b](Byte x) {
                            if (x == 'z')
                                b.target.after(600ms, [&b] { b.target.send(kAlphabet); });
                        };
                    },
                    kError},
        VerdictCase{"NoEcho", [](Bench&) {}, kError},
        VerdictCase{"ExtraByte",
                    [](Bench& b) {
                        b.target.talker = [&b](Byte x) {
                            b.target.send(x);
                            if (x == 'z')
                                b.target.send(Byte{'!'});
                        };
                    },
                    kError},
        // What the target sends during the download is discarded before the verdict.
        VerdictCase{"NoiseDuringDownloadIgnored",
                    [](Bench& b) {
                        // A talker that greets as it starts, while the fill byte comes in.
                        b.target.talker = [&b, first = true](Byte x) mutable {
                            if (first)
                                b.target.send(std::string_view("junk"));
                            first = false;
                            b.target.send(x);
                        };
                    },
                    kOk}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommTest, PutsTheTalkerThenTheAlphabetOnTheWire) {
    for (std::size_t ram : {256u, 512u}) {
        Bench b;
        b.connectAndReset(ram);
        b.target.talker = [&b](Byte x) { b.target.send(x); };
        runTestComm(b);
        Bytes expected = talkerWireBytes({0xC6, 0x10, 0xFF, 0xAA});
        const Bytes alphabet = bytesOf(kAlphabet);
        expected.insert(expected.end(), alphabet.begin(), alphabet.end());
        EXPECT_EQ(b.target.received, expected) << ram;
        EXPECT_EQ(b.target.framingErrors, 0);
        EXPECT_EQ(b.ui.messages.at(0).text, "Communication is OK") << ram;
    }
}

// Runs that cannot judge the echo: each says why in one box, naming what failed, and gives the
// window back.
struct Failure {
    const char* name;
    std::function<void(Bench&)> prepare;
    std::vector<std::string> says;  // parts of the box's text; "@" stands for the talker folder
    Icon icon;
    bool readyAfter;
    std::optional<std::size_t> bytesSent;
    std::function<void(Bench&)> also = {};
};

void PrintTo(const Failure& f, std::ostream* os) {
    *os << f.name;
}

class CommTestFailure : public ::testing::TestWithParam<Failure> {};

TEST_P(CommTestFailure, SaysWhyAndGivesTheWindowBack) {
    const Failure& f = GetParam();
    Bench b;
    b.connectAndReset();
    b.target.talker = [&b](Byte x) { b.target.send(x); };
    f.prepare(b);
    const std::size_t before = b.ui.messages.size();
    runTestComm(b);
    ASSERT_EQ(b.ui.messages.size(), before + 1);
    const Message& m = b.ui.messages.back();
    for (std::string part : f.says) {
        if (part.starts_with('@'))
            part = b.talkerDir.string() + part.substr(1);
        EXPECT_NE(m.text.find(part), std::string::npos) << m.text;
    }
    EXPECT_EQ(m.icon, f.icon);
    EXPECT_EQ(b.link.ready(), f.readyAfter);
    EXPECT_TRUE(b.ui.windowEnabled());
    EXPECT_EQ(b.ui.captions["TestComm"], "Test Comm");
    if (f.bytesSent) {
        EXPECT_EQ(b.target.received.size(), *f.bytesSent);
    }
    if (f.also)
        f.also(b);
}

INSTANTIATE_TEST_SUITE_P(
    CommTest, CommTestFailure,
    ::testing::Values(
        // The reset is spent on the first run.
        Failure{"SecondRunWithoutReset",
                [](Bench& b) { runTestComm(b); },
                {"Please reset your HC11"},
                Icon::Exclamation,
                false,
                258 + kAlphabet.size()},
        // Nothing more is sent after a download that was not echoed.
        Failure{"DownloadNotEchoed",
                [](Bench& b) { b.target.echoDownload = false; },
                {"The talker download was not echoed by the HC11."},
                Icon::Critical,
                false,
                258,
                [](Bench& b) {
                    EXPECT_NE(b.ui.messages[0].detail.find("reset your HC11"), std::string::npos);
                    expectEndedAsFrame(b);
                }},
        // Nothing is sent, so the target still waits for its talker.
        Failure{"MissingTalker",
                [](Bench& b) { std::filesystem::remove(b.talkerDir / "testcom.S19"); },
                {"@/testcom.S19"},
                Icon::Critical,
                true,
                0},
        // Nothing reached the target either.
        Failure{
            "ClosedPort", [](Bench& b) { b.port.close(); }, {"not open"}, Icon::Critical, true, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommTest, ABreakDuringTheRunShowsReadyUntilTheEnd) {
    Bench b;
    b.connectAndReset();
    b.target.talker = [&b](Byte x) { b.target.send(x); };
    b.link.clearReady();
    b.link.portBreak();
    b.clock.schedule(b.clock.now() + 500ms, [&b] { b.target.sendBreak(); });
    bool readyMidRun = false;
    b.clock.schedule(b.clock.now() + 600ms, [&] { readyMidRun = b.view.ready; });
    runTestComm(b);
    EXPECT_TRUE(readyMidRun);
    EXPECT_FALSE(b.link.ready());
}

}  // namespace
}  // namespace kestro

namespace kestro {
namespace {

// Once a talker download has begun the boot loader no longer waits for one: whatever ends the
// run, the next one needs a new reset. Before it, the target stays ready.
TEST(Frame, EveryEndingLeavesTheWindowUsableAndTheTargetNotReadyOnceTheDownloadBegan) {
    const std::pair<const char*, Frame::Body> endings[] = {
        {"port failure", [](Frame& f) { f.portFailed(PortError::Lost); }},
        {"kept-target error",
         [](Frame&) { throw LinkError("write failed", LinkError::Ending::KeepTarget); }},
        {"unforeseen error", [](Frame&) { throw std::runtime_error("disk full"); }},
        {"body that just returns", [](Frame&) {}},
    };
    for (const bool download : {true, false})
        for (const auto& [name, ending] : endings) {
            SCOPED_TRACE(std::string(name) + (download ? " after the download" : " before it"));
            testing::Bench b;
            b.connectAndReset();
            Frame::run(b.frameTarget, "TestComm", "Test Comm", [&ending, download](Frame& f) {
                if (!f.begin())
                    return;
                if (download)
                    f.downloadTalker("testcom.S19");
                ending(f);
            });
            EXPECT_EQ(b.link.ready(), !download);
            EXPECT_EQ(b.view.prompt, !b.link.ready());
            EXPECT_TRUE(b.ui.windowEnabled());
            EXPECT_FALSE(b.link.operationRunning());
            EXPECT_EQ(b.ui.captions["TestComm"], "Test Comm");
            if (std::string_view(name) == "unforeseen error") {
                EXPECT_EQ(b.ui.messages.at(0), (Message{"disk full", kAppTitle, Icon::Critical}));
            }
        }
}

TEST(Frame, APortThatNeverDrainsEndsTheRunAtItsLimit) {
    testing::Bench b;
    b.connectAndReset();
    b.wire.neverDrains = true;
    const TimePoint start = b.clock.now();
    runTestComm(b);
    // Twice the line time of the 258 bytes queued, and two seconds for an adapter's latency.
    const Duration limit = 2 * characterTime(1200, 258) + 2s;
    EXPECT_GE(b.clock.now() - start, limit);
    EXPECT_LT(b.clock.now() - start, limit + 100ms);
    ASSERT_EQ(b.ui.messages.size(), 1u);
    EXPECT_NE(b.ui.messages[0].text.find("did not send its data in time"), std::string::npos);
    expectEndedAsFrame(b);
}

// Some adapters pass a break on as a plain NUL, so a NUL alone announces a reset while the link
// is idle; while a run talks to the talker it is data.
TEST(Frame, ALoneNulIsABreakOnlyWhileNoRunTalksToTheTarget) {
    testing::Bench b;
    b.link.startupSearch();
    b.target.send(Byte{0});
    b.clock.advance(100ms);
    ASSERT_TRUE(b.link.ready());
    EXPECT_EQ(b.port.inBufferCount(), 0u);

    bool readyAfterNul = true;
    Bytes received;
    Frame::run(b.frameTarget, "TestComm", "Test Comm", [&](Frame& f) {
        if (!f.begin())
            return;
        f.link().clearReady();  // so that a break during the run would show
        b.target.send(Byte{0});
        f.wait(100ms);
        readyAfterNul = f.link().ready();
        received = f.port().input();
        f.cancel();
    });
    EXPECT_FALSE(readyAfterNul);
    EXPECT_EQ(received, Bytes{0});
}

}  // namespace
}  // namespace kestro
