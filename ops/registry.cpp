// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations.h"

#include <algorithm>

#include "before_reset.h"
#include "elf_image.h"
#include "hex_digit.h"
#include "intel_hex.h"
#include "memory_image.h"
#include "srecord.h"

namespace kestro::ops {

Operation operationFor(std::string_view button) {
    using Unit = std::vector<ButtonOperation> (*)();
    static constexpr Unit kUnits[] = {
        commTestOperations, statusCheckOperations, programCompareOperations, eepromEraseOperations,
        configOperations,   ramDownloadOperations, memoryDumpOperations,     xicorOperations,
    };
    // The units of the fast protocol, each serving the buttons it has a fast form for.
    static constexpr Unit kFastUnits[] = {fastReadOperations, fastProgramOperations,
                                          fastExternalOperations, fastMiscOperations};
    Operation fast;
    for (Unit unit : kFastUnits)
        for (ButtonOperation& op : unit())
            if (op.button == button)
                fast = std::move(op.run);
    for (Unit unit : kUnits)
        for (ButtonOperation& op : unit())
            if (op.button == button)
                // A job no talker can run at the board's crystal is refused before the frame
                // asks for a reset or a file.
                return [button = std::string(button), slow = std::move(op.run), fast](
                           Target& t, const Inputs& in) {
                    if (const auto no = talkerRefusal(button, in, t.link.sciClock().eHz())) {
                        t.ui.message(talkerRefusalBox(*no));
                        return;
                    }
                    (in.fast && fast ? fast : slow)(t, in);
                };
    return {};
}

Message notConfirmed(bool writes) {
    std::string text = kNotConfirmed;
    text[0] = 'T';
    if (writes)
        text += std::string("; ") + kPartlyProgrammed;
    return {text + ".", kAppTitle, Icon::Critical,
            "Check the line to the HC11, then reset your HC11 into bootstrap mode and start the "
            "job again."};
}

Message notStarted() {
    return {"The HC11 did not confirm the start of the program.", kAppTitle, Icon::Critical,
            "The program may or may not be running. Check the line to the HC11, then reset your "
            "HC11 into bootstrap mode and start the job again."};
}

bool confirmed(const std::string& reply) {
    return reply == std::string(1, kJobDone);
}

void sendRangeCommand(Frame& f, const std::string& begin, const std::string& end) {
    f.send(Byte{'P'});
    f.send(Byte{'P'});
    f.send(Byte{'U'});
    f.send(std::string_view(begin));
    f.send(Byte{'V'});
    f.send(std::string_view(end));
    f.send(Byte{'W'});
}

namespace {

// How the user is told which kind of file was refused.
constexpr const char* kKindNames[] = {"an S-record file", "an Intel HEX file", "an ELF file"};

LinkError refusal(const std::string& name, formats::Kind kind, int line, const std::string& what,
                  const std::string& hint = {}) {
    std::string detail = what + "." + hint;
    if (line > 0)
        detail = "Line " + std::to_string(line) + ": " + detail;
    else if (detail[0] >= 'a' && detail[0] <= 'z')
        detail[0] = static_cast<char>(detail[0] - 'a' + 'A');
    return LinkError(
        "The file " + name + " is not " + kKindNames[static_cast<int>(kind)] + " for the HC11.",
        LinkError::Ending::KeepTarget, detail);
}

// The number of the first line that holds more than blanks, counted as the readers count
// lines; 0 for none.
int firstTextLine(std::string_view content) {
    std::string_view line;
    int number = 0;
    return formats::nextRecordLine(content, line, number) ? number : 0;
}

// The lowest address an operation's file may put data at. The RAM talker runs in the internal
// RAM below $0200 and refuses a record there, and then runs nothing.
struct LowestAddress {
    std::string_view button;
    std::uint16_t lowest;
    const char* why;
};
constexpr LowestAddress kLowestAddresses[] = {
    {"ExtRam", 0x0200,
     "The talker that loads it runs in the HC11's internal RAM below $0200, so it refuses data "
     "there and runs nothing."},
};

// The lowest address an image puts a byte at.
std::uint32_t lowest(const formats::Image& blocks) {
    std::uint32_t at = formats::kAddressSpace;
    for (const formats::Block& b : blocks)
        if (!b.bytes.empty())
            at = std::min(at, b.address);
    return at;
}

}  // namespace

std::string recordsToSend(std::string_view button, const std::string& name,
                          std::string_view content) {
    // Every kind goes out as S1 records made of what its reader took, so that what is checked,
    // sent, programmed and compared is one set of bytes: a talker stops at the first end
    // record and skips what it does not know (lower case, S2 and S3 records).
    const formats::Kind kind = formats::kindOf(content);
    const auto image = kind == formats::Kind::SRecord    ? formats::readSRecords(content)
                       : kind == formats::Kind::IntelHex ? formats::readIntelHex(content)
                                                         : formats::readElf(content);
    if (const auto* problem = std::get_if<formats::Problem>(&image)) {
        // A file whose first line is no record at all may be meant as another kind.
        const bool noRecordAtAll = kind == formats::Kind::SRecord &&
                                   problem->what == "not an S-record" &&
                                   problem->line == firstTextLine(content);
        throw refusal(name, kind, problem->line, problem->what,
                      noRecordAtAll ? " Kestro takes S-record, Intel HEX and ELF files." : "");
    }
    const formats::Image& blocks = std::get<formats::Image>(image);
    auto converted = formats::s1Records(blocks);
    if (const auto* problem = std::get_if<formats::Problem>(&converted))
        throw refusal(name, kind, problem->line, problem->what);
    const std::uint32_t first = lowest(blocks);
    for (const LowestAddress& rule : kLowestAddresses)
        if (rule.button == button && first < rule.lowest)
            throw LinkError("The file " + name + " has data at " + formats::hexAddress(first) +
                                ", below " + formats::hexAddress(rule.lowest) + ".",
                            LinkError::Ending::KeepTarget, rule.why);
    return std::move(std::get<std::string>(converted));
}

RecordsSpan recordsSpan(std::string_view records) {
    RecordsSpan span;
    std::string_view line;
    for (int number = 0; formats::nextRecordLine(records, line, number);) {
        if (!line.starts_with("S1"))
            continue;
        const auto bytes = formats::hexBytes(line.substr(2));
        const auto* b = std::get_if<std::vector<std::uint8_t>>(&bytes);
        // Count, address and checksum: the readers made these records, whole.
        if (b == nullptr || b->size() < 4 || (*b)[0] < 3)
            continue;
        span.bytes += (*b)[0] - 3;
        span.end = (((*b)[1] << 8 | (*b)[2]) + (*b)[0] - 3) & 0xFFFFu;
    }
    return span;
}

std::optional<LinkError> userFileProblem(std::string_view button, const std::string& name,
                                         std::string_view content) {
    try {
        recordsToSend(button, name, content);
    } catch (const LinkError& e) {
        return e;
    }
    return std::nullopt;
}

std::optional<std::string> chooseSRecordFile(Frame& f) {
    auto file = f.chooseFile();
    if (!file)
        return std::nullopt;
    return recordsToSend(f.button(), file->name, file->content);
}

}  // namespace kestro::ops
