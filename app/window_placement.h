// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSize>

class QWidget;

namespace kestro {

// Shows window on main's screen and within its available area, beside main where the screen
// has room: to its right, else to its left, narrowed down to window's minimum where that makes
// it fit. The program's other windows already shown are kept clear where the screen allows
// (a window beside one of them will do), and covered as little as it can where it does not;
// only then is main covered, the window as far right as the screen allows. Never larger than
// the screen. least, where given, is window's minimum size, lowered to what the screen holds.
void showBeside(QWidget& window, const QWidget& main, const QSize& least = {});

}  // namespace kestro
