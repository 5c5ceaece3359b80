// SPDX-License-Identifier: GPL-3.0-or-later
// What a run leaves behind when it writes a dump: the file the user named (a regular file, a link,
// a FIFO) and the names the user is told; and the verdicts of replies and settings.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <thread>

#include "command_ui.h"
#include "dump_target.h"
#include "fast_link.h"
#include "recording_reporter.h"
#include "scratch.h"
#include "verdict.h"
#include "virtual_clock.h"

namespace kestro::cli {
namespace {

namespace fs = std::filesystem;

struct Dumped {
    std::string error;
    std::string content;  // of the named file afterwards
    bool leftBehind;      // a private folder stayed
};

// Dumps "new" to output, as the operation writes it into the private folder.
Dumped dumpTo(const testing::ScratchDir& scratch, const fs::path& output) {
    std::string error;
    {
        DumpTarget target(output);
        error = target.error();
        if (error.empty()) {
            std::ofstream(target.folder() / "upload.s19") << "new";
            error = target.place();
        }
    }
    bool left = false;
    for (const auto& entry : fs::directory_iterator(scratch.path))
        left = left || entry.path().filename().string().starts_with(".kestro-dump-");
    std::error_code ec;
    return {error, fs::is_regular_file(output, ec) ? testing::slurp(output) : "", left};
}

TEST(DumpTarget, ReplacesARegularFileFollowsALinkAndNeverReplacesWhatIsNoFile) {
    const testing::ScratchDir scratch;
    const fs::path old = scratch.write("old.s19", "old");
    // A private file stays private, and its owner's where the user may give it.
    ASSERT_EQ(::chmod(old.c_str(), 0600), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(old.c_str(), 4242, 4343), 0);
    }
    EXPECT_EQ(dumpTo(scratch, old).content, "new");
    struct stat st {};
    ASSERT_EQ(::stat(old.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    if (root) {
        EXPECT_EQ(std::pair(st.st_uid, st.st_gid), std::pair(uid_t{4242}, gid_t{4343}));
    }
    EXPECT_EQ(dumpTo(scratch, scratch.path / "fresh.s19").content, "new");

    // A link keeps pointing at its file, which gets the dump.
    const fs::path real = scratch.write("real.s19", "old");
    fs::create_symlink("real.s19", scratch.path / "link.s19");
    EXPECT_EQ(dumpTo(scratch, scratch.path / "link.s19").error, "");
    EXPECT_TRUE(fs::is_symlink(scratch.path / "link.s19"));
    EXPECT_EQ(testing::slurp(real), "new");

    // A FIFO is written through, and stays one.
    const fs::path fifo = scratch.path / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    EXPECT_EQ(dumpTo(scratch, fifo).error, "");
    char got[8] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), 3);
    EXPECT_EQ(std::string(got), "new");
    ::close(reader);
    EXPECT_TRUE(fs::is_fifo(fifo));
    // Through a link, as /dev/stdout is one.
    fs::create_symlink(fifo, scratch.path / "to-fifo");
    const int again = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    EXPECT_EQ(dumpTo(scratch, scratch.path / "to-fifo").error, "");
    EXPECT_EQ(::read(again, got, sizeof got), 3);
    ::close(again);
    EXPECT_TRUE(fs::is_symlink(scratch.path / "to-fifo"));
    // Nobody reads it: said, not waited for.
    EXPECT_EQ(dumpTo(scratch, fifo).error,
              "Cannot write " + fifo.string() + ": nothing reads from it.");
    EXPECT_TRUE(fs::is_fifo(fifo));

    // Links that lead round to themselves: said as such, before anything is made.
    fs::create_symlink("loop-b", scratch.path / "loop-a");
    fs::create_symlink("loop-a", scratch.path / "loop-b");
    EXPECT_EQ(
        dumpTo(scratch, scratch.path / "loop-a").error,
        "Cannot write " + (scratch.path / "loop-a").string() + ": " + std::strerror(ELOOP) + ".");

