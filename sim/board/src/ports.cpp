// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestro/sim/board/ports.h"

namespace kestro::sim {

namespace {

// Pin names from the M68HC11E series programming reference guide's block diagram.
constexpr const char* kNames[5][8] = {
    {"PA0/IC3", "PA1/IC2", "PA2/IC1", "PA3/OC5", "PA4/OC4", "PA5/OC3", "PA6/OC2", "PA7/PAI"},
    {"PB0/ADDR8", "PB1/ADDR9", "PB2/ADDR10", "PB3/ADDR11", "PB4/ADDR12", "PB5/ADDR13", "PB6/ADDR14",
     "PB7/ADDR15"},
    {"PC0/ADDR0/DATA0", "PC1/ADDR1/DATA1", "PC2/ADDR2/DATA2", "PC3/ADDR3/DATA3", "PC4/ADDR4/DATA4",
     "PC5/ADDR5/DATA5", "PC6/ADDR6/DATA6", "PC7/ADDR7/DATA7"},
    {"PD0/RxD", "PD1/TxD", "PD2/MISO", "PD3/MOSI", "PD4/SCK", "PD5/SS", nullptr, nullptr},
    {"PE0/AN0", "PE1/AN1", "PE2/AN2", "PE3/AN3", "PE4/AN4", "PE5/AN5", "PE6/AN6", "PE7/AN7"},
};

constexpr std::uint8_t kTxd = 0x02;
constexpr std::uint8_t kRxd = 0x01;

}  // namespace

const char* Ports::pinName(char port, int bit) {
    if (port < 'A' || port > 'E' || bit < 0 || bit > 7)
        return nullptr;
    return kNames[port - 'A'][bit];
}

void Ports::reset() {
    portB_ = 0;
    portC_ = 0;
    ddrc_ = 0;
    portD_ = 0;
    ddrd_ = 0;
    pioc_ = 0;
}

std::uint8_t Ports::busPins(char port, const PortFunctions& f) const {
    return f.expanded && (port == 'B' || port == 'C') ? 0xFF : 0x00;
}

std::uint8_t Ports::outputs(char port, const PortFunctions& f) const {
    switch (port) {
        case 'B':
            return 0xFF;  // output only, or the address bus
        case 'C':
            return f.expanded ? 0xFF : ddrc_;
        case 'D': {
            std::uint8_t out = ddrd_ & ports::kPortDPins;
            // The SCI takes its pins while its halves are on, whatever DDRD says.
            if (f.sciTransmits)
                out |= kTxd;
            if (f.sciReceives)
                out &= static_cast<std::uint8_t>(~kRxd);
            return out;
        }
        default:
            return 0x00;  // port E: inputs only
    }
}

std::uint8_t Ports::levels(char port, const PortFunctions& f) const {
    const std::uint8_t out = outputs(port, f);
    switch (port) {
        case 'B':
            return f.expanded ? 0xFF : portB_;
        case 'C':
            return f.expanded ? 0xFF
                              : static_cast<std::uint8_t>((portC_ & out) | (inputs_[1] & ~out));
        case 'D': {
            std::uint8_t latch = portD_;
            if (f.sciTransmits)
                latch = static_cast<std::uint8_t>((latch & ~kTxd) | (f.txdLevel ? kTxd : 0));
            return static_cast<std::uint8_t>(((latch & out) | (inputs_[2] & ~out)) &
                                             ports::kPortDPins);
        }
        case 'E':
            return inputs_[3];
        default:
            return 0xFF;
    }
}

std::uint8_t Ports::read(std::uint8_t offset, const PortFunctions& f) const {
    switch (offset) {
        case ports::PIOC:
            return pioc_;
        case ports::PORTC:
            // An output reads its latch, an input its pin.
            return static_cast<std::uint8_t>((portC_ & ddrc_) | (levels('C', f) & ~ddrc_));
        case ports::PORTB:
            return portB_;
        case ports::PORTCL:
            return 0x00;  // the STRA latch is not modelled
        case ports::DDRC:
            return ddrc_;
        case ports::PORTD:
            // DDRD picks what a read returns, also for the SCI's pins: the latch where DDRD is
            // set, the pin where it is clear (M68HC11 Reference Manual 9.3, p. 9-20).
            return static_cast<std::uint8_t>(((portD_ & ddrd_) | (levels('D', f) & ~ddrd_)) &
                                             ports::kPortDPins);
        case ports::DDRD:
            return ddrd_;
        case ports::PORTE:
            return inputs_[3];
        default:
            return 0x00;
    }
}

void Ports::write(std::uint8_t offset, std::uint8_t v) {
    switch (offset) {
        case ports::PIOC:
            pioc_ = v;
            return;
        case ports::PORTC:
            portC_ = v;
            return;
        case ports::PORTB:
            portB_ = v;
            return;
        case ports::DDRC:
            ddrc_ = v;
            return;
        case ports::PORTD:
            // The latch keeps what was written, also while the SCI drives PD1 (RM p. 9-20).
            portD_ = v & ports::kPortDPins;
            return;
        case ports::DDRD:
            ddrd_ = v & ports::kPortDPins;
            return;
        default:
            return;  // PORTCL and PORTE cannot be written
    }
}

bool Ports::setInput(char port, int bit, bool level, const PortFunctions& f) {
    if (port < 'C' || port > 'E' || bit < 0 || bit > 7 || !pinName(port, bit))
        return false;
    const auto mask = static_cast<std::uint8_t>(1u << bit);
    if ((outputs(port, f) | busPins(port, f)) & mask)
        return false;
    if (port == 'D' && bit == 0 && f.sciReceives)
        return false;  // the serial line drives RxD
    std::uint8_t& in = inputs_[static_cast<std::size_t>(index(port))];
    in = static_cast<std::uint8_t>(level ? in | mask : in & ~mask);
    return true;
}

}  // namespace kestro::sim
