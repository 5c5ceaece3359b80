// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>

#include "../board_bench.h"
#include "board_window.h"
#include "serial_view.h"

namespace kestro::sim {
namespace {

// One line per run of bytes in one direction, and a new line after a line end; what cannot be
// printed as it is shows as an escape.
TEST(SerialView, ShowsEachDirectionOnItsOwnLines) {
    const std::deque<SerialEvent> log{
        {true, 'H', 0},  {true, 'i', 1},   {true, '\r', 2},  {true, '\n', 3}, {true, 'o', 4},
        {false, 'a', 5}, {false, 0x01, 6}, {false, '\\', 7}, {true, 'A', 8},  {true, 0xFF, 9},
    };
    EXPECT_EQ(SerialView::textOf(log).toStdString(),
              "HC11 > Hi\\r\\n\nHC11 > o\nPC   > a\\x01\\\\\nHC11 > A\\xFF\n");
}

// The tab shows the board's log while in view, and Clear empties it.
TEST(SerialView, FollowsTheLogWhileShownAndClears) {
    testing::BoardBench bench{Chip::E9};
    BoardWindow window{bench.board};
    window.show();
    auto* tabs = window.findChild<QTabWidget*>("BoardMemories");
    auto* view = window.findChild<SerialView*>("BoardSerial");
    ASSERT_NE(view, nullptr);
    tabs->setCurrentWidget(view);
    // A program in the external RAM that sends "ok", started from the internal RAM.
    auto& ram = bench.board.devices().ram();
    // LDX #$1000; LDAA #'o'; STAA $2F,X; (wait TDRE) LDAA #'k'; STAA $2F,X; BRA *
    const Bytes program{0xCE, 0x10, 0x00, 0x86, 'o',  0xA7, 0x2F, 0x1F, 0x2E,
                        0x80, 0xFC, 0x86, 'k',  0xA7, 0x2F, 0x20, 0xFE};
    std::copy(program.begin(), program.end(), ram.begin() + 0x4000);
    // LDAA $103C; ORAA #$20; STAA $103C; JMP $4000
    bench.bootAndRun(
        testing::padded({0xB6, 0x10, 0x3C, 0x8A, 0x20, 0xB7, 0x10, 0x3C, 0x7E, 0x40, 0x00}));
    bench.clock.advance(std::chrono::milliseconds(10));
    view->refresh();
    auto* text = window.findChild<QPlainTextEdit*>("BoardSerialText");
    EXPECT_EQ(text->toPlainText(), "HC11 > ok\n");
    window.findChild<QPushButton*>("BoardSerialClear")->click();
    EXPECT_EQ(text->toPlainText(), "");
    EXPECT_FALSE(text->accessibleName().isEmpty());
}

}  // namespace
}  // namespace kestro::sim
