// SPDX-License-Identifier: GPL-3.0-or-later
// The block layer every fast talker shares (talkers/fastcore.inc), on the board, byte by byte:
// the rate agreement's B answered at the old rate and the new rate taken after it, and the way
// back to 1200 baud that a damaged request at a fast rate takes.
#include <gtest/gtest.h>

#include "board_bench.h"
#include "fast_link.h"
#include "talker_loader.h"

namespace kestro::sim {
namespace {

using namespace std::chrono_literals;
using fast::Check;

struct Talker {
    const char* name;
    Check check;
};
constexpr Talker kTalkers[] = {
    {"fastrd", Check::Crc16},  {"fastxe", Check::Crc8},   {"fastxi", Check::Crc16},
    {"fastee", Check::Crc8},   {"fastep", Check::Crc8},   {"fasterase", Check::Crc8},
    {"fastcfg", Check::Crc16}, {"fastram", Check::Crc16}, {"faststat", Check::Crc16},
};

Bytes image(const char* name) {
    std::string reason;
    const auto text =
        readFile(std::filesystem::path(KESTRO_TALKER_DIR) / (std::string(name) + ".S19"), &reason);
    EXPECT_TRUE(text) << reason;
    return testing::padded(text ? talkerImage(*text) : Bytes{});
}

// The PC's UART both ways at `baud`.
void pcAt(testing::BoardBench& b, int baud) {
    b.pc.tx.setBaud(baud);
    b.line.toPc.changeReceiverRate(baud, b.clock.now());
}

// Sends the request and returns the status letter of a whole answer whose check holds, or 0.
Byte exchange(testing::BoardBench& b, const Talker& t, Bytes request, int answerBaud) {
    b.pc.rx.clear();
    b.pc.send(request);
    b.run(characterTime(b.pc.tx.baud(), static_cast<std::int64_t>(request.size())));
    pcAt(b, answerBaud);  // the request is on the wire: what follows comes at this rate
    b.run(150ms);         // the idle waits of a damaged request and five characters at 1200
    const Bytes got = b.pc.data();
    const std::size_t length = t.check == Check::Crc8 ? 4 : 5;
    const bool holds =
        t.check == Check::Crc8 ? fast::crc8(ByteView(got)) == 0 : fast::crc16(ByteView(got)) == 0;
    return got.size() == length && holds ? got[0] : 0;
}

TEST(FastCore, EveryTalkerAgreesARateAndGoesBackTo1200OnADamagedRequest) {
    constexpr Byte kBaud125k = 0x00;
    for (const Chip chip : {Chip::A8, Chip::E9}) {
        for (const Talker& t : kTalkers) {
            SCOPED_TRACE(std::string(t.name) + (chip == Chip::A8 ? " A8" : " E9"));
            testing::BoardBench b(chip, 1200);
            b.bootAndRun(image(t.name));
            b.run(40ms);  // its 20 ms of idle line after the loader's last byte
            const Bytes rate = fast::request('B', 0x1234, kBaud125k, {}, t.check);
            const Bytes ping = fast::request('P', 0, 0, {}, t.check);
            // B: K at the old rate; then the talker listens at the new one.
            EXPECT_EQ(exchange(b, t, rate, 1200), 'K');
            pcAt(b, 125'000);
            EXPECT_EQ(exchange(b, t, ping, 125'000), 'K');
            // A damaged request at 125,000: no answer, and the talker listens at 1200.
            Bytes damaged = ping;
            damaged[1] ^= 0x01;
            EXPECT_EQ(exchange(b, t, damaged, 125'000), 0);
            pcAt(b, 1200);
            EXPECT_EQ(exchange(b, t, ping, 1200), 'K');
            // A ping at 1200 reaches a talker at 125,000 as garbage: no answer, and the next
            // ping at 1200 is answered.
            EXPECT_EQ(exchange(b, t, rate, 1200), 'K');
            EXPECT_EQ(exchange(b, t, ping, 1200), 0);
            EXPECT_EQ(exchange(b, t, ping, 1200), 'K');
        }
    }
}

// fastxe loads a block's bytes at once, then writes singly what the load did not take: all but
// the first on a part that writes a byte at a time. Every byte of the block is written either
// way, and nothing else.
TEST(FastExternalTalker, WritesTheWholeBlockWhateverTheLoadTook) {
    struct Case {
        const char* what;
        std::uint16_t pageSize, offset;
        std::uint64_t cycles;
    };
    const Case cases[] = {
        {"a page of 64", 64, 0x0028, 1},
        {"a page of 16", 16, 0x0030, 1},
        {"a byte at a time", 1, 0x0100, 16},
    };
    const Talker fastxe{"fastxe", Check::Crc8};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing::BoardBench b(Chip::E9, 1200);
        PageEeprom& rom = b.board.devices().parallelEeprom();
        rom.pageSize = c.pageSize;
        b.bootAndRun(image(fastxe.name));
        b.run(40ms);
        Bytes data(16);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<Byte>(0x31 * i + 7);
        const auto address = static_cast<std::uint16_t>(0x8000 + c.offset);
        EXPECT_EQ(
            exchange(b, fastxe, fast::request('W', address, 16, ByteView(data), Check::Crc8), 1200),
            'K');
        Bytes expected(PageEeprom::kSize, 0xFF);
        std::copy(data.begin(), data.end(), expected.begin() + c.offset);
        EXPECT_EQ(rom.cells(), expected);
        EXPECT_EQ(rom.writeCycles(), c.cycles);
    }
}

}  // namespace
}  // namespace kestro::sim
