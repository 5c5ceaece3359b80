// SPDX-License-Identifier: GPL-3.0-or-later
// The Monitor window on the window's virtual board, in virtual time: a program of ours loaded,
// stopped at a breakpoint set from the keyboard, changed, stepped and stopped from the PC; a
// session the HC11's reset ends; and every control within reach of the keyboard and a screen
// reader.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QCommandLineParser>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <set>

#include "board_bench.h"
#include "monitor_window.h"
#include "scratch.h"
#include "srecords.h"
#include "start_windows.h"

namespace kestro {
namespace {

using testing::BoardBench;

// In RAM at $0100, which the monitor leaves to the user's program:
//   lds #$01FF; cli; ldaa #3; loop: deca; bne loop; jsr sub; stab $0180;
//   tx: ldab $102E; bpl tx; ldaa #'K'; staa $102F; spin: bra spin; sub: ldab #$42; rts
const Bytes kProgram = {0x8E, 0x01, 0xFF, 0x0E, 0x86, 0x03, 0x4A, 0x26, 0xFD, 0xBD,
                        0x01, 0x1B, 0xF7, 0x01, 0x80, 0xF6, 0x10, 0x2E, 0x2A, 0xFB,
                        0x86, 0x4B, 0xB7, 0x10, 0x2F, 0x20, 0xFE, 0xC6, 0x42, 0x39};

// A bench with the Monitor window open through its key, on a board just reset; the board's
// window shown first where asked.
struct MonitorBench : BoardBench {
    explicit MonitorBench(const std::filesystem::path& folder, bool boardShown = false)
        : BoardBench(folder) {
        window->show();
        if (boardShown)
            board.showBeside(*window);
        key(*window, QKeySequence(Qt::CTRL | Qt::Key_M));
        monitor = window->monitorWindow();
        reset();
    }
    // What a key does: the window's shortcut for it.
    static void key(QWidget& w, const QKeySequence& k) {
        for (QShortcut* s : w.findChildren<QShortcut*>())
            if (s->key() == k && s->isEnabled())
                emit s->activated();
    }
    void key(const QKeySequence& k) { key(*monitor, k); }
    template <typename T>
    T* find(const char* name) {
        return monitor->findChild<T*>(QString::fromLatin1(name));
    }
    QString field(const char* reg) {
        return find<QLineEdit>((std::string("MonitorRegister") + reg).c_str())->text();
    }
    void setField(const char* reg, const QString& value) {
        auto* f = find<QLineEdit>((std::string("MonitorRegister") + reg).c_str());
        f->setText(value);
        emit f->editingFinished();
    }
    int listingRow(std::uint16_t address) {
        auto* listing = find<QTableWidget>("MonitorListing");
        const QString text = QStringLiteral("$%1").arg(address, 4, 16, QLatin1Char('0')).toUpper();
        for (int row = 0; row < listing->rowCount(); ++row)
            if (listing->item(row, 1) && listing->item(row, 1)->text().startsWith(text))
                return row;
        return -1;
    }
    // Go, and Stop should the program not stop by itself within limit: a test that fails rather
    // than one that never ends.
    void go(Duration limit = std::chrono::seconds(2)) {
        const auto fallback = clock.schedule(clock.now() + limit,
                                             [this] { key(QKeySequence(Qt::SHIFT | Qt::Key_F5)); });
        key(QKeySequence(Qt::Key_F5));
        clock.cancel(fallback);
    }
    // Start, then steps inside the session; the window's closing ends it.
    void inSession(const std::function<void()>& steps) {
        QTimer::singleShot(0, monitor, [this, steps] {
            steps();
            monitor->close();
        });
        find<QPushButton>("MonitorStart")->click();
    }

