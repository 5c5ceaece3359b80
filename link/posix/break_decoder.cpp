// SPDX-License-Identifier: GPL-3.0-or-later
#include "break_decoder.h"

namespace kestro {

namespace {
constexpr Byte kMark = 0xFF;
}

void BreakDecoder::feed(ByteView chunk, std::vector<Item>& out) {
    for (const Byte b : chunk) {
        switch (state_) {
            case State::Plain:
                if (b == kMark)
                    state_ = State::Marked;
                else
                    out.push_back(Item::data(b));
                break;
            case State::Marked:
                if (b == kMark) {
                    out.push_back(Item::data(kMark));
                    state_ = State::Plain;
                } else if (b == 0) {
                    state_ = State::MarkedNul;
                } else {
                    // The line discipline never writes this; keep both bytes rather than lose one.
                    out.push_back(Item::data(kMark));
                    out.push_back(Item::data(b));
                    state_ = State::Plain;
                }
                break;
            case State::MarkedNul:
                out.push_back(b == 0 ? Item::brk() : Item::data(b));
                state_ = State::Plain;
                break;
        }
    }
}

}  // namespace kestro
