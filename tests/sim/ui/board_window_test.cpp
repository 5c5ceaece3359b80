// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>

#include "../board_bench.h"
#include "board_window.h"
#include "screen_reader.h"

namespace kestro::sim {
namespace {

struct WindowBench {
    template <class T>
    T* find(const char* name) {
        T* w = window.findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    testing::BoardBench bench{Chip::E9};
    BoardWindow window{bench.board};
};

TEST(BoardWindow, ResetMakesTheBoardSendItsBreak) {
    WindowBench w;
    EXPECT_EQ(w.find<QLabel>("BoardPhase")->text(), "Waiting for a reset: press Reset");
    w.find<QPushButton>("BoardReset")->click();
    w.bench.clock.advance(std::chrono::milliseconds(30));
    EXPECT_EQ(w.bench.pc.breaks(), 1);
    w.window.refresh();
    EXPECT_TRUE(w.find<QLabel>("BoardPhase")->text().contains("waiting for the PC"));
}

// A choice in the list (here a screen reader's "Toggle" on a row of the closed list) changes the
// part.
TEST(BoardWindow, TheChipComboChangesThePartAndAsksForASave) {
    WindowBench w;
    QSignalSpy saved(&w.window, &BoardWindow::nonVolatileChanged);
    auto* combo = w.find<QComboBox>("BoardChip");
    ASSERT_EQ(combo->count(), 4);
    EXPECT_EQ(combo->currentText(), "MC68HC11E9");
    kestro::testing::selectByScreenReader(combo, combo->findText("MC68HC811E2"));
    EXPECT_EQ(combo->currentText(), "MC68HC811E2");
    EXPECT_EQ(w.bench.board.chip().chip, Chip::E2_811);
    EXPECT_EQ(saved.count(), 1);
}

TEST(BoardWindow, ViewsFollowTheMemories) {
    WindowBench w;
    auto* tabs = w.find<QTabWidget>("BoardMemories");
    auto* eeprom = w.find<QPlainTextEdit>("BoardView0");
    EXPECT_TRUE(eeprom->toPlainText().startsWith("B600  FF FF"));
    w.bench.board.eeprom().array()[1] = 0x5A;
    w.window.refresh();
    EXPECT_TRUE(eeprom->toPlainText().startsWith("B600  FF 5A FF"))
        << eeprom->toPlainText().left(40).toStdString();
    tabs->setCurrentIndex(5);
    w.bench.board.devices().companion().eeprom().cells()[0] = 0x11;
    w.window.refresh();
    const QString companion = w.find<QPlainTextEdit>("BoardView5")->toPlainText();
    EXPECT_TRUE(companion.startsWith("BPR $00  EEM $07  SFR $81\nE000  11 FF"));
}

TEST(BoardWindow, FactoryStateErasesAndAsksForASave) {
    WindowBench w;
    QSignalSpy saved(&w.window, &BoardWindow::nonVolatileChanged);
    w.bench.board.eeprom().array()[0] = 0x00;
    w.find<QPushButton>("BoardFactory")->click();
    EXPECT_EQ(w.bench.board.eeprom().array()[0], 0xFF);
    EXPECT_EQ(saved.count(), 1);
}

}  // namespace
}  // namespace kestro::sim
