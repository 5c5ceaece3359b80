// Saving and loading the board's non-volatile memories: a small text file of "key value"
// lines, the memories as hexadecimal strings, so that a user can read and compare it.
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

#include "kestro/sim/board/board.h"

namespace kestro::sim {

namespace {

constexpr const char* kMagic = "kestro-virtual-hc11-board 1";

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

std::vector<std::uint8_t> bytesOfHex(const std::string& key, const std::string& text,
                                     std::size_t size) {
    if (text.size() != 2 * size)
        throw BoardError("The saved board state has " + std::to_string(text.size() / 2) +
                         " bytes for \"" + key + "\" where " + std::to_string(size) + " belong.");
    std::vector<std::uint8_t> out(size);
    for (std::size_t i = 0; i < size; ++i) {
        const int h = nibble(text[2 * i]);
        const int l = nibble(text[2 * i + 1]);
        if (h < 0 || l < 0)
            throw BoardError("The saved board state has a character that is not hexadecimal in \"" +
                             key + "\".");
        out[i] = static_cast<std::uint8_t>(h * 16 + l);
    }
    return out;
}

}  // namespace

void Board::save(const std::filesystem::path& folder) const {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec)
        throw BoardError("Cannot create the folder " + folder.string() + ": " + ec.message() + ".");
    const auto path = folder / kStateFile;
    const auto temp = folder / (std::string(kStateFile) + ".new");
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out)
            throw BoardError("Cannot write " + temp.string() + ".");
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
            throw BoardError("Cannot write " + temp.string() + ".");
    }
    // Replaces the old state only once the new one is complete.
    std::filesystem::rename(temp, path, ec);
    if (ec)
        throw BoardError("Cannot replace " + path.string() + ": " + ec.message() + ".");
}

bool Board::load(const std::filesystem::path& folder) {
    const auto path = folder / kStateFile;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw BoardError("Cannot read " + path.string() + ".");
    std::string line;
    if (!std::getline(in, line) || line != kMagic)
        throw BoardError(path.string() + " is not a saved virtual board.");
    std::map<std::string, std::string> values;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        const auto space = line.find(' ');
        if (space == std::string::npos)
            throw BoardError(path.string() + " has a line without a value: \"" + line + "\".");
        values[line.substr(0, space)] = line.substr(space + 1);
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
            throw BoardError(path.string() + " has \"" + v + "\" for \"" + key + "\".");
        return v == "1";
    };
    auto byte = [&](const std::string& key) { return bytesOfHex(key, need(key), 1)[0]; };

    // Everything is checked before anything changes.
    const Variant* v = variantNamed(need("chip"));
    if (!v)
        throw BoardError(path.string() + " names an unknown part \"" + need("chip") + "\".");
    const std::uint8_t configCell = byte("config");
    const auto eeprom = bytesOfHex("eeprom", need("eeprom"), v->eepromSize);
    std::vector<std::uint8_t> eprom;
    if (v->romIsEprom)
        eprom = bytesOfHex("eprom", need("eprom"), v->romSize);
    const auto parallel = bytesOfHex("parallel-eeprom", need("parallel-eeprom"), PageEeprom::kSize);
    const bool parallelSdp = flag("parallel-eeprom-sdp");
    const auto companion =
        bytesOfHex("companion-eeprom", need("companion-eeprom"), PageEeprom::kSize);
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
