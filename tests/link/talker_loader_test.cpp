#include <gtest/gtest.h>

#include "talker_loader.h"

namespace kestro {
namespace {

struct ImageCase {
    const char* name;
    std::string text;
    Bytes image;
};

class TalkerImage : public ::testing::TestWithParam<ImageCase> {};

TEST_P(TalkerImage, TakesTheDataFieldsOfS1RecordsInFileOrder) {
    EXPECT_EQ(talkerImage(GetParam().text), GetParam().image);
}

INSTANTIATE_TEST_SUITE_P(
    Loader, TalkerImage,
    ::testing::Values(
        ImageCase{"NoS1Record", "S00600004844521B\r\nS9030000FC\r\n", {}},
        ImageCase{"CrLfLines", "S1050000860141\r\nS1040003203C\r\n", {0x86, 0x01, 0x20}},
        ImageCase{"LfLines", "S1050000860141\nS1040003203C\n", {0x86, 0x01, 0x20}},
        ImageCase{"CrOnlyLines", "S1050000860141\rS1040003203C", {0x86, 0x01, 0x20}},
        // Only an upper-case S1 counts: header, S2/S3, end records and lower case are skipped.
        ImageCase{"OtherRecordsSkipped",
                  "S0030000FC\ns1050000AAAA00\nS206000000BBBB00\nS30700000000CCCC00\n"
                  "S1040000DD00\nS5030001FB\nS9030000FC\n",
                  {0xDD}},
        // Counts, addresses and checksums are never looked at: out-of-order records keep file
        // order and a wrong checksum still loads.
        ImageCase{"AddressAndChecksumIgnored",
                  "S1FF0010112200\nS1000000334400\n",
                  {0x11, 0x22, 0x33, 0x44}},
        ImageCase{"ShortLinesSkipped", "S1\nS1050000\nS10300\nS1040000AB00\n", {0xAB}},
        // An odd-length data field ends with a byte whose low nibble is the one before.
        ImageCase{"OddLengthKeepsLowNibble",
                  "S1050000123400\nS10400005600\nS10400007\n",
                  {0x12, 0x34, 0x56}},
        ImageCase{"OddLengthField", "S1050000ABC00\n", {0xAB, 0xCB}},
        // A character that is no upper-case hex digit leaves its nibble as it was.
        ImageCase{"NonHexKeepsNibble", "S10600001Fx2ab00\n", {0x1F, 0x12, 0x12}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TalkerWire, FillsToTwoHundredFiftySevenBytesAfterTheSync) {
    struct Case {
        std::size_t imageSize;
        std::size_t fill;
    };
    for (const Case c : {Case{0, 257}, Case{1, 256}, Case{256, 1}, Case{257, 0}, Case{300, 0}}) {
        const Bytes image(c.imageSize, 0xA5);
        const Bytes wire = talkerWireBytes(image);
        ASSERT_EQ(wire.size(), 1 + c.imageSize + c.fill) << c.imageSize;
        EXPECT_EQ(wire.front(), 0xFF);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), wire.begin() + 1));
        EXPECT_TRUE(std::all_of(wire.begin() + 1 + static_cast<long>(c.imageSize), wire.end(),
                                [](Byte b) { return b == 0; }));
    }
}

}  // namespace
}  // namespace kestro
