// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <array>
#include <optional>
#include <string>

#include "operation_buttons.h"

class QButtonGroup;
class QLabel;
class QRadioButton;

namespace kestro {

class Controls;
class LinkState;

// The "Comm Port" page: the four ports, the warning that a port is in use, and Test Comm.
// Choosing a port is forwarded to the link.
class CommPage : public QWidget {
    Q_OBJECT
  public:
    CommPage(LinkState& link, const Controls& controls, const RunOperation& run);

    // The port the link has open, 1 to 4; any other number checks none.
    void selectComm(int n);
    void showPortWarning(const std::optional<std::string>& text);

  private:
    LinkState& link_;
    QButtonGroup* group_ = nullptr;
    std::array<QRadioButton*, 4> comm_{};
    bool wasChecked_ = false;  // the Comm button being clicked was checked when pressed
    QLabel* useTxt_ = nullptr;
    QLabel* useImg_ = nullptr;
};

}  // namespace kestro
