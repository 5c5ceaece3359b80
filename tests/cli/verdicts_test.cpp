// What a script learns from each operation: the real operations and talkers on the virtual
// board in virtual time, their boxes read by the command line's front end into exit codes.
#include <gtest/gtest.h>

#include "command_ui.h"
#include "kestro/sim/board/board.h"
#include "operations.h"
#include "scratch.h"
#include "virtual_clock.h"
#include "virtual_port.h"

namespace kestro::cli {
namespace {

namespace fs = std::filesystem;

struct Silent final : Reporter {
    void line(Channel, const std::string& text) override { lines.push_back(text); }
    void progress(const std::optional<Transfer>&) override {}
    void record(const RunRecord&) override {}
    std::vector<std::string> lines;
};

struct Bench {
    explicit Bench(bool withBoard = true) {
        port.attach(1, line);
        if (withBoard)
            board.emplace(clock, line, sim::BoardOptions{sim::Chip::E9});
        port.setListener(&link);
        port.setCommPort(1);
        port.open();
    }
    // Runs the operation behind button after a reset; the exit code its boxes give.
    std::optional<Exit> run(std::string_view button, const fs::path& file = {},
                            fs::path talkers = KESTRO_TALKER_DIR) {
        if (board)
            board->resetBootstrap();
        else
            link.portBreak();
        clock.advance(100ms);
        Silent reporter;
        CommandUi ui(reporter, clock, file, 0);
        Target target{link, ui, std::move(talkers)};
        ops::operationFor(button)(target, ops::Inputs{});
        lines = reporter.lines;
        return ui.exit();
    }

    VirtualClock clock;
    VirtualLine line{clock};
    VirtualPort port{clock};
    LinkState link{port, clock, clock};
    std::optional<sim::Board> board;
    std::vector<std::string> lines;
};

TEST(Verdicts, EachOperationsBoxesGiveTheirExitCodes) {
    // Four bytes at $B600, and the same address holding other bytes.
    const testing::ScratchDir scratch;
    const fs::path data = scratch.write("data.s19", "S107B6000102030438\r\nS9030000FC\r\n");
    const fs::path other = scratch.write("other.s19", "S107B6000102030537\r\nS9030000FC\r\n");
    const fs::path binary = scratch.write("binary.s19", "\177ELF\001\002");
    Bench bench;
    const std::tuple<const char*, fs::path, std::optional<Exit>> cases[] = {
        {"TestComm", {}, Exit::Success},
        {"EepromCheck", {}, Exit::Success},  // "No Data" on an erased EEPROM
        {"EepromProgram", data, Exit::Success},
        {"EepromCheck", {}, Exit::Found},  // "Data"
        {"EepromCompare", data, Exit::Success},
        {"EepromCompare", other, Exit::Found},
        {"EepromProgram", other, Exit::TargetError},  // a 0 cannot become a 1
        {"EepromErase", {}, Exit::Success},
        {"EepromCompare", binary, Exit::FileError},
        {"ConfigProgram", {}, std::nullopt},  // the window shows no box
    };
    for (const auto& [button, file, exit] : cases) {
        SCOPED_TRACE(button);
        EXPECT_EQ(bench.run(button, file), exit);
    }
}

TEST(Verdicts, FailuresOfTheLinkAndTheInstallation) {
    Bench noBoard(false);
    EXPECT_EQ(noBoard.run("TestComm"), Exit::NotEchoed);
    Bench bench;
    EXPECT_EQ(bench.run("EepromErase", {}, "/nonexistent"), Exit::FileError);
    // The adapter pulled in the middle of the talker download (before it, the port's loss
    // takes the readiness with it, and the run asks for a reset).
    bench.clock.schedule(bench.clock.now() + 1s, [&] { bench.port.pull(); });
    EXPECT_EQ(bench.run("TestComm"), Exit::PortError);
}

}  // namespace
}  // namespace kestro::cli
