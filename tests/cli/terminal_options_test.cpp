// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "command_line.h"

namespace kestro::cli {
namespace {

struct Case {
    std::vector<std::string> args;
    std::optional<int> baud;  // the ram step's terminal rate
    std::string error;        // the start of the usage error, empty when none
};

// --terminal on the ram command, its rate, and what cannot go with it.
TEST(TerminalOptions, RamTakesATerminalAtARateAndOnlyAtTheEnd) {
    const Case cases[] = {
        {{"ram", "p.s19", "--start", "2000"}, std::nullopt, ""},
        {{"ram", "p.s19", "--terminal"}, 9600, ""},
        {{"ram", "p.s19", "--terminal", "--baud", "19200"}, 19200, ""},
        {{"ram", "p.s19", "--baud=1200", "--terminal"}, 1200, ""},
        {{"ram", "p.s19", "--baud", "9600"}, std::nullopt, "--baud is the terminal's rate"},
        {{"ram", "p.s19", "--terminal", "--baud", "9601"}, std::nullopt, "not a serial rate: 9601"},
        {{"ram", "p.s19", "--terminal", "--baud", "fast"}, std::nullopt, "not a serial rate"},
        {{"test", "--terminal"}, std::nullopt, "unknown option: --terminal"},
        {{"ram", "p.s19", "--terminal", "test"}, std::nullopt, "--terminal ends the job"},
        {{"--json", "ram", "p.s19", "--terminal"}, std::nullopt, "--terminal writes"},
        {{"--port", "/dev/a", "--port", "/dev/b", "ram", "p.s19", "--terminal"},
         std::nullopt,
         "--terminal ends the job"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& a : c.args)
            line += a + " ";
        SCOPED_TRACE(line);
        const Parsed p = parseCommandLine(c.args, ops::Inputs{});
        if (!c.error.empty()) {
            EXPECT_EQ(p.error.rfind(c.error, 0), 0u) << p.error;
            continue;
        }
        ASSERT_EQ(p.error, "");
        ASSERT_FALSE(p.plan.steps.empty());
        EXPECT_EQ(p.plan.steps.back().terminalBaud, c.baud);
    }
}

}  // namespace
}  // namespace kestro::cli
