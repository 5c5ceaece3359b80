// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#include "frame.h"

namespace kestro::fast {

// CRC-16 with polynomial $1021, most significant bit first, no reflection, nothing XORed at
// the end ("CCITT-FALSE"); $29B1 for "123456789" from the initial $FFFF. A block followed by
// its CRC, high byte first, gives 0.
std::uint16_t crc16(ByteView data, std::uint16_t crc = 0xFFFF);

// A request: command, address (high byte first), count, CRC.
Bytes request(Byte command, std::uint16_t address, Byte count);
// A long request: command, address, count, data, CRC.
Bytes request(Byte command, std::uint16_t address, Byte count, ByteView data);

// The fast talkers' commands and answers (docs/fast-protocol.md).
inline constexpr Byte kPing = 'P';
inline constexpr Byte kRead = 'R';      // through the expanded bus
inline constexpr Byte kReadChip = 'I';  // the chip's own memories alone
inline constexpr Byte kDone = 'K';
inline constexpr Byte kDamaged = 'N';
inline constexpr Byte kUnknown = 'U';
inline constexpr Byte kRefused = 'A';  // the talker's RAM or the register block
inline constexpr Byte kNotDone = 'V';  // no memory of the kind, or it did not read back

// How a fast job that failed on the line ends, as the user is told it.
inline constexpr const char* kStoppedAnswering = "The HC11 stopped answering.";
inline constexpr const char* kDamagedTooOften =
    "The line to the HC11 damaged the same block 4 times in a row.";
inline constexpr const char* kNotTheProtocol =
    "The HC11 sent bytes that are not the fast protocol's.";
inline constexpr const char* kUnknownRequest =
    "The talker did not know a request of the fast protocol.";

struct Answer {
    Byte status = 0;
    std::uint16_t address = 0;
    Bytes data;
};

// The PC's side of the fast protocol inside an operation's frame: one request, one answer,
// checked; a damaged block either way is sent again a bounded number of times, and a talker
// that stops answering is an error within a second.
class FastLink {
  public:
    // Requests sent for one block before the job ends.
    static constexpr int kAttempts = 4;
    // The line idle time after which a talker takes a request it holds for damaged.
    static constexpr Duration kTalkerIdle = 20ms;
    // What a busy PC or a USB adapter may add to a turn-around.
    static constexpr Duration kTurnaround = 150ms;
    // A read's blocks.
    static constexpr std::size_t kReadBlock = 256;

    explicit FastLink(Frame& f) : f_(f) {}

    // Whether the talker answers at all: false when nothing came back to a ping.
    bool ping();
    // count bytes from address on (wrapping past $FFFF), in blocks, by kRead or kReadChip;
    // progress(n) after each.
    Bytes read(Byte command, std::uint16_t address, std::size_t count,
               const std::function<void(std::size_t)>& progress = {});

    // One request and its answer, carrying dataBytes when the talker has done it; chipTime is
    // what the talker spends before it answers.
    Answer exchange(Byte command, std::uint16_t address, Byte count, std::size_t dataBytes,
                    Duration chipTime = {});
    // The same for a request already made (a long one).
    Answer exchange(const Bytes& request, std::size_t dataBytes, Duration chipTime = {});

  private:
    enum class Outcome { Good, Damaged, Silent };
    Outcome receive(std::size_t dataBytes, Duration firstByteLimit, Answer& answer);
    // Waits until the line has been quiet for longer than the talker waits before it answers a
    // damaged request, then drops what came.
    void waitQuiet();
    Duration characters(std::size_t n) const;
    [[noreturn]] void silent();

    Frame& f_;
};

}  // namespace kestro::fast
