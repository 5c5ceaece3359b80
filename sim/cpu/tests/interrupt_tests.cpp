// Reset, hardware interrupts, WAI/STOP, SWI/RTI round trips and the illegal-opcode trap,
// driven over several steps.
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
        bus.setWord(vector::IllegalOpcode, 0x8400);
        bus.setWord(vector::Swi, 0x8500);
        for (std::uint16_t h : {0x8100, 0x8200, 0x8300, 0x8400, 0x8500})
            bus.mem[h] = 0x3B;   // RTI
        bus.mem[0x1234] = 0x01;  // NOP
    }

    // Starts the program at kOrg with the given CCR and SP = $01FF.
    void start(const Bytes& code, std::uint8_t cc) {
        bus.load(kOrg, code);
        cpu.reset();
        cpu.regs = {
            .a = 0x11, .b = 0x22, .x = 0x3344, .y = 0x5566, .sp = 0x01FF, .pc = kOrg, .ccr = cc};
    }

    void expectStacked(std::uint16_t pc, std::uint8_t cc) {
        EXPECT_EQ(bus.word(0x01FE), pc);
        EXPECT_EQ(bus.word(0x01FC), 0x5566);
        EXPECT_EQ(bus.word(0x01FA), 0x3344);
        EXPECT_EQ(bus.mem[0x01F9], 0x11);
        EXPECT_EQ(bus.mem[0x01F8], 0x22);
        EXPECT_EQ(bus.mem[0x01F7], cc);
    }

    TestBus bus;
    TestInterrupts irq;
    Cpu cpu;
};

TEST_F(InterruptTest, ResetFetchesVectorAndMasksInterrupts) {
    cpu.regs.ccr = 0;
    cpu.reset();
    EXPECT_EQ(cpu.regs.pc, 0xC000);
    EXPECT_EQ(cpu.regs.ccr, S | X | I);
    EXPECT_EQ(cpu.runState(), RunState::Running);
}

TEST_F(InterruptTest, ResetSourcesUseTheirVectors) {
    bus.setWord(0xFFFA, 0xA000);
    bus.setWord(0xFFFC, 0xB000);
    cpu.reset(ResetSource::CopFailure);
    EXPECT_EQ(cpu.regs.pc, 0xA000);
    cpu.reset(ResetSource::ClockMonitor);
    EXPECT_EQ(cpu.regs.pc, 0xB000);
}

TEST_F(InterruptTest, BootstrapVectorBaseAndStartAddress) {
    cpu.setVectorBase(0xBFC0);
    bus.setWord(0xBFFE, 0xBF40);
    bus.setWord(0xBFD6, 0x00C4);  // SCI vector of special modes
    cpu.reset();
    EXPECT_EQ(cpu.regs.pc, 0xBF40);
    cpu.resetAt(0x0000);
    EXPECT_EQ(cpu.regs.pc, 0x0000);
    EXPECT_EQ(cpu.regs.ccr, S | X | I);

    start({0x01}, 0);
    irq.maskable = vector::Sci;
    EXPECT_EQ(cpu.step(), 14);
    EXPECT_EQ(cpu.regs.pc, 0x00C4);
}

TEST_F(InterruptTest, MaskableInterruptWaitsForIClear) {
    start({0x01, 0x01}, I);
    irq.maskable = vector::Sci;
    EXPECT_EQ(cpu.step(), 2);  // NOP runs, I masks the SCI
    EXPECT_EQ(cpu.regs.pc, kOrg + 1);

    cpu.regs.ccr = N | C;
    EXPECT_EQ(cpu.step(), 14);
    EXPECT_EQ(cpu.regs.pc, 0x8300);
    EXPECT_EQ(cpu.regs.sp, 0x01F6);
    EXPECT_EQ(cpu.regs.ccr, I | N | C);
    expectStacked(kOrg + 1, N | C);

    irq.maskable.reset();
    EXPECT_EQ(cpu.step(), 12);  // RTI
    EXPECT_EQ(cpu.regs.pc, kOrg + 1);
    EXPECT_EQ(cpu.regs.ccr, N | C);
    EXPECT_EQ(cpu.regs.sp, 0x01FF);
}

TEST_F(InterruptTest, XirqIgnoresIButNotX) {
    start({0x01, 0x01}, X | I);
    irq.xirq = true;
    EXPECT_EQ(cpu.step(), 2);  // X masks XIRQ
    cpu.regs.ccr = I;
    irq.maskable = vector::Irq;  // XIRQ outranks every I-masked source
    EXPECT_EQ(cpu.step(), 14);
    EXPECT_EQ(cpu.regs.pc, 0x8100);
    EXPECT_EQ(cpu.regs.ccr, X | I);
    expectStacked(kOrg + 1, I);

    irq.xirq = false;
    irq.maskable.reset();
    cpu.step();  // RTI restores X = 0
    EXPECT_EQ(cpu.regs.ccr, I);
    EXPECT_EQ(cpu.regs.pc, kOrg + 1);
}

