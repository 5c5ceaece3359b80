// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdio>

#include "dump_file.h"
#include "operations.h"
#include "register_bytes.h"

namespace kestro::ops {

namespace {

std::string hexByte(std::uint8_t value) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", value);
    return hex;
}

}  // namespace

std::string doneText(std::string_view button, const Inputs& in) {
    if (button == "ConfigProgram") {
        std::string text = "CONFIG $" + hexByte(configByte(in.config5Text, in.config)) +
                           " sent; it takes effect at the next reset";
        // NOSEC clear: what the user asked for, said once more. Only a part made with the
        // security option heeds it (M68HC11 Reference Manual p. 4-15).
        if (in.config[3] != 1)
            text +=
                ", which secures a part made with the security option: its next reset into "
                "bootstrap mode erases its EEPROM and CONFIG (a part without the option ignores "
                "NOSEC)";
        return text;
    }
    if (button == "ExtRam")
        return "Program sent, to start at " + in.startAddress;
    if (button == "DumpStart")
        return "Dump written to " + (in.dumpFolder / kDumpFile).string();
    if (button == "XISDPoff")
        return "SDP off sent";
    if (button == "XIreset")
        return "Xicor reset sent";
    if (button == "XISFR")
        return "SFR $" + hexByte(sfrByte(in.sfrPosition)) + " sent";
    if (button == "XIeem")
        return "EEM $" + hexByte(eemByte(in.eemMapText, in.eemLam, in.eemRes)) + " sent";
    if (button == "XIBPR")
        return "BPR $" + hexByte(bprByte(in.bpr)) + " sent";
    return {};
}

void reportDone(Frame& f, const Inputs& in) {
    f.ui().jobDone(doneText(f.button(), in));
}

}  // namespace kestro::ops
