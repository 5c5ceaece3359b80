// SPDX-License-Identifier: GPL-3.0-or-later
// The operations through the fast protocol (docs/fast-protocol.md): the same files, verdicts
// and texts as the default path, from binary blocks that are checked on the way.
#include <algorithm>
#include <charconv>
#include <cstdio>

#include "dump_file.h"
#include "fast_start.h"
#include "operations.h"

namespace kestro::ops {

namespace {

constexpr const char* kReader = "fastrd.S19";
constexpr std::uint16_t kConfigRegister = 0x103F;
constexpr std::size_t kRecordData = 16;
constexpr std::string_view kDumpTitle = "HC11 memory dump";

// One S-record line without its line end, as the dump talker sends it.
std::string srecord(char type, std::uint16_t address, ByteView data) {
    std::string text = {'S', type};
    const Byte count = static_cast<Byte>(data.size() + 3);
    unsigned sum = count + (address >> 8) + (address & 0xFF);
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02X%04X", count, address);
    text += hex;
    for (Byte b : data) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        text += hex;
        sum += b;
    }
    std::snprintf(hex, sizeof hex, "%02X", ~sum & 0xFF);
    return text + hex;
}

// A range "B600"-"B7FF": its first address and its length; nullopt when the texts are not one.
std::optional<std::pair<std::uint16_t, std::size_t>> range(const std::string& begin,
                                                           const std::string& end) {
    unsigned b = 0, e = 0;
    if (std::from_chars(begin.data(), begin.data() + begin.size(), b, 16).ec != std::errc() ||
        std::from_chars(end.data(), end.data() + end.size(), e, 16).ec != std::errc() || e < b ||
        e > 0xFFFF)
        return std::nullopt;
    return std::pair{static_cast<std::uint16_t>(b), std::size_t{e - b + 1}};
}

void fastDump(Target& target, const Inputs& in) {
    Frame::run(target, "DumpStart", "Start Dump", [&](Frame& f) {
        if (!f.begin())
            return;
        struct Guard {
            Frame& f;
            ~Guard() {
                f.ui().setVisible("DumpWarning", false);
                f.ui().setReceived(std::nullopt);
            }
        } guard{f};
        f.ui().setVisible("DumpWarning", true);
        DumpFile file(in.dumpFolder);
        fast::FastLink link(f);
        if (!startFastTalker(f, link, kReader)) {
            f.ui().message({"The HC11 sent nothing, so upload.s19 was not written.", kAppTitle,
                            Icon::Exclamation,
                            "Reset your HC11 into bootstrap mode and start the dump again."});
            f.finish();
            return;
        }
        const auto r = range(in.dumpBegin, in.dumpEnd);
        const std::size_t total = r ? r->second : 0;
        const Received whole{.bytes = 0, .total = static_cast<std::int64_t>(total)};
        f.ui().setReceived(whole);
        const Bytes data =
            total == 0 ? Bytes{} : link.read(fast::kRead, r->first, total, [&](std::size_t n) {
                f.ui().setReceived(
                    Received{.bytes = static_cast<std::int64_t>(n), .total = whole.total});
            });
        const Bytes title(kDumpTitle.begin(), kDumpTitle.end());
        std::string text = srecord('0', 0, ByteView(title)) + "\r\n";
        for (std::size_t at = 0; at < data.size(); at += kRecordData) {
            const std::size_t n = std::min(kRecordData, data.size() - at);
            text += srecord('1', static_cast<std::uint16_t>(r->first + at),
                            ByteView(data.data() + at, n)) +
                    "\r\n";
        }
        file.write(text + srecord('9', 0, {}) + "\r\n");
        file.commit(kDumpFile);
        reportDone(f, in);
        f.finish();
    });
}

// The compares: the file's bytes read back in file order, the first that differs named as the
// compare talkers name it. The internal memories are read as the chip alone shows them, the
// external ones through the expanded bus, as the default path's talkers read them.
struct Compare {
    std::string_view button;
    Byte read;
    const char* title;
    const char* success;
};
constexpr Compare kCompares[] = {
    {"EepromCompare", fast::kReadChip, "Eeprom", "File equal Eeprom"},
    {"EpromCompare", fast::kReadChip, "Eprom", "File equal Eprom"},
    {"ExtEEcomp", fast::kRead, "Eeprom", "File equal Eeprom"},
    {"Xicomp", fast::kRead, "Eeprom", "File equal Eeprom"},
};

void fastCompare(const Compare& c, Target& target) {
    Frame::run(target, std::string(c.button), "Compare", [&c](Frame& f) {
        if (!f.begin())
            return;
        const auto file = chooseSRecordFile(f);
        if (!file)
            return;
        fast::FastLink link(f);
        if (!startFastTalker(f, link, kReader))
            fastTalkerNeverAnswered();
        const auto runs = s1Runs(*file);
        std::size_t total = 0, done = 0;
        for (const auto& run : runs)
            total += run.bytes.size();
        f.ui().setProgress(1);
        for (const auto& [address, bytes] : runs) {
            const Bytes chip = link.read(c.read, address, bytes.size(), [&](std::size_t n) {
                f.ui().setProgress(
                    static_cast<int>(std::clamp<std::size_t>((done + n) * 100 / total, 1, 99)));
            });
            done += bytes.size();
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                if (chip[i] == bytes[i])
                    continue;
                char at[8];
                std::snprintf(at, sizeof at, "%04X", static_cast<unsigned>((address + i) & 0xFFFF));
                f.ui().setProgress(std::nullopt);
                f.ui().message({std::string("Error found at\r\n") + at, c.title, Icon::Critical});
                f.finish();
                return;
            }
        }
        f.ui().setProgress(std::nullopt);
        f.ui().message({c.success, c.title, Icon::Information});
        f.finish();
    });
}

