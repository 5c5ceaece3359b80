// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "command_line.h"
#include "console.h"

namespace kestro::cli {

// Runs the plan on every port at once, one worker process per port (this program again, with
// --worker N and that port alone), and shows each worker's lines, bars and records as they come.
// Ends with the summary table; the worst exit code of the workers comes back. files: the job's
// files as read once, serialized, for each worker's standard input.
Exit runParallel(const Plan& plan, const std::string& program, Console& console,
                 const std::string& files);

}  // namespace kestro::cli
