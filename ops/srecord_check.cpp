// SPDX-License-Identifier: GPL-3.0-or-later
#include "srecord_check.h"

#include <vector>

#include "hex_digit.h"

namespace kestro::ops {

namespace {

constexpr auto hexValue = formats::hexDigitValue;

// The record types a 16-bit target can take: header, data, counts and the 16-bit end record.
struct RecordType {
    char type;
    std::size_t addressBytes;
    const char* refusal;  // why a file with it cannot go to an HC11, or nullptr
};
constexpr RecordType kTypes[] = {
    {'0', 2, nullptr},
    {'1', 2, nullptr},
    {'2', 3, "an S2 record has a 24-bit address, beyond the HC11's 64 KB"},
    {'3', 4, "an S3 record has a 32-bit address, beyond the HC11's 64 KB"},
    {'5', 2, nullptr},
    {'6', 3, nullptr},
    {'7', 4, "an S7 record ends a file with 32-bit addresses"},
    {'8', 3, "an S8 record ends a file with 24-bit addresses"},
    {'9', 2, nullptr},
};

std::optional<std::string> checkRecord(std::string_view line, bool& isData) {
    if (line.size() < 2 || line[0] != 'S')
        return "not an S-record";
    const RecordType* type = nullptr;
    for (const RecordType& t : kTypes)
        if (t.type == line[1])
            type = &t;
    if (!type)
        return "unknown record type S" + std::string(1, line[1]);
    if (type->refusal)
        return std::string(type->refusal);

    const std::string_view hex = line.substr(2);
    if (hex.size() % 2 != 0)
        return "odd number of hexadecimal digits";
    std::vector<int> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = hexValue(hex[i]);
        const int lo = hexValue(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return "a character that is not a hexadecimal digit";
        bytes.push_back(hi * 16 + lo);
    }
    if (bytes.empty())
        return "no byte count";
    if (static_cast<std::size_t>(bytes[0]) != bytes.size() - 1)
        return "the byte count says " + std::to_string(bytes[0]) + " but the record holds " +
               std::to_string(bytes.size() - 1);
    if (bytes.size() - 1 < type->addressBytes + 1)
        return "too short for its address";
    int sum = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i)
        sum += bytes[i];
    if (((~sum) & 0xFF) != bytes.back())
        return "wrong checksum";
    isData = type->type == '1';
    return std::nullopt;
}

}  // namespace

std::optional<SRecordProblem> checkSRecordFile(std::string_view content) {
    // Some tools still end a text file with the DOS end-of-file mark: one at the very end is
    // no record and no damage. The file is still sent as it stands.
    if (!content.empty() && content.back() == '\x1A')
        content.remove_suffix(1);
    int lineNumber = 0;
    bool anyData = false;
    while (!content.empty()) {
        const auto end = content.find('\n');
        std::string_view line = content.substr(0, end);
        content = end == std::string_view::npos ? std::string_view{} : content.substr(end + 1);
        ++lineNumber;
        // CR LF and LF line ends both do; blanks at the end of a line are an editor's, not data.
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        if (line.empty())
            continue;
        bool isData = false;
        if (auto problem = checkRecord(line, isData))
            return SRecordProblem{lineNumber, *problem};
        anyData = anyData || isData;
    }
    if (!anyData)
        return SRecordProblem{0, "it holds no S1 data record"};
    return std::nullopt;
}

std::optional<std::uint16_t> lowestDataAddress(std::string_view content) {
    std::optional<std::uint16_t> lowest;
    while (!content.empty()) {
        const auto end = content.find('\n');
        const std::string_view line = content.substr(0, end);
        content = end == std::string_view::npos ? std::string_view{} : content.substr(end + 1);
        if (line.size() < 8 || line.substr(0, 2) != "S1")
            continue;
        int field[3];
        for (int i = 0; i < 3; ++i) {
            const int hi = hexValue(line[2 + 2 * i]);
            const int lo = hexValue(line[3 + 2 * i]);
            field[i] = hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
        }
        const int count = field[0] - 3;  // less the address and the checksum
        if (count <= 0 || field[1] < 0 || field[2] < 0)
            continue;
        const unsigned address = static_cast<unsigned>(field[1] * 256 + field[2]);
        const auto first = static_cast<std::uint16_t>(
            address + static_cast<unsigned>(count) > 0x10000 ? 0 : address);
        if (!lowest || first < *lowest)
            lowest = first;
    }
    return lowest;
}

}  // namespace kestro::ops
