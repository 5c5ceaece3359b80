// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <functional>

#include "../board_bench.h"
#include "before_reset.h"
#include "board_window.h"
#include "ports_view.h"
#include "screen_reader.h"
#include "serial_view.h"

namespace kestro::sim {
namespace {

struct WindowBench {
    template <class T>
    T* find(const char* name) {
        T* w = window.findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    // Shows the window with the tab `name` in view.
    template <class T>
    T* show(const char* name) {
        window.show();
        T* view = find<T>(name);
        auto* tabs = find<QTabWidget>("BoardMemories");
        for (QWidget* w = view; w != nullptr; w = w->parentWidget())
            if (tabs->indexOf(w) >= 0)
                tabs->setCurrentWidget(w);
        return view;
    }
    testing::BoardBench bench{Chip::E9};
    BoardWindow window{bench.board};
};

// A screen reader finds the window as a frame, reads the state line by its text and hears it
// change; Enter presses the focused button.
TEST(BoardWindow, AScreenReaderHearsTheStateAndEnterPressesAButton) {
    WindowBench w;
    kestro::testing::HeardEvents heard;
    w.window.show();
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&w.window)->role(), QAccessible::Window);
    auto* phase = w.find<QLabel>("BoardPhase");
    QAccessibleInterface* line = QAccessible::queryAccessibleInterface(phase);
    EXPECT_EQ(line->text(QAccessible::Name), "Waiting for a reset: press Reset");
    auto* reset = w.find<QPushButton>("BoardReset");
    reset->setFocus();
    QTest::keyClick(reset, Qt::Key_Return);
    w.bench.clock.advance(BoardWindow::kMinimumPress + std::chrono::milliseconds(30));
    EXPECT_EQ(w.bench.pc.breaks(), 1);
    w.window.refresh();
    EXPECT_TRUE(line->text(QAccessible::Name).contains("waiting for the PC"));
    EXPECT_GE(heard.count(phase, QAccessible::NameChanged), 1);
    // At the opening size every tab shows its caption whole, none behind scroll arrows.
    QTabBar* bar = w.find<QTabWidget>("BoardMemories")->tabBar();
    EXPECT_GE(bar->width(), bar->sizeHint().width());
    EXPECT_LE(bar->tabRect(bar->count() - 1).right(), bar->width());
    // A screen that a large scale factor leaves small (1280 pixels at 200 %) takes the window
    // whole: it scrolls its controls rather than staying wider than the screen.
    w.window.resize(300, 250);
    QApplication::processEvents();
    EXPECT_EQ(w.window.size(), QSize(300, 250));
    auto* scroller = w.find<QScrollArea>("BoardScroller");
    scroller->ensureWidgetVisible(w.find<QWidget>("BoardFactory"));
    EXPECT_FALSE(w.find<QWidget>("BoardFactory")->visibleRegion().isEmpty());
}

// Reset holds the chip in reset while the button is down, by mouse or Space, and the state line
// says so; a click or a screen reader's press holds it the shortest time a push-button does. The
// boot loader's break follows the release.
TEST(BoardWindow, ResetHoldsTheChipWhileTheButtonIsDown) {
    using std::chrono::milliseconds;
    struct Case {
        const char* name;
        std::function<void(QPushButton*)> down;
        milliseconds held;  // virtual time between down and up
        std::function<void(QPushButton*)> up;
        Duration chipHeld;
    };
    const auto longest = milliseconds(200);
    const Case cases[] = {
        {"mouse held", [](QPushButton* b) { QTest::mousePress(b, Qt::LeftButton); }, longest,
         [](QPushButton* b) { QTest::mouseRelease(b, Qt::LeftButton); }, longest},
        {"Space held", [](QPushButton* b) { QTest::keyPress(b, Qt::Key_Space); }, longest,
         [](QPushButton* b) { QTest::keyRelease(b, Qt::Key_Space); }, longest},
        {"click", [](QPushButton* b) { QTest::mouseClick(b, Qt::LeftButton); }, milliseconds(0),
         [](QPushButton*) {}, BoardWindow::kMinimumPress},
        {"screen reader's press",
         [](QPushButton* b) {
             QAccessible::queryAccessibleInterface(b)->actionInterface()->doAction(
                 QAccessibleActionInterface::pressAction());
         },
         milliseconds(0),
         // Qt lets an animated click go after a while of the program's own time.
         [](QPushButton*) { QTest::qWait(300); }, BoardWindow::kMinimumPress},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowBench w;
        w.window.show();
        auto* reset = w.find<QPushButton>("BoardReset");
        reset->setFocus();
        const TimePoint pressed = w.bench.clock.now();
        c.down(reset);
        EXPECT_TRUE(w.bench.board.resetHeld());
        EXPECT_TRUE(w.find<QLabel>("BoardPhase")->text().startsWith("Reset held"));
        w.bench.clock.advance(c.held);
        c.up(reset);
        ASSERT_TRUE(w.bench.clock.waitUntil([&] { return !w.bench.board.resetHeld(); },
                                            std::chrono::seconds(1)));
        EXPECT_EQ(w.bench.clock.now() - pressed, c.chipHeld);
        EXPECT_EQ(w.bench.pc.breaks(), 0);
        w.bench.clock.advance(milliseconds(30));
        EXPECT_EQ(w.bench.pc.breaks(), 1);
    }
}

// Tab goes round every tab's controls and back to Reset, never stopping on the frame that
// scrolls a tab's controls, which has nothing of its own to say or do.
TEST(BoardWindow, TabGoesRoundEachTabsControlsWithoutStoppingOnAFrame) {
    WindowBench w;
    w.window.show();
    QApplication::setActiveWindow(&w.window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w.window));
    auto* tabs = w.find<QTabWidget>("BoardMemories");
    for (int t = 0; t < tabs->count(); ++t) {
        SCOPED_TRACE(t);
        tabs->setCurrentIndex(t);
        w.find<QWidget>("BoardReset")->setFocus();
        QWidget* stop = nullptr;
        for (int i = 0; i < 60 && stop != w.find<QWidget>("BoardReset"); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            stop = QApplication::focusWidget();
            ASSERT_NE(stop, nullptr);
            EXPECT_EQ(qobject_cast<QScrollArea*>(stop), nullptr) << qPrintable(stop->objectName());
        }
        EXPECT_EQ(stop, w.find<QWidget>("BoardReset"));
    }
}

