// Reset, hardware interrupts masked and unmasked, and WAI/STOP, driven over several steps.
#include "test_harness.h"

namespace kestro::sim::test {
namespace {

using namespace kestro::sim::ccr;

class InterruptTest : public testing::Test {
  protected:
    InterruptTest() : cpu(bus, &irq) {
        bus.setWord(0xFFFE, 0xC000);        // reset
        bus.setWord(vector::Xirq, 0x8100);  // XIRQ handler
        bus.setWord(vector::Irq, 0x8200);   // IRQ handler
        bus.setWord(vector::Sci, 0x8300);   // SCI handler
        for (std::uint16_t h : {0x8100, 0x8200, 0x8300})
            bus.mem[h] = 0x3B;  // RTI
    }

    // Starts the program at kOrg with the given CCR and SP = $01FF.
    void start(const Bytes& code, std::uint8_t cc) {
        bus.load(kOrg, code);
        cpu.reset();
        cpu.regs = {
            .a = 0x11, .b = 0x22, .x = 0x3344, .y = 0x5566, .sp = 0x01FF, .pc = kOrg, .ccr = cc};
    }

    // CCR, B, A, X, Y, PC from $01F7 up.
    void expectStacked(std::uint16_t pc, std::uint8_t cc) {
        const Bytes want = {
            cc, 0x22, 0x11, 0x33, 0x44, 0x55, 0x66, std::uint8_t(pc >> 8), std::uint8_t(pc)};
        EXPECT_EQ(Bytes(&bus.mem[0x01F7], &bus.mem[0x0200]), want);
    }

    // In the handler with the registers stacked once and the CCR as the entry left it.
    void expectInHandler(std::uint16_t handler, std::uint8_t cc) {
        EXPECT_EQ(cpu.regs.pc, handler);
        EXPECT_EQ(cpu.regs.sp, 0x01F6);
        EXPECT_EQ(cpu.regs.ccr, cc);
    }

