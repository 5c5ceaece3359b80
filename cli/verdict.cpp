// SPDX-License-Identifier: GPL-3.0-or-later
#include "verdict.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <optional>
#include <utility>

#include "fast_link.h"
#include "frame.h"
#include "operations.h"
#include "start_address.h"

namespace kestro::cli {

namespace {

bool startsWith(const std::string& s, std::string_view prefix) {
    return s.rfind(prefix, 0) == 0;
}

constexpr std::string_view kDifference = "Error found at\r\n";
// Enough of a garbled answer to recognise it; the rest is counted.
constexpr std::size_t kShownBytes = 64;

// The compare talker's reply to a difference is the address, four hexadecimal digits. Anything
// else is the line's doing (a byte lost, doubled or changed, a reset under way), not an address.
std::optional<std::string> garbledAddress(const Message& m) {
    if (!startsWith(m.text, kDifference))
        return std::nullopt;
    const std::string reply = m.text.substr(kDifference.size());
    const bool address = reply.size() == 4 && std::all_of(reply.begin(), reply.end(), [](char c) {
                             return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                         });
    if (address)
        return std::nullopt;
    return reply;
}

// Bytes as a C string literal would show them, so a terminal shows them and is not driven.
std::string escaped(std::string_view bytes) {
    std::string out;
    for (const char ch : bytes.substr(0, kShownBytes)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += ch;
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c >= 0x20 && c < 0x7F) {
            out += ch;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

}  // namespace

Exit exitFor(const Message& m) {
    static const std::array<std::pair<std::string_view, Exit>, 21> kTexts = {{
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
        // Whatever the talker had done, the answer the job waited for never came.
        {Frame::kResetDuringJob, Exit::NoAnswer},
        {ops::kInvalidStartAddress, Exit::Usage},
        // The fast protocol's line failures: the answers the job waited for never came whole.
        {fast::kStoppedAnswering, Exit::NoAnswer},
        {fast::kDamagedTooOften, Exit::NoAnswer},
        {fast::kNotTheProtocol, Exit::NoAnswer},
        {fast::kUnknownRequest, Exit::FileError},
    }};
    // A job whose end the talker never confirmed, whatever box the window shows for it.
    if (startsWith(m.reason, ops::kNotConfirmed) || startsWith(m.text, "The HC11 did not confirm"))
        return Exit::NoAnswer;
    for (const auto& [text, exit] : kTexts)
        if (m.text == text)
            return exit;
    if (startsWith(m.text, "Error found at"))
        return garbledAddress(m) ? Exit::NoAnswer : Exit::Found;
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
    if (const auto reply = garbledAddress(m)) {
        std::string text = "The HC11's answer to the compare is garbled, not an address: \"" +
                           escaped(*reply) + "\"";
        if (reply->size() > kShownBytes)
            text += " (" + std::to_string(reply->size()) + " bytes in all)";
        return text;
    }
    std::string text = m.text;
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;)
        text.replace(at, 2, "\n");
    return text;
}

std::string doneText(const Step& step) {
    // The dump goes where the command line was told, not to the folder the operation writes in.
    if (step.button == "DumpStart")
        return "Dump written to " +
               (step.output == "-" ? std::string("the standard output") : step.output.string());
    return ops::doneText(step.button, step.inputs);
}

std::string memoryName(const std::string& button) {
    static constexpr std::pair<std::string_view, const char*> kNames[] = {
        {"ExtEEprog", "the external EEPROM"},
        {"ExtEEcomp", "the external EEPROM"},
        {"Xiprog", "the companion chip's EEPROM"},
        {"Xicomp", "the companion chip's EEPROM"},
    };
    for (const auto& [b, name] : kNames)
        if (b == button)
            return name;
    return {};
}

}  // namespace kestro::cli
