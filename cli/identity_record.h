// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "identify.h"

namespace kestro::cli {

// What identify found, as the one JSON object its --json record carries: what the report says,
// field by field.
std::string identityJson(const ops::Identity& id, const ops::IdentReading& reading, int lineBaud);

}  // namespace kestro::cli
