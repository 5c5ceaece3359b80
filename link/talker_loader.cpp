// SPDX-License-Identifier: GPL-3.0-or-later
#include "talker_loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

std::optional<std::string> readFile(const std::filesystem::path& path, std::string* reason,
                                    std::size_t limit) {
    auto fail = [reason](const std::string& why) -> std::optional<std::string> {
        if (reason)
            *reason = why;
        return std::nullopt;
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode))
        return fail("it is a folder");
    std::string content;
    if (S_ISREG(st.st_mode))
        content.reserve(static_cast<std::size_t>(std::min<off_t>(st.st_size, limit)));
    char piece[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, piece, sizeof piece);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(std::strerror(errno));
        if (n == 0)
            return content;
        if (static_cast<std::size_t>(n) > limit - content.size())
            return fail("it holds more than " +
                        (limit >= 1024 * 1024 ? std::to_string(limit / (1024 * 1024)) + " MB"
                                              : std::to_string(limit) + " bytes") +
                        ", far more than any file for the HC11's 64 KB");
        content.append(piece, static_cast<std::size_t>(n));
    }
}

}  // namespace kestro
