// SPDX-License-Identifier: GPL-3.0-or-later
// The block layer every fast talker shares (talkers/fastcore.inc), on the board, byte by byte:
// the rate agreement's B answered at the old rate and the new rate taken after it, and the way
// back to 1200 baud that a damaged request at a fast rate takes.
#include <gtest/gtest.h>

#include "board_bench.h"
#include "fast_link.h"
#include "fast_station.h"
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
    {"ident", Check::Crc8},    {"monitor", Check::Crc8},
};

Bytes image(const char* name) {
    return testing::padded(testing::talkerFile(name));
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
            EXPECT_EQ(b.line.toPc.riseDelay(), Duration{0}) << "TxD still wired-OR";
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

// A rate whose value has BAUD's test bits (TCLR, bit 6, RCKB) is refused where the talker has
// room for the check, with BAUD left as it was: taken, it would put the SCI in a state that no
// manual page read describes, which a damaged B must not reach.
TEST(FastCore, ARateWithTheSciTestBitsIsRefused) {
    const Talker checked[] = {kTalkers[0], kTalkers[6], kTalkers[8]};  // fastrd, fastcfg, faststat
    for (const Talker& t : checked) {
        for (const Byte value : {Byte{0x80}, Byte{0x40}, Byte{0x08}}) {
            SCOPED_TRACE(std::string(t.name) + " " + std::to_string(value));
            testing::BoardBench b(Chip::E9, 1200);
            b.bootAndRun(image(t.name));
            b.run(40ms);
            const Byte baud = b.board.peek(0x102B);
            EXPECT_EQ(exchange(b, t, fast::request('B', 0, value, {}, t.check), 1200), 'N');
            EXPECT_EQ(b.board.peek(0x102B), baud);
            EXPECT_EQ(exchange(b, t, fast::request('P', 0, 0, {}, t.check), 1200), 'K');
        }
    }
}

// The idle line that ends a request (20 ms) must outlast a pause inside one, such as a USB
// adapter's latency between two of its packets; a longer pause cuts the request, which is then
// damaged: no answer, and the next request is taken.
TEST(FastCore, APauseInsideARequestShorterThanTheIdleLimitKeepsItWhole) {
    const Talker fastrd = kTalkers[0];
    testing::BoardBench b(Chip::E9, 1200);
    b.bootAndRun(image(fastrd.name));
    b.run(40ms);
    ASSERT_EQ(exchange(b, fastrd, fast::request('B', 0, 0x00, {}, fastrd.check), 1200), 'K');
    pcAt(b, 125'000);
    const Bytes ping = fast::request('P', 0, 0, {}, fastrd.check);
    for (const auto& [pause, answered] : {std::pair{15ms, true}, std::pair{30ms, false}}) {
        SCOPED_TRACE(pause.count());
        b.pc.rx.clear();
        b.pc.send(Bytes(ping.begin(), ping.begin() + 3));
        b.run(pause);
        // A cut request sends the talker back to 1200 baud.
        const int at = answered ? 125'000 : 1'200;
        EXPECT_EQ(exchange(b, fastrd, Bytes(ping.begin() + 3, ping.end()), at), answered ? 'K' : 0);
        pcAt(b, at);
    }
    EXPECT_EQ(exchange(b, fastrd, ping, 1200), 'K');
}

// A request whose CRC holds but whose count or range lies outside what the command may touch (a
// damaged one that the CRC let through) is answered N with nothing done: a W with count 0 once
// ran over all 65,536 addresses and rewrote the EEPROM with the RAM's contents, and a W in page
// $00 or $10 would overwrite the talker or program the register block, CONFIG (which can secure
// the part) among it.
TEST(FastCore, RequestsOutOfBoundsAreRefusedWithNothingTouched) {
    struct Case {
        const char* what;
        Talker talker;
        Byte command;
        std::uint16_t address;
        Byte count;
        Bytes data;
    };
    const Talker fastxi = kTalkers[2], fastee = kTalkers[3], fastep = kTalkers[4],
                 fasterase = kTalkers[5], fastram = kTalkers[7], faststat = kTalkers[8],
                 fastxe = kTalkers[1];
    const Bytes d8 = pattern(8), d16 = pattern(16), d17 = pattern(17);
    const Case cases[] = {
        {"fastee, no bytes", fastee, 'W', 0xB600, 0, d8},
        {"fastee, 9 bytes", fastee, 'W', 0xB600, 9, d8},
        {"fastee, past $FFFF", fastee, 'W', 0xFFFC, 8, d8},
        {"fastee, over its own stack", fastee, 'W', 0x00F0, 8, d8},
        {"fastee, CONFIG", fastee, 'W', 0x103F, 1, Bytes(8, 0x00)},
        {"fastee, into the registers from below", fastee, 'W', 0x0FFC, 8, d8},
        {"fastep, out of the register page", fastep, 'W', 0x10F8, 16, d16},
        {"fastep, no bytes", fastep, 'W', 0xD000, 0, d16},
        {"fastep, 17 bytes", fastep, 'W', 0xD000, 17, d16},
        {"fastep, past $FFFF", fastep, 'W', 0xFFF8, 16, d16},
        {"fastxe, no bytes", fastxe, 'W', 0x8000, 0, d16},
        {"fastxe, 17 bytes", fastxe, 'W', 0x8000, 17, d16},
        {"fastxe, across a 256-byte page", fastxe, 'W', 0x80F8, 16, d16},
        {"fastxe, past $FFFF", fastxe, 'W', 0xFFF8, 16, d16},
        {"fastxe, CONFIG", fastxe, 'W', 0x103F, 1, Bytes(16, 0x00)},
        {"fastxe, its own RAM", fastxe, 'W', 0x0040, 16, d16},
        {"fastxe, the last page below $2000", fastxe, 'W', 0x1FF0, 16, d16},
        {"fasterase, a range that ends before it begins", fasterase, 'E', 0xB7F0, 1, {0xB6, 0x00}},
        {"fasterase, 128 rows", fasterase, 'E', 0xB600, 128, {0xBF, 0xFF}},
        {"fasterase, bulk addressed to CONFIG", fasterase, 'E', 0x103F, 0, {0x10, 0x3F}},
        {"fasterase, a row of registers", fasterase, 'E', 0x1020, 1, {0x10, 0x2F}},
        {"fasterase, rows from $0800 into the registers", fasterase, 'E', 0x0FF0, 2, {0x10, 0x0F}},
        {"fasterase, rows over its own start", fasterase, 'E', 0x0000, 1, {0x00, 0x0F}},
        {"fasterase, rows across 2 KB", fasterase, 'E', 0x0F00, 127, {0x17, 0xEF}},
        {"faststat, a range that ends before it begins", faststat, 'Q', 0xB601, 0, {0xB6, 0x00}},
        // S: the second address, then six values; count bit n: value n to the second address.
        {"fastxi, seven bytes", fastxi, 'S', 0x8000, 0xFF, {0x80, 0x40, 1, 2, 3, 4, 5, 6}},
        {"fastxi, a byte over its own code",
         fastxi,
         'S',
         0x0080,
         0x02,
         {0x80, 0x40, 1, 0, 0, 0, 0, 0}},
        {"fastxi, the second byte into its RAM",
         fastxi,
         'S',
         0x8000,
         0x06,
         {0x00, 0x40, 1, 2, 0, 0, 0, 0}},
        {"fastram, no bytes", fastram, 'X', 0x2000, 0, d17},
        {"fastram, 18 bytes", fastram, 'X', 0x2000, 18, d17},
        {"fastram, over its own code", fastram, 'X', 0x0040, 17, d17},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing::BoardBench b(Chip::E9_711, 1200);
        auto& eeprom = b.board.eeprom().array();
        auto& rom = b.board.devices().parallelEeprom().cells();
        auto& ram = b.board.devices().ram();
        const Bytes eeprom0 = pattern(eeprom.size(), 3), rom0 = pattern(rom.size(), 5),
                    ram0 = pattern(ram.size(), 9);
        std::copy(eeprom0.begin(), eeprom0.end(), eeprom.begin());
        std::copy(rom0.begin(), rom0.end(), rom.begin());
        std::copy(ram0.begin(), ram0.end(), ram.begin());
        b.bootAndRun(image(c.talker.name));
        b.run(40ms);
        // The registers a stray write would change and that nothing else does meanwhile: the
        // ports, the SCI's set-up, BPROT to CONFIG.
        const auto registers = [&b] {
            Bytes r;
            for (const std::uint16_t a : {0x1000, 0x1004, 0x1007, 0x1008, 0x1028, 0x102B, 0x102C,
                                          0x102D, 0x1035, 0x1039, 0x103B, 0x103C, 0x103F})
                r.push_back(b.board.peek(a));
            return r;
        };
        const Bytes registers0 = registers();
        const Byte config0 = b.board.eeprom().configCell();
        const Bytes request =
            fast::request(c.command, c.address, c.count, ByteView(c.data), c.talker.check);
        EXPECT_EQ(exchange(b, c.talker, request, 1200), 'N');
        b.run(100ms);
        EXPECT_EQ(registers(), registers0);
        EXPECT_EQ(b.board.eeprom().configCell(), config0);
        EXPECT_EQ(Bytes(eeprom.begin(), eeprom.end()), eeprom0);
        EXPECT_EQ(Bytes(rom.begin(), rom.end()), rom0);
        EXPECT_EQ(Bytes(ram.begin(), ram.end()), ram0);
        EXPECT_EQ(exchange(b, c.talker, fast::request('P', 0, 0, {}, c.talker.check), 1200), 'K');
    }
}

// No manual says what a page-writing part returns for a read inside its byte-load window. One
// that put out the byte just loaded would have fastxe take a block as written before its write
// cycle had begun, and the next block, loaded into a busy part, would be lost: fastxe waits
// until the window has closed, whatever the part shows inside it.
TEST(FastExternalTalker, ReadsNothingInsideTheByteLoadWindow) {
    const Talker fastxe{"fastxe", Check::Crc8};
    for (const auto shows : {PageEeprom::WindowRead::Undefined, PageEeprom::WindowRead::Loaded}) {
        SCOPED_TRACE(static_cast<int>(shows));
        testing::BoardBench b(Chip::E9, 1200);
        PageEeprom& rom = b.board.devices().parallelEeprom();
        rom.windowRead = shows;
        b.bootAndRun(image(fastxe.name));
        b.run(40ms);
        ASSERT_EQ(exchange(b, fastxe, fast::request('B', 0, 0x00, {}, Check::Crc8), 1200), 'K');
        pcAt(b, 125'000);
        // Block after block, each sent as soon as the answer to the one before has come; blocks
        // of 8, whose settling pass would end inside the window.
        const Bytes data = pattern(64);
        for (std::uint16_t at = 0; at < data.size(); at += 8) {
            Bytes block(data.begin() + at, data.begin() + at + 8);
            block.resize(16, 0xFF);
            b.pc.rx.clear();
            b.pc.send(fast::request('W', static_cast<std::uint16_t>(0x8000 + at), 8,
                                    ByteView(block), Check::Crc8));
            for (int i = 0; i < 400 && b.pc.data().size() < 4; ++i)
                b.run(100us);
            ASSERT_EQ(b.pc.data().size(), 4u);
            EXPECT_EQ(b.pc.data()[0], 'K') << at;
        }
        b.run(20ms);
        EXPECT_EQ(Bytes(rom.cells().begin(), rom.cells().begin() + 64), data);
    }
}

}  // namespace
}  // namespace kestro::sim
