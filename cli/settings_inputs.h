// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSettings>

#include "operations.h"

namespace kestro::cli {

// What the window's controls start with, from the same settings store: the ranges, the CONFIG
// boxes, the RAM start address and the Xicor page's SFR position. Not the key "fast" of the
// group "link": the window's choice of protocol would change, unseen, what a script puts on the
// wire, and a script has no option to turn it off again; kestro-cli takes it from --fast only.
ops::Inputs inputsFromSettings(QSettings& settings);

}  // namespace kestro::cli
