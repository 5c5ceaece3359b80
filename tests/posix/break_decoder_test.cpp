// SPDX-License-Identifier: GPL-3.0-or-later
#include "break_decoder.h"

#include <gtest/gtest.h>

namespace kestro {
namespace {

using Item = BreakDecoder::Item;

const Item kBreak = Item::brk();
Item d(Byte b) {
    return Item::data(b);
}

// A read may end anywhere, also inside a mark; the result must not depend on where.
TEST(BreakDecoder, DecodesStreamsTheSameWhereverTheReadsSplit) {
    const std::tuple<const char*, Bytes, std::vector<Item>> cases[] = {
        {"plain data", {'A', 0x00, 'C', 0x7F, 0xFE}, {d('A'), d(0), d('C'), d(0x7F), d(0xFE)}},
        {"doubled FF is one data byte", {0xFF, 0xFF}, {d(0xFF)}},
        {"break mark", {0xFF, 0x00, 0x00}, {kBreak}},
        {"framing error on a non-NUL is data", {0xFF, 0x00, 'x'}, {d('x')}},
        {"error on FF is not doubled", {0xFF, 0x00, 0xFF, 'a'}, {d(0xFF), d('a')}},
        {"break between data",
         {'a', 0xFF, 0xFF, 0xFF, 0x00, 0x00, 'b', 0x00},
         {d('a'), d(0xFF), kBreak, d('b'), d(0)}},
        {"breaks back to back", {0xFF, 0x00, 0x00, 0xFF, 0x00, 0x00}, {kBreak, kBreak}},
        {"stray mark keeps both bytes", {0xFF, 'A', 'B'}, {d(0xFF), d('A'), d('B')}},
    };
    for (const auto& [name, raw, expected] : cases) {
        const ByteView all(raw);
        for (std::size_t cut = 0; cut <= raw.size(); ++cut) {
            BreakDecoder decoder;
            std::vector<Item> got;
            decoder.feed(all.first(cut), got);
            decoder.feed(all.subspan(cut), got);
            EXPECT_EQ(got, expected) << name << ", cut at " << cut;
        }
        BreakDecoder decoder;
        std::vector<Item> got;
        for (const Byte b : raw)
            decoder.feed(ByteView(&b, 1), got);
        EXPECT_EQ(got, expected) << name << ", byte by byte";
    }
}

TEST(BreakDecoder, ResetForgetsAHalfMark) {
    BreakDecoder decoder;
    EXPECT_EQ(decoder.feed(Bytes{'a', 0xFF, 0x00}), std::vector<Item>{d('a')});
    decoder.reset();
    EXPECT_EQ(decoder.feed(Bytes{0x00, 'b'}), (std::vector<Item>{d(0), d('b')}));
}

}  // namespace
}  // namespace kestro