TEST_F(InterruptTest, XirqStaysMaskedUntilRti) {
    start({0x01}, 0);
    irq.xirq = true;
    cpu.step();
    ASSERT_EQ(cpu.regs.pc, 0x8100);
    bus.mem[0x8100] = 0x01;  // NOP instead of RTI: level still asserted, X now set
    EXPECT_EQ(cpu.step(), 2);
    EXPECT_EQ(cpu.regs.pc, 0x8101);
}

TEST_F(InterruptTest, InstructionAfterCliRunsBeforeInterrupt) {
    start({0x0E, 0x01, 0x01}, I);  // CLI, NOP, NOP
    irq.maskable = vector::Irq;
    EXPECT_EQ(cpu.step(), 2);  // CLI
    EXPECT_EQ(cpu.step(), 2);  // NOP still runs
    EXPECT_EQ(cpu.regs.pc, kOrg + 2);
    EXPECT_EQ(cpu.step(), 14);
    EXPECT_EQ(cpu.regs.pc, 0x8200);
    expectStacked(kOrg + 2, 0);
}

TEST_F(InterruptTest, RtiWithPendingInterruptReentersAtOnce) {
    start({0x01}, 0);
    irq.maskable = vector::Irq;
    cpu.step();                 // enter
    EXPECT_EQ(cpu.step(), 12);  // RTI clears I again
    EXPECT_EQ(cpu.step(), 14);  // and the still-pending source is taken without a delay
    EXPECT_EQ(cpu.regs.pc, 0x8200);
}

TEST_F(InterruptTest, SwiRtiRoundTripRestoresEverything) {
    start({0x3F, 0x01}, N | Z | V | C);
    const Registers before = cpu.regs;
    EXPECT_EQ(cpu.step(), 14);
    EXPECT_EQ(cpu.regs.pc, 0x8500);
    expectStacked(kOrg + 1, N | Z | V | C);
    cpu.regs.a = cpu.regs.b = 0;
    cpu.regs.x = cpu.regs.y = 0;
    EXPECT_EQ(cpu.step(), 12);
    Registers expected = before;
    expected.pc = kOrg + 1;
    EXPECT_EQ(cpu.regs, expected);
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
    const std::uint64_t before = cpu.cycles();
    EXPECT_EQ(cpu.step(), 2);  // vector fetch only: 12 + 2 = WAI's 14 cycles
    EXPECT_EQ(cpu.cycles() - before, 2u);
    EXPECT_EQ(cpu.runState(), RunState::Running);
    EXPECT_EQ(cpu.regs.pc, 0x8300);
    EXPECT_EQ(cpu.regs.sp, 0x01F6);  // nothing stacked twice
    EXPECT_EQ(cpu.regs.ccr, I);

    irq.maskable.reset();
    cpu.step();  // RTI
    EXPECT_EQ(cpu.regs.pc, kOrg + 1);
    EXPECT_EQ(cpu.regs.sp, 0x01FF);
}

TEST_F(InterruptTest, WaiWithIMaskedWakesOnlyOnXirq) {
    start({0x3E}, I);
    cpu.step();
    irq.maskable = vector::Sci;
    EXPECT_EQ(cpu.step(), cpu.idleCycles());
    EXPECT_EQ(cpu.runState(), RunState::Waiting);
    irq.xirq = true;
    EXPECT_EQ(cpu.step(), 2);
    EXPECT_EQ(cpu.regs.pc, 0x8100);
    EXPECT_EQ(cpu.regs.ccr, X | I);
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
    EXPECT_EQ(cpu.regs.pc, 0x8200);
    expectStacked(kOrg + 1, 0);
}

TEST_F(InterruptTest, IllegalOpcodesStackTheirOwnAddress) {
    struct Illegal {
        Bytes code;
        int cycles;
    };
    for (const Illegal& ill : {Illegal{{0x41}, 14}, Illegal{{0x18, 0x00}, 15},
                               Illegal{{0x1A, 0x01}, 15}, Illegal{{0xCD, 0x8C}, 15}}) {
        SCOPED_TRACE(testing::Message() << "opcode $" << std::hex << int(ill.code.back()));
        start(ill.code, N);
        EXPECT_EQ(cpu.step(), ill.cycles);
        EXPECT_EQ(cpu.regs.pc, 0x8400);
        EXPECT_EQ(cpu.regs.ccr, I | N);
        expectStacked(kOrg, N);
    }
}

TEST_F(InterruptTest, TestOpcodeHaltsInTestMode) {
    cpu.setTestOpcodeEnabled(true);
    start({0x00}, 0);
    cpu.step();
    EXPECT_EQ(cpu.runState(), RunState::TestHalt);
    irq.xirq = true;
    cpu.step();
    EXPECT_EQ(cpu.runState(), RunState::TestHalt);
    cpu.reset();
    EXPECT_EQ(cpu.runState(), RunState::Running);
}

TEST_F(InterruptTest, RunCountsCycles) {
    start({0x20, 0xFE}, 0);  // BRA * : 3 cycles forever
    EXPECT_EQ(cpu.run(10), 12u);
    EXPECT_EQ(cpu.cycles(), 12u);
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
