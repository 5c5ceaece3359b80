// What a script learns from each operation: the real operations and talkers on the virtual
// board in virtual time, their boxes read by the command line's front end into exit codes.
#include <gtest/gtest.h>

#include <fstream>

#include "command_ui.h"
#include "kestro/sim/board/board.h"
#include "operations.h"
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

struct File {
    File(const std::string& name, const std::string& text)
        : path(fs::temp_directory_path() / name) {
        std::ofstream(path, std::ios::binary) << text;
    }
    ~File() { fs::remove(path); }
    fs::path path;
};

TEST(Verdicts, EachOperationsBoxesGiveTheirExitCodes) {
    // Four bytes at $B600, and the same address holding other bytes.
    const File data("kestro-cli-data.s19", "S107B6000102030438\r\nS9030000FC\r\n");
    const File other("kestro-cli-other.s19", "S107B6000102030537\r\nS9030000FC\r\n");
    const File binary("kestro-cli-binary.s19", std::string("\x7f"
                                                           "ELF\x01\x02",
                                                           6));
    Bench bench;
    struct Case {
        const char* button;
        const fs::path* file;
        std::optional<Exit> exit;
    };
    const fs::path none;
    const Case cases[] = {
        {"TestComm", &none, Exit::Success},
        {"EepromCheck", &none, Exit::Success},  // "No Data" on an erased EEPROM
        {"EepromProgram", &data.path, Exit::Success},
        {"EepromCheck", &none, Exit::Found},  // "Data"
        {"EepromCompare", &data.path, Exit::Success},
        {"EepromCompare", &other.path, Exit::Found},
        {"EepromProgram", &other.path, Exit::TargetError},  // a 0 cannot become a 1
        {"EepromErase", &none, Exit::Success},
        {"EepromCompare", &binary.path, Exit::FileError},
        {"ConfigProgram", &none, std::nullopt},  // the window shows no box
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        EXPECT_EQ(bench.run(c.button, *c.file), c.exit);
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
