// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kestro/sim/board/board.h"
#include "talker_loader.h"
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

    // Lets `d` of line time pass and brings the board up to it.
    void run(Duration d) {
        clock.advance(d);
        board.catchUp();
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

// The parts the board models, for the programs that must run alike on each.
inline constexpr Chip kEveryPart[] = {Chip::A8, Chip::E9, Chip::E9_711, Chip::E2_811};

// A program padded with zeros to `size` bytes: the 256-byte parts' loader waits for all of RAM.
inline Bytes padded(Bytes program, std::size_t size = 256) {
    if (program.size() < size)
        program.resize(size, 0x00);
    return program;
}

// The bytes of an S-record file that m68hc11-objcopy wrote, in record order.
inline Bytes imageOf(const std::filesystem::path& file) {
    std::string reason;
    const auto text = readFile(file, &reason);
    EXPECT_TRUE(text) << file << ": " << reason;
    return text ? talkerImage(*text) : Bytes{};
}

#ifdef KESTRO_TALKER_DIR
// One of our talkers as the talkers folder assembled it, unpadded.
inline Bytes talkerFile(std::string_view name) {
    return imageOf(std::filesystem::path(KESTRO_TALKER_DIR) / (std::string(name) + ".S19"));
}
#endif

#ifdef KESTRO_TEST_PROGRAMS
// One of the test programs, padded to `size` bytes.
inline Bytes testProgram(const char* name, std::size_t size = 256) {
    return padded(imageOf(std::filesystem::path(KESTRO_TEST_PROGRAMS) / name), size);
}
#endif

}  // namespace kestro::sim::testing
