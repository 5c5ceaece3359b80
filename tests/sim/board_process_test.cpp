// SPDX-License-Identifier: GPL-3.0-or-later
// The built kestro-board and kestro-cli as a user runs them, each test in a home of its own: one
// program at a time on a board, a --link that never destroys what stands at its path, and the
// terminal of a RAM download.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>

#include "persisted_board.h"
#include "scratch.h"
#include "virtual_clock.h"
#include "virtual_port.h"

#ifdef KESTRO_BOARD

namespace kestro::sim {
namespace {

namespace fs = std::filesystem;

// A program (kestro-board unless told) started with a home of its own and, unless it is to be
// typed to, nothing on its standard input.
class BoardProcess {
  public:
    BoardProcess(const fs::path& home, const std::vector<std::string>& args,
                 const char* program = KESTRO_BOARD, bool typedTo = false) {
        int in[2], out[2], err[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0)
            throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setenv("HOME", home.c_str(), 1);
            ::setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            ::dup2(typedTo ? in[0] : ::open("/dev/null", O_RDONLY), STDIN_FILENO);
            ::close(in[1]);
            std::vector<char*> argv{const_cast<char*>(program)};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(program, argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        in_ = in[1];
        out_ = out[0];
        err_ = err[0];
        if (!typedTo)
            type("");
    }
    ~BoardProcess() {
        if (!ended_)
            end(SIGKILL);
        type("");
        ::close(out_);
        ::close(err_);
    }

    pid_t pid() const { return pid_; }

    // Its standard output up to the first `mark`, or until it ends.
    std::string readUntil(std::string_view mark = {}) {
        std::string text;
        char c = 0;
        pollfd p{out_, POLLIN, 0};
        while ((mark.empty() || !text.ends_with(mark)) && ::poll(&p, 1, 60'000) == 1 &&
               ::read(out_, &c, 1) == 1)
            text.push_back(c);
        return text;
    }
    // The device it prints once it runs; empty when it ended first.
    std::string device() {
        const std::string line = readUntil("\n");
        return line.substr(0, line.find('\n'));
    }
    // Writes text to its standard input, which then ends.
    void type(const std::string& text) {
        if (in_ < 0)
            return;
        (void)!::write(in_, text.data(), text.size());
        ::close(std::exchange(in_, -1));
    }
    // Ends it with the signal and returns its exit code (-1 when the signal ended it).
    int end(int signal = SIGTERM) {
        ::kill(pid_, signal);
        return wait();
    }
    // Its exit code once it ends by itself; -2 when it is still running after 30 s (then it
    // is killed).
    int wait() {
        int status = 0;
        for (int i = 0; i < 3000 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
            ::usleep(10'000);
        if (::waitpid(pid_, &status, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            ended_ = true;
            return -2;
        }
        ended_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string errors() {
        std::string text;
        char buffer[512];
        pollfd p{err_, POLLIN, 0};
        ssize_t n = 0;
        while (::poll(&p, 1, 100) == 1 && (n = ::read(err_, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<std::size_t>(n));
        return text;
    }

  private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool ended_ = false;
};

// Whether a board in folder can be had by this process now; the holder when it cannot.
std::optional<long> holderOf(const fs::path& folder) {
    VirtualClock clock;
    VirtualPort port(clock);
    try {
        PersistedBoard board(clock, port, 1, "test", folder, std::chrono::milliseconds(2));
        return std::nullopt;
    } catch (const BoardInUse& e) {
        return e.holder;
    }
}

// One program at a time on a board, whichever programs they are: a second is refused at once
// and names the first; another board runs beside it; the end of the first frees the board.
TEST(KestroBoard, ASecondProgramOnTheSameBoardIsRefused) {
    testing::ScratchDir home;
    const fs::path same = home.path / ".local/share/kestro/boards/same";
    BoardProcess first(home.path, {"--board", "same"});
    ASSERT_FALSE(first.device().empty()) << first.errors();

    BoardProcess second(home.path, {"--board", "same"});
    EXPECT_EQ(second.wait(), 1);
    EXPECT_NE(second.errors().find("the virtual board `same` is in use by process " +
                                   std::to_string(first.pid())),
              std::string::npos);
    EXPECT_EQ(holderOf(same), first.pid());

    BoardProcess other(home.path, {"--board", "other"});
    EXPECT_FALSE(other.device().empty()) << other.errors();
    EXPECT_EQ(other.end(), 0);

    // The window's board, and a board this process holds.
    {
        VirtualClock clock;
        VirtualPort port(clock);
        PersistedBoard windows(clock, port, 1, "test", home.path / ".local/share/kestro",
                               std::chrono::milliseconds(2));
        BoardProcess refused(home.path, {});
        EXPECT_EQ(refused.wait(), 1);
        EXPECT_NE(refused.errors().find("the window's virtual board is in use by process " +
                                        std::to_string(::getpid())),
                  std::string::npos);
    }

#ifdef KESTRO_CLI
    // kestro-cli refuses before any reset, with the code of a port in use.
    BoardProcess cli(home.path, {"--board", "same", "test"}, KESTRO_CLI);
    EXPECT_EQ(cli.wait(), 6);
    EXPECT_NE(cli.errors().find("The virtual board `same` is in use by process " +
                                std::to_string(first.pid())),
              std::string::npos);
#endif

    EXPECT_EQ(first.end(), 0);
    EXPECT_EQ(holderOf(same), std::nullopt);
}

// --link makes its link only where nothing stands, or over a link to a pseudo-terminal that an
// earlier board left; the link goes when the board ends. A pseudo-terminal still open (a board
// that still runs) keeps its link.
TEST(KestroBoard, TheLinkNeverReplacesAFileAndGoesAtTheEnd) {
    int master = -1, slave = -1;
    char open[64];
    ASSERT_EQ(::openpty(&master, &slave, open, nullptr, nullptr), 0);
    const std::tuple<const char*, std::function<void(const fs::path&)>, bool> cases[] = {
        {"a running board's link", [&open](const fs::path& at) { fs::create_symlink(open, at); },
         false},
        {"nothing there", [](const fs::path&) {}, true},
        {"a board's link left behind",
         [](const fs::path& at) { fs::create_symlink("/dev/pts/999", at); }, true},
        {"a file", [](const fs::path& at) { std::ofstream(at) << "notes\n"; }, false},
        {"a folder", [](const fs::path& at) { fs::create_directory(at); }, false},
        {"a link to a file",
         [](const fs::path& at) {
             std::ofstream(at.string() + ".txt") << "notes\n";
             fs::create_symlink(at.string() + ".txt", at);
         },
         false},
    };
    for (const auto& [what, prepare, made] : cases) {
        SCOPED_TRACE(what);
        testing::ScratchDir home;
        const fs::path at = home.path / "hc11";
        prepare(at);
        const auto before = fs::symlink_status(at).type();
        const fs::path pointedAt = before == fs::file_type::symlink ? fs::read_symlink(at) : "";
        BoardProcess board(home.path, {"--board", "b", "--link", at.string()});
        if (!made) {
            EXPECT_EQ(board.wait(), 2);
            EXPECT_NE(board.errors().find("is already there"), std::string::npos);
            EXPECT_EQ(fs::symlink_status(at).type(), before);
            if (fs::is_symlink(fs::symlink_status(at))) {
                EXPECT_EQ(fs::read_symlink(at), pointedAt);
            }
            if (fs::is_regular_file(fs::symlink_status(at))) {
                EXPECT_EQ(testing::slurp(at), "notes\n");
            }
            continue;
        }
        const std::string device = board.device();
        ASSERT_FALSE(device.empty()) << board.errors();
        EXPECT_EQ(fs::read_symlink(at), device);
        EXPECT_EQ(board.end(), 0);
        EXPECT_FALSE(fs::exists(fs::symlink_status(at)));
    }
    ::close(slave);
    ::close(master);
}

// A board is the part it was saved as, and another part says what it costs.
TEST(KestroBoard, IsThePartItWasSavedAs) {
    testing::ScratchDir home;
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{"--board", "p", "--chip", "811E2"}, "MC68HC811E2 on /dev/pts/"},
        {{"--board", "p"}, "MC68HC811E2 on /dev/pts/"},
        {{"--board", "p", "--chip", "E9"},
         "kestro-board: the virtual board `p` was an MC68HC811E2: as an MC68HC11E9 its EEPROM, "
         "CONFIG and EPROM start as the factory leaves them\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        BoardProcess board(home.path, c.args);
        EXPECT_FALSE(board.device().empty());
        EXPECT_EQ(board.end(), 0);
        const std::string err = board.errors();
        EXPECT_NE(err.find(c.err), std::string::npos) << err;
    }
    // A part too slow for the crystal, named or saved: refused before the board runs, the saved
    // part and its memories kept.
    BoardProcess a8(home.path, {"--board", "p", "--chip", "A8"});
    EXPECT_FALSE(a8.device().empty());
    EXPECT_EQ(a8.end(), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--board", "p", "--crystal", "12"},
          std::vector<std::string>{"--board", "p", "--chip", "711E9", "--crystal", "16"}}) {
        BoardProcess board(home.path, args);
        EXPECT_TRUE(board.device().empty());
        EXPECT_EQ(board.wait(), 2);
        EXPECT_NE(board.errors().find("crystal of"), std::string::npos);
    }
    BoardProcess again(home.path, {"--board", "p"});
    again.device();
    EXPECT_EQ(again.end(), 0);
    EXPECT_NE(again.errors().find("MC68HC11A8 on /dev/pts/"), std::string::npos);
}

#if defined(KESTRO_CLI) && defined(KESTRO_TEST_PROGRAMS)
// kestro-cli ram --terminal on a virtual board: the program it starts greets at its rate, then
// echoes every typed letter in upper case until the input ends and the answers are in; Ctrl-]
// ends the terminal at once, and neither it nor what follows is sent. What was typed before the
// program ran (here on kestro-board's pseudo-terminal, in real time) waits until the HC11 has
// taken the start address, and a program that greets at 1200 baud at once is heard whole.
TEST(Terminal, TalksToTheProgramTheRamDownloadStarted) {
    struct Case {
        std::string typed;
        bool early;  // typed before the job begins, the board behind a pseudo-terminal
        const char* program;
        const char* baud;
        // What comes back once the greeting is in; not looked at where it was typed while the
        // program greets, for then its SCI overruns, as a real one would.
        std::optional<std::string> echoed;
    };
    const Case cases[] = {
        {"\x1Dmore\n", false, "upper_echo.s19", "9600", ""},
        {"typed ahead\n", true, "upper_echo.s19", "9600", std::nullopt},
        {"slow, 42\n", false, "upper_echo_1200.s19", "1200", "SLOW, 42\n"},
    };
    const std::string greeting = "Hello from the HC11\r\n";
    for (const auto& [typed, early, program, baud, echoed] : cases) {
        SCOPED_TRACE(typed);
        testing::ScratchDir home;
        std::optional<BoardProcess> board;
        std::vector<std::string> where = {"--board", "term"};
        if (early) {
            board.emplace(home.path, std::vector<std::string>{"--board", "pty"});
            where = {"--port", board->device(), "--no-wait"};
            ::kill(board->pid(), SIGUSR1);  // into bootstrap mode
            ::usleep(200'000);
        }
        where.insert(where.end(), {"ram", (fs::path(KESTRO_TEST_PROGRAMS) / program).string(),
                                   "--start", "2000", "--terminal", "--baud", baud});
        BoardProcess cli(home.path, where, KESTRO_CLI, true);
        if (early)
            cli.type(typed);
        const std::string before = cli.readUntil(greeting);
        cli.type(typed);
        const std::string after = cli.readUntil();
        EXPECT_EQ(cli.wait(), 0);
        const std::string err = cli.errors();
        EXPECT_TRUE(before.ends_with(greeting)) << before << err;
        if (echoed) {
            EXPECT_EQ(after, *echoed);
        }
        EXPECT_NE(err.find("Ctrl-] ends it"), std::string::npos) << err;
        if (board) {
            EXPECT_EQ(board->end(), 0);
        }
    }
}
#endif

}  // namespace
}  // namespace kestro::sim

#endif
