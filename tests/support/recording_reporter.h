// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "report.h"

namespace kestro::testing {

// What a run on one port told, in order: its lines, its transfers and its records.
struct RecordingReporter final : cli::Reporter {
    void line(cli::Channel c, const std::string& text) override { lines.emplace_back(c, text); }
    void progress(const std::optional<cli::Transfer>& t) override { transfers.push_back(t); }
    void record(const cli::RunRecord& r) override { records.push_back(r); }

    std::vector<std::string> texts() const {
        std::vector<std::string> t;
        for (const auto& [channel, text] : lines)
            t.push_back(text);
        return t;
    }
    std::vector<std::string> verdicts() const {
        std::vector<std::string> v;
        for (const cli::RunRecord& r : records)
            v.push_back(r.verdict);
        return v;
    }

    std::vector<std::pair<cli::Channel, std::string>> lines;
    std::vector<std::optional<cli::Transfer>> transfers;
    std::vector<cli::RunRecord> records;
};

}  // namespace kestro::testing
