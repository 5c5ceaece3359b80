// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "command_line.h"

namespace kestro::cli {

// A file on its way to the talker.
struct Transfer {
    std::int64_t done = 0;
    std::int64_t total = 0;
    double seconds = 0;  // since the transfer began
    int percent = 0;
    double rate = 0;  // bytes a second as the line carries them; 0 while not known
    int baud = 0;     // the rate the fast protocol agreed on; 0: none agreed
};

// What one command did on one port: the --json record and a line of the summary.
struct RunRecord {
    std::string operation;
    std::string port;
    std::string verdict;
    Exit exit = Exit::Success;
    std::int64_t bytes = 0;
    double seconds = 0;
    int baud = 0;  // as in Transfer
    // identify: what it found, one JSON object; empty for the other commands.
    std::string identity{};
    // Why a refusal or failure came about, as the window's box shows it under the verdict;
    // empty where the box has nothing there.
    std::string detail{};
};

enum class Channel {
    Verdict,  // what the window shows in its boxes: standard output
    Info,     // prompts and what the command does: standard error, not with --quiet
    Error,    // standard error, always
};

// Where a run on one port tells what happens.
class Reporter {
  public:
    virtual ~Reporter() = default;
    virtual void line(Channel channel, const std::string& text) = 0;
    // nullopt: the transfer is over.
    virtual void progress(const std::optional<Transfer>& transfer) = 0;
    virtual void record(const RunRecord& record) = 0;
};

// One JSON object, without a line end.
std::string recordJson(const RunRecord& r);

}  // namespace kestro::cli
