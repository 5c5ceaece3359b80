#include <gtest/gtest.h>

#include "ops_bench.h"
#include "scratch.h"
#include "srecords.h"

namespace kestro {
namespace {

using testing::OpsBench;
using testing::slurp;

const std::string kFile = "S1132000000102030405060708090A0B0C0D0E0F54\nS9030000FC\n";

// A RAM talker that moves to 9600 baud half a second after it starts, as the PC does.
void ramTalker(OpsBench& b) {
    b.target.talker = [&b, started = false](Byte x) mutable {
        if (!started) {
            started = true;
            b.target.after(400ms, [&b] { b.target.setBaud(9600); });
        }
        b.toTalker.push_back(x);
    };
}

TEST(RamDownload, FileAtNineThousandSixHundredThenZAndTheAddressAsTyped) {
    for (const char* typed : {"2000", "ffff", "2000 ", "FFFF"}) {
        OpsBench b;
        b.connectAndReset();
        ramTalker(b);
        b.ui.chooserAnswer = b.writeFile("prog.s19", kFile).string();
        ops::Inputs in;
        in.startAddress = typed;
        b.run("ExtRam", in);
        b.clock.advance(1s);
        Bytes expected = bytesOf(kFile);
        expected.push_back(0x00);
        expected.push_back('Z');
        for (char c : std::string(typed))
            expected.push_back(static_cast<Byte>(c));
        EXPECT_EQ(b.sentToTalker(), expected) << typed;
        const auto writes = b.writesAfterDownload();
        ASSERT_EQ(writes.size(), 3u);
        EXPECT_EQ(writes[1], Bytes{0x5A});
        EXPECT_EQ(writes[2], bytesOf(typed));
        EXPECT_EQ(b.wire.settingsLog.back(), "9600,n,8,1");
        EXPECT_EQ(b.port.settings().baud, 9600);
        EXPECT_TRUE(b.ui.messages.empty());
        EXPECT_EQ(b.ui.captions["ExtRam"], "Download");
        EXPECT_FALSE(b.link.ready());
    }
}

TEST(RamDownload, RefusesAnAddressTheHc11CannotRunFrom) {
    for (const char* typed : {"10000", "10001", "0", "", "XYZ"}) {
        OpsBench b;
        b.connectAndReset();
        b.ui.chooserAnswer = b.writeFile("prog.s19", kFile).string();
        ops::Inputs in;
        in.startAddress = typed;
        b.run("ExtRam", in);
        ASSERT_EQ(b.ui.messages.size(), 1u) << typed;
        EXPECT_EQ(b.ui.messages[0],
                  (Message{"Invalid start adress", kAppTitle, Icon::Exclamation}));
        EXPECT_TRUE(b.wire.writes.empty()) << typed;
        EXPECT_TRUE(b.link.ready());
        EXPECT_EQ(b.ui.captions["ExtRam"], "Download");
        EXPECT_TRUE(b.ui.windowEnabled());
    }
}

TEST(RamDownload, CancelChecksNoAddress) {
    OpsBench b;
    b.connectAndReset();
    ops::Inputs in;
    in.startAddress = "XYZ";
    b.run("ExtRam", in);
    EXPECT_TRUE(b.ui.messages.empty());
    EXPECT_TRUE(b.link.ready());
    EXPECT_EQ(b.ui.captions["ExtRam"], "Download");
}

TEST(RamDownload, TheNextRunStartsAtTwelveHundredAgain) {
    OpsBench b;
    b.connectAndReset();
    ramTalker(b);
    b.ui.chooserAnswer = b.writeFile("prog.s19", kFile).string();
    b.run("ExtRam");
    b.target.setBaud(1200);
    b.target.reset();
    b.clock.advance(100ms);
    ASSERT_TRUE(b.link.ready());
    b.wire.settingsLog.clear();
    b.run("ExtRam");
    EXPECT_EQ(b.wire.settingsLog, (std::vector<std::string>{"1200,n,8,1", "9600,n,8,1"}));
}

// --- the dump

// An S1 record of 16 erased bytes at address.
std::string record(unsigned address) {
    return testing::srecord('1', address, Bytes(16, 0xFF));
}

// A dump talker that sends back-to-back records of the commanded range, without line ends.
// stray: a byte the line adds after the third record, 0 for none.
void dumpTalker(OpsBench& b, std::string tail = {}, char stray = 0) {
    b.target.talker = [&b, tail, stray, command = std::string()](Byte x) mutable {
        b.toTalker.push_back(x);
        command.push_back(static_cast<char>(x));
        if (x != 'W')
            return;
        const unsigned begin = std::stoul(command.substr(command.size() - 10, 4), nullptr, 16);
        const unsigned end = std::stoul(command.substr(command.size() - 5, 4), nullptr, 16);
        std::string out;
        for (unsigned a = begin; a < end; a += 16)
            out += record(a);
        if (stray)
            out.insert(3 * record(0).size(), 1, stray);
        b.target.send(std::string_view(out + tail));
    };
}

TEST(MemoryDump, WritesOneRecordPerLineAndTheRestLast) {
    struct Case {
        const char* begin;
        const char* end;
        std::string tail;
        std::size_t records;
    };
    const Case cases[] = {
        {"B600", "B7FF", "", 32},
        {"0500", "05FF", "S9030000FC", 16},
    };
    for (const Case& c : cases) {
        OpsBench b;
        b.connectAndReset();
        dumpTalker(b, c.tail);
        const auto folder = b.talkerDir / "dumps";
        std::filesystem::create_directories(folder);
        ops::Inputs in;
        in.dumpBegin = c.begin;
        in.dumpEnd = c.end;
        in.dumpFolder = folder;
        bool warningShownDuringRun = false;
        b.clock.schedule(b.clock.now() + 3s,
                         [&] { warningShownDuringRun = b.ui.visible["DumpWarning"]; });
        b.run("DumpStart", in);

        EXPECT_EQ(b.sentToTalker(), bytesOf(std::string("PPU") + c.begin + "V" + c.end + "W"));
        std::string expected;
        for (unsigned a = std::stoul(c.begin, nullptr, 16), n = 0; n < c.records; ++n, a += 16)
            expected += record(a) + "\r\n";
        expected += c.tail + "\r\n";
        EXPECT_EQ(slurp(folder / "upload.s19"), expected) << c.begin;
        EXPECT_TRUE(warningShownDuringRun);
        EXPECT_FALSE(b.ui.visible["DumpWarning"]);
        EXPECT_EQ(b.ui.captions["DumpStart"], "Start Dump");
        EXPECT_TRUE(b.ui.messages.empty());
        EXPECT_FALSE(b.link.ready());
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
    }
}

// A byte added on the line shifts every record after it: the file is written as it came, and
// the user is told where it went wrong.
TEST(MemoryDump, ADumpDamagedOnTheLineIsWrittenAndToldOfWithItsLine) {
    OpsBench b;
    b.connectAndReset();
    dumpTalker(b, "S9030000FC", 'x');
    ops::Inputs in;
    in.dumpFolder = b.talkerDir;
    b.run("DumpStart", in);
    const std::string lines = slurp(b.talkerDir / "upload.s19");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 33);
    EXPECT_EQ(lines.substr(3 * 44, 2), "xS");
    ASSERT_EQ(b.ui.messages.size(), 1u);
    EXPECT_EQ(b.ui.messages[0].text,
              "The dump is damaged at line 4 of upload.s19: not an S-record.");
    EXPECT_EQ(b.ui.messages[0].icon, Icon::Exclamation);
    EXPECT_TRUE(b.ui.windowEnabled());
    EXPECT_FALSE(b.link.ready());
}

// When the last byte came in from the HC11.
struct ArrivalTrace : PortTrace {
    explicit ArrivalTrace(Scheduler& s) : scheduler(s) {}
    void sent(ByteView) override {}
    void received(ByteView) override { last = scheduler.now(); }
    void breakReceived() override {}
    Scheduler& scheduler;
    TimePoint last{};
};

TEST(MemoryDump, EndsAfterThreeQuietTicks) {
    OpsBench b;
    b.connectAndReset();
    dumpTalker(b);
    ArrivalTrace arrivals(b.clock);
    b.port.setTrace(&arrivals);
    const auto folder = b.talkerDir;
    ops::Inputs in;
    in.dumpFolder = folder;
    b.run("DumpStart", in);
    b.port.setTrace(nullptr);
    const auto lines = slurp(folder / "upload.s19");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 33);
    // The ticks run on their own 500 ms beat: the third after the last record comes more than
    // two and at most three ticks later.
    const Duration quiet = b.clock.now() - arrivals.last;
    EXPECT_GT(quiet, LinkState::kTickInterval * 2);
    EXPECT_LE(quiet, LinkState::kTickInterval * 3);
}

