// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "streamer.h"

namespace kestro {
namespace {

TEST(StreamPieces, LastPieceAsksForOneByteBeyondTheEnd) {
    const std::tuple<std::size_t, std::size_t, std::vector<std::size_t>> cases[] = {
        {0, 512, {1}},      // an empty file still sends the byte beyond its end
        {100, 512, {101}},  // shorter than the buffer: one piece
        {512, 512, {513}},  // exactly one buffer: one piece of P + 1
        {513, 512, {512, 2}},    {1024, 512, {512, 513}}, {1500, 512, {512, 512, 477}},
        {5, 0, {1, 1, 1, 1, 2}},  // a full buffer at the start still makes progress
    };
    for (const auto& [length, room, pieces] : cases)
        EXPECT_EQ(streamPieces(length, room), pieces) << length << " in " << room;
}

TEST(StreamProgress, ShareThatLeftThePcClampedToOneAndNinetyNine) {
    const std::tuple<std::int64_t, std::int64_t, std::int64_t, int> cases[] = {
        {513, 513, 1000, 1},                                         // nothing gone yet: never 0
        {513, 13, 1000, 50},                                         // 500 of 1001
        {1001, 0, 1000, 99},                                         // all gone: never 100
        {1001, 5, 1000, 99}, {101, 100, 100, 1}, {600, 1, 999, 60},  // 59.9 rounds to 60
    };
    for (const auto& [read, queued, length, percent] : cases)
        EXPECT_EQ(streamProgress(read, queued, length), percent) << read << "/" << queued;
}

}  // namespace
}  // namespace kestro
