#include "break_decoder.h"

#include <gtest/gtest.h>

namespace kestro {
namespace {

using Item = BreakDecoder::Item;

struct Case {
    const char* name;
    Bytes raw;
    std::vector<Item> expected;
};

const Item kBreak = Item::brk();
Item d(Byte b) {
    return Item::data(b);
}

const std::vector<Case>& cases() {
    static const std::vector<Case> all = {
        {"plain data", {'A', 0x00, 'C', 0x7F, 0xFE}, {d('A'), d(0), d('C'), d(0x7F), d(0xFE)}},
        {"doubled FF is one data byte", {0xFF, 0xFF}, {d(0xFF)}},
        {"two FF in a row", {0xFF, 0xFF, 0xFF, 0xFF}, {d(0xFF), d(0xFF)}},
        {"break mark", {0xFF, 0x00, 0x00}, {kBreak}},
        {"framing error on a non-NUL is data", {0xFF, 0x00, 'x'}, {d('x')}},
        {"error on FF is not doubled", {0xFF, 0x00, 0xFF, 'a'}, {d(0xFF), d('a')}},
        {"break between data",
         {'a', 0xFF, 0xFF, 0xFF, 0x00, 0x00, 'b', 0x00},
         {d('a'), d(0xFF), kBreak, d('b'), d(0)}},
        {"breaks back to back", {0xFF, 0x00, 0x00, 0xFF, 0x00, 0x00}, {kBreak, kBreak}},
        {"stray mark keeps both bytes", {0xFF, 'A', 'B'}, {d(0xFF), d('A'), d('B')}},
    };
    return all;
}

TEST(BreakDecoder, DecodesWholeStreams) {
    for (const Case& c : cases()) {
        BreakDecoder decoder;
        EXPECT_EQ(decoder.feed(c.raw), c.expected) << c.name;
        EXPECT_FALSE(decoder.inMark()) << c.name;
    }
}

// A read may end anywhere, also inside a mark; the result must not depend on where.
TEST(BreakDecoder, SameResultWhereverTheReadsSplit) {
    for (const Case& c : cases()) {
        for (std::size_t cut = 0; cut <= c.raw.size(); ++cut) {
            BreakDecoder decoder;
            const ByteView all(c.raw);
            std::vector<Item> got;
            decoder.feed(all.first(cut), got);
            decoder.feed(all.subspan(cut), got);
            EXPECT_EQ(got, c.expected) << c.name << ", cut at " << cut;
        }
        BreakDecoder decoder;
        std::vector<Item> got;
        for (const Byte b : c.raw)
            decoder.feed(ByteView(&b, 1), got);
        EXPECT_EQ(got, c.expected) << c.name << ", byte by byte";
    }
}

TEST(BreakDecoder, ResetForgetsAHalfMark) {
    BreakDecoder decoder;
    EXPECT_TRUE(decoder.feed(Bytes{'a', 0xFF, 0x00}) == std::vector<Item>{d('a')});
    EXPECT_TRUE(decoder.inMark());
    decoder.reset();
    EXPECT_EQ(decoder.feed(Bytes{0x00, 'b'}), (std::vector<Item>{d(0), d('b')}));
}

}  // namespace
}  // namespace kestro
