// SPDX-License-Identifier: GPL-3.0-or-later
// Ports B to E of the HC11 and their data-direction registers, with the pin functions that the
// mode and the SCI give them (M68HC11E series programming reference guide, block diagram):
// port B is an output port in single-chip mode and the high address byte on the expanded bus;
// port C is bidirectional under DDRC, and the multiplexed low address and data byte on the
// expanded bus; port D's six pins are bidirectional under DDRD, with the SCI on PD1/PD0 while
// its transmitter and receiver are on; port E's eight pins are inputs only. Port A belongs to
// the timer (timer.h).
//
// Like the timer, nothing here runs per E cycle: the pins are a function of the latches, the
// directions and what drives the inputs from outside, computed when asked.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace kestro::sim {

namespace ports {
// Register offsets in the register block.
inline constexpr std::uint8_t PIOC = 0x02;
inline constexpr std::uint8_t PORTC = 0x03;
inline constexpr std::uint8_t PORTB = 0x04;
inline constexpr std::uint8_t PORTCL = 0x05;
inline constexpr std::uint8_t DDRC = 0x07;
inline constexpr std::uint8_t PORTD = 0x08;
inline constexpr std::uint8_t DDRD = 0x09;
inline constexpr std::uint8_t PORTE = 0x0A;
// Port D has six pins, PD5-PD0.
inline constexpr std::uint8_t kPortDPins = 0x3F;

constexpr bool owns(std::uint8_t offset) {
    return offset == PIOC || offset == PORTC || offset == PORTB || offset == PORTCL ||
           offset == DDRC || offset == PORTD || offset == DDRD || offset == PORTE;
}
}  // namespace ports

// How a pin is used at the moment: read by the chip, driven by it, or carrying the expanded
// bus (ports B and C in the expanded modes), which has no steady level to show.
enum class PinDirection : std::uint8_t { Input, Output, Bus };

// One pin of ports A to E, as a front end shows it.
struct PinState {
    const char* name;  // e.g. "PD1/TxD"
    char port;         // 'A' to 'E'
    int bit;           // 0 to 7
    PinDirection direction;
    bool level;  // true: high. A Bus pin reports high.
};

// What the rest of the chip does to ports B to E at the moment asked.
struct PortFunctions {
    bool expanded = false;      // HPRIO MDA: ports B and C carry the bus
    bool sciTransmits = false;  // SCCR2 TE: PD1 is TxD, driven by the SCI
    bool sciReceives = false;   // SCCR2 RE: PD0 is RxD, an input whatever DDRD0 says
    bool txdLevel = true;       // the level the SCI drives on TxD
};

class Ports {
  public:
    // A reset: every bidirectional pin an input (DDRC and DDRD clear), the latches $00.
    void reset();

    std::uint8_t read(std::uint8_t offset, const PortFunctions& f) const;
    void write(std::uint8_t offset, std::uint8_t value);

    // Port 'B' to 'E': the pins the chip drives (Bus pins included) and the pins' levels.
    std::uint8_t outputs(char port, const PortFunctions& f) const;
    std::uint8_t busPins(char port, const PortFunctions& f) const;
    std::uint8_t levels(char port, const PortFunctions& f) const;
    // Drives an input pin from outside. Returns false, and changes nothing, where the pin is
    // no input now (an output, the bus, RxD while the SCI's receiver listens to the line) or
    // does not exist. The level an input reads with nothing driving it is high.
    bool setInput(char port, int bit, bool level, const PortFunctions& f);

    // A pin's name, e.g. "PD1/TxD"; nullptr for a pin the part does not have (PD7, PD6).
    static const char* pinName(char port, int bit);

  private:
    static int index(char port) { return port - 'B'; }

    std::uint8_t portB_ = 0;
    std::uint8_t portC_ = 0;
    std::uint8_t ddrc_ = 0;
    std::uint8_t portD_ = 0;
    std::uint8_t ddrd_ = 0;
    std::uint8_t pioc_ = 0;
    // What drives the input pins of B (unused), C, D and E from outside: the board's pull-ups
    // hold every pin that nothing drives high.
    std::array<std::uint8_t, 4> inputs_{0xFF, 0xFF, 0xFF, 0xFF};
};

}  // namespace kestro::sim
