// SPDX-License-Identifier: GPL-3.0-or-later
// How much faster than real time the virtual board runs: a bootstrap download of an echo
// talker, then a continuous stream of bytes at 1200 baud that the talker echoes, all in
// virtual time. The CPU polls the SCI the whole time, the worst case for the board. Then the
// same span with the timer interrupting every 200 E cycles.
// Usage: kestro_sim_board_bench [virtual seconds [--pins]]; --pins also reads every pin of
// ports A to E every 50 ms of board time in the first run, as the board window's Ports tab does.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kestro/sim/board/board.h"
#include "virtual_clock.h"

int main(int argc, char** argv) {
    using namespace kestro;
    using namespace std::chrono_literals;
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    const bool readPins = argc > 2 && std::strcmp(argv[2], "--pins") == 0;

    // The communication test's talker: set 1200 baud, then echo every byte.
    const Bytes talker{0x0F, 0x8E, 0x00, 0xFF, 0xCE, 0x10, 0x00, 0x86, 0x33, 0xA7, 0x2B,
                       0x6F, 0x2C, 0x86, 0x0C, 0xA7, 0x2D, 0x1F, 0x2E, 0x20, 0xFC, 0xE6,
                       0x2F, 0x1F, 0x2E, 0x80, 0xFC, 0xE7, 0x2F, 0x20, 0xF2};

    VirtualClock clock;
    VirtualLine line(clock);
    sim::Board board(clock, line, sim::BoardOptions{sim::Chip::E9});
    Transmitter pc(line.toTarget);
    pc.setBaud(1200);
    long echoed = 0;
    line.toPc.setReceiver(1200, [&](Byte, bool) { ++echoed; });

    board.resetBootstrap();
    clock.advance(50ms);
    Bytes wire{0xFF};
    wire.insert(wire.end(), talker.begin(), talker.end());
    pc.queue(wire);
    clock.advance(1s);
    echoed = 0;

    const auto start = std::chrono::steady_clock::now();
    const TimePoint virtualStart = clock.now();
    const Duration span{static_cast<std::int64_t>(seconds * 1e9)};
    Bytes chunk(120, 'U');
    long pinReads = 0;
    while (clock.now() - virtualStart < span) {
        pc.queue(chunk);
        // In steps of 50 ms, the board window's Ports tab's period; with --pins every step
        // reads the pins as the tab does (which does so at most every 50 ms of real time).
        for (int step = 0; step < 20; ++step) {
            clock.advance(50ms);
            if (readPins)
                pinReads += static_cast<long>(board.pins().size() > 0);
        }
    }
    const double real =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double virt = std::chrono::duration<double>(clock.now() - virtualStart).count();
    std::printf("virtual board (MC68HC11E9, echo talker polling at 1200 baud)\n");
    std::printf("  %.1f s of board time in %.3f s of real time: %.0fx real time\n", virt, real,
                virt / real);
    std::printf("  %.0f E cycles per real second; %ld bytes echoed; pins read %ld times\n",
                virt * 2e6 / real, echoed, pinReads);

    // The timer at work: an output compare interrupt every 200 E cycles that toggles PA6 and
    // moves TOC2 on (tests/sim/programs/oc2_blink.s with a half period of 200 cycles).
    const Bytes blink{0xCE, 0x10, 0x00, 0x86, 0x7E, 0x97, 0xDC, 0xCC, 0x00, 0x20, 0xDD, 0xDD, 0x86,
                      0x40, 0xA7, 0x20, 0xEC, 0x0E, 0xC3, 0x00, 0xC8, 0xED, 0x18, 0x86, 0x40, 0xA7,
                      0x23, 0xA7, 0x22, 0x0E, 0x20, 0xFE, 0xEC, 0x0E, 0xA3, 0x18, 0xDD, 0x80, 0xEC,
                      0x18, 0xC3, 0x00, 0xC8, 0xED, 0x18, 0x86, 0x40, 0xA7, 0x23, 0x3B};
    VirtualClock clock2;
    VirtualLine line2(clock2);
    sim::Board board2(clock2, line2, sim::BoardOptions{sim::Chip::E9});
    Transmitter pc2(line2.toTarget);
    pc2.setBaud(7812);
    long toggles = 0;
    board2.timer().onPortA = [&](std::uint64_t, std::uint8_t) { ++toggles; };
    board2.resetBootstrap();
    clock2.advance(50ms);
    Bytes wire2{0xFF};
    wire2.insert(wire2.end(), blink.begin(), blink.end());
    pc2.queue(wire2);
    clock2.advance(1s);
    toggles = 0;
    const auto start2 = std::chrono::steady_clock::now();
    const TimePoint virtualStart2 = clock2.now();
    while (clock2.now() - virtualStart2 < span)
        clock2.advance(1s);
    const double real2 =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start2).count();
    const double virt2 = std::chrono::duration<double>(clock2.now() - virtualStart2).count();
    std::printf("virtual board (MC68HC11E9, an output compare interrupt every 200 E cycles)\n");
    std::printf("  %.1f s of board time in %.3f s of real time: %.0fx real time; %ld toggles\n",
                virt2, real2, virt2 / real2, toggles);
    return 0;
}
