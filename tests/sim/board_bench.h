// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "kestro/sim/board/board.h"
#include "virtual_clock.h"

namespace kestro::sim::testing {

// The PC's end of the cable: a UART at a chosen rate that records what the board sends, at the
// line time of each frame's stop bit.
struct PcSide {
    struct Frame {
        Byte byte;
        bool framingError;
        TimePoint at;
    };

    PcSide(VirtualLine& line, int baud) : line(line), tx(line.toTarget) {
        tx.setBaud(baud);
        line.toPc.setReceiver(baud, [this](Byte b, bool fe) {
            rx.push_back({b, fe, this->line.toPc.sampledAt()});
        });
    }
    void send(const Bytes& bytes) { tx.queue(bytes); }

    // What arrived, breaks ($00 with a framing error) left out.
    Bytes data() const {
        Bytes out;
        for (const Frame& f : rx)
            if (!(f.byte == 0 && f.framingError))
                out.push_back(f.byte);
        return out;
    }
    int breaks() const {
        int n = 0;
        for (const Frame& f : rx)
            n += f.byte == 0 && f.framingError;
        return n;
    }

    VirtualLine& line;
    Transmitter tx;
    std::vector<Frame> rx;
};

// A board on a cable with the PC's UART at the other end.
struct BoardBench {
    explicit BoardBench(Chip chip = Chip::E9, int pcBaud = 7812)
        : BoardBench(BoardOptions{chip}, pcBaud) {}
    BoardBench(BoardOptions options, int pcBaud) : board(clock, line, options), pc(line, pcBaud) {}

    // Resets the board into bootstrap mode and waits long enough for its break.
    void reset() {
        board.resetBootstrap();
        clock.advance(std::chrono::milliseconds(30));
    }

    // Resets the board, waits for its break, downloads image and waits until it runs.
    void bootAndRun(const Bytes& image) {
        reset();
        Bytes wire{0xFF};
        wire.insert(wire.end(), image.begin(), image.end());
        pc.send(wire);
        const int baud = pc.tx.baud();
        clock.waitUntil([this] { return board.phase() == BootPhase::Running; },
                        characterTime(baud, static_cast<std::int64_t>(wire.size()) + 8));
        ASSERT_EQ(board.phase(), BootPhase::Running);
        pc.rx.clear();
    }

    VirtualClock clock;
    VirtualLine line{clock};
    Board board;
    PcSide pc;
};

}  // namespace kestro::sim::testing
