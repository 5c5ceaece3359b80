// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "command_line.h"
#include "input_files.h"
#include "report.h"

namespace kestro::cli {

struct Environment {
    std::filesystem::path talkerDir;  // the asm folder beside the program
    std::function<std::string(int)> deviceForComm;
    // The job's files as read once; nullptr: the run reads them itself, before its first reset.
    InputFiles* files = nullptr;
};

// What an operation cut short may have left half done, by the button behind its command: "the
// EEPROM may be partly programmed".
std::string partlyDone(const std::string& button);

// Runs the plan's commands in order on one port, each after its own reset, and stops at the
// first that does not succeed. Needs a Qt event loop's thread (the waits run nested loops).
Exit runOnPort(const Plan& plan, const PortChoice& choice, const Environment& env,
               Reporter& reporter);

}  // namespace kestro::cli