    MonitorWindow* monitor = nullptr;
};

struct Expected {
    const char* reg;
    const char* value;
};

void expectFields(MonitorBench& b, std::initializer_list<Expected> fields, const char* where) {
    for (const Expected& e : fields)
        EXPECT_EQ(b.field(e.reg), QString::fromLatin1(e.value)) << where << " " << e.reg;
}

// On the parts whose RAM holds the program beside the monitor.
TEST(MonitorWindow, StopsStepsAndChangesAProgramOfOurs) {
    for (const char* part : {"MC68HC11E9", "MC68HC11F1"}) {
        SCOPED_TRACE(part);
        testing::ScratchDir dir;
        dir.write("prog.s19", testing::srecords(0x0100, kProgram));
        MonitorBench b(dir.path);
        ASSERT_TRUE(b.monitor && b.monitor->isVisible());
        b.chooseChip(part);
        b.reset();
        ASSERT_EQ(std::string(b.hc11().chip().name), part);
        b.window->setFileChooser([&] { return (dir.path / "prog.s19").string(); });
        // The part the board has, without asking.
        EXPECT_EQ(b.find<QComboBox>("MonitorChip")->currentText().toStdString(),
                  std::string(b.hc11().chip().name));
        b.inSession([&] {
            b.find<QPushButton>("MonitorLoad")->click();
            ASSERT_TRUE(b.monitor->session());
            EXPECT_EQ(b.monitor->session()->read(0x0100, kProgram.size()), kProgram);

            // The PC changed in its field, the breakpoint set on the BNE with F9.
            b.setField("PC", "100");
            EXPECT_EQ(b.monitor->session()->registers().pc, 0x0100);
            auto* listing = b.find<QTableWidget>("MonitorListing");
            const int bne = b.listingRow(0x0107);
            ASSERT_GE(bne, 0);
            listing->setCurrentCell(bne, 0);
            b.key(QKeySequence(Qt::Key_F9));
            EXPECT_EQ(b.monitor->session()->breakpoints(), std::vector<std::uint16_t>{0x0107});
            EXPECT_EQ(listing->item(bne, 0)->data(Qt::AccessibleTextRole).toString(), "breakpoint");

            // Hit with A = 2 after the first DECA; CLI has taken I from the reset's S X I.
            b.go();
            expectFields(b,
                         {{"A", "02"},
                          {"B", "00"},
                          {"X", "0000"},
                          {"Y", "0000"},
                          {"SP", "01FF"},
                          {"PC", "0107"},
                          {"CCR", "C0"}},
                         "at the breakpoint");
            EXPECT_TRUE(
                b.find<QLabel>("MonitorFlags")->text().contains("stop disabled, XIRQ masked"))
                << b.find<QLabel>("MonitorFlags")->text().toStdString();

            // Cleared by a click in the margin; then the branch taken twice, and not taken at 0.
            emit listing->cellClicked(b.listingRow(0x0107), 0);
            EXPECT_TRUE(b.monitor->session()->breakpoints().empty());
            const std::vector<std::pair<const char*, const char*>> loop = {
                {"0106", "02"}, {"0107", "01"}, {"0106", "01"}, {"0107", "00"}, {"0109", "00"}};
            for (const auto& [pc, a] : loop) {
                b.key(QKeySequence(Qt::Key_F10));
                expectFields(b, {{"PC", pc}, {"A", a}}, "step");
            }

            // B changed, then JSR, LDAB, RTS.
            b.setField("B", "10");
            EXPECT_EQ(b.monitor->session()->registers().b, 0x10);
            const std::vector<std::vector<Expected>> calls = {
                {{"PC", "011B"}, {"SP", "01FD"}, {"B", "10"}},
                {{"PC", "011D"}, {"B", "42"}},
                {{"PC", "010C"}, {"SP", "01FF"}},
            };
            for (const auto& fields : calls) {
                b.key(QKeySequence(Qt::Key_F10));
                for (const Expected& e : fields)
                    EXPECT_EQ(b.field(e.reg), e.value) << "after the step to " << fields[0].value;
            }

            // A byte typed over in the memory view goes to the HC11 and reads back.
            auto* address = b.find<QLineEdit>("MonitorAddress");
            address->setText("$180");
            emit address->returnPressed();
            auto* memory = b.find<QTableWidget>("MonitorMemory");
            memory->item(0, 1)->setText("a5");
            EXPECT_EQ(b.monitor->session()->read(0x0181, 1), Bytes{0xA5});
            EXPECT_EQ(memory->item(0, 1)->text(), "A5");
            // The monitor's own RAM is refused: a box, the byte as it was, the session going on.
            address->setText("10");
            emit address->returnPressed();
            const QString before = memory->item(0, 0)->text();
            memory->item(0, 0)->setText(QString::number(before.toUInt(nullptr, 16) ^ 0xFF, 16));
            ASSERT_EQ(b.messages.size(), 1u);
            EXPECT_EQ(b.messages[0].icon, Icon::Exclamation);
            EXPECT_EQ(memory->item(0, 0)->text(), before);
            b.messages.clear();

            // Run on to the spin, its K shown, and stopped from the PC. A byte typed meanwhile
            // is not written, and its cell shows again what was read.
            address->setText("$180");
            emit address->returnPressed();
            b.clock.schedule(b.clock.now() + std::chrono::milliseconds(100), [&] {
                memory->item(0, 1)->setText("77");
                EXPECT_EQ(memory->item(0, 1)->text(), "A5");
            });
            b.clock.schedule(b.clock.now() + std::chrono::milliseconds(300),
                             [&] { b.key(QKeySequence(Qt::SHIFT | Qt::Key_F5)); });
            b.go();
            EXPECT_EQ(memory->item(0, 1)->text(), "A5");
            EXPECT_EQ(b.monitor->session()->read(0x0181, 1), Bytes{0xA5});
            EXPECT_EQ(b.field("PC"), "0119");
            EXPECT_EQ(b.find<QPlainTextEdit>("MonitorOutput")->toPlainText(), "K");
            EXPECT_TRUE(b.find<QPushButton>("MonitorGo")->isEnabled());
            // tools/screenshots takes the README's picture here, a breakpoint in the margin.
            if (const char* shot = std::getenv("KESTRO_MONITOR_SCREENSHOT");
                shot && part == std::string("MC68HC11E9")) {
                listing->setCurrentCell(bne, 0);
                b.key(QKeySequence(Qt::Key_F9));
                b.monitor->grab().save(QString::fromLocal8Bit(shot));
            }
        });
        EXPECT_EQ(b.messages.size(), 0u) << (b.messages.empty() ? "" : b.messages[0].text);
        EXPECT_FALSE(b.monitor->session());
        EXPECT_TRUE(b.window->isEnabled());
    }
}

// The program's names, taken from its ELF file through Symbols: in the listing, in both
// address fields, and a breakpoint set on a function by its name stops the program there. A
// file that gives no names is refused with one box, the session and the names before it kept.
TEST(MonitorWindow, TakesAProgramsNamesFromItsElfFile) {
#ifndef KESTRO_USER_PROGRAMS
    GTEST_SKIP() << "the HC11 toolchain's files were not built";
#else
    // main: ldaa #5; loop: deca; bne loop; jsr print; ldab PORTA; bra main
    // print: ldx #table; rts    (in the E9's EEPROM, from $B600)
    const std::filesystem::path programs = KESTRO_USER_PROGRAMS;
    const std::string elf = (programs / "named_program.elf").string();
    testing::ScratchDir dir;
    const std::string notElf = dir.write("named.s19", testing::srecords(0xB600, {0x01})).string();
    MonitorBench b(dir.path);
    b.chooseChip("MC68HC11E9");
    b.reset();
    std::string chosen = elf;
    b.window->setFileChooser([&] { return chosen; });
    b.inSession([&] {
        b.find<QPushButton>("MonitorLoad")->click();
        b.find<QPushButton>("MonitorSymbols")->click();
        ASSERT_TRUE(b.messages.empty()) << b.messages[0].text;
        b.setField("SP", "1FF");
        b.setField("PC", "B600");
        auto* listing = b.find<QTableWidget>("MonitorListing");
        const std::vector<std::pair<int, const char*>> shown = {
            {0, "main"}, {1, "loop"}, {2, "BNE loop"}, {3, "JSR print"}, {4, "PORTA"}};
        for (const auto& [row, name] : shown) {
            const QString line =
                listing->item(row, 1)->text() + " " + listing->item(row, 3)->text();
            EXPECT_TRUE(line.contains(name)) << line.toStdString();
        }

        // Names in the memory view's address; a name two files define is no address.
        auto* address = b.find<QLineEdit>("MonitorAddress");
        const std::vector<std::pair<const char*, const char*>> addresses = {
            {"table", "$B61A"}, {"main+3", "$B603"}, {"print+$1", "$B60E"}};
        for (const auto& [typed, at] : addresses) {
            address->setText(typed);
            emit address->returnPressed();
            EXPECT_EQ(address->text(), at) << typed;
        }
        EXPECT_EQ(b.find<QTableWidget>("MonitorMemory")->item(0, 0)->text(), "B6");
        address->setText("loop");
        emit address->returnPressed();
        ASSERT_EQ(b.messages.size(), 1u);
        EXPECT_EQ(b.messages[0].text, "Not an address: loop.");
        b.messages.clear();

        // The listing from a name, a breakpoint on its first row, and Go stops there.
        auto* from = b.find<QLineEdit>("MonitorCodeAddress");
        from->setText("print");
        emit from->returnPressed();
        EXPECT_TRUE(listing->item(0, 1)->text().startsWith("$B60D <print>"))
            << listing->item(0, 1)->text().toStdString();
        listing->setCurrentCell(0, 0);
        b.key(QKeySequence(Qt::Key_F9));
        EXPECT_EQ(b.monitor->session()->breakpoints(), std::vector<std::uint16_t>{0xB60D});
        b.go();
        EXPECT_EQ(b.field("PC"), "B60D");
        EXPECT_EQ(b.field("A"), "00");
        EXPECT_TRUE(b.find<QLabel>("MonitorState")->text().startsWith("Stopped at a breakpoint"));
        EXPECT_EQ(b.find<QLineEdit>("MonitorRegisterPC")->accessibleDescription(), "print");
        // A PC where the program has no name is described as nothing, not as the last name.
        b.setField("PC", "100");
        EXPECT_EQ(b.find<QLineEdit>("MonitorRegisterPC")->accessibleDescription(), "");
        b.setField("PC", "B600");

        // Not an ELF file, and no file: one box each, and the session goes on with its names.
        for (const std::string& bad : {notElf, (dir.path / "missing.elf").string()}) {
            SCOPED_TRACE(bad);
            chosen = bad;
            b.find<QPushButton>("MonitorSymbols")->click();
            ASSERT_EQ(b.messages.size(), 1u);
            EXPECT_EQ(b.messages[0].icon, Icon::Exclamation);
            EXPECT_NE(b.messages[0].text.find(bad), std::string::npos) << b.messages[0].text;
            b.messages.clear();
            ASSERT_TRUE(b.monitor->session());
            address->setText("main");
            emit address->returnPressed();
            EXPECT_EQ(address->text(), "$B600");
        }
        EXPECT_TRUE(b.find<QPushButton>("MonitorGo")->isEnabled());
    });
    EXPECT_TRUE(b.messages.empty()) << b.messages[0].text;
#endif
}

// A register or a byte typed into and not yet left is written before Go or Step runs, as when
// a click on the button takes the focus from it.
TEST(MonitorWindow, GoAndStepTakeWhatIsStillBeingTyped) {
    const std::vector<std::tuple<const char*, QKeySequence, const char*>> cases = {
        {"Step", QKeySequence(Qt::Key_F10), "0103"},
        {"Go", QKeySequence(Qt::Key_F5), "0107"},
    };
    for (const auto& [what, key, pc] : cases) {
        SCOPED_TRACE(what);
        testing::ScratchDir dir;
        MonitorBench b(dir.path);
        b.inSession([&] {
            b.monitor->session()->write(0x0100, kProgram);
            b.monitor->session()->setBreakpoint(0x0107);
            auto* field = b.find<QLineEdit>("MonitorRegisterPC");
            field->selectAll();
            QTest::keyClicks(field, "100");
            // And a byte typed over in the memory view, its cell's editor still open.
            auto* address = b.find<QLineEdit>("MonitorAddress");
            address->setText("$180");
            emit address->returnPressed();
            auto* memory = b.find<QTableWidget>("MonitorMemory");
            memory->setCurrentCell(0, 1);
            QTest::keyClicks(memory->viewport(), "a");  // opens the cell's editor
            QWidget* editor = memory->indexWidget(memory->currentIndex());
            ASSERT_TRUE(editor);
            QTest::keyClicks(editor, "5");
            if (key == QKeySequence(Qt::Key_F10))
                b.key(key);
            else
                b.go();
            EXPECT_EQ(b.field("PC"), pc);
            EXPECT_EQ(b.monitor->session()->read(0x0181, 1), Bytes{0xA5});
            EXPECT_EQ(memory->item(0, 1)->text(), "A5");
        });
        EXPECT_TRUE(b.messages.empty()) << b.messages[0].text << " " << b.messages[0].detail;
    }
}

// A reset ends the session whether the program is stopped or running: a box says so, and only
// Start is left to press.
TEST(MonitorWindow, AResetEndsTheSession) {
    const std::vector<std::pair<const char*, bool>> cases = {{"stopped", false}, {"running", true}};
    for (const auto& [what, running] : cases) {
        SCOPED_TRACE(what);
        testing::ScratchDir dir;
        MonitorBench b(dir.path);
        // What the user sees as the box tells them.
        QString stateAtBox;
        bool goAtBox = true;
        b.onMessage = [&](const Message&) {
            stateAtBox = b.find<QLabel>("MonitorState")->text();
            goAtBox = b.find<QPushButton>("MonitorGo")->isEnabled();
        };
        b.inSession([&] {
            // A program that spins where it starts.
            b.monitor->session()->write(0x0100, Bytes{0x20, 0xFE});
            b.setField("PC", "100");
            if (running) {
                b.clock.schedule(b.clock.now() + std::chrono::milliseconds(300),
                                 [&] { b.hc11().resetBootstrap(); });
                b.go();
            } else {
                b.reset();
            }
        });
        ASSERT_GE(b.messages.size(), 1u);
        EXPECT_NE(b.messages[0].text.find("reset"), std::string::npos) << b.messages[0].text;
        EXPECT_EQ(b.messages[0].icon, Icon::Critical);
        EXPECT_FALSE(b.monitor->session());
        EXPECT_TRUE(stateAtBox.startsWith("The session has ended")) << stateAtBox.toStdString();
        EXPECT_FALSE(goAtBox);
        for (const char* name : {"MonitorGo", "MonitorStep", "MonitorStop", "MonitorLoad"})
            EXPECT_FALSE(b.find<QPushButton>(name)->isEnabled()) << name;
        EXPECT_TRUE(b.find<QPushButton>("MonitorStart")->isEnabled());
        EXPECT_TRUE(b.window->isEnabled());
    }
}

// On the main window's screen and within it, beside the main window and clear of the board's
// where the screen has room for that; at its least size every view whole, or the screen too
// small for it and the views a scroll away. Run on several screens and scale factors.
TEST(MonitorWindow, OpensBesideTheMainWindowWithinItsScreen) {
    for (const bool boardShown : {false, true}) {
        SCOPED_TRACE(boardShown ? "with the board's window" : "alone");
        testing::ScratchDir dir;
        MonitorBench b(dir.path, boardShown);
        const QRect area = b.window->screen()->availableGeometry();
        const QRect frame = b.monitor->frameGeometry();
        EXPECT_EQ(b.monitor->screen(), b.window->screen());
        EXPECT_TRUE(area.contains(frame))
            << frame.x() << "," << frame.y() << " " << frame.width() << "x" << frame.height();
        // Room with a margin to spare beside a window, for the Monitor window at its least.
        const int needs = b.monitor->minimumWidth() + 40;
        const auto roomBeside = [&](const QRect& r) {
            return std::max(area.right() - r.right(), r.left() - area.left()) >= needs;
        };
        const QRect main = b.window->frameGeometry();
        if (!boardShown && roomBeside(main)) {
            EXPECT_FALSE(frame.intersects(main));
        }
        const QRect board = b.board.window()->frameGeometry();
        if (boardShown && main.width() + board.width() + needs <= area.width()) {
            EXPECT_FALSE(frame.intersects(board));
        }

        b.inSession([&] {
            b.monitor->resize(b.monitor->minimumSize());
            QCoreApplication::processEvents();
            auto* scroll = b.monitor->findChild<QScrollArea*>();
            ASSERT_TRUE(scroll);
            const QWidget* views = scroll->widget();
            EXPECT_GE(views->width(), views->minimumSizeHint().width());
            EXPECT_GE(views->height(), views->minimumSizeHint().height());
            if (scroll->horizontalScrollBar()->maximum() > 0 ||
                scroll->verticalScrollBar()->maximum() > 0)
                return;  // a screen smaller than the window's least size
            // A whole row of memory, a few rows of each table, each button's text.
            auto* memory = b.find<QTableWidget>("MonitorMemory");
            EXPECT_EQ(memory->horizontalScrollBar()->maximum(), 0);
            for (auto* table : {memory, b.find<QTableWidget>("MonitorListing")})
                EXPECT_GE(table->rowAt(table->viewport()->height() - 1), 3)
                    << table->objectName().toStdString();
            for (QPushButton* button : b.monitor->findChildren<QPushButton*>())
                EXPECT_GE(button->width(), button->sizeHint().width())
                    << button->objectName().toStdString();
        });
    }
}

// The program started with --monitor has the Monitor window open (placed as its own test
// checks); without it, only the main and board windows.
TEST(MonitorWindow, OpensAtStartWithItsOption) {
    for (const bool asked : {false, true}) {
        SCOPED_TRACE(asked ? "--monitor" : "without --monitor");
        testing::ScratchDir dir;
        BoardBench b(dir.path);
        const StartOptions options;
        QCommandLineParser parser;
        options.describe(parser);
        QStringList arguments = {"kestro", "--virtual-board"};
        if (asked)
            arguments << "--monitor";
        ASSERT_TRUE(parser.parse(arguments)) << parser.errorText().toStdString();
        showStartWindows(parser, options, *b.window, &b.board);
        EXPECT_TRUE(b.window->isVisible());
        EXPECT_TRUE(b.board.window()->isVisible());
        MonitorWindow* monitor = b.window->monitorWindow();
        EXPECT_EQ(monitor != nullptr && monitor->isVisible(), asked);
    }
}

// Tab reaches every control, each has a name a screen reader says, and no two controls share
// an underlined letter.
TEST(MonitorWindow, EveryControlIsReachableAndNamed) {
    testing::ScratchDir dir;
    MonitorBench b(dir.path);
    // Enabled as in a session, so that Tab stops on each.
    for (QWidget* w : b.monitor->findChildren<QWidget*>())
        w->setEnabled(true);
    std::set<QWidget*> reached;
    QWidget* w = b.find<QComboBox>("MonitorChip");
    for (int i = 0; i < 100 && reached.insert(w).second; ++i)
        w = w->nextInFocusChain();
    std::set<QString> letters;
    for (QWidget* c : b.monitor->findChildren<QWidget*>()) {
        if (c->focusPolicy() & Qt::TabFocus && c->isVisibleTo(b.monitor) &&
            !c->inherits("QScrollBar") && c->window() == b.monitor) {
            SCOPED_TRACE(c->objectName().toStdString());
            EXPECT_TRUE(reached.count(c));
            EXPECT_FALSE(
                QAccessible::queryAccessibleInterface(c)->text(QAccessible::Name).isEmpty());
        }
        QString text;
        if (auto* l = qobject_cast<QLabel*>(c))
            text = l->text();
        else if (auto* p = qobject_cast<QPushButton*>(c))
            text = p->text();
        if (const qsizetype at = text.indexOf(QLatin1Char('&')); at >= 0 && at + 1 < text.size()) {
            EXPECT_TRUE(letters.insert(text.mid(at + 1, 1).toUpper()).second)
                << "&" << text.mid(at + 1, 1).toStdString() << " twice";
        }
    }
}

}  // namespace
}  // namespace kestro
