// Every operation end to end: the program's own operations (the code the buttons run) against
// the virtual board running the real talkers, in virtual time.
#include <gtest/gtest.h>

#include <cstdio>
#include <numeric>
#include <sstream>

#include "scratch.h"
#include "station.h"

namespace kestro::sim {
namespace {

using kestro::testing::ScratchDir;
using kestro::testing::slurp;
using station::Station;
namespace fs = std::filesystem;

std::string hex4(unsigned v) {
    char s[8];
    std::snprintf(s, sizeof s, "%04X", v & 0xFFFF);
    return s;
}

// S-record text for data at address: an S0 header, S1 records of up to recordLength bytes,
// S9, every line ended by eol. checksumError spoils the checksum of that record (0-based).
std::string srecords(unsigned address, const Bytes& data, std::size_t recordLength = 16,
                     std::string_view eol = "\r\n", int checksumError = -1,
                     std::string_view header = "test") {
    auto record = [&](char type, unsigned a, const Bytes& bytes, bool spoil) {
        Bytes body{static_cast<Byte>(bytes.size() + 3), static_cast<Byte>(a >> 8),
                   static_cast<Byte>(a)};
        body.insert(body.end(), bytes.begin(), bytes.end());
        Byte sum = static_cast<Byte>(~std::accumulate(body.begin(), body.end(), 0u));
        if (spoil)
            sum ^= 0x01;
        body.push_back(sum);
        std::string line = std::string("S") + type;
        char digits[3];
        for (Byte b : body) {
            std::snprintf(digits, sizeof digits, "%02X", b);
            line += digits;
        }
        return line + std::string(eol);
    };
    std::string text = record('0', 0, bytesOf(header), false);
    int n = 0;
    for (std::size_t i = 0; i < data.size(); i += recordLength, ++n) {
        const Bytes piece(
            data.begin() + static_cast<std::ptrdiff_t>(i),
            data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), i + recordLength)));
        text += record('1', static_cast<unsigned>(address + i), piece, n == checksumError);
    }
    return text + record('9', 0, {}, false);
}

Bytes pattern(std::size_t n, unsigned seed = 7) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<Byte>((i * 37 + seed * 11) ^ (i >> 3));
    return b;
}

Message box(std::string text, std::string title, Icon icon = Icon::Information) {
    return {std::move(text), std::move(title), icon};
}

const std::vector<Message> kNoBox;

// ---- the internal EEPROM, on every part that has one where CONFIG puts it

class EepromOnBoard : public ::testing::TestWithParam<Chip> {};

TEST_P(EepromOnBoard, ProgramCompareStatusAndErase) {
    Station s(GetParam());
    ScratchDir dir;
    const unsigned base = s.board.eepromBase();
    const Bytes data = pattern(48);
    const fs::path file = dir.write("prog.s19", srecords(base + 0x20, data));
    ops::Inputs in;
    in.eepromBegin = hex4(base);
    in.eepromEnd = hex4(base + s.board.chip().eepromSize - 1);

    EXPECT_EQ(s.run("EepromCheck", in), std::vector{box("No Data", "Eeprom")});
    EXPECT_EQ(s.run("EepromProgram", in, file), std::vector{box("Eeprom is program", "Eeprom")});
    const auto& cells = s.board.eeprom().array();
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const bool inFile = i >= 0x20 && i < 0x20 + data.size();
        ASSERT_EQ(cells[i], inFile ? data[i - 0x20] : 0xFF) << "offset " << i;
    }
    EXPECT_EQ(s.run("EepromCompare", in, file), std::vector{box("File equal Eeprom", "Eeprom")});
    EXPECT_EQ(s.run("EepromCheck", in), std::vector{box("Data", "Eeprom")});

    s.board.eeprom().array()[0x20 + 13] ^= 0x40;
    EXPECT_EQ(
        s.run("EepromCompare", in, file),
        std::vector{box("Error found at\r\n" + hex4(base + 0x20 + 13), "Eeprom", Icon::Critical)});

    EXPECT_EQ(s.run("EepromErase", in), std::vector{box("Eeprom Erase", "Eeprom")});
    for (Byte b : s.board.eeprom().array())
        ASSERT_EQ(b, 0xFF);
    EXPECT_EQ(s.run("EepromCheck", in), std::vector{box("No Data", "Eeprom")});
}

