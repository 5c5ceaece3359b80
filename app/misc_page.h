// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <functional>

namespace kestro {

class Controls;

// The "Misc" page: what the program is, and the Help, Preferences and About buttons.
class MiscPage : public QWidget {
    Q_OBJECT
  public:
    MiscPage(const Controls& controls, const std::function<void()>& help,
             const std::function<void()>& preferences, const std::function<void()>& about);
};

}  // namespace kestro
