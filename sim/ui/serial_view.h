// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <cstdint>

#include "kestro/sim/board/board.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace kestro::sim {

// The board window's "Serial" tab: the SCI traffic of the user's program (Board::serialLog),
// one line per run of bytes in one direction, printable characters as they are and the others
// as \xNN or their escapes. It reads the board only while shown, at most kRefreshMs apart, and
// only redraws when a byte came or went. A line below sends typed text to the running
// program, as a terminal on the PC's side of the line would.
class SerialView : public QWidget {
    Q_OBJECT
  public:
    explicit SerialView(Board& board, QWidget* parent = nullptr);

    void refresh();
    static constexpr int kRefreshMs = 100;
    // The text shown for the board's log.
    static QString textOf(const std::deque<SerialEvent>& log);

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void send();

    Board& board_;
    QPlainTextEdit* text_;
    QLineEdit* input_;
    QComboBox* baud_;
    QPushButton* clear_;
    QTimer* timer_;
    std::uint64_t shown_ = ~std::uint64_t{0};
    std::size_t shownSize_ = 0;
};

}  // namespace kestro::sim
