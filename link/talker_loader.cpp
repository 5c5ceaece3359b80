// SPDX-License-Identifier: GPL-3.0-or-later
#include "talker_loader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace kestro {

namespace {

// A digit other than 0-9 or A-F leaves the nibble as it was for the byte before, as the boot
// files have always been read; talker files use upper-case digits only.
void setNibble(char c, int& nibble) {
    if (c >= '0' && c <= '9')
        nibble = c - '0';
    else if (c >= 'A' && c <= 'F')
        nibble = c - 'A' + 10;
}

}  // namespace

Bytes talkerImage(std::string_view text) {
    Bytes image;
    int high = 0;
    int low = 0;
    while (!text.empty()) {
        // Lines end at CR, LF or CR LF: the assembler here writes LF, older tools CR LF.
        const auto end = text.find_first_of("\r\n");
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        // An S1 line too short for type, count, address and checksum carries no data field.
        if (line.size() < 10 || line.substr(0, 2) != "S1")
            continue;
        const std::string_view data = line.substr(8, line.size() - 10);
        for (std::size_t i = 0; i < data.size(); i += 2) {
            setNibble(data[i], high);
            if (i + 1 < data.size())
                setNibble(data[i + 1], low);
            image.push_back(static_cast<Byte>(16 * high + low));
        }
    }
    return image;
}

Bytes talkerWireBytes(const Bytes& image) {
    Bytes wire;
    wire.reserve(1 + std::max(image.size(), kLoaderMinBytes));
    wire.push_back(0xFF);
    wire.insert(wire.end(), image.begin(), image.end());
    for (std::size_t n = image.size(); n < kLoaderMinBytes; ++n)
        wire.push_back(0x00);
    return wire;
}

std::optional<std::string> readFile(const std::filesystem::path& path, std::string* reason) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        if (reason)
            *reason = "it is a folder";
        return std::nullopt;
    }
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (reason)
            *reason = errno != 0 ? std::strerror(errno) : "it cannot be opened";
        return std::nullopt;
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) {
        if (reason)
            *reason = "it cannot be read";
        return std::nullopt;
    }
    return content.str();
}

}  // namespace kestro
