// SPDX-License-Identifier: GPL-3.0-or-later
#include "streamer.h"

#include <algorithm>
#include <cmath>

namespace kestro {

std::vector<std::size_t> streamPieces(std::size_t length, std::size_t pieceSize) {
    std::vector<std::size_t> pieces;
    std::size_t read = 0;
    pieceSize = std::max<std::size_t>(pieceSize, 1);
    // Runs until one byte beyond the end has been asked for: the last piece is the rest plus one.
    while (read <= length) {
        std::size_t piece = pieceSize;
        if (length - read <= pieceSize)
            piece = length - read + 1;
        pieces.push_back(piece);
        read += piece;
    }
    return pieces;
}

int streamProgress(std::int64_t bytesRead, std::int64_t stillQueued, std::int64_t length) {
    const double share =
        100.0 * static_cast<double>(bytesRead - stillQueued) / static_cast<double>(length + 1);
    return static_cast<int>(std::nearbyint(std::clamp(share, 1.0, 99.0)));
}

}  // namespace kestro
