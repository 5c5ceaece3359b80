// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "bench.h"

namespace kestro {
namespace {

using testing::Bench;

// The first port that opens stays open and its button is checked; a port after Comm 1 runs the
// port change, with its own settings and its pause.
TEST(PortSearch, OpensTheFirstFreePort) {
    Bench b;
    b.port.setOpenResult(1, PortError::InUse);
    b.port.setOpenResult(2, PortError::NoPermission);
    b.link.startupSearch();
    EXPECT_EQ(b.link.portNumber(), 3);
    EXPECT_EQ(b.view.selected, 3);
    EXPECT_EQ(b.port.commPort(), 3);
    EXPECT_TRUE(b.port.isOpen());
    EXPECT_EQ(b.port.settings(), (LineSettings{2400, 'N', 8, 1}));
    EXPECT_EQ(b.clock.now(), Duration{2s});
    EXPECT_TRUE(b.view.messages.empty());
    EXPECT_TRUE(b.view.warnings.empty());
}

// No free port: the search says so and leaves no port chosen. Connect then tries only the Comm
// buttons' ports, never the one beyond them; a port that comes free, by Connect or by choice,
// clears the failure.
TEST(PortSearch, NoFreePortSaysSoAndConnectTriesOnlyTheCommButtons) {
    for (const bool byChoice : {false, true}) {
        Bench b;
        VirtualLine fifth(b.clock);
        b.port.attach(LinkState::kNoPort, fifth);
        for (int n = 1; n <= 4; ++n)
            b.port.setOpenResult(n, n == 4 ? PortError::Absent : PortError::InUse);
        b.link.startupSearch();
        EXPECT_EQ(b.link.portNumber(), LinkState::kNoPort);
        EXPECT_EQ(b.view.messages,
                  (std::vector{Message{"No free CommPort!", "Error", Icon::Exclamation,
                                       "Comm 1: CommPort already in use\nComm 2: CommPort already "
                                       "in use\nComm 3: CommPort already in use\nComm 4: virtual "
                                       "port 4 does not exist"}}));
        EXPECT_EQ(b.view.selected, 1);
        EXPECT_FALSE(b.view.disconnected);

        b.link.connect();
        EXPECT_FALSE(b.port.isOpen());
        EXPECT_TRUE(b.view.disconnected);
        EXPECT_TRUE(b.view.disconnectReason.starts_with(
            "No free CommPort! Comm 1: CommPort already in use; "));

        b.port.setOpenResult(3, PortError::None);
        byChoice ? b.link.changePort(3) : b.link.connect();
        EXPECT_TRUE(b.port.isOpen());
        EXPECT_EQ(b.port.commPort(), 3);
        EXPECT_EQ(b.link.portNumber(), 3);
        EXPECT_EQ(b.view.selected, 3);
        EXPECT_EQ(b.port.settings().baud, byChoice ? 2400 : 1200);
        EXPECT_FALSE(b.view.disconnected);
    }
}

// The warning is up during the pause and gone after it; the group advice only where joining
// the group lets the user in.
TEST(PortChange, FailureFallsBackToTheOldPortAndWarnsForTwoSeconds) {
    using Kind = AccessProblem::Kind;
    const std::tuple<PortError, AccessProblem, std::string> cases[] = {
        {PortError::InUse, {}, "CommPort already in use"},
        {PortError::Absent, {}, "virtual port 3 does not exist"},
        {PortError::NotSerial, {}, "virtual port 3 is not a serial port"},
        {PortError::Io, {}, "virtual port 3 cannot be opened"},
        {PortError::NoPermission,
         {Kind::NotInGroup, "dialout"},
         "No permission to open virtual port 3: add yourself to the dialout group and log in "
         "again"},
        {PortError::NoPermission,
         {Kind::OwnerOnly, "root"},
         "No permission to open virtual port 3: only its owner, root, may use it"},
        {PortError::NoPermission,
         {Kind::ClosedFolder, "/dev/serial"},
         "No permission to open virtual port 3: you may not enter the folder /dev/serial"},
        {PortError::NoPermission, {}, "No permission to open virtual port 3"},
    };
    for (const auto& [error, why, warning] : cases) {
        Bench b;
        b.link.startupSearch();
        b.port.setOpenResult(3, error, why);
        b.clock.schedule(1s, [&b, &warning] { EXPECT_EQ(b.view.warning, warning); });
        b.link.changePort(3);
        EXPECT_EQ(b.clock.now(), Duration{2s});
        EXPECT_FALSE(b.view.warning);
        EXPECT_EQ(b.view.warnings, std::vector<std::string>{warning});
        EXPECT_EQ(b.link.portNumber(), 1);
        EXPECT_TRUE(b.port.isOpen());
    }
}

// The break that made the target ready came on one port: "Ready" lasts only as long as that
// port stays open.
TEST(Readiness, BelongsToThePortThatEarnedIt) {
    const std::tuple<const char*, std::function<void(Bench&)>, bool> cases[] = {
        {"port lost", [](Bench& b) { b.port.pull(); }, false},
        {"disconnect", [](Bench& b) { b.link.disconnect(); }, false},
        {"change to another port", [](Bench& b) { b.link.changePort(2); }, false},
        {"the same port chosen again", [](Bench& b) { b.link.changePort(1); }, true},
        {"failed change, old port reopened",
         [](Bench& b) {
             b.port.setOpenResult(2, PortError::InUse);
             b.link.changePort(2);
         },
         true},
        {"failed change, old port gone too",
         [](Bench& b) {
             b.port.setOpenResult(2, PortError::InUse);
             b.port.setOpenResult(1, PortError::Absent);
             b.link.changePort(2);
         },
         false},
    };
    for (const auto& [what, act, ready] : cases) {
        SCOPED_TRACE(what);
        Bench b;
        b.connectAndReset();
        act(b);
        EXPECT_EQ(b.link.ready(), ready);
        EXPECT_EQ(b.view.ready, ready);
        b.port.setOpenResult(1, PortError::None);
        // Connecting again asks for a reset and never shows "Ready" beside the prompt.
        b.link.connect();
        EXPECT_TRUE(b.port.isOpen());
        EXPECT_EQ(b.view.ready, ready);
        EXPECT_EQ(b.view.prompt, !ready);
    }
}

// Disconnected shows "Not Ready" without the reset prompt; a second disconnect does nothing; a
// port chosen meanwhile opens while the picture stays, and Connect comes back on it.
TEST(ConnectDisconnect, ShowTheLinkAndNeverTouchAnOpenOrClosedPort) {
    Bench b;
    b.connectAndReset();
    b.link.disconnect();
    EXPECT_FALSE(b.view.ready || b.view.prompt);
    const int refreshes = b.view.refreshes;
    b.link.disconnect();
    EXPECT_EQ(b.view.refreshes, refreshes);
    b.link.changePort(2);
    EXPECT_TRUE(b.port.isOpen() && b.view.disconnected);
    b.port.close();
    b.link.connect();
    EXPECT_TRUE(b.port.isOpen());
    EXPECT_EQ(b.port.commPort(), 2);
    EXPECT_EQ(b.port.settings().baud, 1200);
    EXPECT_FALSE(b.view.disconnected);
    EXPECT_TRUE(b.view.prompt);
}

TEST(Timer, TicksEveryHalfSecondWhileEnabled) {
    Bench b;
    b.link.setTimerEnabled(true);
    b.clock.advance(1600ms);
    EXPECT_EQ(b.link.ticks(), 3);
    b.link.resetTicks();
    b.link.setTimerEnabled(false);
    b.clock.advance(2s);
    EXPECT_EQ(b.link.ticks(), 0);
}

}  // namespace
}  // namespace kestro
