// SPDX-License-Identifier: GPL-3.0-or-later
// The dump's line splitting: whatever a dump talker sends back, cut into lines of 42
// characters with the rest as the last line, and written only when something came: to
// upload.s19 when every record holds, beside it as upload.damaged.s19 when one does not. A byte
// that reads as a break is the HC11's reset: the dump then writes nothing.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "operations.h"
#include "recorders.h"
#include "scripted_target.h"
#include "serial_port.h"
#include "virtual_clock.h"
#include "virtual_port.h"

namespace {

namespace fs = std::filesystem;

const fs::path& folder() {
    static const fs::path f = [] {
        auto p = fs::temp_directory_path() / ("kestro-fuzz-dump-" + std::to_string(::getpid()));
        fs::create_directories(p);
        std::ofstream(p / "dump.S19") << "S1050000860173\n";
        return p;
    }();
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestro;
    if (size > 600)  // 5 s of line time; longer replies only repeat what these show
        return 0;
    fs::remove(folder() / "upload.s19");
    fs::remove(folder() / "upload.damaged.s19");
    VirtualClock clock;
    VirtualLine line(clock);
    VirtualPort port(clock);
    port.attach(1, line);
    testing::ScriptedTarget target(clock, line);
    LinkState link(port, clock, clock);
    testing::RecordingView view;
    testing::RecordingUi ui;
    port.setListener(&link);
    link.setView(&view);
    link.startupSearch();
    const Bytes reply(data, data + size);
    target.talker = [&](Byte b) {
        if (b == 'W')
            target.send(reply);
    };
    target.reset();
    clock.advance(std::chrono::milliseconds(100));
    Target frameTarget{link, ui, folder()};
    ops::Inputs in;
    in.dumpFolder = folder();
    ops::operationFor("DumpStart")(frameTarget, in);
    port.setListener(nullptr);

    std::string expected;
    if (size > 0) {
        std::size_t i = 0;
        for (; i + 42 <= size; i += 42)
            expected.append(reinterpret_cast<const char*>(data) + i, 42).append("\r\n");
        expected.append(reinterpret_cast<const char*>(data) + i, size - i).append("\r\n");
    }
    const bool whole = fs::exists(folder() / "upload.s19");
    const bool damaged = fs::exists(folder() / "upload.damaged.s19");
    if (whole && damaged)
        __builtin_trap();
    if (std::any_of(reply.begin(), reply.end(), readsAsBreak)) {
        if (whole || damaged)
            __builtin_trap();
        return 0;
    }
    std::ifstream in2(folder() / (damaged ? "upload.damaged.s19" : "upload.s19"), std::ios::binary);
    std::stringstream got;
    got << in2.rdbuf();
    if (got.str() != expected)
        __builtin_trap();
    return 0;
}
