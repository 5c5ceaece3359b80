// SPDX-License-Identifier: GPL-3.0-or-later
// kestro-cli ram --terminal as a user runs it, on a virtual board: the program it starts greets
// and echoes in upper case what this test types.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "scratch.h"

#if defined(KESTRO_CLI) && defined(KESTRO_TEST_PROGRAMS)

namespace kestro {
namespace {

namespace fs = std::filesystem;

struct CliRun {
    int code = -1;
    std::string out;
    std::string err;
};

// Runs kestro-cli in a home of its own with `input` on its standard input, which then ends.
CliRun runCli(const fs::path& home, const std::vector<std::string>& args,
              const std::string& input) {
    int in[2], out[2], err[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0)
        throw std::runtime_error("pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::close(in[1]);
        std::vector<char*> argv{const_cast<char*>(KESTRO_CLI)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(KESTRO_CLI, argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    // The input comes once the program runs: a user types after the greeting.
    CliRun r;
    bool typed = false;
    pollfd p[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    for (int open = 2; open > 0;) {
        if (::poll(p, 2, 60'000) <= 0)
            break;
        for (int k = 0; k < 2; ++k) {
            if (!(p[k].revents & (POLLIN | POLLHUP)))
                continue;
            char buffer[512];
            const ssize_t n = ::read(p[k].fd, buffer, sizeof buffer);
            if (n <= 0) {
                p[k].fd = -1;
                --open;
                continue;
            }
            (k == 0 ? r.out : r.err).append(buffer, static_cast<std::size_t>(n));
        }
        if (!typed && r.out.find("HC11\r\n") != std::string::npos) {
            (void)!::write(in[1], input.data(), input.size());
            ::close(in[1]);
            typed = true;
        }
    }
    if (!typed)
        ::close(in[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

const fs::path kEcho = fs::path(KESTRO_TEST_PROGRAMS) / "upper_echo.s19";

// The greeting, then every typed letter back in upper case, until the input ends and the
// answers are in; Ctrl-] ends the terminal at once, and neither it nor what follows is sent.
TEST(Terminal, TalksToTheProgramTheRamDownloadStarted) {
    struct Case {
        const char* name;
        std::string typed;
        std::string expected;
    };
    const Case cases[] = {
        {"end of input", "hello, world 42\n", "Hello from the HC11\r\nHELLO, WORLD 42\n"},
        {"Ctrl-]", std::string("\x1Dmore\n"), "Hello from the HC11\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::ScratchDir home;
        const CliRun r = runCli(home.path,
                                {"--board", "term", "ram", kEcho.string(), "--start", "2000",
                                 "--terminal", "--baud", "9600"},
                                c.typed);
        EXPECT_EQ(r.code, 0) << r.err;
        const auto at = r.out.find("Hello from");
        ASSERT_NE(at, std::string::npos) << r.out << r.err;
        EXPECT_EQ(r.out.substr(at), c.expected);
        EXPECT_NE(r.err.find("Ctrl-] ends it"), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace kestro

#endif