// The status checks: data where any byte of the range does not read $FF. The talker scans the
// range itself (about 12 us a byte) and names the first such byte, so the range never crosses
// the line.
constexpr Byte kScan = 'Q';
constexpr Duration kScanPerByte = 12us;

struct Status {
    std::string_view button;
    std::string Inputs::*begin;
    std::string Inputs::*end;
    const char* title;
};
constexpr Status kStatuses[] = {
    {"EepromCheck", &Inputs::eepromBegin, &Inputs::eepromEnd, "Eeprom"},
    {"EpromCheck", &Inputs::epromBegin, &Inputs::epromEnd, "Eprom"},
};

void fastStatus(const Status& s, Target& target, const Inputs& in) {
    Frame::run(target, std::string(s.button), "Check Stat", [&](Frame& f) {
        if (!f.begin())
            return;
        fast::FastLink link(f);
        if (!startFastTalker(f, link, "faststat.S19"))
            fastTalkerNeverAnswered();
        const auto r = range(in.*s.begin, in.*s.end);
        bool data = false;
        if (r) {
            const auto last = static_cast<std::uint16_t>(r->first + r->second - 1);
            const Bytes end{static_cast<Byte>(last >> 8), static_cast<Byte>(last)};
            const fast::Answer a = link.exchange(kScan, r->first, 0, ByteView(end), 0,
                                                 kScanPerByte * static_cast<int>(r->second));
            // V names the first byte that is not $FF, inside the range; K the range's last.
            const bool named = static_cast<std::uint16_t>(a.address - r->first) < r->second;
            if (!(a.status == fast::kNoMemory && named) &&
                !(a.status == fast::kDone && a.address == last))
                throw LinkError(fast::kNotTheProtocol, LinkError::Ending::EndAsFrame);
            data = a.status == fast::kNoMemory;
        }
        f.ui().message({data ? "Data" : "No Data", s.title, Icon::Information});
        f.finish();
    });
}

}  // namespace

std::optional<std::uint8_t> readConfigRegister(Target& target) {
    std::optional<std::uint8_t> config;
    Frame::run(target, "ConfigProgram", "Program", [&config](Frame& f) {
        if (!f.begin())
            return;
        fast::FastLink link(f);
        if (!startFastTalker(f, link, kReader))
            fastTalkerNeverAnswered();
        config = link.read(fast::kReadChip, kConfigRegister, 1).at(0);
        f.finish();
    });
    return config;
}

bool configReadsAsSent(std::uint8_t read, std::uint8_t sent) {
    if ((read & 0xF0) == 0 && (sent & 0xF0) == 0xF0)
        return (read & 0x0F) == (sent & 0x0F);
    return read == sent;
}

std::vector<ButtonOperation> fastReadOperations() {
    std::vector<ButtonOperation> ops = {{"DumpStart", fastDump}};
    for (const Compare& c : kCompares)
        ops.push_back({c.button, [&c](Target& t, const Inputs&) { fastCompare(c, t); }});
    for (const Status& s : kStatuses)
        ops.push_back({s.button, [&s](Target& t, const Inputs& in) { fastStatus(s, t, in); }});
    return ops;
}

}  // namespace kestro::ops