    fs::create_directory(scratch.path / "folder");
    const Dumped folder = dumpTo(scratch, scratch.path / "folder");
    EXPECT_NE(folder.error.find("it is a folder"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(scratch.path / "folder"));
    EXPECT_FALSE(folder.leftBehind);
}

// A reader slower than the pipe's buffer takes the whole dump: the FIFO is written blocking.
TEST(DumpTarget, AFifosSlowReaderGetsTheWholeDump) {
    const testing::ScratchDir scratch;
    const fs::path fifo = scratch.path / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::optional<DumpTarget> target(fifo);
    ASSERT_EQ(target->error(), "");
    const std::string dump(1 << 20, 'S');
    std::ofstream(target->folder() / "upload.s19") << dump;
    std::size_t got = 0;
    std::thread slow([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ::fcntl(reader, F_SETFL, 0);
        char piece[4096];
        for (ssize_t n; (n = ::read(reader, piece, sizeof piece)) > 0;)
            got += static_cast<std::size_t>(n);
    });
    const std::string error = target->place();
    target.reset();  // the reader's end of file
    slow.join();
    ::close(reader);
    EXPECT_EQ(error, "");
    EXPECT_EQ(got, dump.size());
}

TEST(DumpTarget, NamesTheUsersFilesAndPlacesADamagedDumpBesideTheGoodOne) {
    const testing::ScratchDir scratch;
    const fs::path keep = scratch.write("keep.s19", "good");
    DumpTarget target(keep);
    ASSERT_EQ(target.error(), "");
    const std::string folder = target.folder().string();
    const std::pair<std::string, std::string> texts[] = {
        {folder + "/upload.s19 could not be written: No space left on device.",
         keep.string() + " could not be written: No space left on device."},
        {"Choose a folder that you may write to on the Dump page.",
         "Choose a folder that you may write to with -o."},
        {"The dump is damaged at line 3 of upload.s19: a bad checksum.",
         "The dump is damaged at line 3 of " + keep.string() + ": a bad checksum."},
        {"It was written to " + folder + "/upload.damaged.s19.",
         "It was written to " + (scratch.path / "keep.damaged.s19").string() + "."},
        {"The HC11 sent nothing, so upload.s19 was not written.",
         "The HC11 sent nothing, so " + keep.string() + " was not written."},
        {"Eeprom is program", "Eeprom is program"},
    };
    for (const auto& [operation, user] : texts)
        EXPECT_EQ(target.userText(operation), user);

    // Written beside by the operation, or whole in the dump's place and found damaged.
    std::ofstream(target.folder() / "upload.damaged.s19") << "damaged";
    EXPECT_EQ(target.placeBeside(), "");
    EXPECT_EQ(testing::slurp(scratch.path / "keep.damaged.s19"), "damaged");
    std::ofstream(target.folder() / "upload.s19") << "damaged too";
    EXPECT_EQ(target.placeDamaged(), "The damaged dump is in " +
                                         (scratch.path / "keep.damaged.s19").string() + "; " +
                                         keep.string() + " is as it was.");
    EXPECT_EQ(testing::slurp(scratch.path / "keep.damaged.s19"), "damaged too");
    EXPECT_EQ(testing::slurp(keep), "good");

    // A name the file system takes, however long the good one's is, cut at a character.
    const std::string stem = std::string(242, 'k') + "\u00e9\u00e9\u00e9\u00e9k";
    DumpTarget longer(scratch.write(stem + ".s19", "good"));
    std::ofstream(longer.folder() / "upload.s19") << "damaged";
    const std::string told = longer.placeDamaged();
    const fs::path beside = scratch.path / (stem.substr(0, 242) + ".damaged.s19");
    EXPECT_EQ(told.find("The damaged dump is in " + beside.string()), 0u) << told;
    EXPECT_EQ(testing::slurp(beside), "damaged");
}

TEST(Verdicts, ACompareAnswerThatIsNoAddressIsGarbledAndShownEscaped) {
    const struct {
        std::string reply;
        Exit exit;
        std::string shown;
    } cases[] = {
        {"B603", Exit::Found, "Error found at\nB603"},
        {"b6a3", Exit::Found, "Error found at\nb6a3"},
        {"@600", Exit::NoAnswer,
         R"(The HC11's answer to the compare is garbled, not an address: "@600")"},
        {"B60", Exit::NoAnswer,
         R"(The HC11's answer to the compare is garbled, not an address: "B60")"},
        {"B6033", Exit::NoAnswer,
         R"(The HC11's answer to the compare is garbled, not an address: "B6033")"},
        {std::string("\x1b[2J\r\n\"\\\0", 9), Exit::NoAnswer,
         R"(The HC11's answer to the compare is garbled, not an address: "\x1B[2J\r\n\"\\\x00")"},
        {std::string(300, 'A'), Exit::NoAnswer,
         "The HC11's answer to the compare is garbled, not an address: \"" + std::string(64, 'A') +
             "\" (300 bytes in all)"},
    };
    for (const auto& c : cases) {
        const Message m{"Error found at\r\n" + c.reply, "Eeprom", Icon::Critical};
        EXPECT_EQ(exitFor(m), c.exit) << c.shown;
        EXPECT_EQ(terminalText(m), c.shown);
    }
    // A reset under the job: the answer it waited for never came.
    EXPECT_EQ(exitFor({"The HC11 was reset during the job.", "Kestro", Icon::Critical}),
              Exit::NoAnswer);
    // The fast protocol's line failures, and talker files that do not know it.
    for (const auto& [text, exit] : {std::pair{fast::kStoppedAnswering, Exit::NoAnswer},
                                     std::pair{fast::kDamagedTooOften, Exit::NoAnswer},
                                     std::pair{fast::kNotTheProtocol, Exit::NoAnswer},
                                     std::pair{fast::kUnknownRequest, Exit::FileError}})
        EXPECT_EQ(exitFor({text, "Kestro", Icon::Critical}), exit) << text;
}

// Where the window's words name the memory loosely, the command line adds its real name to a
// result, before the talker's reason; a difference's address stays the talker's answer.
TEST(Verdicts, TheExternalMemoriesAreNamed) {
    const struct {
        const char* button;
        Message box;
        const char* shown;
    } cases[] = {
        {"ExtEEprog", {"Eprom is program", "Eprom"}, "Eprom is program (the external EEPROM)"},
        {"ExtEEprog",
         {.text = "Error in Eprom", .title = "Eprom", .reason = "$8200 did not read back"},
         "Error in Eprom (the external EEPROM): $8200 did not read back"},
        {"Xicomp",
         {"File equal Eeprom", "Eeprom"},
         "File equal Eeprom (the companion chip's EEPROM)"},
        {"Xicomp", {"Error found at\r\nE003", "Eeprom"}, "Error found at\nE003"},
        {"EpromProgram", {"Eprom is program", "Eprom"}, "Eprom is program"},
    };
    for (const auto& c : cases) {
        testing::RecordingReporter reporter;
        VirtualClock clock;
        CommandUi ui(reporter, clock, "f.s19", 0);
        ui.setMemory(memoryName(c.button));
        ui.message(c.box);
        EXPECT_EQ(reporter.texts(), std::vector<std::string>{c.shown}) << c.button;
    }
}

TEST(Verdicts, CONFIGThatSecuresThePartSaysWhatItWillDo) {
    Step step;
    step.button = "ConfigProgram";
    step.inputs.config = {1, 1, 1, 1};
    EXPECT_EQ(doneText(step), "CONFIG $FF sent; it takes effect at the next reset");
    step.inputs.config = {1, 0, 0, 0};
    EXPECT_EQ(doneText(step),
              "CONFIG $F1 sent; it takes effect at the next reset, which secures a part made with "
              "the security option: its next reset into bootstrap mode erases its EEPROM and "
              "CONFIG (a part without the option ignores NOSEC)");
}

}  // namespace
}  // namespace kestro::cli
