// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "bench.h"
#include "talker_loader.h"

namespace kestro {
namespace {

using testing::Bench;

// A talker that was not loaded whole would fail in ways no box explains: every one of the 256
// bytes the boot loader stores must come back as it was sent. What the line brings before the
// echo (left over from an earlier run) and the loader's fill byte beyond them do not count.
TEST(TalkerEcho, EveryStoredByteMustComeBack) {
    using Echo = Bytes (*)(std::size_t, Byte);
    const std::tuple<const char*, Echo, std::size_t, bool> cases[] = {
        {"whole", [](std::size_t, Byte b) { return Bytes{b}; }, 256, true},
        {"after bytes of an earlier run",
         [](std::size_t n, Byte b) {
             return n == 0 ? Bytes{'V', 0x42, b} : Bytes{b};
         },
         256, true},
        {"the first changed",
         [](std::size_t n, Byte b) { return Bytes{static_cast<Byte>(n == 0 ? b ^ 1 : b)}; }, 256,
         false},
        {"one in the middle changed",
         [](std::size_t n, Byte b) { return Bytes{static_cast<Byte>(n == 127 ? b ^ 0x80 : b)}; },
         256, false},
        {"the last changed",
         [](std::size_t n, Byte b) { return Bytes{static_cast<Byte>(n == 255 ? b ^ 1 : b)}; }, 256,
         false},
        {"the last lost", [](std::size_t n, Byte b) { return n == 255 ? Bytes{} : Bytes{b}; }, 256,
         false},
        {"one lost in the middle",
         [](std::size_t n, Byte b) { return n == 100 ? Bytes{} : Bytes{b}; }, 256, false},
        // A 512-byte part stores the fill byte too; it is not checked.
        {"the fill byte changed",
         [](std::size_t n, Byte b) { return Bytes{static_cast<Byte>(n == 256 ? b ^ 1 : b)}; }, 512,
         true},
    };
    for (const auto& [what, echo, ram, loaded] : cases) {
        SCOPED_TRACE(what);
        Bench b;
        b.target.echo = echo;
        b.connectAndReset(ram);
        Frame::run(b.frameTarget, "TestComm", "Test Comm", [](Frame& f) {
            if (!f.begin())
                return;
            f.downloadTalker("testcom.S19");
            f.waitDrained();
            f.wait(Frame::kSettle);
            f.discardBuffers();
            f.finish();
        });
        if (loaded) {
            EXPECT_TRUE(b.ui.messages.empty()) << b.ui.messages.at(0).text;
        } else {
            ASSERT_EQ(b.ui.messages.size(), 1u);
            EXPECT_EQ(b.ui.messages[0].text, "The talker download was not echoed by the HC11.");
        }
    }
}

}  // namespace
}  // namespace kestro
