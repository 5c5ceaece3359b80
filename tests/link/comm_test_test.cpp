// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "bench.h"
#include "operations.h"

namespace kestro {
namespace {

using testing::Bench;

constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz";

void runTestComm(Bench& b) {
    ops::operationFor("TestComm")(b.frameTarget, ops::Inputs{});
}

// Only the alphabet echoed whole, in time and alone is a working link. What the talker sends
// as it starts, while the download's fill byte comes in, is no part of the echo.
TEST(CommTest, JudgesTheEchoOfTheAlphabet) {
    const Message ok{"Communication is OK", kAppTitle, Icon::Exclamation};
    const Message error{"Error in communication", kAppTitle, Icon::Critical};
    using Reply = std::string (*)(Byte);  // what the talker answers to each byte
    const std::tuple<const char*, Reply, Duration, Message> cases[] = {
        {"right echo", [](Byte x) { return std::string(1, x); }, 0ms, ok},
        {"wrong echo", [](Byte x) { return std::string(1, std::toupper(x)); }, 0ms, error},
        {"late echo", [](Byte x) { return x == 'z' ? std::string(kAlphabet) : ""; }, 600ms, error},
        {"no echo", [](Byte) { return std::string(); }, 0ms, error},
        {"extra byte", [](Byte x) { return std::string(1, x) + (x == 'z' ? "!" : ""); }, 0ms,
         error},
        {"greeting as it starts", [](Byte x) { return (x == 0 ? "junk" : "") + std::string(1, x); },
         0ms, ok},
    };
    for (const auto& [what, reply, delay, verdict] : cases) {
        Bench b;
        b.connectAndReset();
        std::string heard;  // what reached the talker after its download
        b.target.talker = [&b, &heard, reply, delay](Byte x) {
            heard.push_back(static_cast<char>(x));
            b.target.after(delay, [&b, r = reply(x)] { b.target.send(std::string_view(r)); });
        };
        runTestComm(b);
        EXPECT_EQ(b.ui.messages, std::vector{verdict}) << what;
        EXPECT_TRUE(std::string_view(heard).ends_with(kAlphabet)) << what << ": " << heard;
    }
}

// A talker that cannot be read or a port that is not open: one box says which, and nothing
// reached the target, which still waits for its talker.
TEST(CommTest, ARunThatCannotSendTheTalkerKeepsTheReset) {
    const std::function<std::string(Bench&)> cases[] = {
        [](Bench& b) {
            std::filesystem::remove(b.talkerDir / "testcom.S19");
            return (b.talkerDir / "testcom.S19").string();
        },
        [](Bench& b) {
            b.port.close();
            return std::string("not open");
        },
    };
    for (const auto& prepare : cases) {
        Bench b;
        b.connectAndReset();
        const std::string says = prepare(b);
        runTestComm(b);
        ASSERT_EQ(b.ui.messages.size(), 1u);
        EXPECT_NE(b.ui.messages[0].text.find(says), std::string::npos) << b.ui.messages[0].text;
        EXPECT_EQ(b.ui.messages[0].icon, Icon::Critical);
        EXPECT_TRUE(b.link.ready());
        EXPECT_TRUE(b.target.received.empty());
    }
}

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
            Bench b;
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
    Bench b;
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
    EXPECT_FALSE(b.link.ready());
    EXPECT_TRUE(b.ui.windowEnabled());
}

// Some adapters pass a break on as a plain NUL, so a NUL alone announces a reset while the link
// is idle; while a run talks to the talker it is data.
TEST(Frame, ALoneNulIsABreakOnlyWhileNoRunTalksToTheTarget) {
    Bench b;
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
