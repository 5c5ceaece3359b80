// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings_inputs.h"

#include "command_line.h"
#include "settings_store.h"

namespace kestro::cli {

ops::Inputs inputsFromSettings(QSettings& settings) {
    const StartupSettings startup(settings);
    ops::Inputs in;
    // A stored range the selectors could not have made keeps the window's default.
    auto range = [&startup](const char* beginKey, const char* endKey, std::string& begin,
                            std::string& end) {
        const std::string b = startup.text(beginKey, QString::fromStdString(begin)).toStdString();
        const std::string e = startup.text(endKey, QString::fromStdString(end)).toStdString();
        if (const auto r = parseRange(b + "-" + e))
            std::tie(begin, end) = *r;
    };
    range("EEpromBegin", "EEpromEnd", in.eepromBegin, in.eepromEnd);
    range("EpromBegin", "EpromEnd", in.epromBegin, in.epromEnd);
    range("DumpBegin", "DumpEnd", in.dumpBegin, in.dumpEnd);
    for (int i = 0; i < 4; ++i) {
        const std::string key = "ValueConfig" + std::to_string(i + 1);
        in.config[static_cast<std::size_t>(i)] = startup.number(key.c_str(), 0, 1, 0);
    }
    in.startAddress = startup.text("StartAdress", QStringLiteral("2000")).toStdString();
    in.sfrPosition = startup.number("SCsfr", 0, 64, 4);
    return in;
}

}  // namespace kestro::cli