// Another crystal chosen in the list cuts the board's power; after the next reset its boot
// loader takes a download at the rate of that crystal (4800 baud at 4.9152 MHz, where at 8 MHz
// it takes 7812), and memories are not touched, so nothing asks for a save.
TEST(BoardWindow, TheCrystalComboRunsTheBoardFromTheCrystalChosen) {
    testing::BoardBench bench{Chip::E9, 4'800};
    BoardWindow window{bench.board};
    QSignalSpy saved(&window, &BoardWindow::nonVolatileChanged);
    auto* combo = window.findChild<QComboBox*>("BoardCrystal");
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->currentText(), "8 MHz");
    EXPECT_EQ(combo->accessibleName(), "Crystal on the board");
    bench.reset();
    kestro::testing::selectByScreenReader(combo, combo->findText("4.9152 MHz"));
    EXPECT_EQ(bench.board.crystalHz(), 4'915'200u);
    EXPECT_FALSE(bench.board.powered());
    bench.bootAndRun(testing::padded({0x20, 0xFE}));
    EXPECT_EQ(saved.count(), 0);
}

// A choice in either list (here a screen reader's "Toggle" on a row of the closed list) changes
// the board, and a part changed asks for a save; a part and a crystal together that the
// program's check refuses are not put on the board, whichever is chosen last: the window says
// why in the command line's words and shows the board's own again.
TEST(BoardWindow, ChipAndCrystalChangeTheBoardUnlessThePartCannotRunSoFast) {
    const char* const a8At12 =
        "The MC68HC11A8 runs from a crystal of 8 MHz at the most, not 12 MHz.";
    struct Case {
        Chip chip;
        std::uint32_t crystal;
        const char* combo;
        const char* choice;
        const char* box;  // nullptr: taken
    };
    const Case cases[] = {
        {Chip::A8, 8'000'000, "BoardCrystal", "12 MHz", a8At12},
        {Chip::E9, 12'000'000, "BoardChip", "MC68HC11A8", a8At12},
        {Chip::E9, 8'000'000, "BoardCrystal", "12 MHz", nullptr},
        {Chip::E9, 8'000'000, "BoardChip", "MC68HC11F1", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.combo) + " " + c.choice);
        testing::BoardBench bench{BoardOptions{.chip = c.chip, .crystalHz = c.crystal}, 7812};
        BoardWindow window{bench.board};
        window.setCrystalCheck(ops::crystalRefusal);
        QSignalSpy saved(&window, &BoardWindow::nonVolatileChanged);
        auto* combo = window.findChild<QComboBox*>(c.combo);
        ASSERT_NE(combo, nullptr);
        const QString before = combo->currentText();
        kestro::testing::selectByScreenReader(combo, combo->findText(c.choice));
        auto* box = window.findChild<QMessageBox*>("BoardRefusal");
        const bool part = std::string_view(c.combo) == "BoardChip";
        EXPECT_TRUE(!part || combo->count() == static_cast<int>(variants().size()))
            << "a part not offered";
        if (!c.box) {
            EXPECT_EQ(box, nullptr);
            EXPECT_EQ(combo->currentText(), c.choice);
            EXPECT_TRUE(part ? bench.board.chip().name == std::string_view(c.choice)
                             : bench.board.crystalHz() != c.crystal);
            EXPECT_EQ(saved.count(), part ? 1 : 0);
            continue;
        }
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), c.box);
        EXPECT_EQ(combo->currentText(), before);
        EXPECT_EQ(bench.board.chip().chip, c.chip);
        EXPECT_EQ(bench.board.crystalHz(), c.crystal);
        EXPECT_EQ(saved.count(), 0);
    }
}

