// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/instruction.h"

#include "monitor/symbols.h"

namespace kestro::ops::monitor {

Instruction decode(ByteView code, std::uint16_t address, const Symbols*) {
    Instruction i;
    i.address = address;
    if (!code.empty()) {
        i.length = 1;
        i.bytes = {code[0]};
        i.text = "FCB";
    }
    return i;
}

std::vector<std::uint16_t> successors(ByteView, const Registers&, const MemoryReader&) {
    return {};
}

}  // namespace kestro::ops::monitor
