// SPDX-License-Identifier: GPL-3.0-or-later
// The check of a user's S-record file before it is sent: any bytes as a chosen file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "srecord_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    const auto problem = kestro::ops::checkSRecordFile(content);
    // A problem names a line of the file, or the file as a whole.
    if (problem && (problem->line < 0 || problem->what.empty()))
        __builtin_trap();
    return 0;
}
