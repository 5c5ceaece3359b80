// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>

#include "frame.h"
#include "sci_rates.h"

namespace kestro::fast {

// CRC-16 with polynomial $1021, most significant bit first, no reflection, nothing XORed at
// the end ("CCITT-FALSE"); $29B1 for "123456789" from the initial $FFFF. A block followed by
// its CRC, high byte first, gives 0.
std::uint16_t crc16(ByteView data, std::uint16_t crc = 0xFFFF);

// A request: command, address (high byte first), count, CRC.
Bytes request(Byte command, std::uint16_t address, Byte count);
// A request with data bytes after the count.
Bytes request(Byte command, std::uint16_t address, Byte count, ByteView data);

// The programming talkers' check: CRC-8 with polynomial $07, initial value $FF, most
// significant bit first, nothing XORed at the end; a block followed by it gives 0.
std::uint8_t crc8(ByteView data, std::uint8_t crc = 0xFF);

// Which check a talker's blocks carry: the programming talkers have room for a CRC-8 only.
enum class Check { Crc16, Crc8 };

// A request with data bytes after the count, and the check given.
Bytes request(Byte command, std::uint16_t address, Byte count, ByteView data, Check check);

// The fast talkers' commands and answers (docs/fast-protocol.md).
inline constexpr Byte kPing = 'P';
inline constexpr Byte kRead = 'R';      // through the expanded bus
inline constexpr Byte kReadChip = 'I';  // the chip's own memories alone
inline constexpr Byte kRate = 'B';      // count: the new BAUD value
inline constexpr Byte kDone = 'K';
inline constexpr Byte kDamaged = 'N';
inline constexpr Byte kUnknown = 'U';
inline constexpr Byte kWrite = 'W';     // program count of the data bytes from the address on
inline constexpr Byte kNoMemory = 'V';  // (W) no memory of the kind there, or no read-back
inline constexpr Byte kStore = 'S';     // (fastxi) write bytes back to back, then read 8
inline constexpr Byte kRefused = 'A';   // the talker's RAM or the register block

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
    // Answers that come whole in a row before a line that damaged a block counts as clean
    // again: a second damage within them steps the rate down, and after them the job tries
    // the rate above again.
    static constexpr int kCleanRun = 16;
    // What the port's count of bytes gone may be ahead of the line: a USB adapter starts what
    // the driver took at its next bus frame and sends it from a FIFO the driver no longer
    // counts, a loaded PC hands the write over late. The talker's download is over 250 bytes,
    // so this is added once, not per character.
    static constexpr Duration kSettleMargin = 15ms;

    // How long the first request waits once a talker download at downloadBaud has left the
    // port: the E9 family's boot loader jumps to the talker after four idle characters at the
    // download's rate (AN1060; the 256-byte parts jump at their last byte), then every fast
    // talker waits for kTalkerIdle of idle line before it takes a request; and kSettleMargin.
    static Duration settleAfterDownload(int downloadBaud);

    explicit FastLink(Frame& f, Check check = Check::Crc16)
        : f_(f), check_(check), talkerBaud_(talkerRate().asked) {}
    ~FastLink();
    FastLink(const FastLink&) = delete;
    FastLink& operator=(const FastLink&) = delete;

    // Whether the talker answers at all, at the port's rate or, when that is a fast one (the
    // boot loader's own after a download at it), at the talker's rate, where it goes when a
    // request reaches it damaged: false when nothing came back to a ping.
    bool ping();
    // After the first ping: the highest of the clock's fast rates that the port sets within the
    // SCI's tolerance and that a request and its answer then cross whole; the rate the talker
    // answered the ping at when none does. A rate that fails, then or later in the job, puts both
    // sides back to the talker's rate within half a second, and the job goes on at the next rate
    // down. from: the first of the fast rates to try.
    SciRate agreeRate(std::size_t from = 0);
    // count bytes from address on (wrapping past $FFFF), in blocks, by kRead or kReadChip;
    // progress(n) after each.
    Bytes read(Byte command, std::uint16_t address, std::size_t count,
               const std::function<void(std::size_t)>& progress = {});

    // One request and its answer, carrying dataBytes when the talker has done it; chipTime is
    // what the talker spends before it answers.
    Answer exchange(Byte command, std::uint16_t address, Byte count, std::size_t dataBytes,
                    Duration chipTime = {});
    // The same with data bytes sent after the count.
    Answer exchange(Byte command, std::uint16_t address, Byte count, ByteView data,
                    std::size_t dataBytes, Duration chipTime);

    // The same for a request already made (a long one).
    Answer exchange(const Bytes& request, std::size_t dataBytes, Duration chipTime = {});

    // The job's last request, after which the talker no longer listens (G: it runs the
    // program): sent once and never again, its answer taken from the first bytes that come.
    // What follows is not the talker's: a program that talks at once, at a rate the PC may
    // hear as garbage or breaks. nullopt when no good answer came.
    std::optional<Answer> lastExchange(Byte command, std::uint16_t address, Byte count);

  private:
    enum class Outcome { Good, Damaged, Silent };
    enum class Trial { Kept, Failed, NoRates };
    // One request sent and its answer taken, nothing judged.
    Outcome attemptOnce(const Bytes& request, std::size_t dataBytes, Duration chipTime,
                        Answer& answer);
    // B for the rate chosen, at the talker's rate, then a ping at the new one: kept, or both
    // back at the talker's rate.
    Trial tryRate(const RateChoice& c);
    void setRate(int baud);
    bool atFastRate() const;
    Bytes pingRequest() const;
    // Both sides back at the talker's rate: whether the talker answers a ping there.
    bool lookAtTalkerRate();
    // The same; the job ends when the talker is gone.
    void backToTalkerRate();
    // A failure at a fast rate: back to the talker's rate, then the same rate again the first time,
    // the next one down when the line damaged a block within kCleanRun answers before.
    void fallBack();
    // A clean run at a rate below the job's first: the rate above is tried again.
    void stepUp();
    Outcome receive(std::size_t dataBytes, Duration firstByteLimit, Answer& answer);
    // Waits until the line has been quiet for longer than the talker waits before it answers a
    // damaged request, then drops what came.
    void waitQuiet();
    Duration characters(std::size_t n) const;
    // Where every talker starts and goes back to after a damaged request.
    SciRate talkerRate() const;
    [[noreturn]] void silent();

    Frame& f_;
    Check check_;
    std::size_t next_ = SciClock::kFastBauds.size();     // where a fall back goes on from
    std::size_t fastest_ = SciClock::kFastBauds.size();  // the first rate the job agreed
    int clean_ = kCleanRun;  // answers whole in a row since the last damage at a fast rate
    int talkerBaud_;         // the port's rate when the talker last answered
};

}  // namespace kestro::fast
