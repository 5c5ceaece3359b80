// SPDX-License-Identifier: GPL-3.0-or-later
// The break decoder: any byte stream as a tty hands it over with break marking, cut into chunks
// where the first byte says.
#include <cstddef>
#include <cstdint>

#include "break_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t cut = data[0] % 8 + 1;
    kestro::BreakDecoder whole, pieces;
    const kestro::ByteView stream(data + 1, size - 1);
    const auto expected = whole.feed(stream);
    std::vector<kestro::BreakDecoder::Item> got;
    for (std::size_t i = 0; i < stream.size(); i += cut)
        pieces.feed(stream.subspan(i, std::min(cut, stream.size() - i)), got);
    // However the reads cut the stream, the same bytes and breaks come out.
    if (got != expected || expected.size() > stream.size())
        __builtin_trap();
    return 0;
}
