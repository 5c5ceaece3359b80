// SPDX-License-Identifier: GPL-3.0-or-later
// Reset, hardware interrupts masked and unmasked, and WAI/STOP, driven over several steps.
#include "test_harness.h"

namespace kestro::sim::test {
namespace {

using namespace kestro::sim::ccr;

// The fixture is also the board's interrupt logic: `xirq` is the pin, `maskable` the pending
// I-masked source.
class InterruptTest : public testing::Test, public InterruptSource {
  protected:
    bool xirqPending() const override { return xirq; }
    std::optional<std::uint16_t> pendingMaskableVector() const override { return maskable; }

    // Starts `code` at kOrg with the given CCR and SP = $01FF. The XIRQ, IRQ and SCI handlers
    // at $8100, $8200 and $8300 are each an RTI.
    void start(const Bytes& code, std::uint8_t cc) {
        bus.load(kOrg, code);
        for (auto [v, at] :
             {std::pair{vector::Xirq, 0x8100}, {vector::Irq, 0x8200}, {vector::Sci, 0x8300}}) {
            bus.setWord(v, std::uint16_t(at));
            bus.mem[at] = 0x3B;
        }
        cpu.regs = {
            .a = 0x11, .b = 0x22, .x = 0x3344, .y = 0x5566, .sp = 0x01FF, .pc = kOrg, .ccr = cc};
    }

    // In the handler with the CCR as the entry left it, the registers stacked once: CCR, B, A,
    // X, Y and the return address from $01F7 up.
    void expectEntered(std::uint16_t handler, std::uint8_t cc, std::uint16_t ret,
                       std::uint8_t stackedCc) {
        EXPECT_EQ(cpu.regs.pc, handler);
        EXPECT_EQ(cpu.regs.sp, 0x01F6);
        EXPECT_EQ(cpu.regs.ccr, cc);
        EXPECT_EQ(Bytes(&bus.mem[0x01F7], &bus.mem[0x01FE]),
                  (Bytes{stackedCc, 0x22, 0x11, 0x33, 0x44, 0x55, 0x66}));
        EXPECT_EQ(bus.mem[0x01FE] << 8 | bus.mem[0x01FF], ret);
    }

