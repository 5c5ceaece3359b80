// SPDX-License-Identifier: GPL-3.0-or-later
// The PC's side of the fast protocol against a scripted talker: answers that are not what the
// protocol allows end the job with their own text, never with a file.
#include <gtest/gtest.h>

#include "fast_link.h"
#include "ops_bench.h"

namespace kestro {
namespace {

using testing::OpsBench;

// An answer as a talker builds it: status, address, data, CRC.
Bytes answer(Byte status, std::uint16_t address, const Bytes& data = {}) {
    Bytes a{status, static_cast<Byte>(address >> 8), static_cast<Byte>(address)};
    a.insert(a.end(), data.begin(), data.end());
    const std::uint16_t crc = fast::crc16(ByteView(a));
    a.push_back(static_cast<Byte>(crc >> 8));
    a.push_back(static_cast<Byte>(crc));
    return a;
}

TEST(FastLink, AnswersOutsideTheProtocolEndTheJobWithTheirOwnText) {
    using Reply = std::function<Bytes(const Bytes& request, int n)>;
    const std::tuple<const char*, Reply, const char*, int> cases[] = {
        {"a command it does not know", [](const Bytes&, int) { return answer('U', 0); },
         "The talker did not know a request of the fast protocol.", 1},
        {"every request damaged", [](const Bytes&, int) { return answer('N', 0); },
         "The line to the HC11 damaged the same block 4 times in a row.",
         fast::FastLink::kAttempts},
        // The ping is answered; the first read's answer lacks its last byte every time.
        {"answers cut short",
         [](const Bytes& r, int n) {
             Bytes a = answer('K', static_cast<std::uint16_t>(r[1] << 8 | r[2]),
                              Bytes(n == 1 ? 0 : 256, 0xFF));
             if (n > 1)
                 a.pop_back();
             return a;
         },
         "The line to the HC11 damaged the same block 4 times in a row.",
         1 + fast::FastLink::kAttempts},
        {"bytes that never stop", [](const Bytes&, int) { return Bytes(4000, 0x55); },
         "The HC11 sent bytes that are not the fast protocol's.", 1},
        // A board behind a pseudo-terminal: its reset's break comes as a NUL, then nothing.
        {"a reset after the ping",
         [](const Bytes&, int n) { return n == 1 ? answer('K', 0) : Bytes{0}; },
         "The HC11 was reset during the job.", 2},
    };
    for (const auto& [what, reply, says, requests] : cases) {
        SCOPED_TRACE(what);
        OpsBench b;
        b.scratch.write("fastrd.S19", "S1050000860141\n");
        // A port that keeps 1200 baud: no rate agreement between the requests counted here.
        b.port.setAdapter([](int) -> std::optional<int> { return std::nullopt; });
        int seen = 0;
        b.target.talker = [&, reply = reply, req = Bytes{}, started = false](Byte x) mutable {
            if (!std::exchange(started, true))
                return;  // the loader's last fill byte
            req.push_back(x);
            if (req.size() == 6) {
                b.target.send(ByteView(reply(req, ++seen)));
                req.clear();
            }
        };
        ops::Inputs in;
        in.fast = true;
        in.dumpFolder = b.talkerDir;
        const TimePoint start = b.clock.now();
        b.run("DumpStart", in);
        ASSERT_EQ(b.ui.messages.size(), 1u);
        EXPECT_EQ(b.ui.messages[0].text, says);
        EXPECT_EQ(seen, requests);
        EXPECT_LT(b.clock.now() - start, 30s);
        EXPECT_FALSE(std::filesystem::exists(b.talkerDir / "upload.s19"));
        EXPECT_FALSE(b.link.ready());
        EXPECT_TRUE(b.ui.windowEnabled());
    }
}

}  // namespace
}  // namespace kestro
