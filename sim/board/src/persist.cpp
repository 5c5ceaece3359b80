// SPDX-License-Identifier: GPL-3.0-or-later
// Saving and loading the board's non-volatile memories: a small text file of "key value"
// lines, the memories as hexadecimal strings, so that a user can read and compare it.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <string_view>
#include <system_error>

#include "kestro/sim/board/board.h"

namespace kestro::sim {

namespace {

constexpr const char* kMagic = "kestro-virtual-hc11-board 1";

// The keys of a saved board; a line with another key is passed over.
constexpr std::string_view kKeys[] = {
    "chip",
    "config",
    "eeprom",
    "eprom",
    "parallel-eeprom",
    "parallel-eeprom-sdp",
    "companion-eeprom",
    "companion-sdp",
    "companion-bpr",
    "companion-eem",
    "companion-sfr",
};

// The longest line a saved board can hold: the largest memory in hexadecimal behind its key.
std::size_t longestLine() {
    std::size_t bytes = PageEeprom::kSize;
    for (const Variant& v : variants()) {
        bytes = std::max<std::size_t>(bytes, v.eepromSize);
        if (v.romIsEprom)
            bytes = std::max<std::size_t>(bytes, v.romSize());
    }
    std::size_t key = 0;
    for (std::string_view k : kKeys)
        key = std::max(key, k.size());
    return key + 1 + 2 * bytes;
}

// A piece of a file for a message: a few dozen characters at most, so that a damaged file of
// any size makes a message that can be shown.
std::string excerpt(std::string_view text) {
    constexpr std::size_t kShown = 40;
    std::string out = "\"";
    for (const char c : text.substr(0, kShown))
        out.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c);
    if (text.size() > kShown)
        out += "...";
    return out + "\"";
}

enum class LineRead { Line, End, TooLong };

// One line without its line end, LF or CR LF alike; stops reading at limit characters.
LineRead readLine(std::istream& in, std::string& line, std::size_t limit) {
    line.clear();
    std::streambuf& buf = *in.rdbuf();
    for (;;) {
        const int c = buf.sbumpc();
        if (c == std::char_traits<char>::eof()) {
            if (line.empty())
                return LineRead::End;
            break;
        }
        if (c == '\n')
            break;
        // One more than the limit leaves room for the CR of a CR LF line end.
        if (line.size() > limit)
            return LineRead::TooLong;
        line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line.size() > limit ? LineRead::TooLong : LineRead::Line;
}

std::string hexOf(const std::vector<std::uint8_t>& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    s.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        s.push_back(digits[b >> 4]);
        s.push_back(digits[b & 15]);
    }
    return s;
}

std::string hexByte(std::uint8_t b) {
    return hexOf({b});
}

int nibble(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::vector<std::uint8_t> bytesOfHex(const std::filesystem::path& file, const std::string& key,
                                     const std::string& text, std::size_t size) {
    if (text.size() != 2 * size)
        throw BoardError(file.string() + " has " + std::to_string(text.size() / 2) +
                         " bytes for \"" + key + "\" where " + std::to_string(size) + " belong.");
    std::vector<std::uint8_t> out(size);
    for (std::size_t i = 0; i < size; ++i) {
        const int h = nibble(text[2 * i]);
        const int l = nibble(text[2 * i + 1]);
        if (h < 0 || l < 0)
            throw BoardError(file.string() + " has a character that is not hexadecimal in \"" +
                             key + "\": " + excerpt(text.substr(2 * i, 2)) + ".");
        out[i] = static_cast<std::uint8_t>(h * 16 + l);
    }
    return out;
}

// Removes the half-written new state unless it became the saved one.
struct TempFile {
    std::filesystem::path path;
    bool kept = false;
    ~TempFile() {
        std::error_code ec;
        if (!kept)
            std::filesystem::remove(path, ec);
    }
};

bool syncToDisk(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

}  // namespace

void Board::save(const std::filesystem::path& folder) const {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec)
        throw BoardError("Cannot create the folder " + folder.string() + ": " + ec.message() + ".");
    const auto path = folder / kStateFile;
    TempFile temp{folder / (std::string(kStateFile) + ".new")};
    {
        std::ofstream out(temp.path, std::ios::binary | std::ios::trunc);
        if (!out)
            throw BoardError("Cannot write " + temp.path.string() + ": " + std::strerror(errno) +
                             ".");
        out << kMagic << '\n';
        out << "chip " << variant_->name << '\n';
        out << "config " << hexByte(eeprom_.configCell()) << '\n';
        out << "eeprom " << hexOf(eeprom_.array()) << '\n';
        if (eprom_)
            out << "eprom " << hexOf(eprom_->array()) << '\n';
        const PageEeprom& pe = devices_.parallelEeprom();
        out << "parallel-eeprom " << hexOf(pe.cells()) << '\n';
        out << "parallel-eeprom-sdp " << (pe.sdp() ? 1 : 0) << '\n';
        const Companion& co = devices_.companion();
        out << "companion-eeprom " << hexOf(co.eeprom().cells()) << '\n';
        out << "companion-sdp " << (co.eeprom().sdp() ? 1 : 0) << '\n';
        out << "companion-bpr " << hexByte(co.stored().bpr) << '\n';
        out << "companion-eem " << hexByte(co.stored().eem) << '\n';
        out << "companion-sfr " << hexByte(co.stored().sfr) << '\n';
        out.flush();
        if (!out)
            throw BoardError("Cannot write " + temp.path.string() + ".");
    }
    // On the disk before it replaces the old state, and the rename on the disk before the
    // save counts as done: a power cut of the PC then leaves the one or the other, whole.
    if (!syncToDisk(temp.path))
        throw BoardError("Cannot write " + temp.path.string() + ": " + std::strerror(errno) + ".");
    std::filesystem::rename(temp.path, path, ec);
    if (ec)
        throw BoardError("Cannot replace " + path.string() + ": " + ec.message() + ".");
    temp.kept = true;
    syncToDisk(folder);
}

bool Board::load(const std::filesystem::path& folder) {
    const auto path = folder / kStateFile;
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status))
        return false;
    if (!std::filesystem::is_regular_file(status))
        throw BoardError(path.string() + " is not a file.");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw BoardError("Cannot read " + path.string() + ": " + std::strerror(errno) + ".");
    // Reading stops at the first line that no saved board has: a damaged file of any size
    // is refused at once.
    const std::size_t limit = longestLine();
    std::string line;
    int number = 1;
    if (readLine(in, line, limit) != LineRead::Line || line != kMagic)
        throw BoardError(path.string() + " is not a saved virtual board.");
    std::map<std::string, std::string, std::less<>> values;
    for (LineRead r; (r = readLine(in, line, limit)) != LineRead::End;) {
        ++number;
        if (r == LineRead::TooLong)
            throw BoardError(path.string() + " has a line longer than any of a saved board (line " +
                             std::to_string(number) + ", " + excerpt(line) + ").");
        if (line.empty())
            continue;
        const auto space = line.find(' ');
        if (space == std::string::npos)
            throw BoardError(path.string() + " has a line without a value (line " +
                             std::to_string(number) + ", " + excerpt(line) + ").");
        const std::string_view key = std::string_view(line).substr(0, space);
        if (std::find(std::begin(kKeys), std::end(kKeys), key) != std::end(kKeys))
            values[std::string(key)] = line.substr(space + 1);
    }
    auto need = [&](const std::string& key) -> const std::string& {
        const auto it = values.find(key);
        if (it == values.end())
            throw BoardError(path.string() + " lacks \"" + key + "\".");
        return it->second;
    };
    auto flag = [&](const std::string& key) {
        const std::string& v = need(key);
        if (v != "0" && v != "1")
            throw BoardError(path.string() + " has " + excerpt(v) + " for \"" + key + "\".");
        return v == "1";
    };
    auto hex = [&](const std::string& key, std::size_t size) {
        return bytesOfHex(path, key, need(key), size);
    };
    auto byte = [&](const std::string& key) { return hex(key, 1)[0]; };

    // Everything is checked before anything changes.
    const Variant* v = variantNamed(need("chip"));
    if (!v)
        throw BoardError(path.string() + " names an unknown part " + excerpt(need("chip")) + ".");
    const std::uint8_t configCell = byte("config");
    const auto eeprom = hex("eeprom", v->eepromSize);
    std::vector<std::uint8_t> eprom;
    if (v->romIsEprom)
        eprom = hex("eprom", v->romSize());
    const auto parallel = hex("parallel-eeprom", PageEeprom::kSize);
    const bool parallelSdp = flag("parallel-eeprom-sdp");
    const auto companion = hex("companion-eeprom", PageEeprom::kSize);
    const bool companionSdp = flag("companion-sdp");
    CompanionRegisters regs;
    regs.bpr = byte("companion-bpr");
    regs.eem = byte("companion-eem");
    regs.sfr = byte("companion-sfr");

    setChip(v->chip);
    eeprom_.array() = eeprom;
    eeprom_.setConfigCell(configCell);
    configReg_ = static_cast<std::uint8_t>(configCell & variant_->configMask);
    if (eprom_)
        eprom_->array() = eprom;
    devices_.parallelEeprom().cells() = parallel;
    devices_.parallelEeprom().setSdp(parallelSdp);
    devices_.companion().eeprom().cells() = companion;
    devices_.companion().eeprom().setSdp(companionSdp);
    devices_.companion().setStored(regs);
    devices_.reset();
    remap();
    ++revision_;
    return true;
}

}  // namespace kestro::sim