    TestBus bus;
    Cpu cpu{bus, this};
    bool xirq = false;
    std::optional<std::uint16_t> maskable;
};

TEST_F(InterruptTest, ResetSourcesFetchTheirVectorsAndMaskInterrupts) {
    bus.setWord(0xFFFA, 0xA000);
    bus.setWord(0xFFFC, 0xB000);
    bus.setWord(0xFFFE, 0xC000);
    cpu.regs.ccr = 0;
    cpu.reset();
    EXPECT_EQ(cpu.regs.pc, 0xC000);
    EXPECT_EQ(cpu.regs.ccr, S | X | I);
    cpu.reset(ResetSource::CopFailure);
    EXPECT_EQ(cpu.regs.pc, 0xA000);
    cpu.reset(ResetSource::ClockMonitor);
    EXPECT_EQ(cpu.regs.pc, 0xB000);
}

// RTI clears I again and a source still pending is taken at once, not one instruction later.
TEST_F(InterruptTest, MaskableInterruptWaitsForIClearAndReentersAfterRti) {
    start({0x01, 0x01}, I);
    maskable = vector::Sci;
    EXPECT_EQ(cpu.step(), 2);  // NOP runs, I masks the SCI
    EXPECT_EQ(cpu.regs.pc, kOrg + 1);
    cpu.regs.ccr = N | C;
    EXPECT_EQ(cpu.step(), 14);
    expectEntered(0x8300, I | N | C, kOrg + 1, N | C);
    EXPECT_EQ(cpu.step(), 12);
    EXPECT_EQ(cpu.step(), 14);
    expectEntered(0x8300, I | N | C, kOrg + 1, N | C);
}

TEST_F(InterruptTest, XirqIgnoresIButNotX) {
    start({0x01, 0x01}, X | I);
    xirq = true;
    EXPECT_EQ(cpu.step(), 2);  // X masks XIRQ
    cpu.regs.ccr = I;
    maskable = vector::Irq;  // XIRQ outranks every I-masked source
    EXPECT_EQ(cpu.step(), 14);
    expectEntered(0x8100, X | I, kOrg + 1, I);
}

// TAP clearing I (A = $01) is held back as CLI is.
TEST_F(InterruptTest, InstructionAfterCliOrTapRunsBeforeInterrupt) {
    for (const std::uint8_t opcode : {0x0E, 0x06}) {  // CLI or TAP, NOP, NOP
        SCOPED_TRACE(opcode);
        start({opcode, 0x01, 0x01}, I);
        cpu.regs.a = C;
        maskable = vector::Irq;
        EXPECT_EQ(cpu.step(), 2);
        EXPECT_EQ(cpu.step(), 2);
        EXPECT_EQ(cpu.regs.pc, kOrg + 2);
        EXPECT_EQ(cpu.step(), 14);
        EXPECT_EQ(cpu.regs.pc, 0x8200);
        EXPECT_EQ(bus.mem[0x01FE] << 8 | bus.mem[0x01FF], kOrg + 2);
    }
}

TEST_F(InterruptTest, WaiThenInterrupt) {
    start({0x3E, 0x01}, 0);
    EXPECT_EQ(cpu.step(), 12);
    EXPECT_EQ(cpu.runState(), RunState::Waiting);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(cpu.step(), cpu.idleCycles());
    maskable = vector::Sci;
    EXPECT_EQ(cpu.step(), 2);  // vector fetch only: 12 + 2 = WAI's 14 cycles
    EXPECT_EQ(cpu.runState(), RunState::Running);
    expectEntered(0x8300, I, kOrg + 1, 0);
}

TEST_F(InterruptTest, WaiWithIMaskedWakesOnlyOnXirq) {
    start({0x3E}, I);
    cpu.step();
    maskable = vector::Sci;
    EXPECT_EQ(cpu.step(), cpu.idleCycles());
    EXPECT_EQ(cpu.runState(), RunState::Waiting);
    xirq = true;
    EXPECT_EQ(cpu.step(), 2);
    expectEntered(0x8100, X | I, kOrg + 1, I);
}

// XIRQ with X set restarts the clocks after the oscillator delay (4064 cycles out of reset)
// and execution goes on after STOP; an unmasked IRQ is serviced after the delay.
TEST_F(InterruptTest, StopHaltsUntilXirqOrAnUnmaskedIrq) {
    cpu.setIdleCycles(8);
    start({0xCF, 0xCF}, X | I);
    EXPECT_EQ(cpu.step(), 2);
    maskable = vector::Irq;  // masked by I: no wake-up
    EXPECT_EQ(cpu.step(), 8);
    EXPECT_EQ(cpu.runState(), RunState::Stopped);
    xirq = true;
    EXPECT_EQ(cpu.step(), 4064);
    EXPECT_EQ(cpu.regs.pc, kOrg + 1);
    EXPECT_EQ(cpu.regs.sp, 0x01FF);
    xirq = false;
    cpu.setStopRecoveryCycles(4);
    EXPECT_EQ(cpu.step(), 2);  // the second STOP
    cpu.regs.ccr = 0;
    // The clocks are stopped, so of the I-masked sources only the IRQ pin can end STOP
    // (M68HC11 Reference Manual p. 5-22): a flag the SCI or the timer left pending cannot.
    for (std::uint16_t v : {vector::Sci, vector::RealTime, vector::Toc1}) {
        maskable = v;
        EXPECT_EQ(cpu.step(), 8);
        EXPECT_EQ(cpu.runState(), RunState::Stopped);
    }
    maskable = vector::Irq;
    EXPECT_EQ(cpu.step(), 4 + 14);
    expectEntered(0x8200, I, kOrg + 2, 0);
}

TEST(FastPath, DirectPagesBypassBusButRegistersDoNot) {
    TestBus bus;
    bus.direct = true;
    // LDAA $102E ; STAA $0040 ; LDAB $0040 ; STAB $102F
    bus.load(kOrg, {0xB6, 0x10, 0x2E, 0x97, 0x40, 0xD6, 0x40, 0xF7, 0x10, 0x2F});
    bus.mem[0x102E] = 0xC0;
    Cpu cpu(bus);
    cpu.resetAt(kOrg);
    for (int i = 0; i < 4; ++i)
        cpu.step();
    EXPECT_EQ(bus.mem[0x0040], 0xC0);
    EXPECT_EQ(cpu.regs.b, 0xC0);
    const std::vector<Access> expected = {{false, 0x102E, 0xC0}, {true, 0x102F, 0xC0}};
    EXPECT_EQ(bus.log, expected);
}

}  // namespace
}  // namespace kestro::sim::test
