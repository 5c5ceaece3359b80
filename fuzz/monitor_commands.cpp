// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor's command lines as a script or the prompt gives them: any bytes, a line at a time,
// against a session without an HC11. What reads files or waits for a running program is left
// out: those lines name a file or a time, not a parse.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "monitor/commands.h"
#include "monitor_stand_in.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestro;
    testing::MonitorStandIn m;
    m.pollsUntilStop = 2;
    ops::monitor::Interpreter commands(m, {.line = [](const std::string&) {},
                                           .error = [](const std::string&) {},
                                           .programOutput = {},
                                           .stopRequested = [] { return true; },
                                           .progress = {}});
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        std::string first;  // the command's name as the interpreter reads it
        for (char c : line)
            if (c != '"' && !std::isspace(static_cast<unsigned char>(c)))
                first.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
            else if (!first.empty() && c != '"')
                break;
        if (first.starts_with("lo") || first.starts_with("wa"))
            continue;
        if (!ops::monitor::sessionGoesOn(commands.run(line)))
            break;
    }
    return 0;
}
