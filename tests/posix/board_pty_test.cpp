// The program's operations through the real termios backend against kestro-board on a
// pseudo-terminal, in real time.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <fstream>

#include "event_loop_clock.h"
#include "operations.h"
#include "recorders.h"
#include "termios_port.h"

namespace kestro {
namespace {

using namespace std::chrono_literals;

// kestro-board in a home of its own, with the device it prints.
struct BoardProcess {
    BoardProcess() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_DATA_HOME", home.path() + "/data");
        process.setProcessEnvironment(env);
        process.start(KESTRO_BOARD, {"--board", "pty-test", "--chip", "MC68HC11A8"});
        if (process.waitForReadyRead(10'000))
            device = process.readLine().trimmed().toStdString();
    }
    ~BoardProcess() {
        process.terminate();
        process.waitForFinished(10'000);
    }
    void reset() { ::kill(static_cast<pid_t>(process.processId()), SIGUSR1); }

    QTemporaryDir home;
    QProcess process;
    std::string device;
};

TEST(BoardOnAPseudoTerminal, RunsTheProgramsOperationsThroughTheTermiosPort) {
    BoardProcess board;
    ASSERT_FALSE(board.device.empty()) << board.process.readAllStandardError().toStdString();

    EventLoopClock clock;
    TermiosPort port([&](int) { return board.device; });
    LinkState link(port, clock, clock);
    testing::RecordingView view;
    testing::RecordingUi ui;
    port.setListener(&link);
    link.setView(&view);
    link.startupSearch();
    ASSERT_TRUE(port.isOpen()) << view.disconnectReason;
    Target target{link, ui, KESTRO_TALKER_DIR};

    const std::string file = board.home.filePath("prog.s19").toStdString();
    std::ofstream(file) << "S10BB600DEADBEEF01020304FC\nS9030000FC\n";
    const std::tuple<const char*, std::string, const char*> steps[] = {
        {"TestComm", "Cancel", "Communication is OK"},
        {"EepromProgram", file, "Eeprom is program"},
        {"EepromCompare", file, "File equal Eeprom"},
    };
    for (const auto& [button, chosen, verdict] : steps) {
        SCOPED_TRACE(button);
        // The board's reset break comes as a lone NUL, which the port takes for a break.
        board.reset();
        ASSERT_TRUE(clock.waitUntil([&] { return link.ready(); }, 10s));
        ui.messages.clear();
        ui.chooserAnswer = chosen;
        ops::operationFor(button)(target, ops::Inputs{});
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, verdict);
        EXPECT_FALSE(link.ready());
    }
    port.close();
    port.setListener(nullptr);
}

}  // namespace
}  // namespace kestro
