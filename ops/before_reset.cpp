// SPDX-License-Identifier: GPL-3.0-or-later
#include "before_reset.h"

#include "sci_rates.h"
#include "talker_waits.h"

namespace kestro::ops {

namespace {

// The talkers that write the EEPROM, by the path that takes them; whether each can put the
// charge pump on its R-C clock is the talker table's to say.
struct EepromWriter {
    std::string_view button;
    bool fast;
    std::string_view talkerFile;
};
constexpr EepromWriter kEepromWriters[] = {
    {"EepromProgram", false, "eeprog.S19"}, {"EepromErase", false, "eeerase.S19"},
    {"ConfigProgram", false, "config.S19"}, {"EepromProgram", true, "fastee.S19"},
    {"EepromErase", true, "fasterase.S19"}, {"ConfigProgram", true, "fastcfg.S19"},
};

}  // namespace

std::uint32_t fastestCrystalHz(const sim::Variant& part) {
    // The part's row gives the fastest E of its fastest grade (docs/hardware-facts.md, the
    // parts): a slower grade of the same name is the user's to know.
    return 4 * part.maxEClockHz;
}

std::string crystalRefusal(const sim::Variant& part, std::uint32_t crystalHz) {
    if (crystalHz <= fastestCrystalHz(part))
        return {};
    return "the " + std::string(part.name) + " runs from a crystal of " +
           SciClock::mhzText(fastestCrystalHz(part)) + " MHz at the most, not " +
           SciClock::mhzText(crystalHz) + " MHz";
}

std::optional<TalkerRefusal> talkerRefusal(std::string_view button, const Inputs& in,
                                           double eClockHz) {
    for (const EepromWriter& w : kEepromWriters) {
        if (w.button != button || w.fast != in.fast)
            continue;
        if (std::string why = pumpClockRefusal(talkerName(w.talkerFile), eClockHz); !why.empty())
            return TalkerRefusal{std::string(w.talkerFile), std::move(why)};
    }
    return std::nullopt;
}

Message talkerRefusalBox(const TalkerRefusal& refusal) {
    return {
        "The talker " + refusal.talkerFile + " cannot run at this crystal: " + refusal.reason + ".",
        kAppTitle, Icon::Critical,
        "Turn the fast mode off in Preferences (Ctrl+,) for this job; nothing was sent."};
}

}  // namespace kestro::ops
