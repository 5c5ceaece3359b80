// SPDX-License-Identifier: GPL-3.0-or-later
#include "intel_hex.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "hex_digit.h"

namespace kestro::formats {

namespace {

struct Record {
    unsigned type = 0;
    std::uint32_t offset = 0;
    std::vector<std::uint8_t> data;
};

// One line, without its end, as a record whose count and checksum hold.
std::variant<Record, std::string> readRecord(std::string_view line) {
    if (line.empty() || line[0] != ':')
        return std::string("not an Intel HEX record");
    auto read = hexBytes(line.substr(1));
    if (auto* why = std::get_if<std::string>(&read))
        return std::move(*why);
    const std::vector<std::uint8_t>& bytes = std::get<std::vector<std::uint8_t>>(read);
    // Count, address (two bytes), type, the data, checksum.
    if (bytes.size() < 5)
        return std::string("too short for a record");
    if (bytes[0] != bytes.size() - 5)
        return "the byte count says " + std::to_string(bytes[0]) + " but the record holds " +
               std::to_string(bytes.size() - 5);
    unsigned sum = 0;
    for (std::uint8_t b : bytes)
        sum += b;
    if ((sum & 0xFF) != 0)
        return std::string("wrong checksum");
    Record r;
    r.offset = static_cast<std::uint32_t>(bytes[1] << 8 | bytes[2]);
    r.type = bytes[3];
    r.data.assign(bytes.begin() + 4, bytes.end() - 1);
    return r;
}

// The 16-bit value an address record carries.
std::optional<std::uint32_t> addressValue(const Record& r) {
    if (r.data.size() != 2 || r.offset != 0)
        return std::nullopt;
    return static_cast<std::uint32_t>(r.data[0] << 8 | r.data[1]);
}

}  // namespace

Result<Image> readIntelHex(std::string_view text) {
    text = withoutByteOrderMark(text);
    // A DOS end-of-file mark at the very end is no record, as with S-records.
    if (!text.empty() && text.back() == '\x1A')
        text.remove_suffix(1);
    Image image;
    std::uint32_t base = 0;  // from the last extended segment address record
    int endLine = 0;         // the line of the end-of-file record, once there is one
    int lineNumber = 0;
    for (std::string_view line; nextRecordLine(text, line, lineNumber);) {
        if (endLine != 0)
            return Problem{lineNumber, "a record after the end-of-file record of line " +
                                           std::to_string(endLine) +
                                           ", as when two files are joined; delete every "
                                           "end-of-file record but the last, or send the files "
                                           "one by one"};
        auto read = readRecord(line);
        if (const auto* why = std::get_if<std::string>(&read))
            return Problem{lineNumber, *why};
        const Record& r = std::get<Record>(read);
        switch (r.type) {
            case 0x00: {
                const std::uint32_t address = base + r.offset;
                if (address + r.data.size() > kAddressSpace)
                    return Problem{lineNumber, "data at " +
                                                   hexAddress(std::max(address, kAddressSpace)) +
                                                   ", beyond the HC11's 64 KB"};
                image.push_back({address, r.data});
                break;
            }
            case 0x01:
                if (!r.data.empty() || r.offset != 0)
                    return Problem{lineNumber, "a damaged end-of-file record"};
                endLine = lineNumber;
                break;
            case 0x02: {
                const auto segment = addressValue(r);
                if (!segment)
                    return Problem{lineNumber, "a damaged extended segment address record"};
                base = *segment * 16;
                break;
            }
            case 0x04: {
                const auto upper = addressValue(r);
                if (!upper)
                    return Problem{lineNumber, "a damaged extended linear address record"};
                if (*upper != 0)
                    return Problem{lineNumber, "an extended linear address of " +
                                                   hexAddress(*upper << 16) +
                                                   ", beyond the HC11's 64 KB"};
                base = 0;
                break;
            }
            case 0x03:
            case 0x05:
                // A start address, which the HC11 toolchain's objcopy writes as type 03: the
                // HC11 starts where the user says.
                break;
            default: {
                char type[8];
                std::snprintf(type, sizeof type, "%02X", r.type);
                return Problem{lineNumber, std::string("unknown record type ") + type};
            }
        }
    }
    if (endLine == 0)
        return Problem{0, "it has no end-of-file record (type 01), so it may be cut short"};
    return image;
}

}  // namespace kestro::formats
