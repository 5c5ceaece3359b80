// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <string>

#include "clock.h"
#include "serial_port.h"

namespace kestro {

// Writes what went over the wire, with its time, in a form a user can read when something
// fails: one line per run of bytes in one direction, hex and printable characters side by side.
//
//     2.150213  PC>   50 50 55 42 36 30 30 56 42 37 46 46 57     PPUB600VB7FFW
//     2.163512  <HC11 BREAK
//     2.170000  RATE  128000 baud, asked 125000
class WireTrace final : public PortTrace {
  public:
    // Appends to the file; nothing is written when it cannot be opened (see ok()).
    WireTrace(const std::string& path, const Clock& clock);
    ~WireTrace() override;
    WireTrace(const WireTrace&) = delete;
    WireTrace& operator=(const WireTrace&) = delete;

    // False when the file could not be opened or a write to it failed (a full disk).
    bool ok() const { return file_ != nullptr && error_ == 0; }
    // Why not: an errno value.
    int error() const { return error_; }

    void sent(ByteView bytes) override;
    void received(ByteView bytes) override;
    void breakReceived() override;
    void rateChanged(int asked, int inForce, bool refused) override;
    // Ends the current line, so what follows starts on its own.
    void flush();

  private:
    enum class Direction { None, Out, In };
    void add(Direction d, ByteView bytes);
    // Notes the first failure of a write that returned result.
    void check(bool failed);

    std::FILE* file_ = nullptr;
    const Clock& clock_;
    Direction direction_ = Direction::None;
    TimePoint lineStart_{0};
    TimePoint lastByte_{0};
    std::string hex_;
    std::string text_;
    int count_ = 0;
    int error_ = 0;
};

}  // namespace kestro
