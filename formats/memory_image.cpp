// SPDX-License-Identifier: GPL-3.0-or-later
#include "memory_image.h"

#include <algorithm>
#include <cstdio>

#include "hex_digit.h"

namespace kestro::formats {

namespace {

constexpr std::size_t kRecordData = 16;

void appendHex(std::string& text, unsigned value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    text += kDigits[(value >> 4) & 0xF];
    text += kDigits[value & 0xF];
}

std::string s1Record(std::uint32_t address, const std::uint8_t* data, std::size_t size) {
    std::string line = "S1";
    unsigned sum = static_cast<unsigned>(size + 3) + (address >> 8) + (address & 0xFF);
    appendHex(line, static_cast<unsigned>(size + 3));
    appendHex(line, address >> 8);
    appendHex(line, address & 0xFF);
    for (std::size_t i = 0; i < size; ++i) {
        appendHex(line, data[i]);
        sum += data[i];
    }
    appendHex(line, ~sum & 0xFF);
    return line + "\r\n";
}

}  // namespace

Kind kindOf(std::string_view content) {
    if (content.starts_with("\x7F"
                            "ELF"))
        return Kind::Elf;
    content = withoutByteOrderMark(content);
    const auto first = content.find_first_not_of(" \t\r\n");
    if (first != std::string_view::npos && content[first] == ':')
        return Kind::IntelHex;
    return Kind::SRecord;
}

std::string hexAddress(std::uint64_t address) {
    char text[24];
    std::snprintf(text, sizeof text, "$%04llX", static_cast<unsigned long long>(address));
    return text;
}

Result<std::string> s1Records(Image image) {
    std::erase_if(image, [](const Block& b) { return b.bytes.empty(); });
    if (image.empty())
        return Problem{0, "it holds no data"};
    for (const Block& b : image)
        if (b.address >= kAddressSpace || b.bytes.size() > kAddressSpace - b.address)
            return Problem{0, "it has data at " + hexAddress(std::max(b.address, kAddressSpace)) +
                                  ", beyond the HC11's 64 KB"};
    std::stable_sort(image.begin(), image.end(),
                     [](const Block& a, const Block& b) { return a.address < b.address; });
    std::string text;
    std::uint32_t end = 0;  // past the last byte placed so far
    for (std::size_t i = 0; i < image.size(); ++i) {
        const Block& b = image[i];
        if (i > 0 && b.address < end)
            return Problem{0, "it gives the byte at " + hexAddress(b.address) + " twice"};
        end = b.address + static_cast<std::uint32_t>(b.bytes.size());
    }
    // Blocks that meet are one run of records, so that every record but a run's last is full.
    std::vector<std::uint8_t> run;
    std::uint32_t runStart = 0;
    auto flush = [&] {
        for (std::size_t at = 0; at < run.size(); at += kRecordData)
            text += s1Record(runStart + static_cast<std::uint32_t>(at), run.data() + at,
                             std::min(kRecordData, run.size() - at));
        run.clear();
    };
    for (const Block& b : image) {
        if (!run.empty() && runStart + run.size() != b.address)
            flush();
        if (run.empty())
            runStart = b.address;
        run.insert(run.end(), b.bytes.begin(), b.bytes.end());
    }
    flush();
    return text + "S9030000FC\r\n";
}

}  // namespace kestro::formats
