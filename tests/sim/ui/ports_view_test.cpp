// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "../board_bench.h"
#include "board_window.h"
#include "ports_view.h"

namespace kestro::sim {
namespace {

struct PortsBench {
    PortsBench() {
        // LDX #$1000; LDAA #$01; STAA 7,X (DDRC: PC0 an output); STAA 3,X (PORTC); BRA *
        bench.bootAndRun(
            testing::padded({0xCE, 0x10, 0x00, 0x86, 0x01, 0xA7, 0x07, 0xA7, 0x03, 0x20, 0xFE}));
        bench.clock.advance(std::chrono::milliseconds(1));
        window.show();
        tabs = window.findChild<QTabWidget*>("BoardMemories");
        view = window.findChild<PortsView*>("BoardPorts");
    }
    QPushButton* pin(const char* name) {
        auto* b = window.findChild<QPushButton*>(name);
        EXPECT_NE(b, nullptr) << name;
        return b;
    }
    testing::BoardBench bench{Chip::E9};
    BoardWindow window{bench.board};
    QTabWidget* tabs = nullptr;
    PortsView* view = nullptr;
};

// Every pin is a lamp with its name and state; a click on an input toggles its level, and the
// program reads it.
TEST(PortsView, LampsShowThePinsAndAClickTogglesAnInput) {
    PortsBench w;
    ASSERT_NE(w.view, nullptr);
    w.tabs->setCurrentWidget(w.view);
    EXPECT_EQ(w.view->findChildren<QPushButton*>(QRegularExpression("^Pin")).size(), 38);
    EXPECT_EQ(w.pin("PinC0")->accessibleName(), "PC0/ADDR0/DATA0, output, high");
    EXPECT_FALSE(w.pin("PinC0")->isEnabled());
    EXPECT_EQ(w.pin("PinE3")->accessibleName(), "PE3/AN3, input, high");
    QTest::mouseClick(w.pin("PinE3"), Qt::LeftButton);
    EXPECT_EQ(w.pin("PinE3")->accessibleName(), "PE3/AN3, input, low");
    EXPECT_EQ(w.bench.board.peek(0x100A), 0xF7);
    // By keyboard: focus and the space bar.
    w.pin("PinE3")->setFocus();
    QTest::keyClick(w.pin("PinE3"), Qt::Key_Space);
    EXPECT_EQ(w.bench.board.peek(0x100A), 0xFF);
    EXPECT_EQ(w.pin("PinE3")->accessibleName(), "PE3/AN3, input, high");
}

TEST(PortsView, IrqAndXirqButtonsHoldThePinsLow) {
    PortsBench w;
    w.tabs->setCurrentWidget(w.view);
    auto* irq = w.pin("BoardIrq");
    auto* xirq = w.pin("BoardXirq");
    EXPECT_FALSE(irq->accessibleName().isEmpty());
    irq->click();
    EXPECT_TRUE(w.bench.board.irqLow());
    irq->click();
    EXPECT_FALSE(w.bench.board.irqLow());
    xirq->setFocus();
    QTest::keyClick(xirq, Qt::Key_Space);
    EXPECT_TRUE(w.bench.board.xirqLow());
}

// The tab reads the board at most every 50 ms, and not at all while another tab is in view.
TEST(PortsView, ReadsTheBoardOnlyWhileShownAndAtAHumanRate) {
    PortsBench w;
    w.tabs->setCurrentIndex(0);
    const int hidden = w.view->reads();
    QTest::qWait(300);
    EXPECT_EQ(w.view->reads(), hidden) << "hidden";
    w.tabs->setCurrentWidget(w.view);
    const int shown = w.view->reads();
    QTest::qWait(500);
    const int n = w.view->reads() - shown;
    EXPECT_GE(n, 2);
    EXPECT_LE(n, 500 / PortsView::kRefreshMs + 2) << "at most 20 a second";
    w.window.hide();
    const int closed = w.view->reads();
    QTest::qWait(200);
    EXPECT_EQ(w.view->reads(), closed) << "window hidden";
}

}  // namespace
}  // namespace kestro::sim
