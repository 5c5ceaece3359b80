// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <functional>
#include <string>

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

    // Why a part cannot run from a crystal, or empty where it can. A choice of part or crystal
    // that the check refuses is not put on the board: the window says why and keeps both. The
    // program the window serves sets it; without one, every choice goes.
    using CrystalCheck = std::function<std::string(const Variant& part, std::uint32_t crystalHz)>;
    void setCrystalCheck(CrystalCheck check) { crystalCheck_ = std::move(check); }

    // The smallest size that shows every control without scrolling; the window itself may be
    // made smaller, and then scrolls them.
    QSize fullMinimum() const { return content_->minimumSizeHint(); }

    // Re-reads the board now (a timer does it every kRefreshMs otherwise).
    void refresh();
    static constexpr int kRefreshMs = 250;
    // The shortest press the Reset button gives the chip, as a push-button's debounce and
    // reset supervisor would: a click, Enter or a screen reader's press hold RESET this long.
    static constexpr Duration kMinimumPress = std::chrono::milliseconds(50);

  signals:
    // The user changed what the board keeps between runs (part, factory state): save it.
    void nonVolatileChanged();

  private:
    struct View {
        QPlainTextEdit* text;
        std::string shown;
    };
    void resetPressed();
    void resetReleased();
    void chipChosen(int index);
    void crystalChosen(int index);
    void factoryClicked();
    // Whether the check refuses the part and crystal together; if so, tells why and shows the
    // board's own again.
    bool refused(const Variant& part, std::uint32_t crystalHz);
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
    QWidget* content_;
    CrystalCheck crystalCheck_;
};

}  // namespace kestro::sim
