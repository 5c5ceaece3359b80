// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vector>

#include "bytes.h"

namespace kestro {

// Turns what a tty hands over with break marking on (termios PARMRK, INPCK, IGNPAR and IGNBRK
// off) back into data bytes and breaks:
//   \377 \377    a data byte 0xFF
//   \377 \0 \0   a break; a NUL with a framing error looks exactly like one and is one for us:
//                the HC11's boot ROM announces a reset with a break (HC11 reference manual,
//                bootstrap mode), and a line held low reads as nothing else
//   \377 \0 c    c with a framing or parity error; passed on as data, since the operations judge
//                what a talker sends back themselves and a dropped byte would hide the fault
// A mark may be split over two reads, so the decoder keeps its place between chunks.
class BreakDecoder {
  public:
    struct Item {
        enum class Kind { Data, Break };
        Kind kind = Kind::Data;
        Byte byte = 0;  // 0 for a break

        static Item data(Byte b) { return {Kind::Data, b}; }
        static Item brk() { return {Kind::Break, 0}; }
        bool isBreak() const { return kind == Kind::Break; }
        bool operator==(const Item&) const = default;
    };

    // Appends what chunk completes to out, in the order it arrived.
    void feed(ByteView chunk, std::vector<Item>& out);
    std::vector<Item> feed(ByteView chunk) {
        std::vector<Item> out;
        feed(chunk, out);
        return out;
    }

    // Forgets a mark begun in an earlier chunk (the input was flushed or the port closed).
    void reset() { state_ = State::Plain; }
    bool inMark() const { return state_ != State::Plain; }

  private:
    enum class State { Plain, Marked, MarkedNul };
    State state_ = State::Plain;
};

}  // namespace kestro
