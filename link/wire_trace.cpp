// SPDX-License-Identifier: GPL-3.0-or-later
#include "wire_trace.h"

#include <cerrno>

namespace kestro {

namespace {

constexpr int kBytesPerLine = 16;
// A pause longer than this starts a new line even in the same direction.
constexpr Duration kGap = 50ms;

const char* label(bool out) {
    return out ? "PC>  " : "<HC11";
}

double seconds(TimePoint t) {
    return std::chrono::duration<double>(t).count();
}

}  // namespace

WireTrace::WireTrace(const std::string& path, const Clock& clock)
    : file_(std::fopen(path.c_str(), "a")), clock_(clock), error_(file_ ? 0 : errno) {}

void WireTrace::check(bool failed) {
    if (failed && error_ == 0)
        error_ = errno != 0 ? errno : EIO;
}

WireTrace::~WireTrace() {
    flush();
    if (file_)
        std::fclose(file_);
}

void WireTrace::sent(ByteView bytes) {
    add(Direction::Out, bytes);
}

void WireTrace::received(ByteView bytes) {
    add(Direction::In, bytes);
}

void WireTrace::breakReceived() {
    flush();
    if (!file_)
        return;
    check(std::fprintf(file_, "%12.6f  %s BREAK\n", seconds(clock_.now()), label(false)) < 0);
    check(std::fflush(file_) != 0);
}

void WireTrace::rateChanged(int asked, int inForce, bool refused) {
    flush();
    if (!file_)
        return;
    // What the adapter made of the rate asked is what a user needs when a fast rate fails.
    char what[64] = "";
    if (refused)
        std::snprintf(what, sizeof what, ", asked %d: refused", asked);
    else if (asked != inForce)
        std::snprintf(what, sizeof what, ", asked %d", asked);
    check(std::fprintf(file_, "%12.6f  RATE  %d baud%s\n", seconds(clock_.now()), inForce, what) <
          0);
    check(std::fflush(file_) != 0);
}

void WireTrace::add(Direction d, ByteView bytes) {
    if (!file_)
        return;
    const TimePoint now = clock_.now();
    for (Byte b : bytes) {
        if (d != direction_ || count_ == kBytesPerLine || now - lastByte_ > kGap) {
            flush();
            direction_ = d;
            lineStart_ = now;
        }
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", b);
        hex_ += hex;
        text_ += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
        ++count_;
        lastByte_ = now;
    }
}

void WireTrace::flush() {
    if (!file_ || count_ == 0)
        return;
    check(std::fprintf(file_, "%12.6f  %s %-48s %s\n", seconds(lineStart_),
                       label(direction_ == Direction::Out), hex_.c_str(), text_.c_str()) < 0);
    check(std::fflush(file_) != 0);
    hex_.clear();
    text_.clear();
    count_ = 0;
    direction_ = Direction::None;
}

}  // namespace kestro
