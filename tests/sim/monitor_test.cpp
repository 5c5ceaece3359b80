// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor session against the resident monitor talker on the board, in virtual time: a
// program of ours stopped at a breakpoint, stepped, changed and stopped from the PC, on a part
// with its program in EEPROM and on two with RAM for it; and how a session ends when the line,
// the board or the program goes wrong.
#include <gtest/gtest.h>

#include "commands.h"
#include "fast_station.h"
#include "instruction.h"
#include "session.h"

namespace kestro::sim {
namespace {

using ops::monitor::Registers;
using ops::monitor::Stop;
using ops::monitor::StopCause;
using ops::monitor::TalkerMonitor;

struct Part {
    Chip chip;
    std::uint16_t origin;  // where the program goes
    std::uint16_t stack;   // what it loads into SP
    std::uint16_t data;    // the RAM byte it stores B in
    std::uint16_t eeprom;  // an EEPROM byte the test programs
    std::uint32_t crystalHz = SciClock::kDefaultCrystalHz;
    bool expanded = false;  // the program, its stack and its data in the board's external RAM
};

// A8: the program in EEPROM, its stack over pseudo-vectors it does not use, on a crystal slow
// enough that every EEPROM cycle needs CSEL; E9 and F1 in RAM at $0100, which the monitor leaves.
const Part kParts[] = {
    {Chip::A8, 0xB600, 0x00F3, 0x00D0, 0xB7F0, 3'686'400},
    {Chip::E9, 0x0100, 0x01FF, 0x0180, 0xB7F0},
    {Chip::F1, 0x0100, 0x03FF, 0x0180, 0xFFB0},
    {Chip::E9, 0x2000, 0x7FFF, 0x3000, 0xB7F0, SciClock::kDefaultCrystalHz, true},
};

// lds #stack; cli; ldaa #3; loop: deca; bne loop; jsr sub; stab data; spin: bra spin;
// nop x3; sub: ldab #$42; rts
Bytes program(const Part& p) {
    const auto hi = [](unsigned v) { return static_cast<Byte>(v >> 8); };
    const auto lo = [](unsigned v) { return static_cast<Byte>(v); };
    const unsigned sub = p.origin + 20u;
    return {0x8E, hi(p.stack), lo(p.stack), 0x0E,    0x86, 0x03,       0x4A,       0x26,
            0xFD, 0xBD,        hi(sub),     lo(sub), 0xF7, hi(p.data), lo(p.data), 0x20,
            0xFE, 0x01,        0x01,        0x01,    0xC6, 0x42,       0x39};
}

// Runs body in a monitor session on a board just reset into bootstrap mode; what the session
// ended with, if anything, comes back as the frame's box.
struct Session {
    explicit Session(Chip chip, Duration slice = BoardOptions{}.slice,
                     std::uint32_t crystalHz = SciClock::kDefaultCrystalHz)
        : s(chip, crystalHz, slice), chip(chip) {
        s.port.isRequest = [](ByteView b) { return b.size() == 5; };
        s.board.resetBootstrap();
        s.clock.advance(std::chrono::milliseconds(100));
    }
    void run(const std::function<void(TalkerMonitor&)>& body) {
        Frame::run(s.target, "Monitor", "Monitor", [&](Frame& f) {
            ASSERT_TRUE(f.begin());
            TalkerMonitor m(f, variant(chip), ops::monitor::successors);
            body(m);
            f.finish();
        });
    }
    // Runs body in a session on a board of the part just reset into bootstrap mode; the session
    // must end without a box.
    static void clean(Chip chip, const std::function<void(Session&, TalkerMonitor&)>& body) {
        Session t(chip);
        t.run([&](TalkerMonitor& m) { body(t, m); });
        EXPECT_TRUE(t.noBox());
    }
    // Polls a running program until it stops, for at most limit.
    static std::optional<Stop> until(TalkerMonitor& m, Duration limit, Bytes* output = nullptr) {
        for (Duration t{0}; t < limit; t += 50ms)
            if (auto stop = m.poll(
                    [output](ByteView b) {
                        if (output)
                            output->insert(output->end(), b.begin(), b.end());
                    },
                    50ms))
                return stop;
        return std::nullopt;
    }
    // No box came: the session ended as the test meant it to.
    ::testing::AssertionResult noBox() const {
        if (s.ui.messages.empty())
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << s.ui.messages[0].text;
    }
    FastStation s;
    Chip chip;
};

Registers regs(Byte a, Byte b, std::uint16_t sp, std::uint16_t pc, Byte ccr) {
    Registers r;
    r.a = a;
    r.b = b;
    r.sp = sp;
    r.pc = pc;
    r.ccr = ccr;
    return r;
}

// A call the session refuses and goes on from (the target kept), telling `says` in its text or
// its detail.
::testing::AssertionResult refuses(const std::function<void()>& call, std::string_view says = {}) {
    try {
        call();
    } catch (const LinkError& e) {
        const std::string text = e.what();
        if (e.ending != LinkError::Ending::KeepTarget)
            return ::testing::AssertionFailure() << "the session ended: " << text;
        if (text.find(says) == std::string::npos && e.detail.find(says) == std::string::npos)
            return ::testing::AssertionFailure() << "told " << text << " / " << e.detail;
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "not refused";
}

class MonitorOnEveryPart : public ::testing::TestWithParam<Part> {};

// The program's registers as the instructions leave them: the initial CCR $D0 (S, X, I) loses
// I at CLI; DECA sets Z at 0 and clears it otherwise; LDAB and the rest leave C and H alone.
TEST_P(MonitorOnEveryPart, StopsStepsAndChangesTheProgram) {
    const Part p = GetParam();
    Session t(p.chip, BoardOptions{}.slice, p.crystalHz);
    std::vector<std::string> failures;
    t.run([&](TalkerMonitor& m) {
        EXPECT_EQ(m.part().chip, p.chip);
        if (p.expanded)  // HPRIO's MDA: the bus on ports B and C (the board's external RAM)
            m.write(0x103C, Bytes{static_cast<Byte>(m.read(0x103C, 1).at(0) | 0x20)});
        m.write(p.origin, program(p));
        EXPECT_EQ(m.read(p.origin, program(p).size()), program(p));

        // A breakpoint on the BNE, hit with A = 2 after the first DECA.
        m.setBreakpoint(p.origin + 7);
        m.run(p.origin);
        auto stop = Session::until(m, 1s);
        ASSERT_TRUE(stop);
        EXPECT_EQ(stop->cause, StopCause::Breakpoint);
        EXPECT_EQ(stop->registers, regs(2, 0, p.stack, p.origin + 7, 0xC0));
        // The board's window says where the monitor holds the program.
        EXPECT_EQ(t.s.board.monitorHalt().kind, Board::Halt::Breakpoint);
        EXPECT_EQ(t.s.board.monitorHalt().at, p.origin + 7);
        // The program's own byte reads back, not the SWI.
        EXPECT_EQ(m.read(p.origin + 7, 1), Bytes{0x26});

        // Branch taken twice, then not taken once A reaches 0.
        struct StepTo {
            std::uint16_t pc;
            Byte a;
            Byte ccr;
        };
        m.clearBreakpoint(p.origin + 7);
        const StepTo loop[] = {
            {6, 2, 0xC0}, {7, 1, 0xC0}, {6, 1, 0xC0}, {7, 0, 0xC4}, {9, 0, 0xC4}};
        for (const StepTo& s : loop) {
            const Stop st = m.step();
            EXPECT_EQ(st.cause, StopCause::Step);
            EXPECT_EQ(st.registers, regs(s.a, 0, p.stack, p.origin + s.pc, s.ccr))
                << "step to +" << s.pc;
        }

        // A register changed by the PC, then JSR, LDAB, RTS and the store.
        Registers r = m.registers();
        r.b = 0x10;
        r.x = 0x1234;
        m.setRegisters(r);
        EXPECT_EQ(m.registers().b, 0x10);
        Registers inSub = regs(0, 0x10, p.stack - 2, p.origin + 20, 0xC4);
        inSub.x = 0x1234;
        EXPECT_EQ(m.step().registers, inSub);
        EXPECT_EQ(m.read(p.stack - 1, 2), (Bytes{static_cast<Byte>((p.origin + 12) >> 8),
                                                 static_cast<Byte>(p.origin + 12)}));
        EXPECT_EQ(m.step().registers.b, 0x42);
        Stop back = m.step();
        EXPECT_EQ(back.registers.pc, p.origin + 12);
        EXPECT_EQ(back.registers.sp, p.stack);
        EXPECT_EQ(m.step().registers.pc, p.origin + 15);
        EXPECT_EQ(m.read(p.data, 1), Bytes{0x42});

        // Memory changed and read back.
        m.write(p.data, Bytes{0xA5, 0x5A});
        EXPECT_EQ(m.read(p.data, 2), (Bytes{0xA5, 0x5A}));

        // Running on at the spin, stopped from the PC.
        m.run(std::nullopt);
        EXPECT_FALSE(Session::until(m, 200ms));
        EXPECT_EQ(t.s.board.monitorHalt().kind, Board::Halt::None);
        const Stop stopped = m.stop();
        EXPECT_EQ(stopped.cause, StopCause::Stopped);
        EXPECT_EQ(stopped.registers.pc, p.origin + 15);
        EXPECT_EQ(t.s.board.monitorHalt().kind, Board::Halt::FromPc);

        // The EEPROM through its cycles, over a byte that needs an erase.
        m.write(p.eeprom, Bytes{0x0F, 0xF0});
        m.write(p.eeprom, Bytes{0xF0, 0xF0});
        EXPECT_EQ(m.read(p.eeprom, 2), (Bytes{0xF0, 0xF0}));
    });
    EXPECT_TRUE(t.noBox());
    // What the session programmed stays through a reset.
    t.s.board.resetBootstrap();
    EXPECT_EQ(t.s.board.peek(p.eeprom), 0xF0);
    EXPECT_EQ(t.s.board.peek(p.eeprom + 1), 0xF0);
    // The breakpoint's byte back; after the reset the bus is off again.
    if (!p.expanded) {
        EXPECT_EQ(t.s.board.peek(p.origin + 7), 0x26);
    }
}

INSTANTIATE_TEST_SUITE_P(Parts, MonitorOnEveryPart, ::testing::ValuesIn(kParts),
                         [](const auto& info) {
                             return std::string(variant(info.param.chip).shortName) +
                                    (info.param.expanded ? "_ExternalRam" : "");
                         });

// Each way a session ends: the text the user is told, the session over, and nothing written
// that the test did not ask for.
TEST(MonitorEnds, WithAClearMessage) {
    const Part p = kParts[1];
    struct Case {
        const char* name;
        std::function<void(Session&, TalkerMonitor&)> fault;
        const char* says;
        const char* detailHas = "";
    };
    const Case cases[] = {
        {"damaged blocks",
         [](Session& t, TalkerMonitor& m) {
             const int next = t.s.port.requests + 1;
             for (int i = 0; i < 40; ++i)
                 t.s.port.damageAnswers.insert(next + i);
             m.write(0x0180, Bytes{0x77});
         },
         fast::kDamagedTooOften},
        {"a silent talker",
         [](Session& t, TalkerMonitor& m) {
             t.s.port.deafFrom = t.s.port.requests + 1;
             m.write(0x0180, Bytes{0x77});
         },
         fast::kStoppedAnswering},
        {"a reset while the program runs",
         [&p](Session& t, TalkerMonitor& m) {
             m.run(p.origin);
             t.s.board.resetBootstrap();
             Session::until(m, 1s);
         },
         Frame::kResetDuringJob},
        {"a reset while the program is stopped",
         [](Session& t, TalkerMonitor& m) {
             t.s.board.resetBootstrap();
             m.write(0x0180, Bytes{0x77});
         },
         Frame::kResetDuringJob},
        {"a program that overwrites the monitor",
         [&p](Session&, TalkerMonitor& m) {
             // clr $00C5 (the SCI entry's second byte); cli; spin
             m.write(p.origin + 0x20, Bytes{0x7F, 0x00, 0xC5, 0x0E, 0x20, 0xFE});
             m.run(p.origin + 0x20);
             Session::until(m, 100ms);
             m.stop();
         },
         ops::monitor::kMonitorGone},
        {"a program that keeps interrupts masked, with a breakpoint in the EEPROM",
         [](Session&, TalkerMonitor& m) {
             m.write(0xB600, Bytes{0x20, 0xFE, 0x01});  // bra *; nop
             m.setBreakpoint(0xB602);
             m.run(0xB600);
             m.stop();
         },
         ops::monitor::kNotStopped, "$01 at $B602"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session t(p.chip);
        t.run([&](TalkerMonitor& m) {
            m.write(p.origin, program(p));
            c.fault(t, m);
            ADD_FAILURE() << "the session went on";
        });
        ASSERT_EQ(t.s.ui.messages.size(), 1u);
        EXPECT_EQ(t.s.ui.messages[0].text, c.says);
        EXPECT_NE(t.s.ui.messages[0].detail.find(c.detailHas), std::string::npos)
            << t.s.ui.messages[0].detail;
        EXPECT_FALSE(t.s.link.ready());
        for (std::size_t i = 0; i < program(p).size(); ++i)
            EXPECT_EQ(t.s.board.peek(static_cast<std::uint16_t>(p.origin + i)), program(p)[i]);
    }
}

// A step and a display of 4 KB take at most 1.1 times the line time of the bytes their
// exchanges carry at the rate in use (board slices short enough to add no delay of their own).
TEST(MonitorSpeed, AStepAndA4KbDisplayWithinTheirLineTime) {
    const Part p = kParts[1];
    Session t(p.chip, 50us);
    t.run([&](TalkerMonitor& m) {
        m.write(p.origin, program(p));
        Registers r = m.registers();
        r.pc = p.origin;
        m.setRegisters(r);
        m.step();  // the first run writes the whole frame
        const auto bytesSoFar = [&] {
            std::size_t n = t.s.port.received;
            for (const Bytes& w : t.s.port.writes)
                n += w.size();
            return n;
        };
        const std::pair<const char*, std::function<void()>> cases[] = {
            {"step", [&] { m.step(); }},
            {"md 4 KB", [&] { m.read(0xD000, 0x1000); }},
        };
        for (const auto& [name, body] : cases) {
            SCOPED_TRACE(name);
            const std::size_t before = bytesSoFar();
            const TimePoint start = t.s.clock.now();
            body();
            const Duration took = t.s.clock.now() - start;
            const Duration line = characterTime(t.s.inner.settings().baud,
                                                static_cast<std::int64_t>(bytesSoFar() - before));
            EXPECT_LE(std::chrono::duration<double>(took) / line, 1.1);
        }
    });
    EXPECT_TRUE(t.noBox());
}

// Refused places: the monitor's own RAM, ROM, the boot ROM, memory the part does not have,
// the register block and the pseudo-vectors for a breakpoint, and a start in the monitor.
TEST(MonitorRefuses, PlacesItCannotWriteOrBreakAt) {
    Session t(Chip::E9);
    t.run([&](TalkerMonitor& m) {
        // A fresh session's PC is $0000, the monitor's: go and step without an address refuse.
        const char* noStart = "No start address: give one, or load a program.";
        EXPECT_TRUE(refuses([&] { m.run(std::nullopt); }, noStart));
        EXPECT_TRUE(refuses([&] { m.step(); }, noStart));
        EXPECT_THROW(m.run(0x0040), LinkError);
        EXPECT_THROW(m.run(0x4000), LinkError);
        EXPECT_FALSE(m.running());
        const std::uint16_t refusedWrites[] = {0x0000, 0x00C3, 0x00C5, 0x00F4, 0x00F9,
                                               0xE000, 0xBFF0, 0x4000, 0x0200};
        for (std::uint16_t a : refusedWrites) {
            SCOPED_TRACE(a);
            EXPECT_THROW(m.write(a, Bytes{0x01}), LinkError);
        }
        // A run that crosses into the monitor is refused whole.
        const Bytes before = m.read(0x00C0, 8);
        EXPECT_THROW(m.write(0x00BE, Bytes{1, 2, 3, 4, 5, 6, 7, 8}), LinkError);
        EXPECT_EQ(m.read(0x00C0, 8), before);
        const std::uint16_t refusedBreaks[] = {0x0010, 0x00C4, 0x00F4, 0x00F7, 0xE000, 0x1000};
        for (std::uint16_t a : refusedBreaks)
            EXPECT_THROW(m.setBreakpoint(a), LinkError);
        m.write(0x00F0, Bytes{0x01});  // the XIRQ slot is the program's
        // A breakpoint where nothing takes the SWI stops the run before it starts, and the one
        // already in RAM is taken out again.
        m.write(0x0150, Bytes{0x01});
        m.setBreakpoint(0x0150);
        m.setBreakpoint(0x4000);
        EXPECT_THROW(m.run(0x0150), LinkError);
        EXPECT_FALSE(m.running());
        EXPECT_EQ(m.read(0x0150, 1), Bytes{0x01});
    });
    EXPECT_TRUE(t.noBox());
    // The first run's frame would go over bytes written at the top of RAM: refused, the bytes
    // kept; with SP below them it runs.
    Session fresh(Chip::E9);
    fresh.run([&](TalkerMonitor& m) {
        m.write(0x0150, Bytes{0x20, 0xFE});
        m.write(0x01FA, Bytes{0xAA});
        EXPECT_TRUE(refuses([&] { m.run(0x0150); }, "frame at $01F7-$01FF"));
        EXPECT_EQ(m.read(0x01FA, 1), Bytes{0xAA});
        Registers r = m.registers();
        r.sp = 0x01EF;
        r.ccr = 0xC0;  // I clear, to be stopped from the PC
        m.setRegisters(r);
        m.run(0x0150);
        EXPECT_EQ(m.stop().registers.pc, 0x0150);
        EXPECT_EQ(m.read(0x01FA, 1), Bytes{0xAA});
    });
    EXPECT_TRUE(fresh.s.ui.messages.empty());
}

// Where a part has no memory, a write is refused whole, before its first byte, from the part's
// own map: the A8's 256 bytes of RAM, the F1's gap above its 1 KB.
TEST(MonitorRefuses, WritesWhereThePartHasNoMemory) {
    struct Case {
        Chip chip;
        std::uint16_t lastRam;
    };
    for (const Case c : {Case{Chip::A8, 0x00FF}, Case{Chip::F1, 0x03FF}}) {
        SCOPED_TRACE(variant(c.chip).shortName);
        Session t(c.chip);
        t.run([&](TalkerMonitor& m) {
            m.write(c.lastRam, Bytes{0x11});
            const auto pastRam = [&] { m.write(c.lastRam, Bytes{0x22, 0x33}); };
            EXPECT_TRUE(refuses(pastRam, variant(c.chip).shortName));
            EXPECT_EQ(m.read(c.lastRam, 1), Bytes{0x11});
        });
        EXPECT_TRUE(t.noBox());
    }
}

// A step refused on an instruction that leaves the program's flow says which it is: SWI is
// no loop, and go takes it.
TEST(MonitorRefuses, StepsThatCannotEndSayWhy) {
    struct Case {
        Byte opcode;
        const char* said;
    };
    const Case cases[] = {{0x3F, "SWI"}, {0x3E, "WAI"}, {0x20, "comes back to itself"}};
    Session::clean(Chip::E9, [&](Session&, TalkerMonitor& m) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.said);
            m.write(0x0100, Bytes{c.opcode, 0xFE});
            Registers r = m.registers();
            r.pc = 0x0100;
            m.setRegisters(r);
            EXPECT_TRUE(refuses([&] { m.step(); }, c.said));
        }
    });
}

// EEPROM that a store would not change as asked is refused, saying why, rather than passing for
// written: CONFIG, a cell that a store leaves as it was, and the EEPROM under BPROT that the user
// set, even the value a reset leaves; BPROT cleared again, the EEPROM takes the byte.
TEST(MonitorRefuses, EepromThatAStoreWouldNotChange) {
    Session::clean(Chip::E9, [&](Session& t, TalkerMonitor& m) {
        const Byte config = m.read(0x103F, 1).at(0);
        const auto otherConfig = [&] { m.write(0x103F, Bytes{static_cast<Byte>(config ^ 0x02)}); };
        EXPECT_TRUE(refuses(otherConfig, "CONFIG"));
        EXPECT_EQ(m.read(0x103F, 1), Bytes{config});
        m.write(0x103F, Bytes{config});
        m.write(0x1035, Bytes{0x1F});
        EXPECT_TRUE(refuses([&] { m.write(0xB600, Bytes{0x55}); }, "BPROT is $1F"));
        EXPECT_EQ(m.read(0x1035, 1), Bytes{0x1F});
        EXPECT_EQ(t.s.board.peek(0xB600), 0xFF);
        m.write(0x1035, Bytes{0x00});
        m.write(0xB600, Bytes{0x55});
        EXPECT_EQ(t.s.board.peek(0xB600), 0x55);
    });
}

// The SCI and INIT carry the monitor's own line: a write that would change its rate, its
// framing, turn its transmitter or receiver off, send a character or move the register block is
// refused before anything is written, and the session goes on; one that leaves them is stored.
TEST(MonitorRefuses, WritesThatWouldCutTheMonitorsLine) {
    Session::clean(Chip::E9, [&](Session&, TalkerMonitor& m) {
        const Bytes sci = m.read(0x102B, 3);  // BAUD, SCCR1, SCCR2 as the monitor set them
        const std::pair<std::uint16_t, Byte> refused[] = {
            {0x102B, static_cast<Byte>(sci[0] ^ 0x01)},  // another rate
            {0x102C, static_cast<Byte>(sci[1] | 0x10)},  // nine-bit frames
            {0x102D, 0x00},                              // TE and RE off
            {0x102D, static_cast<Byte>(sci[2] | 0x01)},  // a break sent
            {0x102F, 0x55},                              // a character sent
            {0x103D, 0x11},                              // RAM and registers moved
        };
        for (const auto& [address, value] : refused) {
            SCOPED_TRACE(address);
            EXPECT_THROW(m.checkWrite(address, Bytes{value}), LinkError);  // a load's first look
            EXPECT_THROW(m.write(address, Bytes{value}), LinkError);
            EXPECT_EQ(m.read(0x102B, 3), sci);
        }
        // A run over them is refused whole.
        m.write(0x0100, Bytes{0x11});
        EXPECT_THROW(m.write(0x102A, Bytes{0x00, 0x33, 0x00}), LinkError);
        m.write(0x102D, Bytes{static_cast<Byte>(sci[2] | 0x20)});  // RIE, as the monitor runs
        m.write(0x102B, Bytes{sci[0]});
        EXPECT_EQ(m.read(0x0100, 1), Bytes{0x11});
    });
}

// The program's own bytes reach the output whole, those that look like the start of a stop
// announcement included; its own SWI and an illegal opcode stop it, each told as what it is.
TEST(MonitorRun, PassesTheProgramsBytesOnAndTellsItsOwnStops) {
    Session::clean(Chip::E9, [&](Session& t, TalkerMonitor& m) {
        EXPECT_EQ(t.s.inner.settings().baud, 125000);
        // lds #$01FF; ldx #text; loop: ldaa 0,x; beq done; wait: ldab SCSR; bpl wait;
        // staa SCDR; inx; bra loop; done: swi; an illegal opcode ($41) right after the $3F
        m.write(0x0100,
                Bytes{0x8E, 0x01, 0xFF, 0xCE, 0x01, 0x40, 0xA6, 0x00, 0x27, 0x0B, 0xF6, 0x10,
                      0x2E, 0x2A, 0xFB, 0xB7, 0x10, 0x2F, 0x08, 0x20, 0xF1, 0x3F, 0x41});
        // With a block that would pass for a stop but for its frame at $2041, off the chip.
        const Bytes fake{'S', 0x20, 0x41};
        std::string text = "OK S\x01S";
        text += std::string(fake.begin(), fake.end());
        text += static_cast<char>(fast::crc8(ByteView(fake)));
        ASSERT_NE(text.back(), 0);
        text += "S";
        Bytes stored(text.begin(), text.end());
        stored.push_back(0);
        m.write(0x0140, stored);
        Bytes output;
        m.run(0x0100);
        const auto swi = Session::until(m, 1s, &output);
        ASSERT_TRUE(swi);
        EXPECT_EQ(std::string(output.begin(), output.end()), text);
        EXPECT_EQ(swi->cause, StopCause::Swi);
        EXPECT_EQ(swi->registers.pc, 0x0116);
        m.run(std::nullopt);
        const auto illegal = Session::until(m, 1s);
        ASSERT_TRUE(illegal);
        EXPECT_EQ(illegal->cause, StopCause::IllegalOpcode);
        EXPECT_EQ(illegal->registers.pc, 0x0116);
        // go, as the prompt's and the window's: cli; spin; until the user asks it to stop.
        m.write(0x0118, Bytes{0x0E, 0x20, 0xFE});
        int polls = 0;
        const Stop asked = ops::monitor::go(
            m, 0x0118, {.output = {}, .stopRequested = [&polls] { return ++polls > 3; }});
        EXPECT_EQ(asked.cause, StopCause::Stopped);
        EXPECT_EQ(asked.registers.pc, 0x0119);
        // What it sends while a step or a stop waits for it is passed on too. The step: a NOP
        // with the real-time interrupt pending, whose handler sends a Z once the SCI is free;
        // the stop: a program that sends Y and spins.
        Bytes late;
        m.setOutput([&late](ByteView b) { late.insert(late.end(), b.begin(), b.end()); });
        m.write(0x00EB, Bytes{0x7E, 0x01, 0x30});  // the real-time interrupt's pseudo-vector
        // wait: ldab SCSR; bpl wait; ldaa #'Z'; staa SCDR; ldaa #RTIF; staa TFLG2; clr TMSK2; rti
        m.write(0x0130, Bytes{0xF6, 0x10, 0x2E, 0x2A, 0xFB, 0x86, 'Z', 0xB7, 0x10, 0x2F, 0x86, 0x40,
                              0xB7, 0x10, 0x25, 0x7F, 0x10, 0x24, 0x3B});
        // wait: ldab SCSR; bpl wait; ldaa #'Y'; staa SCDR; spin
        m.write(0x0150,
                Bytes{0xF6, 0x10, 0x2E, 0x2A, 0xFB, 0x86, 'Y', 0xB7, 0x10, 0x2F, 0x20, 0xFE});
        m.write(0x0120, Bytes{0x01, 0x01});
        m.write(0x1024, Bytes{0x40});  // RTII
        m.read(0x0100, 0x200);         // longer than the interrupt's period
        Registers r = m.registers();
        r.pc = 0x0120;
        r.ccr = 0xC0;
        m.setRegisters(r);
        EXPECT_EQ(m.step().registers.pc, 0x0121);
        EXPECT_EQ(late, Bytes{'Z'});
        m.run(0x0150);
        m.stop();
        EXPECT_EQ(late, (Bytes{'Z', 'Y'}));
        // A step that does not come back (its interrupt's handler spins with interrupts on) is
        // stopped from the PC, also after a step, which leaves SCCR2 as it found it:
        // clr TMSK2; cli; bra *
        m.write(0x0130, Bytes{0x7F, 0x10, 0x24, 0x0E, 0x20, 0xFE});
        r.pc = 0x0120;
        m.setRegisters(r);
        EXPECT_EQ(m.step().cause, StopCause::Step);
        m.write(0x1024, Bytes{0x40});
        m.read(0x0100, 0x200);
        const Stop spun = m.step();
        EXPECT_EQ(spun.cause, StopCause::Stopped);
        EXPECT_EQ(spun.registers.pc, 0x0134);
    });
}

// A program that protects the EEPROM again while it runs still gets its own bytes back where
// the session's breakpoints went in, and finds BPROT as it set it.
TEST(MonitorRun, TakesItsBreakpointsOutOfEepromThatTheProgramProtected) {
    Session t(Chip::E9);
    t.run([&](TalkerMonitor& m) {
        // ldaa #$1F; staa BPROT; jmp $B600, and there: nop; nop; bra *
        m.write(0x0100, Bytes{0x86, 0x1F, 0xB7, 0x10, 0x35, 0x7E, 0xB6, 0x00});
        m.write(0xB600, Bytes{0x01, 0x01, 0x20, 0xFE});
        m.setBreakpoint(0xB601);
        m.setBreakpoint(0xB602);
        m.run(0x0100);
        const auto stop = Session::until(m, 1s);
        ASSERT_TRUE(stop);
        EXPECT_EQ(stop->cause, StopCause::Breakpoint);
        EXPECT_EQ(stop->registers.pc, 0xB601);
        EXPECT_EQ(m.read(0xB600, 4), (Bytes{0x01, 0x01, 0x20, 0xFE}));
        EXPECT_EQ(m.read(0x1035, 1), Bytes{0x1F});
    });
    EXPECT_TRUE(t.noBox());
    t.s.board.resetBootstrap();
    EXPECT_EQ(t.s.board.peek(0xB601), 0x01);
    EXPECT_EQ(t.s.board.peek(0xB602), 0x20);
}

// A program stopped from the PC just after an instruction it never ran, a breakpoint on it, is
// told as stopped where it is, not at the breakpoint, and goes on from there.
TEST(MonitorRun, AStopAfterABreakpointItJumpedOverIsNoBreakpoint) {
    Session t(Chip::E9);
    t.run([&](TalkerMonitor& m) {
        m.write(0x0100, Bytes{0x0E, 0x20, 0x01, 0x4C, 0x20, 0xFE});  // cli; bra +1; inca; bra *
        m.setBreakpoint(0x0103);
        m.run(0x0100);
        EXPECT_FALSE(Session::until(m, 100ms));
        const Stop s = m.stop();
        EXPECT_EQ(s.cause, StopCause::Stopped);
        EXPECT_EQ(s.registers.pc, 0x0104);
        m.run(std::nullopt);
        EXPECT_FALSE(Session::until(m, 100ms));
        EXPECT_EQ(m.stop().registers.a, 0);
    });
    EXPECT_TRUE(t.noBox());
}

// A program that stores over the byte a breakpoint (or a step's own) stands on keeps what it
// stored: the byte taken out at the stop is the one from before the program changed it.
TEST(MonitorRun, AProgramThatWritesOverABreakpointKeepsItsByte) {
    struct Case {
        const char* what;
        bool step;  // a step over the store, whose own breakpoint stands on the byte stored
    };
    for (const Case c : {Case{"a run", false}, Case{"a step", true}}) {
        SCOPED_TRACE(c.what);
        Session::clean(Chip::E9, [&](Session& t, TalkerMonitor& m) {
            // ldaa #$01; staa $0105; swi (there: nop once stored); ldab #$22; swi
            m.write(0x0100, Bytes{0x86, 0x01, 0xB7, 0x01, 0x05, 0x3F, 0xC6, 0x22, 0x3F});
            if (c.step) {
                Registers r = m.registers();
                r.pc = 0x0102;
                r.a = 0x01;
                m.setRegisters(r);
                m.step();
            } else {
                m.setBreakpoint(0x0105);
                m.run(0x0100);
                ASSERT_TRUE(Session::until(m, 100ms));
            }
            EXPECT_EQ(m.read(0x0105, 1), Bytes{0x01});
            EXPECT_EQ(t.s.board.peek(0x0105), 0x01);
        });
    }
}

// go from a breakpoint on an instruction a step cannot take (one that only comes back to
// itself) runs it, rather than refusing as a step does.
TEST(MonitorRun, GoesOnFromABreakpointOnALoopOntoItself) {
    Session::clean(Chip::E9, [&](Session&, TalkerMonitor& m) {
        m.write(0x0100, Bytes{0x0E, 0x20, 0xFE});  // cli; bra *
        m.setBreakpoint(0x0101);
        m.run(0x0100);
        ASSERT_TRUE(Session::until(m, 100ms));
        m.run(std::nullopt);
        EXPECT_FALSE(Session::until(m, 100ms));
        const Stop s = m.stop();
        EXPECT_EQ(s.cause, StopCause::Stopped);
        EXPECT_EQ(s.registers.pc, 0x0101);
        EXPECT_EQ(m.read(0x0101, 1), Bytes{0x20});
    });
}

// A session that ends with the program running takes its breakpoints out of the program's
// memory, and the program runs on: an SWI left in the EEPROM would outlast a reset.
TEST(MonitorRun, ASessionLeftRunningLeavesNoBreakpointBehind) {
    Session t(Chip::E9);
    t.run([&](TalkerMonitor& m) {
        m.write(0xB600, Bytes{0x0E, 0x20, 0xFE, 0x01});  // cli; bra *; nop
        m.setBreakpoint(0xB603);
        m.run(0xB600);
        EXPECT_TRUE(ops::monitor::release(m));
        EXPECT_TRUE(m.running());
        EXPECT_FALSE(ops::monitor::release(m));
    });
    EXPECT_TRUE(t.noBox());
    EXPECT_EQ(t.s.board.monitorHalt().kind, Board::Halt::None);
    t.s.board.resetBootstrap();
    EXPECT_EQ(t.s.board.peek(0xB603), 0x01);
}

// wait MS lasts MS however much the program sends meanwhile, its bytes passed on whole.
TEST(MonitorRun, AWaitLastsItsTimeWhileTheProgramSends) {
    Session t(Chip::E9);
    t.run([&](TalkerMonitor& m) {
        // cli; ldaa #'x'; loop: ldab SCSR; bpl loop; staa SCDR; bra loop
        m.write(0x0100,
                Bytes{0x0E, 0x86, 'x', 0xF6, 0x10, 0x2E, 0x2A, 0xFB, 0xB7, 0x10, 0x2F, 0x20, 0xF6});
        std::vector<std::string> errors;
        std::size_t sent = 0;
        ops::monitor::Interpreter commands(
            m, {.line = [](const std::string&) {},
                .error = [&errors](const std::string& e) { errors.push_back(e); },
                .programOutput = [&sent](ByteView b) { sent += b.size(); },
                .stopRequested = {},
                .progress = {}});
        commands.run("run 0100");
        const TimePoint start = t.s.clock.now();
        EXPECT_EQ(commands.run("wait 200"), ops::monitor::Outcome::Refused);
        EXPECT_GE(t.s.clock.now() - start, 200ms);
        EXPECT_EQ(errors, std::vector<std::string>{"The program still runs after 200 ms."});
        // 12,500 characters a second at 125,000 baud.
        EXPECT_GE(sent, 2400u);
        EXPECT_EQ(commands.run("stop"), ops::monitor::Outcome::Done);
    });
    EXPECT_TRUE(t.noBox());
}

// Once the program has run with the CCR's X clear, no RTI can set it again: a CCR that sets it
// is refused rather than shown as the program's while it runs without; before that, it is free.
TEST(MonitorRegisters, XOnceClearedStaysClear) {
    Session::clean(Chip::E9, [&](Session&, TalkerMonitor& m) {
        m.write(0x0100, Bytes{0x01, 0x01, 0x01});  // nop x3
        Registers r = m.registers();
        r.pc = 0x0100;
        r.ccr = 0x90;  // S and I, X clear
        m.setRegisters(r);
        r.ccr = 0xD0;  // nothing has run: X may come back
        m.setRegisters(r);
        r.ccr = 0x90;
        m.setRegisters(r);
        EXPECT_EQ(m.step().registers.ccr, 0x90);
        r = m.registers();
        r.ccr = 0xD0;
        EXPECT_TRUE(refuses([&] { m.setRegisters(r); }));
        EXPECT_EQ(m.registers().ccr, 0x90);
        EXPECT_EQ(m.step().registers.ccr, 0x90);
        r = m.registers();
        r.ccr = 0x80;  // I clear: the rest of the CCR stays free
        m.setRegisters(r);
        EXPECT_EQ(m.step().registers.ccr, 0x80);
    });
}

// The monitor keeps its stack in the eight bytes under the frame the program stopped with, and
// will keep it under the next one: an SP whose frame lies over either would have the monitor's
// own calls overwrite the registers it restores, or the monitor itself; so would a write there.
TEST(MonitorRegisters, AnSpIsTakenOnlyWhereTheMonitorsStackLeavesTheFrameWhole) {
    struct Case {
        std::uint16_t sp;
        bool taken;
    };
    // Stopped with SP $01FF: its frame at $01F7, the monitor's stack at $01EF-$01F6. Under a
    // frame at $00CD it would reach the SCI's pseudo-vector, under $00FC the SWI's.
    const Case cases[] = {{0x01F9, false}, {0x01FE, false}, {0x01EF, false}, {0x00D5, false},
                          {0x0104, false}, {0x01EE, true},  {0x01FF, true},  {0x00D7, true}};
    Session::clean(Chip::E9, [&](Session&, TalkerMonitor& m) {
        m.write(0x0100, Bytes{0x01, 0x01, 0x01, 0x20, 0xFE});  // nop x3; bra *
        m.setBreakpoint(0x0101);
        m.run(0x0100);
        ASSERT_TRUE(Session::until(m, 1s));
        m.clearBreakpoint(0x0101);
        for (const Case& c : cases) {
            SCOPED_TRACE(c.sp);
            Registers r = m.registers();
            const Registers before = r;
            r.a = 0x12;
            r.x = 0x3456;
            r.y = 0x789A;
            r.sp = c.sp;
            r.pc = 0x0101;
            try {
                m.setRegisters(r);
                EXPECT_TRUE(c.taken);
            } catch (const LinkError& e) {
                EXPECT_FALSE(c.taken) << e.what();
                EXPECT_EQ(e.ending, LinkError::Ending::KeepTarget);
                EXPECT_EQ(m.registers(), before);
                continue;
            }
            // Two steps: the monitor then keeps its stack under the new frame.
            for (std::uint16_t pc : {0x0102, 0x0103}) {
                r.pc = pc;
                EXPECT_EQ(m.step().registers, r);
            }
            r.sp = 0x01FF;
            r.pc = 0x0101;
            m.setRegisters(r);
            m.step();
            r.pc = 0x0101;
            m.setRegisters(r);
        }
        // Stopped with its frame at $01F7 again: a write over the monitor's stack is refused
        // whole, as its answers would overwrite what it stored.
        const Bytes below = m.read(0x01E0, 15);
        struct Write {
            std::uint16_t at;
            std::size_t length;
            const char* refusedAt;
        };
        for (const Write& w : {Write{0x01E0, 32, "$01EF"}, Write{0x01F6, 1, "$01F6"}}) {
            SCOPED_TRACE(w.at);
            EXPECT_TRUE(refuses([&] { m.write(w.at, Bytes(w.length, 0)); },
                                std::string(w.refusedAt) + " is the monitor's stack"));
        }
        EXPECT_EQ(m.read(0x01E0, 15), below);
        m.write(0x01EE, Bytes{0x5A});
    });
}

}  // namespace
}  // namespace kestro::sim
