// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "streamer.h"

namespace kestro {
namespace {

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
