// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <thread>

#include "scratch.h"
#include "talker_loader.h"

namespace kestro {
namespace {

TEST(TalkerImage, TakesTheDataFieldsOfS1RecordsInFileOrder) {
    const std::pair<std::string, Bytes> cases[] = {
        {"S00600004844521B\r\nS9030000FC\r\n", {}},
        {"S1050000860141\r\nS1040003203C\r\n", {0x86, 0x01, 0x20}},
        {"S1050000860141\nS1040003203C\n", {0x86, 0x01, 0x20}},
        {"S1050000860141\rS1040003203C", {0x86, 0x01, 0x20}},
        // Only an upper-case S1 counts: header, S2/S3, end records and lower case are skipped.
        {"S0030000FC\ns1050000AAAA00\nS206000000BBBB00\nS30700000000CCCC00\nS1040000DD00\n"
         "S5030001FB\nS9030000FC\n",
         {0xDD}},
        // Counts, addresses and checksums are never looked at: out-of-order records keep file
        // order and a wrong checksum still loads.
        {"S1FF0010112200\nS1000000334400\n", {0x11, 0x22, 0x33, 0x44}},
        {"S1\nS1050000\nS10300\nS1040000AB00\n", {0xAB}},
        // An odd-length data field ends with a byte whose low nibble is the one before.
        {"S1050000123400\nS10400005600\nS10400007\n", {0x12, 0x34, 0x56}},
        {"S1050000ABC00\n", {0xAB, 0xCB}},
        // A character that is no upper-case hex digit leaves its nibble as it was.
        {"S10600001Fx2ab00\n", {0x1F, 0x12, 0x12}},
    };
    for (const auto& [text, image] : cases)
        EXPECT_EQ(talkerImage(text), image) << text;
}

// Every file is read in one pass and up to a limit: a pipe gives its content once, and a device
// that never ends is refused instead of filling the memory.
TEST(ReadFile, OnceAndBoundedWhateverTheFileIs) {
    testing::ScratchDir dir;
    const auto file = dir.write("fw.s19", std::string(100, 'S'));
    const auto fifo = dir.path / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&fifo] { std::ofstream(fifo) << "S9030000FC\n"; });
    struct Case {
        const char* what;
        std::filesystem::path path;
        std::size_t limit;
        std::optional<std::string> content;
        std::string reason;
    };
    const Case cases[] = {
        {"a file at the limit", file, 100, std::string(100, 'S'), ""},
        {"a byte over it", file, 99, std::nullopt,
         "it holds more than 99 bytes, far more than any file for the HC11's 64 KB"},
        {"a pipe", fifo, kFileLimit, "S9030000FC\n", ""},
        {"a device without end", "/dev/zero", kFileLimit, std::nullopt,
         "it holds more than 8 MB, far more than any file for the HC11's 64 KB"},
        {"a folder", dir.path, kFileLimit, std::nullopt, "it is a folder"},
        {"nothing there", dir.path / "gone", kFileLimit, std::nullopt, "No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string reason;
        EXPECT_EQ(readFile(c.path, &reason, c.limit), c.content);
        EXPECT_EQ(reason, c.reason);
    }
    writer.join();
}

}  // namespace
}  // namespace kestro
