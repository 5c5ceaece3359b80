// SPDX-License-Identifier: GPL-3.0-or-later
#include "verdict.h"

#include <array>
#include <cstdio>
#include <utility>

#include "register_bytes.h"
#include "start_address.h"

namespace kestro::cli {

namespace {

bool startsWith(const std::string& s, std::string_view prefix) {
    return s.rfind(prefix, 0) == 0;
}

}  // namespace

Exit exitFor(const Message& m) {
    static const std::array<std::pair<std::string_view, Exit>, 16> kTexts = {{
        {"Communication is OK", Exit::Success},
        {"Eeprom is program", Exit::Success},
        {"Eprom is program", Exit::Success},
        {"File equal Eeprom", Exit::Success},
        {"File equal Eprom", Exit::Success},
        {"Eeprom Erase", Exit::Success},
        {"No Data", Exit::Success},
        {"Data", Exit::Found},
        {"Error in Eeprom", Exit::TargetError},
        {"Error in Eprom", Exit::TargetError},
        // A wrong echo: the talker is not answering as it should.
        {"Error in communication", Exit::NoAnswer},
        {"Please reset your HC11", Exit::NoAnswer},
        {"The HC11 did not answer the erase.", Exit::NoAnswer},
        {"The HC11 sent nothing, so upload.s19 was not written.", Exit::NoAnswer},
        {"The talker download was not echoed by the HC11.", Exit::NotEchoed},
        {ops::kInvalidStartAddress, Exit::Usage},
    }};
    for (const auto& [text, exit] : kTexts)
        if (m.text == text)
            return exit;
    if (startsWith(m.text, "Error found at"))
        return Exit::Found;
    if (startsWith(m.text, "The serial port "))
        return Exit::PortError;
    if (startsWith(m.text, "The dump is damaged"))
        return Exit::TargetError;
    // The user's file, the talker files and the dump file.
    if (startsWith(m.text, "Cannot read the ") || startsWith(m.text, "The file ") ||
        m.text.find("upload.s19 ") != std::string::npos)
        return Exit::FileError;
    // A failure no front end foresees.
    return Exit::TargetError;
}

std::string terminalText(const Message& m) {
    std::string text = m.text;
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;)
        text.replace(at, 2, "\n");
    return text;
}

std::string doneText(const Step& step) {
    const ops::Inputs& in = step.inputs;
    char hex[8];
    if (step.button == "ConfigProgram") {
        std::snprintf(hex, sizeof hex, "%02X", ops::configByte(in.config5Text, in.config));
        return std::string("CONFIG $") + hex + " sent; it takes effect at the next reset";
    }
    if (step.button == "ExtRam")
        return "Program sent, to start at " + in.startAddress;
    if (step.button == "DumpStart")
        return "Dump written to " + step.output.string();
    if (step.button == "XISDPoff")
        return "SDP off sent";
    if (step.button == "XIreset")
        return "Xicor reset sent";
    if (step.button == "XISFR") {
        std::snprintf(hex, sizeof hex, "%02X", ops::sfrByte(in.sfrPosition));
        return std::string("SFR $") + hex + " sent";
    }
    if (step.button == "XIeem") {
        std::snprintf(hex, sizeof hex, "%02X", ops::eemByte(in.eemMapText, in.eemLam, in.eemRes));
        return std::string("EEM $") + hex + " sent";
    }
    if (step.button == "XIBPR") {
        std::snprintf(hex, sizeof hex, "%02X", ops::bprByte(in.bpr));
        return std::string("BPR $") + hex + " sent";
    }
    return {};
}

bool expectsBox(const std::string& button) {
    Step step;
    step.button = button;
    return doneText(step).empty();
}

}  // namespace kestro::cli
