// SPDX-License-Identifier: GPL-3.0-or-later
#include "intel_hex.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "hex_digit.h"

namespace kestro::formats {

namespace {

constexpr auto hexValue = hexDigitValue;

struct Record {
    unsigned type = 0;
    std::uint32_t offset = 0;
    std::vector<std::uint8_t> data;
};

// One line, without its end, as a record whose count and checksum hold.
std::variant<Record, std::string> readRecord(std::string_view line) {
    if (line.empty() || line[0] != ':')
        return std::string("not an Intel HEX record");
    const std::string_view hex = line.substr(1);
    if (hex.size() % 2 != 0)
        return std::string("odd number of hexadecimal digits");
    std::vector<std::uint8_t> bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = hexValue(hex[i]);
        const int lo = hexValue(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return std::string("a character that is not a hexadecimal digit");
        bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
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
    // A DOS end-of-file mark at the very end is no record, as with S-records.
    if (!text.empty() && text.back() == '\x1A')
        text.remove_suffix(1);
    Image image;
    std::uint32_t base = 0;  // from the last extended segment address record
    bool ended = false;
    int lineNumber = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++lineNumber;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        if (line.empty())
            continue;
        if (ended)
            return Problem{lineNumber, "a record after the end-of-file record"};
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
                ended = true;
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
    if (!ended)
        return Problem{0, "it has no end-of-file record (type 01), so it may be cut short"};
    return image;
}

}  // namespace kestro::formats
