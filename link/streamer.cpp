// SPDX-License-Identifier: GPL-3.0-or-later
#include "streamer.h"

#include <algorithm>
#include <cmath>

namespace kestro {

int streamProgress(std::int64_t bytesRead, std::int64_t stillQueued, std::int64_t length) {
    const double share =
        100.0 * static_cast<double>(bytesRead - stillQueued) / static_cast<double>(length + 1);
    return static_cast<int>(std::nearbyint(std::clamp(share, 1.0, 99.0)));
}

}  // namespace kestro
