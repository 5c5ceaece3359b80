// SPDX-License-Identifier: GPL-3.0-or-later
// The built kestro-board as a user runs it, each test in a home of its own: one program at a
// time on a board, and a --link that never destroys what stands at its path.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
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

// A program (kestro-board unless told) started with a home of its own and nothing on its
// standard input.
class BoardProcess {
  public:
    BoardProcess(const fs::path& home, const std::vector<std::string>& args,
                 const char* program = KESTRO_BOARD) {
        int out[2], err[2];
        if (::pipe(out) != 0 || ::pipe(err) != 0)
            throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setenv("HOME", home.c_str(), 1);
            ::setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            const int none = ::open("/dev/null", O_RDONLY);
            ::dup2(none, STDIN_FILENO);
            std::vector<char*> argv{const_cast<char*>(program)};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(program, argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~BoardProcess() {
        if (!ended_)
            end(SIGKILL);
        ::close(out_);
        ::close(err_);
    }

    pid_t pid() const { return pid_; }

    // The device it prints once it runs; empty when it ended first.
    std::string device() {
        std::string line;
        char c = 0;
        pollfd p{out_, POLLIN, 0};
        while (::poll(&p, 1, 30'000) == 1 && ::read(out_, &c, 1) == 1 && c != '\n')
            line.push_back(c);
        return line;
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
// earlier board left; the link goes when the board ends.
TEST(KestroBoard, TheLinkNeverReplacesAFileAndGoesAtTheEnd) {
    const std::tuple<const char*, std::function<void(const fs::path&)>, bool> cases[] = {
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
        BoardProcess board(home.path, {"--board", "b", "--link", at.string()});
        if (!made) {
            EXPECT_EQ(board.wait(), 2);
            EXPECT_NE(board.errors().find("is already there"), std::string::npos);
            EXPECT_EQ(fs::symlink_status(at).type(), before);
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
}

}  // namespace
}  // namespace kestro::sim

#endif
