// SPDX-License-Identifier: GPL-3.0-or-later
// The PC of the program (port, link, frame) on Comm 1 and the virtual board at the cable's far
// end, all in virtual time: the program's own operations run against the real talkers.
#pragma once

#include "fast_station.h"

namespace kestro::sim::station {

struct Station : FastStation {
    using FastStation::FastStation;

    // Runs the operation behind a button by the protocol the inputs ask for.
    std::vector<Message> run(std::string_view button, const ops::Inputs& inputs = {},
                             const std::filesystem::path& file = {}) {
        return FastStation::run(button, inputs.fast, inputs, file);
    }
};

}  // namespace kestro::sim::station
