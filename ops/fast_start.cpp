// SPDX-License-Identifier: GPL-3.0-or-later
#include "fast_start.h"

#include <string>

namespace kestro::ops {

bool startFastTalker(Frame& f, fast::FastLink& link, std::string_view talker) {
    f.downloadTalker(std::string(talker));
    f.waitDrained();
    f.wait(Frame::kSettle);
    f.discardBuffers();
    return link.ping();
}

void fastTalkerNeverAnswered() {
    throw LinkError(fast::kStoppedAnswering, LinkError::Ending::EndAsFrame,
                    "The talker did not answer after its download. Reset your HC11 into "
                    "bootstrap mode and start the job again.");
}

}  // namespace kestro::ops
