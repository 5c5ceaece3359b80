// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestro/sim/board/variant.h"

#include <array>

namespace kestro::sim {

namespace {

// Factory CONFIG: NOSEC, NOCOP, ROMON and EEON set ($0F) on the ROM parts; the 811E2 leaves
// the factory with its EEPROM at $F800 (bits 7-4 = $F) and no ROM ($FF with ROMON unused).
constexpr std::array kVariants{
    Variant{Chip::A8, "MC68HC11A8", 256, 512, 0xB600, false, 0xE000, 0x2000, false, 0x0F, 0x0F,
            LoaderEnd::RamFull},
    Variant{Chip::E9, "MC68HC11E9", 512, 512, 0xB600, false, 0xD000, 0x3000, false, 0x0F, 0x0F,
            LoaderEnd::RamFullOrIdleLine},
    Variant{Chip::E9_711, "MC68HC711E9", 512, 512, 0xB600, false, 0xD000, 0x3000, true, 0x0F, 0x0F,
            LoaderEnd::RamFullOrIdleLine},
    Variant{Chip::E2_811, "MC68HC811E2", 256, 2048, 0xF800, true, 0, 0, false, 0xFF, 0xFF,
            LoaderEnd::RamFull},
};

}  // namespace

std::span<const Variant> variants() {
    return kVariants;
}

const Variant& variant(Chip chip) {
    for (const Variant& v : kVariants)
        if (v.chip == chip)
            return v;
    return kVariants[0];
}

const Variant* variantNamed(std::string_view name) {
    for (const Variant& v : kVariants)
        if (v.name == name)
            return &v;
    return nullptr;
}

}  // namespace kestro::sim
