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
    struct Case {
        const char* what;
        std::size_t at;  // the stored byte whose echo goes wrong
        Byte flip;       // its echo has these bits changed; 0: it is lost
        std::size_t ram;
        bool loaded;
    };
    constexpr std::size_t kNone = 1024;
    const Case cases[] = {
        {"whole", kNone, 0, 256, true},
        {"the first changed", 0, 0x01, 256, false},
        {"one in the middle changed", 127, 0x80, 256, false},
        {"the last changed", 255, 0x01, 256, false},
        {"the last lost", 255, 0, 256, false},
        {"one lost in the middle", 100, 0, 256, false},
        // A 512-byte part stores the fill byte too; it is not checked.
        {"the fill byte changed", 256, 0x01, 512, true},
        {"after bytes of an earlier run", kNone, 0, 256, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bench b;
        const bool earlier = std::string_view(c.what).starts_with("after");
        b.target.echo = [&c, earlier](std::size_t n, Byte x) {
            if (n != c.at)
                return n == 0 && earlier ? Bytes{'V', 0x42, x} : Bytes{x};
            return c.flip ? Bytes{static_cast<Byte>(x ^ c.flip)} : Bytes{};
        };
        b.connectAndReset(c.ram);
        Frame::run(b.frameTarget, "TestComm", "Test Comm", [](Frame& f) {
            if (!f.begin())
                return;
            f.downloadTalker("testcom.S19");
            f.waitDrained();
            f.wait(Frame::kSettle);
            f.discardBuffers();
            f.finish();
        });
        if (c.loaded) {
            EXPECT_TRUE(b.ui.messages.empty()) << b.ui.messages.at(0).text;
        } else {
            ASSERT_EQ(b.ui.messages.size(), 1u);
            EXPECT_EQ(b.ui.messages[0].text, "The talker download was not echoed by the HC11.");
        }
    }
}

}  // namespace
}  // namespace kestro
