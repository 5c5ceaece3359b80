#include <gtest/gtest.h>

#include "bench.h"

namespace kestro {
namespace {

using testing::Bench;

// The first port that opens stays open and its button is checked; a port after Comm 1 runs the
// port change, with its own settings and its pause.
TEST(PortSearch, OpensTheFirstFreePort) {
    struct Case {
        std::vector<std::pair<int, PortError>> refused;
        int port;
        LineSettings settings;
        Duration took;
    };
    const Case cases[] = {
        {{}, 1, {1200, 'N', 8, 1}, Duration{0}},
        {{{1, PortError::InUse}, {2, PortError::NoPermission}}, 3, {2400, 'N', 8, 1}, 2s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port);
        Bench b;
        for (const auto& [n, error] : c.refused)
            b.port.setOpenResult(n, error);
        b.link.startupSearch();
        EXPECT_EQ(b.link.portNumber(), c.port);
        EXPECT_EQ(b.view.selected, c.port);
        EXPECT_EQ(b.port.commPort(), c.port);
        EXPECT_TRUE(b.port.isOpen());
        EXPECT_EQ(b.port.settings(), c.settings);
        EXPECT_EQ(b.clock.now(), c.took);
        EXPECT_TRUE(b.view.messages.empty());
        EXPECT_FALSE(b.view.warning);
    }
}

TEST(PortSearch, NoFreePortSaysSoAndLeavesPortFive) {
    Bench b;
    for (int n = 1; n <= 4; ++n)
        b.port.setOpenResult(n, PortError::InUse);
    b.port.setOpenResult(4, PortError::Absent);
    b.link.startupSearch();
    EXPECT_EQ(b.link.portNumber(), LinkState::kNoPort);
    ASSERT_EQ(b.view.messages.size(), 1u);
    EXPECT_EQ(b.view.messages[0].text, "No free CommPort!");
    EXPECT_EQ(b.view.messages[0].title, "Error");
    EXPECT_EQ(b.view.messages[0].icon, Icon::Exclamation);
    EXPECT_NE(b.view.messages[0].detail.find("virtual port 4 does not exist"), std::string::npos);
    EXPECT_EQ(b.view.selected, 1);
    EXPECT_FALSE(b.view.disconnected);
}

TEST(PortSearch, ConnectAfterNoFreePortTriesOnlyTheCommButtons) {
    Bench b;
    VirtualLine fifth(b.clock);
    b.port.attach(LinkState::kNoPort, fifth);  // a device no button leads to
    for (int n = 1; n <= 4; ++n)
        b.port.setOpenResult(n, PortError::InUse);
    b.link.startupSearch();

    b.link.connect();
    EXPECT_FALSE(b.port.isOpen());
    EXPECT_TRUE(b.view.disconnected);
    EXPECT_NE(b.view.disconnectReason.find("No free CommPort"), std::string::npos);
    EXPECT_NE(b.view.disconnectReason.find("Comm 4: CommPort already in use"), std::string::npos);

    // Comm 3 comes free: Connect opens it, checks its button and clears the failure.
    b.port.setOpenResult(3, PortError::None);
    b.link.connect();
    EXPECT_TRUE(b.port.isOpen());
    EXPECT_EQ(b.port.commPort(), 3);
    EXPECT_EQ(b.link.portNumber(), 3);
    EXPECT_EQ(b.view.selected, 3);
    EXPECT_EQ(b.port.settings().baud, 1200);
    EXPECT_FALSE(b.view.disconnected);
}

TEST(PortChange, ASuccessfulChoiceClearsAFailureShownBefore) {
    Bench b;
    for (int n = 1; n <= 4; ++n)
        b.port.setOpenResult(n, PortError::InUse);
    b.link.startupSearch();
    b.link.connect();
    ASSERT_TRUE(b.view.disconnected);
    b.port.setOpenResult(2, PortError::None);
    b.link.changePort(2);
    EXPECT_TRUE(b.port.isOpen());
    EXPECT_FALSE(b.view.disconnected);
    EXPECT_EQ(b.view.disconnectReason, "");
}

TEST(PortChange, FailureFallsBackToTheOldPortAndWarnsForTwoSeconds) {
    using Kind = AccessProblem::Kind;
    struct Case {
        PortError error;
        AccessProblem why;
        std::string warning;
    };
    const Case cases[] = {
        {PortError::InUse, {}, "CommPort already in use"},
        {PortError::Absent, {}, "virtual port 3 does not exist"},
        // The group advice only where joining the group lets the user in.
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
    for (const Case& c : cases) {
        Bench b;
        b.link.startupSearch();
        b.port.setOpenResult(3, c.error, c.why);
        // The warning is up during the pause and gone after it.
        b.clock.schedule(1s, [&] { EXPECT_EQ(b.view.warning, c.warning); });
        b.link.changePort(3);
        EXPECT_EQ(b.clock.now(), Duration{2s});
        EXPECT_FALSE(b.view.warning);
        EXPECT_EQ(b.view.warnings, std::vector<std::string>{c.warning});
        EXPECT_EQ(b.link.portNumber(), 1);
        EXPECT_EQ(b.view.selected, 1);
        EXPECT_TRUE(b.port.isOpen());
        EXPECT_EQ(b.port.commPort(), 1);
    }
}

TEST(PortChange, SamePortReopensKeepsReadinessAndWaits) {
    Bench b;
    b.connectAndReset();
    const auto before = b.clock.now();
    b.link.changePort(1);
    EXPECT_EQ(b.clock.now() - before, Duration{2s});
    EXPECT_TRUE(b.port.isOpen());
    EXPECT_TRUE(b.link.ready());
    EXPECT_TRUE(b.view.warnings.empty());
}

// The break that made the target ready came on one port: "Ready" lasts only as long as that
// port stays open.
TEST(Readiness, BelongsToThePortThatEarnedIt) {
    struct Case {
        const char* name;
        std::function<void(Bench&)> act;
        bool ready;
    };
    const Case cases[] = {
        {"port lost", [](Bench& b) { b.port.pull(); }, false},
        {"disconnect", [](Bench& b) { b.link.disconnect(); }, false},
        {"change to another port", [](Bench& b) { b.link.changePort(2); }, false},
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
    for (const Case& c : cases) {
        Bench b;
        b.connectAndReset();
        c.act(b);
        EXPECT_EQ(b.link.ready(), c.ready) << c.name;
        EXPECT_EQ(b.view.ready, c.ready) << c.name;
        b.port.setOpenResult(1, PortError::None);
        // Connecting again asks for a reset and never shows "Ready" beside the prompt.
        b.link.connect();
        EXPECT_TRUE(b.port.isOpen()) << c.name;
        EXPECT_EQ(b.view.ready, c.ready) << c.name;
        EXPECT_EQ(b.view.prompt, !c.ready) << c.name;
    }
}

TEST(ConnectDisconnect, ShowTheLinkAndNeverTouchAnOpenOrClosedPort) {
    Bench b;
    b.connectAndReset();
    b.link.connect();  // already open: nothing
    EXPECT_FALSE(b.view.disconnected);

    b.link.disconnect();
    EXPECT_FALSE(b.port.isOpen());
    EXPECT_TRUE(b.view.disconnected);
    EXPECT_FALSE(b.link.ready());
    EXPECT_FALSE(b.view.ready);
    EXPECT_FALSE(b.view.prompt);  // "Not Ready" without the reset prompt
    const int refreshes = b.view.refreshes;
    b.link.disconnect();  // already closed: nothing
    EXPECT_EQ(b.view.refreshes, refreshes);

    // A port change while disconnected opens the new port; the picture stays.
    b.link.changePort(2);
    EXPECT_TRUE(b.port.isOpen());
    EXPECT_TRUE(b.view.disconnected);
    b.port.close();
    b.link.connect();
    EXPECT_TRUE(b.port.isOpen());
    EXPECT_EQ(b.port.commPort(), 2);
    EXPECT_EQ(b.port.settings().baud, 1200);
    EXPECT_FALSE(b.view.disconnected);
    EXPECT_TRUE(b.view.prompt);
}

TEST(Readiness, ABreakMakesTheTargetReadyAndOnlyABreak) {
    Bench b;
    b.link.startupSearch();
    b.target.send(std::string_view("noise"));
    b.clock.advance(100ms);
    EXPECT_FALSE(b.link.ready());
    b.target.sendBreak();
    b.clock.advance(100ms);
    EXPECT_TRUE(b.link.ready());
    EXPECT_TRUE(b.view.ready);
    EXPECT_FALSE(b.view.prompt);
    b.link.clearReady();
    EXPECT_FALSE(b.view.ready);
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
