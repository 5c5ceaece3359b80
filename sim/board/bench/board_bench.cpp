// SPDX-License-Identifier: GPL-3.0-or-later
// How much faster than real time the virtual board runs: a bootstrap download of an echo
// talker, then a continuous stream of bytes at 1200 baud that the talker echoes, all in
// virtual time. The CPU polls the SCI the whole time, the worst case for the board.
// Usage: kestro_sim_board_bench [virtual seconds]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "kestro/sim/board/board.h"
#include "virtual_clock.h"

int main(int argc, char** argv) {
    using namespace kestro;
    using namespace std::chrono_literals;
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;

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
    while (clock.now() - virtualStart < span) {
        pc.queue(chunk);
        clock.advance(1s);
    }
    const double real =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double virt = std::chrono::duration<double>(clock.now() - virtualStart).count();
    std::printf("virtual board (MC68HC11E9, echo talker polling at 1200 baud)\n");
    std::printf("  %.1f s of board time in %.3f s of real time: %.0fx real time\n", virt, real,
                virt / real);
    std::printf("  %.0f E cycles per real second; %ld bytes echoed\n", virt * 2e6 / real, echoed);
    return 0;
}