TEST(BoardWindow, ViewsFollowTheMemories) {
    WindowBench w;
    auto* eeprom = w.find<QPlainTextEdit>("BoardView0");
    EXPECT_TRUE(eeprom->toPlainText().startsWith("B600  FF FF"));
    w.bench.board.eeprom().array()[1] = 0x5A;
    w.window.refresh();
    EXPECT_TRUE(eeprom->toPlainText().startsWith("B600  FF 5A FF"))
        << eeprom->toPlainText().left(40).toStdString();
    w.find<QTabWidget>("BoardMemories")->setCurrentIndex(5);
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

// ---- the pins

// The ports tab over a program that makes PC0 an output and sets it.
struct PortsBench : WindowBench {
    PortsBench() {
        // LDX #$1000; LDAA #$01; STAA 7,X (DDRC: PC0 an output); STAA 3,X (PORTC); BRA *
        bench.bootAndRun(
            testing::padded({0xCE, 0x10, 0x00, 0x86, 0x01, 0xA7, 0x07, 0xA7, 0x03, 0x20, 0xFE}));
        bench.clock.advance(std::chrono::milliseconds(1));
        view = show<PortsView>("BoardPorts");
    }
    PortsView* view = nullptr;
};

// Every pin is a lamp with its name and state; a click on an input toggles its level, and the
// program reads it.
TEST(PortsView, LampsShowThePinsAndAClickTogglesAnInput) {
    PortsBench w;
    EXPECT_EQ(w.view->findChildren<QPushButton*>(QRegularExpression("^Pin")).size(), 38);
    auto* c0 = w.find<QPushButton>("PinC0");
    auto* e3 = w.find<QPushButton>("PinE3");
    EXPECT_EQ(c0->accessibleName(), "PC0/ADDR0/DATA0, output, high");
    EXPECT_FALSE(c0->isEnabled());
    EXPECT_EQ(e3->accessibleName(), "PE3/AN3, input, high");
    QTest::mouseClick(e3, Qt::LeftButton);
    EXPECT_EQ(e3->accessibleName(), "PE3/AN3, input, low");
    EXPECT_EQ(w.bench.board.peek(0x100A), 0xF7);
    // By keyboard: focus and the space bar.
    e3->setFocus();
    QTest::keyClick(e3, Qt::Key_Space);
    EXPECT_EQ(w.bench.board.peek(0x100A), 0xFF);
    EXPECT_EQ(e3->accessibleName(), "PE3/AN3, input, high");
    // The SCI receives on PD0/RxD: the serial line drives it, so the keyboard passes it by
    // and a screen reader is told why.
    auto* rxd = w.find<QPushButton>("PinD0");
    EXPECT_EQ(rxd->focusPolicy(), Qt::NoFocus);
    EXPECT_TRUE(rxd->accessibleDescription().contains("serial line"));
    // Every name whole, in the bold of a high output too.
    for (auto* lamp : w.view->findChildren<QPushButton*>(QRegularExpression("^Pin"))) {
        QFont bold = lamp->font();
        bold.setBold(true);
        EXPECT_GE(lamp->width(), QFontMetrics(bold).horizontalAdvance(lamp->text()) + 8)
            << lamp->text().toStdString();
    }
}

TEST(PortsView, IrqAndXirqButtonsHoldThePinsLow) {
    PortsBench w;
    auto* irq = w.find<QPushButton>("BoardIrq");
    auto* xirq = w.find<QPushButton>("BoardXirq");
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
    w.find<QTabWidget>("BoardMemories")->setCurrentIndex(0);
    const int hidden = w.view->reads();
    QTest::qWait(300);
    EXPECT_EQ(w.view->reads(), hidden) << "hidden";
    w.show<PortsView>("BoardPorts");
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

// ---- the serial log

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
    WindowBench w;
    auto* view = w.show<SerialView>("BoardSerial");
    // A program in the external RAM that sends "ok", started from the internal RAM.
    // LDX #$1000; LDAA #'o'; STAA $2F,X; (wait TDRE) LDAA #'k'; STAA $2F,X; BRA *
    const Bytes program{0xCE, 0x10, 0x00, 0x86, 'o',  0xA7, 0x2F, 0x1F, 0x2E,
                        0x80, 0xFC, 0x86, 'k',  0xA7, 0x2F, 0x20, 0xFE};
    std::copy(program.begin(), program.end(), w.bench.board.devices().ram().begin() + 0x4000);
    // LDAA $103C; ORAA #$20; STAA $103C; JMP $4000
    w.bench.bootAndRun(
        testing::padded({0xB6, 0x10, 0x3C, 0x8A, 0x20, 0xB7, 0x10, 0x3C, 0x7E, 0x40, 0x00}));
    w.bench.clock.advance(std::chrono::milliseconds(10));
    view->refresh();
    auto* text = w.find<QPlainTextEdit>("BoardSerialText");
    EXPECT_EQ(text->toPlainText(), "HC11 > ok\n");
    // A line typed below goes to the program at the rate chosen, Enter as a carriage return.
    auto* input = w.find<QLineEdit>("BoardSerialInput");
    EXPECT_TRUE(input->isEnabled());
    w.find<QComboBox>("BoardSerialBaud")->setCurrentText("7812");
    QTest::keyClicks(input, "hi");
    QTest::keyClick(input, Qt::Key_Return);
    w.bench.clock.advance(std::chrono::milliseconds(10));
    view->refresh();
    EXPECT_EQ(text->toPlainText(), "HC11 > ok\nPC   > hi\\r\n");
    EXPECT_TRUE(input->text().isEmpty());
    w.find<QPushButton>("BoardSerialClear")->click();
    EXPECT_EQ(text->toPlainText(), "");
    EXPECT_FALSE(text->accessibleName().isEmpty());
}

}  // namespace
}  // namespace kestro::sim
