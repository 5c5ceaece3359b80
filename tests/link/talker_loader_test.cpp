// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace kestro
