// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <vector>

#include "kestro/sim/board/board.h"

class QPushButton;
class QTimer;

namespace kestro::sim {

// The board window's "Ports" tab: every pin of ports A to E as a lamp with its name (output
// high, output low, input high or low, or the bus), a click on an input pin toggling its level,
// and IRQ and XIRQ as buttons held low while pressed in. It reads the board only while shown,
// at most kRefreshMs apart, and repaints only the lamps that changed.
class PortsView : public QWidget {
    Q_OBJECT
  public:
    explicit PortsView(Board& board, QWidget* parent = nullptr);

    // Re-reads the pins now.
    void refresh();
    static constexpr int kRefreshMs = 50;  // 20 times a second at most
    // How many times the pins were read (for tests: none while hidden).
    int reads() const { return reads_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    struct Lamp {
        QPushButton* button;
        char port;
        int bit;
        int state;  // what the lamp shows now; -1 before the first read
    };
    void lampClicked(std::size_t index);
    void showReceiverOwnership(QPushButton* rxd);

    Board& board_;
    std::vector<Lamp> lamps_;
    QPushButton* irq_;
    QPushButton* xirq_;
    QTimer* timer_;
    int reads_ = 0;
};

}  // namespace kestro::sim
