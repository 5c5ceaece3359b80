// SPDX-License-Identifier: GPL-3.0-or-later
#include "fast_start.h"

#include <string>

#include "hex_digit.h"

namespace kestro::ops {

bool startFastTalker(Frame& f, fast::FastLink& link, std::string_view talker, int* downloadBaud) {
    const int baud =
        f.downloadTalker(std::string(talker), Frame::DownloadRate::LoaderWherePossible);
    if (downloadBaud)
        *downloadBaud = baud;
    f.waitDrained();
    // A driver may count the download as gone while the adapter's FIFO still holds its last
    // bytes: only the whole echo shows that the loader has them. The wait for the talker's start
    // counts from there, so that the first P reaches neither the E9 loader's idle window (where
    // it would be stored and echoed) nor the talker's own start-up wait (which would swallow it).
    f.waitForEcho(fast::FastLink::kTurnaround);
    f.wait(fast::FastLink::settleAfterDownload(baud));
    f.discardBuffers(Frame::Answers::Binary);
    if (!link.ping())
        return false;
    link.agreeRate();
    return true;
}

void fastTalkerNeverAnswered() {
    throw LinkError(fast::kStoppedAnswering, LinkError::Ending::EndAsFrame,
                    "The talker did not answer after its download. Reset your HC11 into "
                    "bootstrap mode and start the job again.");
}

std::vector<S1Run> s1Records(std::string_view text) {
    std::vector<S1Run> records;
    while (!text.empty()) {
        const auto eol = text.find('\n');
        const std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        if (line.starts_with("S9"))
            break;
        if (!line.starts_with("S1") || line.size() < 10)
            continue;
        auto byteAt = [&line](std::size_t i) {
            return static_cast<Byte>(formats::hexDigitValue(line[2 + 2 * i]) * 16 +
                                     formats::hexDigitValue(line[3 + 2 * i]));
        };
        // The count takes in the address and the checksum; a checked file has both.
        const std::size_t count = byteAt(0);
        if (count < 3)
            continue;
        S1Run record{static_cast<std::uint16_t>(byteAt(1) << 8 | byteAt(2)), {}};
        for (std::size_t i = 3; i < count && 3 + 2 * i < line.size(); ++i)
            record.bytes.push_back(byteAt(i));
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<S1Run> s1Runs(std::string_view text) {
    std::vector<S1Run> runs;
    for (S1Run& record : s1Records(text)) {
        if (!runs.empty() &&
            runs.back().address + runs.back().bytes.size() == std::size_t{record.address})
            runs.back().bytes.insert(runs.back().bytes.end(), record.bytes.begin(),
                                     record.bytes.end());
        else
            runs.push_back(std::move(record));
    }
    return runs;
}

}  // namespace kestro::ops
