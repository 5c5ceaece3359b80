// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <vector>

#include "frame.h"
#include "virtual_line.h"

namespace kestro::testing {

// A target at the far end of a virtual line, scripted by a test. By default it behaves like
// the HC11's boot loader: after reset() it sends a break, takes the first byte as the sync byte,
// echoes and stores the next ramSize bytes, and then hands every further byte to talker.
class ScriptedTarget {
  public:
    ScriptedTarget(Scheduler& scheduler, VirtualLine& line, int baud = 1200)
        : scheduler_(scheduler), line_(line), tx_(line.toPc) {
        setBaud(baud);
    }

    void setBaud(int baud) {
        tx_.setBaud(baud);
        line_.toTarget.setReceiver(baud, [this](Byte b, bool fe) { receive(b, fe); });
    }

    // A bootstrap reset: the boot loader announces itself with a break.
    void reset(std::size_t ramSize = 256) {
        ramSize_ = ramSize;
        phase_ = Phase::Sync;
        loaded_ = 0;
        tx_.queueBreak(20ms);
    }
    void sendBreak(Duration length = 20ms) { tx_.queueBreak(length); }
    void send(ByteView bytes) { tx_.queue(bytes); }
    void send(std::string_view text) {
        const Bytes b = bytesOf(text);
        tx_.queue(b);
    }
    void send(Byte b) { tx_.queue(ByteView(&b, 1)); }
    // Runs fn after the given delay of virtual time.
    void after(Duration delay, std::function<void()> fn) {
        scheduler_.schedule(scheduler_.now() + delay, std::move(fn));
    }

    // Called for every byte that arrives once the download is complete.
    std::function<void(Byte)> talker;
    // Whether the talker acknowledges every byte it takes, as those that take a file do.
    bool acknowledges = false;
    // What the boot loader echoes for the nth byte it stores (from 0); by default the byte.
    std::function<Bytes(std::size_t n, Byte b)> echo;

    Bytes received;  // every byte, as sampled

  private:
    enum class Phase { Idle, Sync, Loading, Talker };

    void receive(Byte b, bool) {
        received.push_back(b);
        switch (phase_) {
            case Phase::Idle:
                break;
            case Phase::Sync:
                phase_ = Phase::Loading;
                break;
            case Phase::Loading:
                if (echo)
                    send(ByteView(echo(loaded_, b)));
                else
                    send(b);
                if (++loaded_ == ramSize_)
                    phase_ = Phase::Talker;
                break;
            case Phase::Talker:
                if (acknowledges)
                    send(Frame::kAcknowledgement);
                if (talker)
                    talker(b);
                break;
        }
    }

    Scheduler& scheduler_;
    VirtualLine& line_;
    Transmitter tx_;
    std::size_t ramSize_ = 256;
    std::size_t loaded_ = 0;
    Phase phase_ = Phase::Idle;
};

}  // namespace kestro::testing
