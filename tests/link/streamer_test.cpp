#include <gtest/gtest.h>

#include "streamer.h"

namespace kestro {
namespace {

TEST(StreamPieces, LastPieceAsksForOneByteBeyondTheEnd) {
    struct Case {
        std::size_t length, room;
        std::vector<std::size_t> pieces;
    };
    const Case cases[] = {
        {0, 512, {1}},      // an empty file still sends the byte beyond its end
        {100, 512, {101}},  // shorter than the buffer: one piece
        {512, 512, {513}},  // exactly one buffer: one piece of P + 1
        {513, 512, {512, 2}},    {1024, 512, {512, 513}}, {1500, 512, {512, 512, 477}},
        {5, 0, {1, 1, 1, 1, 2}},  // a full buffer at the start still makes progress
    };
    for (const Case& c : cases) {
        const auto pieces = streamPieces(c.length, c.room);
        EXPECT_EQ(pieces, c.pieces) << c.length << " in " << c.room;
        std::size_t sum = 0;
        for (auto p : pieces)
            sum += p;
        EXPECT_EQ(sum, c.length + 1);
    }
}

TEST(StreamProgress, ShareThatLeftThePcClampedToOneAndNinetyNine) {
    struct Case {
        std::int64_t read, queued, length;
        int percent;
    };
    const Case cases[] = {
        {513, 513, 1000, 1},                                         // nothing gone yet: never 0
        {513, 13, 1000, 50},                                         // 500 of 1001
        {1001, 0, 1000, 99},                                         // all gone: never 100
        {1001, 5, 1000, 99}, {101, 100, 100, 1}, {600, 1, 999, 60},  // 59.9 rounds to 60
    };
    for (const Case& c : cases)
        EXPECT_EQ(streamProgress(c.read, c.queued, c.length), c.percent)
            << c.read << "/" << c.queued << "/" << c.length;
}

}  // namespace
}  // namespace kestro
