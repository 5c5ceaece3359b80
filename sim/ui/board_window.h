// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include "kestro/sim/board/board.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTimer;

namespace kestro::sim {

class PortsView;

// The "Virtual HC11 board" window: a bootstrap Reset, the part on the board and its crystal,
// whether the
// 711E9's programming voltage is applied, hex views of the memories that follow their changes,
// the pins of ports A to E with IRQ and XIRQ, and a return to the factory state. Every control is
// reachable by keyboard and named for screen readers.
class BoardWindow : public QWidget {
    Q_OBJECT
  public:
    BoardWindow(Board& board, QWidget* parent = nullptr);

    // Re-reads the board now (a timer does it every kRefreshMs otherwise).
    void refresh();
    static constexpr int kRefreshMs = 250;

  signals:
    // The user changed what the board keeps between runs (part, factory state): save it.
    void nonVolatileChanged();

  private:
    struct View {
        QPlainTextEdit* text;
        std::string shown;
    };
    void resetClicked();
    void chipChosen(int index);
    void crystalChosen(int index);
    void factoryClicked();
    void refreshView(int tab);
    std::string memoryText(int tab);

    Board& board_;
    QPushButton* reset_;
    QComboBox* chip_;
    QComboBox* crystal_;
    QCheckBox* vppe_;
    QLabel* phase_;
    QTabWidget* tabs_;
    std::vector<View> views_;
    PortsView* ports_;
    QPushButton* factory_;
    QTimer* timer_;
};

}  // namespace kestro::sim