    TestBus bus;
    TestInterrupts irq;
    Cpu cpu;
};

TEST_F(InterruptTest, ResetSourcesFetchTheirVectorsAndMaskInterrupts) {
    bus.setWord(0xFFFA, 0xA000);
    bus.setWord(0xFFFC, 0xB000);
    cpu.regs.ccr = 0;
    cpu.reset();
    EXPECT_EQ(cpu.regs.pc, 0xC000);
    EXPECT_EQ(cpu.regs.ccr, S | X | I);
    cpu.reset(ResetSource::CopFailure);
    EXPECT_EQ(cpu.regs.pc, 0xA000);
    cpu.reset(ResetSource::ClockMonitor);
    EXPECT_EQ(cpu.regs.pc, 0xB000);
}

TEST_F(InterruptTest, MaskableInterruptWaitsForIClear) {
    start({0x01, 0x01}, I);
    irq.maskable = vector::Sci;
    EXPECT_EQ(cpu.step(), 2);  // NOP runs, I masks the SCI
    EXPECT_EQ(cpu.regs.pc, kOrg + 1);

    cpu.regs.ccr = N | C;
    EXPECT_EQ(cpu.step(), 14);
    expectInHandler(0x8300, I | N | C);
    expectStacked(kOrg + 1, N | C);
}

TEST_F(InterruptTest, XirqIgnoresIButNotX) {
    start({0x01, 0x01}, X | I);
    irq.xirq = true;
    EXPECT_EQ(cpu.step(), 2);  // X masks XIRQ
    cpu.regs.ccr = I;
    irq.maskable = vector::Irq;  // XIRQ outranks every I-masked source
    EXPECT_EQ(cpu.step(), 14);
    expectInHandler(0x8100, X | I);
    expectStacked(kOrg + 1, I);
}

TEST_F(InterruptTest, InstructionAfterCliRunsBeforeInterrupt) {
    start({0x0E, 0x01, 0x01}, I);  // CLI, NOP, NOP
    irq.maskable = vector::Irq;
    EXPECT_EQ(cpu.step(), 2);  // CLI
    EXPECT_EQ(cpu.step(), 2);  // NOP still runs
    EXPECT_EQ(cpu.regs.pc, kOrg + 2);
    EXPECT_EQ(cpu.step(), 14);
    expectInHandler(0x8200, I);
    expectStacked(kOrg + 2, 0);
}

TEST_F(InterruptTest, RtiWithPendingInterruptReentersAtOnce) {
    start({0x01}, 0);
    irq.maskable = vector::Irq;
    cpu.step();                 // enter
    EXPECT_EQ(cpu.step(), 12);  // RTI clears I again
    EXPECT_EQ(cpu.step(), 14);  // and the still-pending source is taken without a delay
    expectInHandler(0x8200, I);
}

TEST_F(InterruptTest, WaiThenInterrupt) {
    start({0x3E, 0x01}, 0);
    EXPECT_EQ(cpu.step(), 12);
    EXPECT_EQ(cpu.runState(), RunState::Waiting);
    expectStacked(kOrg + 1, 0);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(cpu.step(), cpu.idleCycles());
    EXPECT_EQ(cpu.regs.pc, kOrg + 1);

    irq.maskable = vector::Sci;
    EXPECT_EQ(cpu.step(), 2);  // vector fetch only: 12 + 2 = WAI's 14 cycles
    EXPECT_EQ(cpu.runState(), RunState::Running);
    expectInHandler(0x8300, I);  // nothing stacked twice
}

TEST_F(InterruptTest, WaiWithIMaskedWakesOnlyOnXirq) {
    start({0x3E}, I);
    cpu.step();
    irq.maskable = vector::Sci;
    EXPECT_EQ(cpu.step(), cpu.idleCycles());
    EXPECT_EQ(cpu.runState(), RunState::Waiting);
    irq.xirq = true;
    EXPECT_EQ(cpu.step(), 2);
    expectInHandler(0x8100, X | I);
}

TEST_F(InterruptTest, StopHaltsUntilXirqAndResumesWhenXSet) {
    cpu.setStopRecoveryCycles(4064);
    start({0xCF, 0x01}, X | I);
    EXPECT_EQ(cpu.step(), 2);
    EXPECT_EQ(cpu.runState(), RunState::Stopped);
    irq.maskable = vector::Irq;  // masked by I: no wake-up
    cpu.setIdleCycles(8);
    EXPECT_EQ(cpu.step(), 8);
    EXPECT_EQ(cpu.runState(), RunState::Stopped);
    irq.xirq = true;  // X set: clocks restart, execution goes on after STOP
    EXPECT_EQ(cpu.step(), 4064);
    EXPECT_EQ(cpu.runState(), RunState::Running);
    EXPECT_EQ(cpu.regs.pc, kOrg + 1);
    EXPECT_EQ(cpu.regs.sp, 0x01FF);
}

TEST_F(InterruptTest, StopWokenByUnmaskedInterruptServicesIt) {
    cpu.setStopRecoveryCycles(4);
    start({0xCF, 0x01}, 0);
    cpu.step();
    irq.maskable = vector::Irq;
    EXPECT_EQ(cpu.step(), 4 + 14);
    expectInHandler(0x8200, I);
    expectStacked(kOrg + 1, 0);
}

// A bus that exposes RAM pages directly but keeps the register block at $1000 on the slow
// path, as a board would.
class PagedBus : public TestBus {
  public:
    const std::uint8_t* directReadPage(std::uint8_t page) override {
        return page == 0x10 ? nullptr : &mem[page << 8];
    }
    std::uint8_t* directWritePage(std::uint8_t page) override {
        return page == 0x10 ? nullptr : &mem[page << 8];
    }
};

TEST(FastPath, DirectPagesBypassBusButRegistersDoNot) {
    PagedBus bus;
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
