// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include "virtual_clock.h"
#include "virtual_line.h"
#include "virtual_port.h"

namespace kestro::testing {

// A virtual port on Comm 1 of a line, in virtual time, opened unless told otherwise.
struct OpenPort {
    explicit OpenPort(bool open = true) {
        port.attach(1, line);
        port.setCommPort(1);
        if (open) {
            EXPECT_EQ(port.open(), PortError::None);
        }
    }
    VirtualClock clock;
    VirtualLine line{clock};
    VirtualPort port{clock};
};

}  // namespace kestro::testing
