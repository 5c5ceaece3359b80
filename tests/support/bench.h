// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <memory>

#include "frame.h"
#include "recorders.h"
#include "recording_port.h"
#include "scratch.h"
#include "scripted_target.h"
#include "virtual_clock.h"
#include "virtual_port.h"

namespace kestro::testing {

// A PC with four virtual ports, a scripted target on Comm 1, and a talker folder of its own.
struct Bench {
    Bench() {
        for (int n = 1; n <= 4; ++n)
            port.attach(n, *lines[n - 1]);
        wire.setListener(&link);
        link.setView(&view);
        scratch.write("testcom.S19", "S00600004844521B\nS1070000C610FFAA01\nS9030000FC\n");
    }

    // The writes made after the talker download (one write per byte of the download).
    std::vector<Bytes> writesAfterDownload() const {
        for (std::size_t i = 0; i + 257 < wire.writes.size(); ++i)
            if (wire.writes[i] == Bytes{0xFF})
                return {wire.writes.begin() + static_cast<long>(i + 258), wire.writes.end()};
        return {};
    }

    // Start-up on Comm 1, then a bootstrap reset of the target.
    void connectAndReset(std::size_t ram = 256) {
        link.startupSearch();
        target.reset(ram);
        clock.advance(100ms);
        ASSERT_TRUE(link.ready());
    }

    VirtualClock clock;
    std::array<std::unique_ptr<VirtualLine>, 4> lines{
        std::make_unique<VirtualLine>(clock), std::make_unique<VirtualLine>(clock),
        std::make_unique<VirtualLine>(clock), std::make_unique<VirtualLine>(clock)};
    VirtualPort port{clock};
    RecordingPort wire{port};  // what the link writes, write by write
    ScriptedTarget target{clock, *lines[0]};
    LinkState link{wire, clock, clock};
    RecordingView view;
    RecordingUi ui;
    ScratchDir scratch;
    std::filesystem::path talkerDir = scratch.path;
    Target frameTarget{link, ui, talkerDir};
};

}  // namespace kestro::testing
