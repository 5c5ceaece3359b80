// SPDX-License-Identifier: GPL-3.0-or-later
#include "srecord.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "hex_digit.h"

namespace kestro::formats {

namespace {

enum class Role { Header, Data, Count, End };

struct RecordType {
    char type;
    std::size_t addressBytes;
    Role role;
};
constexpr RecordType kTypes[] = {
    {'0', 2, Role::Header}, {'1', 2, Role::Data},  {'2', 3, Role::Data},
    {'3', 4, Role::Data},   {'5', 2, Role::Count}, {'6', 3, Role::Count},
    {'7', 4, Role::End},    {'8', 3, Role::End},   {'9', 2, Role::End},
};

struct Record {
    const RecordType* type = nullptr;
    std::uint32_t address = 0;
    std::vector<std::uint8_t> data;
};

// One line, without its end, as a record whose count and checksum hold.
std::variant<Record, std::string> readRecord(std::string_view line) {
    if (line.size() < 2 || (line[0] != 'S' && line[0] != 's'))
        return std::string("not an S-record");
    Record r;
    for (const RecordType& t : kTypes)
        if (t.type == line[1])
            r.type = &t;
    if (!r.type)
        return "unknown record type S" + std::string(1, line[1]);
    auto read = hexBytes(line.substr(2));
    if (auto* why = std::get_if<std::string>(&read))
        return std::move(*why);
    const std::vector<std::uint8_t>& bytes = std::get<std::vector<std::uint8_t>>(read);
    // Count, address, the data, checksum; the count takes in all but itself.
    if (bytes.empty())
        return std::string("no byte count");
    if (bytes[0] != bytes.size() - 1)
        return "the byte count says " + std::to_string(bytes[0]) + " but the record holds " +
               std::to_string(bytes.size() - 1);
    const std::size_t width = r.type->addressBytes;
    if (bytes.size() < width + 2)
        return std::string("too short for its address");
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i)
        sum += bytes[i];
    if ((~sum & 0xFF) != bytes.back())
        return std::string("wrong checksum");
    for (std::size_t i = 0; i < width; ++i)
        r.address = r.address << 8 | bytes[1 + i];
    r.data.assign(bytes.begin() + 1 + static_cast<std::ptrdiff_t>(width), bytes.end() - 1);
    return r;
}

}  // namespace

Result<Image> readSRecords(std::string_view text) {
    text = withoutByteOrderMark(text);
    // Some tools still end a text file with the DOS end-of-file mark: one at the very end is
    // no record and no damage.
    if (!text.empty() && text.back() == '\x1A')
        text.remove_suffix(1);
    Image image;
    int endLine = 0;  // the line of the end record, once there is one
    int lineNumber = 0;
    for (std::string_view line; nextRecordLine(text, line, lineNumber);) {
        auto read = readRecord(line);
        if (const auto* why = std::get_if<std::string>(&read))
            return Problem{lineNumber, *why};
        Record& r = std::get<Record>(read);
        // Checked after the record itself, so that a damaged line is named as such.
        if (endLine != 0)
            return Problem{lineNumber, "a record after the end record of line " +
                                           std::to_string(endLine) +
                                           ", as when two files are joined; delete every end "
                                           "record but the last, or send the files one by one"};
        switch (r.type->role) {
            case Role::Data:
                if (r.address >= kAddressSpace || r.data.size() > kAddressSpace - r.address)
                    return Problem{lineNumber, "data at " +
                                                   hexAddress(std::max(r.address, kAddressSpace)) +
                                                   ", beyond the HC11's 64 KB"};
                if (!r.data.empty())
                    image.push_back({r.address, std::move(r.data)});
                break;
            case Role::End:
                endLine = lineNumber;
                break;
            case Role::Header:
            case Role::Count:
                break;
        }
    }
    if (image.empty())
        return Problem{0, "it holds no data record"};
    return image;
}

}  // namespace kestro::formats
