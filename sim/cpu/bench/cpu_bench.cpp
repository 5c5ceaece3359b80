// SPDX-License-Identifier: GPL-3.0-or-later
// Interpreter throughput: runs a mixed loop (loads, stores, ALU, a BRSET poll, JSR/RTS, an
// indexed copy) from RAM and reports instructions/s and emulated E-clock speed against a real
// 2 MHz part. Usage: kestro_sim_cpu_bench [seconds]
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "kestro/sim/cpu.h"

namespace {

using kestro::sim::Bus;
using kestro::sim::Cpu;

// RAM everywhere except a register page at $1000, like a board in expanded mode.
class BenchBus : public Bus {
  public:
    explicit BenchBus(bool direct) : direct_(direct) {}
    std::array<std::uint8_t, 0x10000> mem{};
    std::uint8_t read(std::uint16_t a) override { return mem[a]; }
    void write(std::uint16_t a, std::uint8_t v) override { mem[a] = v; }
    const std::uint8_t* directReadPage(std::uint8_t page) override {
        return direct_ && page != 0x10 ? &mem[page << 8] : nullptr;
    }
    std::uint8_t* directWritePage(std::uint8_t page) override {
        return direct_ && page != 0x10 ? &mem[page << 8] : nullptr;
    }

  private:
    bool direct_;
};

// clang-format off
constexpr std::uint8_t kProgram[] = {
    // $C000
    0x8E, 0x01, 0xFF,        // LDS #$01FF
    0xCE, 0x02, 0x00,        // loop: LDX #$0200
    0x18, 0xCE, 0x03, 0x00,  // LDY #$0300
    0xC6, 0x10,              // LDAB #16
    0xA6, 0x00,              // copy: LDAA 0,X
    0x18, 0xA7, 0x00,        // STAA 0,Y
    0x08,                    // INX
    0x18, 0x08,              // INY
    0x5A,                    // DECB
    0x26, 0xF5,              // BNE copy
    0x96, 0x40,              // LDAA $40
    0x8B, 0x07,              // ADDA #7
    0x97, 0x40,              // STAA $40
    0xFC, 0x00, 0x42,        // LDD $0042
    0xC3, 0x12, 0x34,        // ADDD #$1234
    0xDD, 0x42,              // STD $42
    0x12, 0x44, 0x80, 0x00,  // BRSET $44,#$80,+0
    0xB6, 0x10, 0x2E,        // LDAA $102E (register page: slow path)
    0xBD, 0xC0, 0x40,        // JSR sub
    0x7E, 0xC0, 0x03,        // JMP loop
};
// clang-format on
constexpr std::uint8_t kSub[] = {0x3D, 0x02, 0x39};  // $C040: MUL, IDIV, RTS

double runFor(Cpu& cpu, double seconds, std::uint64_t& instructions, std::uint64_t& cycles) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const std::uint64_t c0 = cpu.cycles();
    instructions = 0;
    double elapsed = 0;
    do {
        for (int i = 0; i < 1'000'000; ++i)
            cpu.step();
        instructions += 1'000'000;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < seconds);
    cycles = cpu.cycles() - c0;
    return elapsed;
}

void bench(const char* label, bool direct, double seconds) {
    BenchBus bus(direct);
    for (std::size_t i = 0; i < sizeof kProgram; ++i)
        bus.mem[0xC000 + i] = kProgram[i];
    for (std::size_t i = 0; i < sizeof kSub; ++i)
        bus.mem[0xC040 + i] = kSub[i];
    Cpu cpu(bus);
    cpu.resetAt(0xC000);
    cpu.regs.x = 1;
    for (int i = 0; i < 16; ++i)
        bus.mem[0x0200 + i] = static_cast<std::uint8_t>(0xA0 + i);
    // A trap or a runaway would land in the BRA * at $E000 and fake a good figure.
    for (std::uint16_t v : {0xFFF6, 0xFFF8}) {
        bus.mem[v] = 0xE0;
        bus.mem[v + 1u] = 0x00;
    }
    bus.mem[0xE000] = 0x20;
    bus.mem[0xE001] = 0xFE;
    std::uint64_t instructions = 0, cycles = 0;
    const double t = runFor(cpu, seconds, instructions, cycles);
    if (cpu.regs.pc < 0xC000 || cpu.regs.pc >= 0xC050 || bus.mem[0x030F] != bus.mem[0x020F]) {
        std::printf("%s: the benchmark program went astray (PC $%04X)\n", label, cpu.regs.pc);
        std::exit(1);
    }
    const double ips = static_cast<double>(instructions) / t;
    const double eps = static_cast<double>(cycles) / t;
    std::printf("%-26s %7.1f M instructions/s  %7.1f M E-cycles/s  %6.1fx real time at 2 MHz\n",
                label, ips / 1e6, eps / 1e6, eps / 2e6);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    bench("virtual bus only", false, seconds);
    bench("direct RAM pages", true, seconds);
    return 0;
}