INSTANTIATE_TEST_SUITE_P(Parts, EepromOnBoard, ::testing::Values(Chip::A8, Chip::E9, Chip::E2_811),
                         [](const auto& info) { return std::string(variant(info.param).name); });

// Files as users make them: records of any length the format allows, either line end.
struct FileShape {
    const char* name;
    Chip chip;
    std::size_t recordLength;
    const char* eol;
};

class EepromFileShapes : public ::testing::TestWithParam<FileShape> {};

TEST_P(EepromFileShapes, ProgramAndCompare) {
    const FileShape& shape = GetParam();
    Station s(shape.chip);
    ScratchDir dir;
    const Bytes data = pattern(300, 3);
    const fs::path file =
        dir.write("prog.s19", srecords(0xB600 + 5, data, shape.recordLength, shape.eol));
    EXPECT_EQ(s.run("EepromProgram", {}, file), std::vector{box("Eeprom is program", "Eeprom")});
    const Bytes got(s.board.eeprom().array().begin() + 5,
                    s.board.eeprom().array().begin() + 5 + 300);
    EXPECT_EQ(got, data);
    EXPECT_EQ(s.run("EepromCompare", {}, file), std::vector{box("File equal Eeprom", "Eeprom")});
}

INSTANTIATE_TEST_SUITE_P(Shapes, EepromFileShapes,
                         ::testing::Values(FileShape{"A8_one_byte_records", Chip::A8, 1, "\r\n"},
                                           FileShape{"A8_16_byte_records_LF", Chip::A8, 16, "\n"},
                                           FileShape{"A8_longest_records", Chip::A8, 252, "\r\n"},
                                           FileShape{"E9_32_byte_records", Chip::E9, 32, "\r\n"},
                                           FileShape{"E9_longest_records_LF", Chip::E9, 252, "\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Files assembled from source and written by m68hc11-objcopy, as a user's build makes them.
TEST(EepromOnBoardFromObjcopy, ProgramsComparesAndDumpsAsTheFileSays) {
    for (const char* name : {"eeprom_data.s19", "eeprom_data_lf.s19", "eeprom_data_long.s19"}) {
        SCOPED_TRACE(name);
        Station s(Chip::E9);
        ScratchDir dir;
        const fs::path file = fs::path(KESTRO_TEST_PROGRAMS) / name;
        EXPECT_EQ(s.run("EepromProgram", {}, file),
                  std::vector{box("Eeprom is program", "Eeprom")});
        EXPECT_EQ(s.run("EepromCompare", {}, file),
                  std::vector{box("File equal Eeprom", "Eeprom")});
        const auto& cells = s.board.eeprom().array();
        EXPECT_EQ(cells[0], 0x00);
        EXPECT_EQ(cells[9], 0x7F);
        EXPECT_EQ(std::string(cells.begin() + 20, cells.begin() + 26), "Kestro");
        EXPECT_EQ(cells[43], 0x12);
        EXPECT_EQ(cells[44], 0xFF);
    }
}

// ---- failures the talkers report, leaving the memory as it was

TEST(EepromOnBoard, RefusedRecordsLeaveTheMemoryAsItWas) {
    struct Case {
        const char* what;
        unsigned address;
        int checksumError;
        Message expected;
    };
    const Case cases[] = {
        // ROM on the A8; the talker tries, reads back and finds the byte unchanged.
        {"ROM", 0xE000, -1, box("Error in Eeprom", "Eeprom")},
        // The talker's own RAM and the registers are never written.
        {"RAM", 0x0040, -1, box("Error in Eeprom", "Eeprom")},
        {"registers", 0x1000, -1, box("Error in Eeprom", "Eeprom")},
        // The program's own check stops a damaged file before the talker sees it.
        {"checksum", 0xB600, 1, box("The file ", "Kestro 6.0", Icon::Critical)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Station s(Chip::A8);
        ScratchDir dir;
        const fs::path file =
            dir.write("prog.s19", srecords(c.address, pattern(20), 16, "\r\n", c.checksumError));
        auto registers = [&] {
            Bytes r;
            for (unsigned a = 0x1000; a < 0x1014; ++a)
                r.push_back(s.board.peek(static_cast<std::uint16_t>(a)));
            return r;
        };
        const Bytes registersBefore = registers();
        const auto messages = s.run("EepromProgram", {}, file);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text.substr(0, c.expected.text.size()), c.expected.text);
        EXPECT_EQ(messages[0].title, c.expected.title);
        for (Byte b : s.board.eeprom().array())
            ASSERT_EQ(b, 0xFF);
        EXPECT_EQ(registers(), registersBefore);
    }
}

TEST(EepromOnBoard, EraseAnswersEWhereItCannotErase) {
    struct Case {
        const char* what;
        const char* begin;
        const char* end;
        std::function<void(Station&)> prepare;
    };
    const Case cases[] = {
        {"a range outside the EEPROM", "B800", "B8FF", {}},
        {"a range reaching past it", "B700", "B8FF", {}},
        {"a worn cell in the whole EEPROM", "B600", "B7FF",
         [](Station& s) { s.board.eeprom().wearOut(0x105, 0x10); }},
        {"a worn cell in one page", "B700", "B7FF",
         [](Station& s) { s.board.eeprom().wearOut(0x1FF, 0x01); }},
        {"the EEPROM off in CONFIG", "B600", "B7FF",
         [](Station& s) {
             ops::Inputs off;
             off.config = {0, 1, 1, 1};
             s.run("ConfigProgram", off);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Station s(Chip::A8);
        if (c.prepare)
            c.prepare(s);
        ops::Inputs in;
        in.eepromBegin = c.begin;
        in.eepromEnd = c.end;
        EXPECT_EQ(s.run("EepromErase", in), std::vector{box("Error in Eeprom", "Eeprom")});
    }
}

TEST(EepromOnBoard, EraseOfOnePageKeepsTheOther) {
    Station s(Chip::E9);
    std::fill(s.board.eeprom().array().begin(), s.board.eeprom().array().end(), Byte{0x00});
    ops::Inputs in;
    in.eepromBegin = "B700";
    in.eepromEnd = "B7FF";
    EXPECT_EQ(s.run("EepromErase", in), std::vector{box("Eeprom Erase", "Eeprom")});
    const auto& cells = s.board.eeprom().array();
    EXPECT_EQ(std::count(cells.begin(), cells.begin() + 256, 0x00), 256);
    EXPECT_EQ(std::count(cells.begin() + 256, cells.end(), 0xFF), 256);
}

// ---- the EPROM of the 711E9

TEST(EpromOnBoard, ProgramsOnlyWithProgrammingVoltage) {
    for (bool voltage : {false, true}) {
        SCOPED_TRACE(voltage ? "with +12 V" : "without +12 V");
        Station s(Chip::E9_711);
        s.board.setProgrammingVoltage(voltage);
        ScratchDir dir;
        const Bytes data = pattern(40);
        const fs::path file = dir.write("prog.s19", srecords(0xE100, data));
        EXPECT_EQ(s.run("EpromCheck"), std::vector{box("No Data", "Eprom")});
        const auto messages = s.run("EpromProgram", {}, file);
        const auto eprom = s.board.eprom();
        if (!voltage) {
            EXPECT_EQ(messages, std::vector{box("Error in Eprom", "Eprom")});
            EXPECT_EQ(std::count(eprom.begin(), eprom.end(), 0xFF), std::ssize(eprom));
            continue;
        }
        EXPECT_EQ(messages, std::vector{box("Eprom is program", "Eprom")});
        EXPECT_EQ(Bytes(eprom.begin() + 0x1100, eprom.begin() + 0x1100 + 40), data);
        EXPECT_EQ(std::count(eprom.begin(), eprom.end(), 0xFF),
                  std::ssize(eprom) - 40 + std::count(data.begin(), data.end(), 0xFF));
        EXPECT_EQ(s.run("EpromCompare", {}, file), std::vector{box("File equal Eprom", "Eprom")});
        EXPECT_EQ(s.run("EpromCheck"), std::vector{box("Data", "Eprom")});
        s.board.epromDevice()->array()[0x1100 + 39] = 0x00;
        EXPECT_EQ(s.run("EpromCompare", {}, file),
                  std::vector{box("Error found at\r\nE127", "Eprom", Icon::Critical)});
    }
}

// ---- the EEPROMs on the expanded bus

TEST(ExternalEepromOnBoard, ProgramAndCompare) {
    Station s(Chip::E9);
    ScratchDir dir;
    const Bytes data = pattern(70);
    const fs::path file = dir.write("ext.s19", srecords(0x8010, data, 32));
    EXPECT_EQ(s.run("ExtEEprog", {}, file), std::vector{box("Eprom is program", "Eprom")});
    auto& cells = s.board.devices().parallelEeprom().cells();
    EXPECT_EQ(Bytes(cells.begin() + 0x10, cells.begin() + 0x10 + 70), data);
    EXPECT_EQ(cells[0x0F], 0xFF);
    EXPECT_EQ(cells[0x10 + 70], 0xFF);
    EXPECT_EQ(s.run("ExtEEcomp", {}, file), std::vector{box("File equal Eeprom", "Eeprom")});
    cells[0x10 + 64] ^= 0x01;
    EXPECT_EQ(s.run("ExtEEcomp", {}, file),
              std::vector{box("Error found at\r\n8050", "Eeprom", Icon::Critical)});

    // With software data protection on, a plain write changes nothing.
    s.board.devices().parallelEeprom().setSdp(true);
    const Bytes before = cells;
    const fs::path other = dir.write("other.s19", srecords(0x8200, pattern(8)));
    EXPECT_EQ(s.run("ExtEEprog", {}, other), std::vector{box("Error in Eprom", "Eprom")});
    EXPECT_EQ(cells, before);
}

// The companion chip's EEPROM sits at $E000, under the E9's ROM until CONFIG turns it off.
TEST(CompanionOnBoard, ProgramCompareProtectAndRegisters) {
    Station s(Chip::E9);
    ScratchDir dir;
    ops::Inputs noRom;
    noRom.config = {1, 0, 1, 1};  // EEON, NOCOP, NOSEC; ROMON off
    EXPECT_EQ(s.run("ConfigProgram", noRom), kNoBox);
    s.board.resetBootstrap();
    ASSERT_EQ(s.board.config(), 0x0D);

    auto& chip = s.board.devices().companion();
    const Bytes data = pattern(50);
    const fs::path file = dir.write("xi.s19", srecords(0xE400, data));
    EXPECT_EQ(s.run("Xiprog", {}, file), std::vector{box("Eeprom is program", "Eeprom")});
    EXPECT_EQ(Bytes(chip.eeprom().cells().begin() + 0x400, chip.eeprom().cells().begin() + 0x432),
              data);
    EXPECT_EQ(s.run("Xicomp", {}, file), std::vector{box("File equal Eeprom", "Eeprom")});

    // Block 1 ($0400-$07FF of the chip) protected: the same file is refused, nothing changes.
    ops::Inputs protect;
    protect.bpr[1] = true;
    EXPECT_EQ(s.run("XIBPR", protect), kNoBox);
    EXPECT_EQ(chip.stored().bpr, 0x02);
    const Bytes before = chip.eeprom().cells();
    const fs::path other = dir.write("other.s19", srecords(0xE500, pattern(8, 9)));
    EXPECT_EQ(s.run("Xiprog", {}, other), std::vector{box("Error in Eeprom", "Eeprom")});
    EXPECT_EQ(chip.eeprom().cells(), before);

    // SFR and EEM as the window's controls say, in force after the board's next reset.
    ops::Inputs regs;
    regs.sfrPosition = 8;  // $2000
    EXPECT_EQ(s.run("XISFR", regs), kNoBox);
    EXPECT_EQ(chip.stored().sfr, 0x82);
    regs.eemMapText = "$C000-$DFFF";
    regs.eemLam = true;
    EXPECT_EQ(s.run("XIeem", regs), kNoBox);
    EXPECT_EQ(chip.stored().eem, 0x26);
    // The talkers find the chip where it has moved to.
    EXPECT_EQ(s.run("XIBPR", {}), kNoBox);
    EXPECT_EQ(chip.stored().bpr, 0x00);
    EXPECT_EQ(chip.registerBase(), std::optional<std::uint16_t>(0x2040));
    EXPECT_EQ(chip.eepromBase(), 0xC000);

    // Software data protection: on, then off through the window; then back to defaults.
    chip.eeprom().setSdp(true);
    EXPECT_EQ(s.run("XIreset", {}), kNoBox);
    s.board.resetBootstrap();
    EXPECT_EQ(chip.stored(), CompanionRegisters{});
    EXPECT_FALSE(chip.eeprom().sdp());
    chip.eeprom().setSdp(true);
    EXPECT_EQ(s.run("XISDPoff", {}), kNoBox);
    EXPECT_FALSE(chip.eeprom().sdp());
}

// ---- CONFIG, RAM download, dump

TEST(ConfigOnBoard, TakesEffectAtTheNextReset) {
    struct Case {
        Chip chip;
        std::array<int, 4> boxes;
        const char* map;
        Byte expected;  // as the part reads it after the reset
    };
    const Case cases[] = {
        {Chip::A8, {1, 1, 1, 1}, "$F800-$FFFF", 0x0F},
        {Chip::E9, {1, 0, 0, 1}, "$F800-$FFFF", 0x09},
        {Chip::E2_811, {1, 0, 1, 1}, "$B800-$BFFF", 0xBD},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(variant(c.chip).name);
        Station s(c.chip);
        ops::Inputs in;
        in.config = c.boxes;
        in.config5Text = c.map;
        const Byte before = s.board.config();
        EXPECT_EQ(s.run("ConfigProgram", in), kNoBox);
        EXPECT_EQ(s.board.config(), before) << "CONFIG changed before a reset";
        s.board.resetBootstrap();
        EXPECT_EQ(s.board.config(), c.expected);
    }
}

TEST(EepromOnBoard, MovedEepromOfThe811E2) {
    Station s(Chip::E2_811);
    ops::Inputs in;
    in.config = {1, 0, 1, 1};
    in.config5Text = "$B800-$BFFF";
    EXPECT_EQ(s.run("ConfigProgram", in), kNoBox);
    s.board.resetBootstrap();
    ASSERT_EQ(s.board.eepromBase(), 0xB800);
    ScratchDir dir;
    const fs::path file = dir.write("prog.s19", srecords(0xBF00, pattern(32)));
    EXPECT_EQ(s.run("EepromProgram", in, file), std::vector{box("Eeprom is program", "Eeprom")});
    EXPECT_EQ(
        Bytes(s.board.eeprom().array().begin() + 0x700, s.board.eeprom().array().begin() + 0x720),
        pattern(32));
    in.eepromBegin = "B800";
    in.eepromEnd = "BFFF";
    EXPECT_EQ(s.run("EepromErase", in), std::vector{box("Eeprom Erase", "Eeprom")});
    EXPECT_EQ(s.board.eeprom().array()[0x700], 0xFF);
}

TEST(RamOnBoard, LoadsAndRunsAProgramAssembledFromSource) {
    for (Chip chip : {Chip::A8, Chip::E9}) {
        SCOPED_TRACE(variant(chip).name);
        Station s(chip);
        ops::Inputs in;
        in.startAddress = "2000";
        EXPECT_EQ(s.run("ExtRam", in, fs::path(KESTRO_TEST_PROGRAMS) / "marker.s19"), kNoBox);
        s.clock.advance(std::chrono::milliseconds(50));
        s.board.catchUp();
        const auto& ram = s.board.devices().ram();
        EXPECT_EQ(ram[0x3000], 0x5A);
        EXPECT_EQ(ram[0x3001], 0xA5);
        EXPECT_EQ(ram[0x3002], 0xC3);
    }
}

TEST(RamOnBoard, RunsAFileWithoutS9) {
    Station s(Chip::A8);
    ScratchDir dir;
    const Bytes program{0x86, 0x5A, 0xB7, 0x30, 0x00, 0x20, 0xFE};  // ldaa #$5A; staa $3000; bra .
    const std::string text = srecords(0x2100, program, 16, "\n");
    ops::Inputs in;
    in.startAddress = "2100";
    EXPECT_EQ(s.run("ExtRam", in, dir.write("ram.s19", text.substr(0, text.find("S9")))), kNoBox);
    s.clock.advance(std::chrono::milliseconds(50));
    s.board.catchUp();
    EXPECT_EQ(s.board.devices().ram()[0x3000], 0x5A);
}

TEST(RamOnBoard, RunsNothingFromAFileItRefused) {
    // A record in the internal RAM would overwrite the talker: nothing of the file runs.
    Station s(Chip::E9);
    ScratchDir dir;
    Bytes program{0x86, 0x5A, 0xB7, 0x30, 0x00, 0x20, 0xFE};  // ldaa #$5A; staa $3000; bra .
    const std::string first = srecords(0x2000, program);
    const std::string second = srecords(0x0100, Bytes(4, 0x01));
    const fs::path file =
        dir.write("ram.s19", first.substr(0, first.find("S9")) + second.substr(second.find("S1")));
    ops::Inputs in;
    in.startAddress = "2000";
    EXPECT_EQ(s.run("ExtRam", in, file), kNoBox);
    s.clock.advance(std::chrono::milliseconds(50));
    s.board.catchUp();
    EXPECT_EQ(s.board.devices().ram()[0x2000], 0x86) << "the first record was not loaded";
    EXPECT_EQ(s.board.devices().ram()[0x3000], 0x00) << "something ran";
}

bool haveSrecInfo() {
    return std::system("srec_info --version >/dev/null 2>&1") == 0;
}

TEST(DumpOnBoard, InternalEepromAndExternalRamAsTheBoardHoldsThem) {
    struct Case {
        const char* what;
        Chip chip;
        const char* begin;
        const char* end;
    };
    const Case cases[] = {
        {"EEPROM", Chip::A8, "B600", "B6FF"},
        {"external RAM", Chip::E9, "2000", "21FF"},
        {"the top of the map", Chip::E2_811, "FF00", "FFFF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Station s(c.chip);
        ScratchDir dir;
        const unsigned begin = std::stoul(c.begin, nullptr, 16);
        const unsigned end = std::stoul(c.end, nullptr, 16);
        const Bytes data = pattern(end - begin + 1, 5);
        auto into = begin < 0x8000
                        ? s.board.devices().ram().begin() + begin
                        : s.board.eeprom().array().begin() + (begin - s.board.eepromBase());
        std::copy(data.begin(), data.end(), into);
        ops::Inputs in;
        in.dumpBegin = c.begin;
        in.dumpEnd = c.end;
        in.dumpFolder = dir.path;
        EXPECT_EQ(s.run("DumpStart", in), kNoBox);
        // A header, exactly the records the range holds, one a line, and the end.
        EXPECT_EQ(slurp(dir.path / "upload.s19"),
                  srecords(begin, data, 16, "\r\n", -1, "HC11 memory dump"));
        if (haveSrecInfo()) {
            // Without a word on its standard error: not even a warning.
            const std::string cmd =
                "srec_info " + (dir.path / "upload.s19").string() + " 2>&1 >/dev/null | grep -q .";
            EXPECT_NE(std::system(cmd.c_str()), 0) << "srec_info complained about the dump";
        }
    }
}

// ---- what the talkers answer, seen on the line: files the program's own check would stop,
// sent as another sender (or a noisy line) would send them

struct Reply {
    const char* what;
    Chip chip;
    const char* talker;
    std::string file;
    std::function<void(Board&)> prepare;
    std::string reply;
};

std::string talkTo(Station& s, const std::string& talker, const fs::path& file) {
    s.board.resetBootstrap();
    s.clock.advance(std::chrono::milliseconds(100));
    std::string reply;
    Frame::run(s.target, "EepromProgram", "Program", [&](Frame& f) {
        if (!f.begin())
            return;
        f.downloadTalker(talker);
        f.waitDrained();
        f.wait(Frame::kSettle);
        f.discardBuffers();
        f.streamFile(file);
        f.waitDrained();
        f.wait(Frame::kReplyWait);
        reply = textOf(f.port().input());
        f.finish();
    });
    return reply;
}

void PrintTo(const Reply& r, std::ostream* os) {
    *os << r.what;
}

class TalkerReplies : public ::testing::TestWithParam<Reply> {};

TEST_P(TalkerReplies, OnTheLine) {
    const Reply& r = GetParam();
    Station s(r.chip);
    if (r.prepare)
        r.prepare(s.board);
    ScratchDir dir;
    EXPECT_EQ(talkTo(s, r.talker, dir.write("file.s19", r.file)), r.reply);
}

void zeroEeprom(Board& b) {
    std::fill(b.eeprom().array().begin(), b.eeprom().array().end(), Byte{0x00});
}

INSTANTIATE_TEST_SUITE_P(
    Talkers, TalkerReplies,
    ::testing::Values(
        Reply{"eeprog_checksum",
              Chip::A8,
              "eeprog.S19",
              srecords(0xB600, pattern(40), 16, "\r\n", 1),
              {},
              "C"},
        Reply{"eeprog_ram", Chip::E9, "eeprog.S19", srecords(0x0180, pattern(4)), {}, "A"},
        Reply{"eeprog_needs_erase", Chip::E9, "eeprog.S19", srecords(0xB600, pattern(4)),
              zeroEeprom, "V"},
        Reply{"eeprog_after_S9",
              Chip::E9,
              "eeprog.S19",
              srecords(0xB600, pattern(4)) + "S1050180FFFF7A\r\n",
              {},
              ""},
        Reply{"eecomp_checksum",
              Chip::A8,
              "eecomp.S19",
              srecords(0xB600, Bytes(40, 0xFF), 16, "\r\n", 2),
              {},
              "B620"},
        Reply{"eecomp_first_difference",
              Chip::E9,
              "eecomp.S19",
              srecords(0xB600, pattern(40)),
              {},
              "B600"},
        Reply{
            "exteeprg_below_2000", Chip::E9, "exteeprg.S19", srecords(0x1040, pattern(4)), {}, "A"},
        Reply{
            "eprog_no_voltage", Chip::E9_711, "eprog.S19", srecords(0xD000, pattern(4)), {}, "V"}),
    [](const auto& info) { return std::string(info.param.what); });

// The status talkers read long ranges within the PC's reply wait.
TEST(StatusOnBoard, LongRangesAnswerInTime) {
    struct Case {
        const char* button;
        const char* begin;
        const char* end;
        Message expected;
    };
    const Case cases[] = {
        {"EepromCheck", "1100", "B7FF", box("Data", "Eeprom")},
        {"EepromCheck", "1100", "B6FF", box("No Data", "Eeprom")},
        {"EpromCheck", "D000", "FFFF", box("Data", "Eprom")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.button) + " " + c.begin);
        Station s(Chip::E9_711);
        s.board.eeprom().array().back() = 0x7E;
        s.board.epromDevice()->array().back() = 0x7E;
        ops::Inputs in;
        in.eepromBegin = in.epromBegin = c.begin;
        in.eepromEnd = in.epromEnd = c.end;
        EXPECT_EQ(s.run(c.button, in), std::vector{c.expected});
    }
}

// Every talker file as the loader sends it: S1 records only, contiguous from $0000 in address
// order, small enough to leave the talkers' variables and stack free in 256 bytes of RAM.
TEST(TalkerFiles, ContiguousFromZeroAndSmallEnough) {
    for (const char* name : {"testcom", "eestat", "estat", "eeprog", "eprog", "exteeprg", "eecomp",
                             "ecomp", "exteecmp", "eeerase", "config", "ram", "dump", "xisdpoff",
                             "xireset", "xisfr", "xieem", "xibpr"}) {
        SCOPED_TRACE(name);
        std::istringstream lines(slurp(fs::path(KESTRO_TALKER_DIR) / (std::string(name) + ".S19")));
        unsigned next = 0;
        std::string line;
        while (std::getline(lines, line)) {
            ASSERT_TRUE(line.starts_with("S0") || line.starts_with("S1") || line.starts_with("S9"))
                << line;
            if (!line.starts_with("S1"))
                continue;
            const unsigned count = std::stoul(line.substr(2, 2), nullptr, 16);
            EXPECT_EQ(std::stoul(line.substr(4, 4), nullptr, 16), next) << line;
            next += count - 3;
        }
        EXPECT_GT(next, 0u);
        EXPECT_LE(next, 0xE8u) << "reaches the talkers' variables at $00E8";
    }
}

}  // namespace
}  // namespace kestro::sim
