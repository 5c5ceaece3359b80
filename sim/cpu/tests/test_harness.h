// Shared fixtures for the CPU tests: a logging 64 KB bus, a scripted interrupt source, and a
// table-driven single-instruction case runner.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kestro/sim/cpu.h"

namespace kestro::sim::test {

using Bytes = std::vector<std::uint8_t>;
using MemList = std::vector<std::pair<std::uint16_t, std::uint8_t>>;

inline constexpr std::uint16_t kOrg = 0xC000;  // where each case's code is placed

struct Access {
    bool write;
    std::uint16_t address;
    std::uint8_t value;
    bool operator==(const Access&) const = default;
};

class TestBus : public Bus {
  public:
    std::array<std::uint8_t, 0x10000> mem{};
    std::vector<Access> log;

    std::uint8_t read(std::uint16_t a) override {
        log.push_back({false, a, mem[a]});
        return mem[a];
    }
    void write(std::uint16_t a, std::uint8_t v) override {
        log.push_back({true, a, v});
        mem[a] = v;
    }
    void load(std::uint16_t at, const Bytes& bytes) {
        for (std::uint8_t b : bytes)
            mem[at++] = b;
    }
    void setWord(std::uint16_t at, std::uint16_t v) {
        mem[at] = static_cast<std::uint8_t>(v >> 8);
        mem[static_cast<std::uint16_t>(at + 1)] = static_cast<std::uint8_t>(v);
    }
    std::uint16_t word(std::uint16_t at) const {
        return static_cast<std::uint16_t>(mem[at] << 8 | mem[static_cast<std::uint16_t>(at + 1)]);
    }
    // Data accesses only: everything outside the code area of a case.
    std::vector<Access> dataAccesses(std::uint16_t codeStart, std::size_t codeLen) const;
};

class TestInterrupts : public InterruptSource {
  public:
    bool xirq = false;
    std::optional<std::uint16_t> maskable = std::nullopt;
    bool xirqPending() const override { return xirq; }
    std::optional<std::uint16_t> pendingMaskableVector() const override { return maskable; }
};

// Registers before a case runs; the PC is always kOrg.
struct Setup {
    std::uint8_t a = 0;
    std::uint8_t b = 0;
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    std::uint16_t sp = 0x01FF;
    std::uint8_t ccr = 0;
};

// Expected registers after one step; a register left unset must be unchanged, and the PC
// defaults to the byte after the code.
struct Expect {
    std::optional<std::uint8_t> a = std::nullopt;
    std::optional<std::uint8_t> b = std::nullopt;
    std::optional<std::uint16_t> x = std::nullopt;
    std::optional<std::uint16_t> y = std::nullopt;
    std::optional<std::uint16_t> sp = std::nullopt;
    std::optional<std::uint16_t> pc = std::nullopt;
    std::optional<std::uint8_t> ccr = std::nullopt;
};

// One instruction: code at kOrg, initial state, expected state and E cycles.
struct Case {
    std::string name;
    Bytes code;
    Setup in;
    MemList mem;
    Expect out;
    MemList memOut;
    int cycles = 0;
    std::vector<std::uint16_t> mustNotRead;  // e.g. the target of a store
};

// Runs one case on a fresh CPU and reports every mismatch.
void checkCase(const Case& c);

// Case tables of the instruction test files, also walked by the coverage test.
std::vector<Case> aluCases();
std::vector<Case> memoryOpCases();
std::vector<Case> controlCases();
std::vector<Case> allCases();

// Cases run as one test per mnemonic (the first word of the case name), which keeps the
// number of test processes ctest starts reasonable while failures still name the case.
struct CaseGroup {
    std::string mnemonic;
    std::vector<Case> cases;
};
std::vector<CaseGroup> byMnemonic(const std::vector<Case>& cases);
std::string groupName(const testing::TestParamInfo<CaseGroup>& info);

class InstructionTest : public testing::TestWithParam<CaseGroup> {};

}  // namespace kestro::sim::test
