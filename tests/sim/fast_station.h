// SPDX-License-Identifier: GPL-3.0-or-later
// The PC (port, link) and the virtual board for the fast protocol's tests, in virtual time, with
// a line between them that can damage chosen requests or answers, fall silent, and refuse or
// lie about rates.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "fast_link.h"
#include "kestro/sim/board/board.h"
#include "operations.h"
#include "recorders.h"
#include "recording_port.h"
#include "scratch.h"
#include "srecords.h"
#include "virtual_clock.h"
#include "virtual_port.h"

namespace kestro::sim {

using kestro::testing::srecords;
namespace fs = std::filesystem;

class FastPort final : public kestro::testing::ForwardingPort {
  public:
    FastPort(VirtualPort& inner, const Clock& clock) : ForwardingPort(inner), clock_(clock) {}

    // Which writes are the requests counted, damaged and gone silent from.
    std::function<bool(ByteView)> isRequest = [](ByteView b) { return b.size() == 6; };
    std::size_t damageByte = 3;  // a damaged request has this byte changed
    Byte damageBits = 0x10;

    std::vector<Bytes> writes;     // every write of the run
    int requests = 0;              // requests sent
    std::size_t received = 0;      // bytes taken in
    std::set<int> damageRequests;  // these requests go with a bit changed
    std::set<int> damageAnswers;   // the answers to these come with a bit changed
    bool damageEcho = false;       // the boot loader's first echoed byte comes with a bit changed
    int deafFrom = 0;              // from this request on, nothing comes back (0: never)
    TimePoint deafSince{};
    // Rate changes: taken unless cleared; a rate in `lies` is claimed while the other is set;
    // at a rate in `damaged` every request and answer comes with a bit changed.
    bool rates = true;
    std::map<int, int> lies;
    std::set<int> damaged;
    std::vector<std::pair<TimePoint, int>> asked;  // when each rate was asked
    int downloadBaud = 0;                          // the rate of the run's first write
    std::vector<int> requestBauds;                 // the rate of each request sent
    TimePoint firstRequestAt{};

    RateResult setRate(int baud) override {
        if (!rates)
            return SerialPort::setRate(baud);
        asked.emplace_back(clock_.now(), baud);
        const auto lie = lies.find(baud);
        RateResult r = inner_.setRate(lie != lies.end() ? lie->second : baud);
        if (lie != lies.end() && r.error == PortError::None)
            r.baud = baud;
        claimed_ = r.baud;
        return r;
    }
    PortError output(ByteView bytes) override {
        if (writes.empty())
            downloadBaud = inner_.settings().baud;
        writes.emplace_back(bytes.begin(), bytes.end());
        if (!isRequest(bytes))
            return inner_.output(bytes);
        if (++requests == 1)
            firstRequestAt = clock_.now();
        requestBauds.push_back(inner_.settings().baud);
        Bytes b(bytes.begin(), bytes.end());
        if (rates && damaged.contains(claimed_))
            b[0] ^= 0x04;
        if (damageRequests.contains(requests))
            b[damageByte] ^= damageBits;
        damageNextAnswer_ = damageAnswers.contains(requests);
        if (requests == deafFrom)
            deafSince = clock_.now();
        return inner_.output(ByteView(b));
    }
    using SerialPort::output;
    Bytes input() override {
        Bytes b = inner_.input();
        if (deaf())
            return {};
        received += b.size();
        if (damageEcho && requests == 0 && !b.empty()) {
            b.front() ^= 0x01;
            damageEcho = false;
        }
        if (rates && damaged.contains(claimed_) && !b.empty())
            b.back() ^= 0x01;
        if (damageNextAnswer_ && !b.empty()) {
            b.back() ^= 0x01;
            damageNextAnswer_ = false;
        }
        return b;
    }
    std::size_t inBufferCount() override { return deaf() ? 0 : inner_.inBufferCount(); }

  private:
    bool deaf() const { return deafFrom != 0 && requests >= deafFrom; }
    const Clock& clock_;
    bool damageNextAnswer_ = false;
    int claimed_ = 0;
};

struct FastStation {
    // slice: as the board's; shorter keeps the run slices out of the answers' times.
    explicit FastStation(Chip chip, std::uint32_t crystalHz = SciClock::kDefaultCrystalHz,
                         Duration slice = BoardOptions{}.slice)
        : board(clock, line, BoardOptions{.chip = chip, .slice = slice, .crystalHz = crystalHz}) {
        link.setSciClock(SciClock(crystalHz));
        inner.attach(1, line);
        port.setListener(&link);
        link.setView(&view);
        link.startupSearch();
    }

    // Resets the board into bootstrap mode and runs the operation behind a button, by the
    // fast protocol or the default one. Returns what the run showed.
    std::vector<Message> run(std::string_view button, bool fast, ops::Inputs in = {},
                             const std::filesystem::path& file = {}) {
        board.resetBootstrap();
        clock.advance(std::chrono::milliseconds(100));
        ui.messages.clear();
        ui.lineRate = 0;
        ui.chooserAnswer = file.empty() ? "Cancel" : file.string();
        in.fast = fast;
        if (in.dumpFolder.empty())
            in.dumpFolder = dir.path;
        port.requests = 0;
        port.writes.clear();
        port.asked.clear();
        port.requestBauds.clear();
        if (link.ready())
            ops::operationFor(button)(target, in);
        else
            ui.messages.push_back({"the board's break was not seen as a reset"});
        // What the talker or the user's program still does after the PC's verdict.
        clock.advance(std::chrono::milliseconds(100));
        board.catchUp();
        return ui.messages;
    }

    // A file of the test's own for the chooser to answer with.
    std::filesystem::path file(const std::string& text, const std::string& name = "prog.s19") {
        return dir.write(name, text);
    }

    VirtualClock clock;
    VirtualLine line{clock};
    VirtualPort inner{clock};
    FastPort port{inner, clock};
    LinkState link{port, clock, clock};
    Board board;
    kestro::testing::RecordingView view;
    kestro::testing::RecordingUi ui;
    Target target{link, ui, KESTRO_TALKER_DIR};
    kestro::testing::ScratchDir dir;
};

inline std::string hex4(unsigned v) {
    char at[8];
    std::snprintf(at, sizeof at, "%04X", v & 0xFFFF);
    return at;
}

inline Bytes pattern(std::size_t n, unsigned seed = 7) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<Byte>((i * 37 + seed * 11) ^ (i >> 3));
    return b;
}

// A user's program that shows it ran: ldaa #$5A; staa $3000; bra .
inline const Bytes kMarker{0x86, 0x5A, 0xB7, 0x30, 0x00, 0x20, 0xFE};

// What a run shows: one box.
inline std::vector<Message> says(std::string text, std::string title,
                                 Icon icon = Icon::Information) {
    return {{std::move(text), std::move(title), icon}};
}

}  // namespace kestro::sim
