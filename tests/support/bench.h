#pragma once

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <memory>

#include "frame.h"
#include "recorders.h"
#include "recording_port.h"
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
        talkerDir =
            std::filesystem::temp_directory_path() /
            ("kestro-test-" + std::to_string(::getpid()) + "-" + std::to_string(++serial()));
        std::filesystem::create_directories(talkerDir);
        frameTarget.talkerDir = talkerDir;
        writeTalker("testcom.S19", "S00600004844521B\nS1070000C610FFAA01\nS9030000FC\n");
    }
    ~Bench() {
        std::error_code ec;
        std::filesystem::remove_all(talkerDir, ec);
    }

    static int& serial() {
        static int n = 0;
        return n;
    }

    void writeTalker(const std::string& name, const std::string& text) {
        std::ofstream(talkerDir / name, std::ios::binary) << text;
    }
    std::filesystem::path writeFile(const std::string& name, const std::string& content) {
        const auto path = talkerDir / name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    // The writes made after the talker download (one write per byte of the download).
    std::vector<Bytes> writesAfterDownload() const {
        std::size_t n = 0;
        for (std::size_t i = 0; i < wire.writes.size(); ++i)
            if (wire.writes[i] == Bytes{0xFF} && i + 257 < wire.writes.size()) {
                n = i + 258;
                break;
            }
        return wire.writesAfter(n);
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
    std::filesystem::path talkerDir;
    Target frameTarget{link, ui, talkerDir};
};

}  // namespace kestro::testing
