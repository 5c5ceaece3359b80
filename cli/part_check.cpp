// SPDX-License-Identifier: GPL-3.0-or-later
#include "part_check.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace kestro::cli {

namespace {

// The operations on the chip's own non-volatile memories and the memory each needs.
struct Need {
    std::string_view button;
    std::uint8_t memory;
    std::string_view what;
};
constexpr std::array kNeeds{
    Need{"EepromCheck", sim::memory::Eeprom, "the EEPROM"},
    Need{"EepromProgram", sim::memory::Eeprom, "the EEPROM"},
    Need{"EepromCompare", sim::memory::Eeprom, "the EEPROM"},
    Need{"EepromErase", sim::memory::Eeprom, "the EEPROM"},
    Need{"EpromCheck", sim::memory::Eprom, "the EPROM"},
    Need{"EpromProgram", sim::memory::Eprom, "the EPROM"},
    Need{"EpromCompare", sim::memory::Eprom, "the EPROM"},
};

// Why a part cannot serve a command, one text per case; %p is the part's name.
enum class Why { NoEeprom, NoEprom, EeonClear, OutsideEeprom };
struct Reason {
    Why why;
    std::string_view text;
};
constexpr std::array kReasons{
    Reason{Why::NoEeprom,
           "the %p is sold without EEPROM (it leaves the factory with EEON clear in CONFIG)"},
    Reason{Why::NoEprom, "the %p has no EPROM (mask ROM or none)"},
    Reason{Why::EeonClear,
           "the board's CONFIG has EEON clear, so the EEPROM is not in the memory map; program "
           "CONFIG with EEON first (config --bits EEON,...)"},
    // A bulk erase latches the range's first address: where the part has no EEPROM there, the
    // programming voltage would go on with nothing latched.
    Reason{Why::OutsideEeprom, "the range %r is not within the %p's EEPROM at %e"},
};

void fill(std::string& text, std::string_view key, std::string_view value) {
    if (const auto at = text.find(key); at != std::string::npos)
        text.replace(at, key.size(), value);
}

std::string sentence(const Step& step, const Need& need, Why why, const sim::Variant& part,
                     std::string_view range = {}, std::string_view eeprom = {}) {
    std::string text;
    for (const Reason& r : kReasons)
        if (r.why == why)
            text = r.text;
    fill(text, "%p", part.name);
    fill(text, "%r", range);
    fill(text, "%e", eeprom);
    return "'" + step.command + "' on " + std::string(need.what) + " is refused: " + text + ".";
}

unsigned hexValue(const std::string& text) {
    return static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 16));
}

std::string hex4(unsigned v) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", v & 0xFFFFu);
    return text;
}

}  // namespace

std::string partRefusal(const sim::Variant& part, std::optional<std::uint8_t> configCell,
                        const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        if (step.button == "ConfigProgram")
            configCell.reset();  // what the next reset brings is no longer known
        const Need* need = nullptr;
        for (const Need& n : kNeeds)
            if (n.button == step.button)
                need = &n;
        if (!need)
            continue;
        if (!part.sells(need->memory))
            return sentence(step, *need,
                            need->memory == sim::memory::Eeprom ? Why::NoEeprom : Why::NoEprom,
                            part);
        if (need->memory == sim::memory::Eeprom && configCell &&
            !(*configCell & part.configMask & sim::config::EEON))
            return sentence(step, *need, Why::EeonClear, part);
        if (step.button != "EepromErase")
            continue;
        // Where the EEPROM is: fixed, or from the CONFIG the next reset brings where known.
        // A movable one whose CONFIG is unknown may sit in any 4 KB page, but always at the
        // same place within it: a range no placement holds is never all EEPROM (the F1's
        // $F800-$FFFF is the 811E2's 2 KB, of which the F1 has the top 512 bytes).
        const unsigned begin = hexValue(step.inputs.eepromBegin);
        const unsigned end = hexValue(step.inputs.eepromEnd);
        const bool placementUnknown = part.eepromMovable && !configCell;
        const std::uint8_t config =
            placementUnknown ? static_cast<std::uint8_t>(begin >> 12 << 4)
                             : static_cast<std::uint8_t>(configCell.value_or(part.factoryConfig) &
                                                         part.configMask);
        const unsigned base = part.eepromBaseFor(config);
        const unsigned last = base + part.eepromSize - 1;
        if (begin < base || end > last) {
            const std::string place = placementUnknown
                                          ? "$x" + hex4(base).substr(1) + "-$x" +
                                                hex4(last).substr(1) + " (x from CONFIG bits 7-4)"
                                          : "$" + hex4(base) + "-$" + hex4(last);
            return sentence(step, *need, Why::OutsideEeprom, part,
                            "$" + hex4(begin) + "-$" + hex4(end), place);
        }
    }
    return {};
}

std::string movedEepromHint(const sim::Variant& part, const Step& step) {
    if (step.button != "EepromErase" || step.rangeGiven || !part.eepromMovable)
        return {};
    const unsigned base = part.eepromBaseFor(part.factoryConfig & part.configMask);
    const std::string first = hex4(base).substr(1),
                      last = hex4(base + part.eepromSize - 1).substr(1);
    return "The " + std::string(part.name) + "'s EEPROM is at $x" + first + "-$x" + last +
           " with x from CONFIG bits 7-4; without --range kestro-cli took $" + hex4(base) + "-$" +
           hex4(base + part.eepromSize - 1) +
           ", where the factory puts it, as CONFIG is not known before the reset. If CONFIG has "
           "moved it, name it with --range (--range B" +
           first + "-B" + last + " for x = B), or use --chip auto, which reads CONFIG first.";
}

}  // namespace kestro::cli