// Dumps that end without a new file: the previous upload.s19 stays as it was, one box says why,
// and the window is given back. A run that never sent the talker costs no reset.
TEST(MemoryDump, AFailedDumpKeepsThePreviousFileAndSaysWhy) {
    struct Case {
        const char* what;
        std::function<void(OpsBench&, std::filesystem::path& folder)> prepare;
        Icon icon;
        std::string says;  // "@" stands for the dump folder
        bool readyAfter;
        Duration within = 60s;
    };
    const Case cases[] = {
        // Download, settle, command, the half second, then three ticks of 500 ms.
        {"nothing received", [](OpsBench&, std::filesystem::path&) {}, Icon::Exclamation,
         "sent nothing", false, 6s},
        {"a folder that is not there",
         [](OpsBench&, std::filesystem::path& folder) { folder /= "no-such-folder"; },
         Icon::Critical, "@/upload.s19", true},
        // The folder goes away while the talker sends: upload.s19 cannot take its place.
        {"the folder gone after the download",
         [](OpsBench& b, std::filesystem::path& folder) {
             dumpTalker(b);
             folder /= "dumps";
             std::filesystem::create_directories(folder);
             b.clock.schedule(b.clock.now() + 8s,
                              [folder] { std::filesystem::remove_all(folder); });
         },
         Icon::Critical, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OpsBench b;
        b.connectAndReset();
        const auto previous = b.writeFile("upload.s19", "previous dump\r\n");
        ops::Inputs in;
        in.dumpFolder = b.talkerDir;
        c.prepare(b, in.dumpFolder);
        const TimePoint start = b.clock.now();
        b.run("DumpStart", in);
        EXPECT_EQ(slurp(previous), "previous dump\r\n");
        ASSERT_EQ(b.ui.messages.size(), 1u);
        EXPECT_EQ(b.ui.messages[0].icon, c.icon);
        std::string says = c.says;
        if (says.starts_with('@'))
            says = in.dumpFolder.string() + says.substr(1);
        EXPECT_NE(b.ui.messages[0].text.find(says), std::string::npos) << b.ui.messages[0].text;
        EXPECT_EQ(b.link.ready(), c.readyAfter);
        if (c.readyAfter) {
            EXPECT_TRUE(b.wire.writes.empty());
        }
        EXPECT_LT(b.clock.now() - start, c.within);
        EXPECT_FALSE(b.ui.visible["DumpWarning"]);
        EXPECT_EQ(b.ui.captions["DumpStart"], "Start Dump");
        EXPECT_TRUE(b.ui.windowEnabled());
        for (const auto& e : std::filesystem::directory_iterator(b.talkerDir)) {
            EXPECT_FALSE(e.path().filename().string().starts_with(".upload"));
        }
    }
}

}  // namespace
}  // namespace kestro
