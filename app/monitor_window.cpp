// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <fstream>
#include <iterator>

#include "button_keys.h"
#include "monitor/commands.h"
#include "monitor/instruction.h"
#include "monitor/session.h"
#include "window_placement.h"

namespace kestro {

namespace {

using ops::monitor::Monitor;
using ops::monitor::Registers;
using ops::monitor::Stop;
using ops::monitor::StopCause;

constexpr const char* kMonitorJob = "Monitor";
constexpr const char* kResetEnds = "The HC11 was reset: the monitor session has ended.";

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

QString hex(unsigned value, int digits) {
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

// The registers' fields, in the order of the monitor's register list.
struct RegisterField {
    const char* label;  // with its mnemonic
    const char* name;   // as a screen reader says it
};
constexpr std::array<RegisterField, ops::monitor::kRegisterNames.size()> kRegisterFields = {{
    {"&A", "Accumulator A"},
    {"&B", "Accumulator B"},
    {"&X", "Index register X"},
    {"&Y", "Index register Y"},
    {"S&P", "Stack pointer"},
    {"P&C", "Program counter"},
    {"CC&R", "Condition codes"},
}};

// How many hex digits the register at index takes.
int digitsOf(std::size_t index) {
    return ops::monitor::kRegisterNames[index].wide ? 4 : 2;
}

// The CCR's bits by name, bit 7 first (M68HC11 Reference Manual, 6.2.6: S X H I N Z V C).
constexpr std::array<const char*, 8> kFlagNames = {"stop disabled", "XIRQ masked", "half carry",
                                                   "IRQ masked",    "negative",    "zero",
                                                   "overflow",      "carry"};

QString flagsText(std::uint8_t ccr) {
    QStringList set;
    for (int bit = 7; bit >= 0; --bit)
        if ((ccr >> bit) & 1)
            set << QString::fromLatin1(kFlagNames[7 - bit]);
    return qs(ops::monitor::flagLetters(ccr)) + QStringLiteral("  ") +
           (set.isEmpty() ? QStringLiteral("none set") : set.join(QStringLiteral(", ")));
}

QString stopText(const Stop& s) {
    switch (s.cause) {
        case StopCause::Breakpoint:
            return QStringLiteral("Stopped at a breakpoint.");
        case StopCause::Step:
            return QStringLiteral("Stepped.");
        case StopCause::Stopped:
            return QStringLiteral("Stopped.");
        case StopCause::Swi:
            return QStringLiteral("Stopped at an SWI of the program's own.");
        case StopCause::IllegalOpcode:
            return QStringLiteral("Stopped at an illegal opcode.");
    }
    return {};
}

QString stopLine(const Stop& s) {
    return stopText(s) + QStringLiteral(" PC=$") + hex(s.registers.pc, 4);
}

// The table's item at a place, made where there is none: a cell is filled again in place, as
// its own edit may be what asks for it.
QTableWidgetItem* cell(QTableWidget* table, int row, int column) {
    QTableWidgetItem* item = table->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        table->setItem(row, column, item);
    }
    return item;
}

QLabel* buddyLabel(const QString& text, QWidget* buddy) {
    auto* label = new QLabel(text);
    label->setBuddy(buddy);
    return label;
}

QPushButton* button(const char* objectName, const QString& text, const QString& description) {
    auto* b = new QPushButton(text);
    b->setObjectName(QString::fromLatin1(objectName));
    b->setAccessibleDescription(description);
    b->setToolTip(description);
    return b;
}

}  // namespace

MonitorWindow::MonitorWindow(LinkState& link, JobRunner runJob, Teller tell, Chooser choose,
                             QWidget* parent)
    : QWidget(parent),
      link_(link),
      runJob_(std::move(runJob)),
      tell_(std::move(tell)),
      choose_(std::move(choose)) {
    setObjectName(QStringLiteral("MonitorWindow"));
    setWindowFlags(Qt::Window);
    setWindowTitle(QStringLiteral("Kestro Monitor"));
    setAccessibleName(QStringLiteral("Monitor"));
    widgets::enterPressesButtons(this);

    // The session's controls, in their keyboard order.
    chip_ = new QComboBox;
    chip_->setObjectName(QStringLiteral("MonitorChip"));
    chip_->setAccessibleName(QStringLiteral("Part on the board"));
    for (const sim::Variant& v : sim::variants())
        chip_->addItem(QString::fromLatin1(v.name.data(), static_cast<qsizetype>(v.name.size())));
    chip_->setCurrentIndex(-1);
    start_ =
        button("MonitorStart", QStringLiteral("&Start"),
               QStringLiteral("Loads the monitor into the HC11 just reset and opens the session."));
    end_ = button("MonitorEnd", QStringLiteral("&End"),
                  QStringLiteral("Ends the session; the program stays stopped where it is."));
    load_ = button(
        "MonitorLoad", QStringLiteral("&Load..."),
        QStringLiteral("Writes an S-record, Intel HEX or ELF file to the addresses it names."));
    symbolsButton_ =
        button("MonitorSymbols", QStringLiteral("Sy&mbols..."),
               QStringLiteral("Takes the names of addresses from the program's ELF file."));
    go_ = button("MonitorGo", QStringLiteral("&Go"),
                 QStringLiteral("Runs the program from the PC until a breakpoint or Stop (F5)."));
    step_ = button("MonitorStep", QStringLiteral("S&tep"),
                   QStringLiteral("Runs the one instruction at the PC (F10)."));
    stop_ = button("MonitorStop", QStringLiteral("St&op"),
                   QStringLiteral("Stops the running program (Shift+F5)."));
    stateLabel_ = new QLabel;
    stateLabel_->setObjectName(QStringLiteral("MonitorState"));
    stateLabel_->setWordWrap(true);

    auto* session = new QHBoxLayout;
    session->addWidget(buddyLabel(QStringLiteral("C&hip:"), chip_));
    session->addWidget(chip_);
    for (QPushButton* b : {start_, end_, load_, symbolsButton_})
        session->addWidget(b);
    session->addStretch(1);
    auto* run = new QHBoxLayout;
    for (QPushButton* b : {go_, step_, stop_})
        run->addWidget(b);
    run->addWidget(stateLabel_, 1);

    auto* registerBox = new QGroupBox(QStringLiteral("Registers"));
    auto* registerGrid = new QGridLayout(registerBox);
    for (std::size_t i = 0; i < kRegisterFields.size(); ++i) {
        auto* field = new QLineEdit;
        const RegisterField& r = kRegisterFields[i];
        field->setObjectName(QStringLiteral("MonitorRegister") +
                             QString::fromLatin1(r.label).remove(QLatin1Char('&')));
        field->setAccessibleName(QString::fromLatin1(r.name));
        field->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("[0-9A-Fa-f]{1,%1}").arg(digitsOf(i))), field));
        field->setMaxLength(digitsOf(i));
        field->setFixedWidth(field->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 6 + 8);
        connect(field, &QLineEdit::editingFinished, this,
                [this, i] { registerEdited(static_cast<int>(i)); });
        registers_[i] = field;
        const int column = static_cast<int>(i) * 2;
        registerGrid->addWidget(buddyLabel(QString::fromLatin1(r.label), field), 0, column);
        registerGrid->addWidget(field, 0, column + 1);
    }
    flags_ = new QLabel;
    flags_->setObjectName(QStringLiteral("MonitorFlags"));
    flags_->setAccessibleName(QStringLiteral("Condition code flags"));
    flags_->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    registerGrid->addWidget(flags_, 1, 0, 1, static_cast<int>(kRegisterFields.size()) * 2);

    address_ = new QLineEdit;
    address_->setObjectName(QStringLiteral("MonitorAddress"));
    address_->setAccessibleName(QStringLiteral("Memory address"));
    address_->setAccessibleDescription(
        QStringLiteral("Hex ($B600, B600, 0xB600) or, with symbols, a name or name+offset."));
    connect(address_, &QLineEdit::returnPressed, this, &MonitorWindow::memoryAddressEntered);
    codeAddress_ = new QLineEdit;
    codeAddress_->setObjectName(QStringLiteral("MonitorCodeAddress"));
    codeAddress_->setAccessibleName(QStringLiteral("Disassembly address"));
    codeAddress_->setAccessibleDescription(
        QStringLiteral("Where the disassembly starts: hex or, with symbols, a name or "
                       "name+offset. Empty: at the PC."));
    connect(codeAddress_, &QLineEdit::returnPressed, this, &MonitorWindow::codeAddressEntered);

    memory_ = new QTableWidget(kMemoryRows, kBytesPerRow + 1);
    memory_->setObjectName(QStringLiteral("MonitorMemory"));
    memory_->setAccessibleName(QStringLiteral("Memory"));
    memory_->setAccessibleDescription(
        QStringLiteral("Each row: its address, sixteen bytes in hex and as text. Type a byte over "
                       "one to write it."));
    QStringList columns;
    for (int c = 0; c < kBytesPerRow; ++c)
        columns << hex(static_cast<unsigned>(c), 1);
    columns << QStringLiteral("ASCII");
    memory_->setHorizontalHeaderLabels(columns);
    memory_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    memory_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                             QAbstractItemView::AnyKeyPressed);
    memory_->setTabKeyNavigation(false);
    connect(memory_, &QTableWidget::cellChanged, this, &MonitorWindow::memoryEdited);

    listing_ = new QTableWidget(kListingRows, 4);
    listing_->setObjectName(QStringLiteral("MonitorListing"));
    listing_->setAccessibleName(QStringLiteral("Disassembly"));
    listing_->setAccessibleDescription(
        QStringLiteral("The code from the PC on. F9, or a click in the margin, sets or clears a "
                       "breakpoint on the instruction."));
    listing_->setHorizontalHeaderLabels({QStringLiteral("Break"), QStringLiteral("Address"),
                                         QStringLiteral("Bytes"), QStringLiteral("Instruction")});
    listing_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    listing_->horizontalHeader()->setStretchLastSection(true);
    listing_->verticalHeader()->hide();
    // A line of text a row, as a listing and a dump read.
    for (QTableWidget* table : {memory_, listing_})
        table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    memory_->horizontalHeader()->setMinimumSectionSize(
        memory_->fontMetrics().horizontalAdvance(QStringLiteral("000")));
    listing_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listing_->setSelectionBehavior(QAbstractItemView::SelectRows);
    listing_->setSelectionMode(QAbstractItemView::SingleSelection);
    listing_->setTabKeyNavigation(false);
    connect(listing_, &QTableWidget::cellClicked, this, [this](int row, int column) {
        if (column == 0)
            toggleBreakpoint(row);
    });

    output_ = new QPlainTextEdit;
    output_->setObjectName(QStringLiteral("MonitorOutput"));
    output_->setAccessibleName(QStringLiteral("Program output"));
    output_->setReadOnly(true);
    output_->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);

    auto* memoryBox = new QVBoxLayout;
    auto* addressRow = new QHBoxLayout;
    addressRow->addWidget(buddyLabel(QStringLiteral("Memory a&ddress:"), address_));
    addressRow->addWidget(address_, 1);
    memoryBox->addLayout(addressRow);
    memoryBox->addWidget(buddyLabel(QStringLiteral("Memory &view:"), memory_));
    memoryBox->addWidget(memory_, 1);
    auto* codeBox = new QVBoxLayout;
    auto* codeRow = new QHBoxLayout;
    codeRow->addWidget(buddyLabel(QStringLiteral("Disassemble &from:"), codeAddress_));
    codeRow->addWidget(codeAddress_, 1);
    codeBox->addLayout(codeRow);
    codeBox->addWidget(buddyLabel(QStringLiteral("D&isassembly:"), listing_));
    codeBox->addWidget(listing_, 1);
    auto* views = new QHBoxLayout;
    views->addLayout(codeBox, 2);
    views->addLayout(memoryBox, 3);

    // Below the session's rows, the views scroll as one where the screen is smaller than the
    // window's least size (a large scale factor on a small screen), rather than lying off it.
    auto* content = new QWidget;
    auto* viewsBox = new QVBoxLayout(content);
    viewsBox->setContentsMargins(0, 0, 0, 0);
    viewsBox->addWidget(registerBox);
    viewsBox->addLayout(views, 3);
    viewsBox->addWidget(buddyLabel(QStringLiteral("Program o&utput:"), output_));
    viewsBox->addWidget(output_, 1);
    fitTables();
    scroll_ = new QScrollArea;
    scroll_->setWidget(content);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setFocusPolicy(Qt::NoFocus);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(session);
    outer->addLayout(run);
    outer->addWidget(scroll_, 1);
    resize(sizeHint().expandedTo(content->sizeHint()));

    const std::array<QWidget*, 19> order = {
        chip_,         start_,        end_,          load_,         symbolsButton_,
        go_,           step_,         stop_,         registers_[0], registers_[1],
        registers_[2], registers_[3], registers_[4], registers_[5], registers_[6],
        codeAddress_,  listing_,      address_,      memory_};
    for (std::size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    setTabOrder(memory_, output_);

    connect(start_, &QPushButton::clicked, this, &MonitorWindow::startClicked);
    connect(end_, &QPushButton::clicked, this, &MonitorWindow::endClicked);
    connect(load_, &QPushButton::clicked, this, &MonitorWindow::loadClicked);
    connect(symbolsButton_, &QPushButton::clicked, this, &MonitorWindow::symbolsClicked);
    connect(go_, &QPushButton::clicked, this, &MonitorWindow::goClicked);
    connect(step_, &QPushButton::clicked, this, &MonitorWindow::stepClicked);
    connect(stop_, &QPushButton::clicked, this, &MonitorWindow::stopClicked);
    const std::array<std::pair<QKeySequence, void (MonitorWindow::*)()>, 3> keys = {{
        {QKeySequence(Qt::Key_F5), &MonitorWindow::goClicked},
        {QKeySequence(Qt::Key_F10), &MonitorWindow::stepClicked},
        {QKeySequence(Qt::SHIFT | Qt::Key_F5), &MonitorWindow::stopClicked},
    }};
    for (const auto& [key, handler] : keys)
        connect(new QShortcut(key, this), &QShortcut::activated, this, handler);
    connect(new QShortcut(QKeySequence(Qt::Key_F9), this), &QShortcut::activated, this,
            [this] { toggleBreakpoint(listing_->currentRow()); });

    showState(State::Closed);
    linkChanged();
    resize(1100, 620);
}

MonitorWindow::~MonitorWindow() = default;

// ---- the session ---------------------------------------------------------------------------

void MonitorWindow::startClicked() {
    if (state_ != State::Closed)
        return;
    const sim::Variant* part = sim::variantNamed(chip_->currentText().toStdString());
    if (!part) {
        tellRefusal("Choose the part on the board first: the monitor writes by its memory map.");
        return;
    }
    stateLabel_->setText(QStringLiteral("Loading the monitor..."));
    output_->clear();
    endedText_.clear();
    closePending_ = false;
    inJob_ = true;
    const bool ran = runJob_([this, part](Target& target) {
        Frame::run(target, kMonitorJob, kMonitorJob, [this, part](Frame& f) {
            if (!f.begin())
                return;
            ops::monitor::TalkerMonitor monitor(f, *part, ops::monitor::successors);
            // What the program sends while a step or a stop waits for it is shown too.
            monitor.setOutput([this](ByteView bytes) { appendOutput(bytes); });
            session_ = &monitor;
            breaksAtStart_ = link_.breaks();
            ending_.reset();
            listingStart_ = monitor.registers().pc;
            showState(State::Stopped);
            // The session lasts while this loop runs: each control's action runs inside it,
            // on the frame's link and clock.
            QEventLoop loop;
            sessionLoop_ = &loop;
            if (!closePending_)
                loop.exec();
            sessionLoop_ = nullptr;
            session_ = nullptr;
            // Nothing may reach the session now, not even a field that the box below takes
            // the focus from.
            showState(State::Closed);
            if (ending_) {
                const LinkError e = *ending_;
                ending_.reset();
                endedText_ = QStringLiteral("The session has ended: ") + qs(e.what());
                stateLabel_->setText(endedText_);
                throw e;
            }
            f.finish();
        });
    });
    inJob_ = false;
    // However the session went, it is over; one that failed says why here as well as in its box.
    showState(State::Closed);
    if (!ran)
        tellRefusal("Another job holds the link: Start once it has ended.");
    if (!endedText_.isEmpty())
        stateLabel_->setText(endedText_);
    if (closePending_) {
        closePending_ = false;
        close();
    }
}

void MonitorWindow::fitTables() {
    // Each table as wide as a full row of it, measured on a table of its own so that the one
    // shown keeps what it holds: the memory view's address, sixteen bytes and their text in
    // wide letters; the listing's margin, address, bytes and a long instruction.
    const auto fitWidth = [](QTableWidget* table, const QStringList& sample, const QString& label) {
        QTableWidget row(1, table->columnCount());
        row.setFont(table->font());
        row.horizontalHeader()->setMinimumSectionSize(
            table->horizontalHeader()->minimumSectionSize());
        row.verticalHeader()->setVisible(table->verticalHeader()->isVisible());
        row.setVerticalHeaderItem(0, new QTableWidgetItem(label));
        for (int c = 0; c < table->columnCount(); ++c) {
            row.setHorizontalHeaderItem(c, table->horizontalHeaderItem(c)->clone());
            row.setItem(0, c, new QTableWidgetItem(sample.value(c)));
        }
        row.resizeColumnsToContents();
        row.setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
        row.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        table->setMinimumWidth(row.sizeHint().width());
    };
    QStringList bytes(kBytesPerRow, QStringLiteral("FF"));
    fitWidth(memory_, bytes << QString(kBytesPerRow, QLatin1Char('W')), QStringLiteral("$FFFF"));
    fitWidth(listing_,
             {QStringLiteral("\u25CF\u25B6"), QStringLiteral("$FFFF"),
              QStringLiteral("18 CE FF FF"), QStringLiteral("BRCLR $FF,X $FF $FFFF")},
             {});
    // A few rows of each, the rest a scroll away.
    constexpr int kRowsShown = 4;
    for (QTableWidget* table : {memory_, listing_})
        table->setMinimumHeight(table->horizontalHeader()->sizeHint().height() +
                                kRowsShown * table->verticalHeader()->defaultSectionSize() +
                                table->horizontalScrollBar()->sizeHint().height() +
                                2 * table->frameWidth());
    output_->setMinimumHeight(3 * output_->fontMetrics().lineSpacing() + 2 * output_->frameWidth());
}

void MonitorWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange && scroll_)
        fitTables();
}

void MonitorWindow::showBeside(const QWidget& main) {
    // No smaller than the views unless the screen is: the scroll bars then reach the rest.
    scroll_->setMinimumSize(scroll_->widget()->minimumSizeHint());
    const QSize least = minimumSizeHint();
    scroll_->setMinimumSize(0, 0);
    kestro::showBeside(*this, main, least);
}

void MonitorWindow::endClicked() {
    // A running program is stopped first, so that the session ends with it stopped.
    stopRequested_ = true;
    if (sessionLoop_)
        sessionLoop_->quit();
}

void MonitorWindow::closeEvent(QCloseEvent* event) {
    // Also while the monitor is still being loaded: the session then ends as soon as it opens.
    if (inJob_) {
        // The session ends first: a running program is stopped, an exchange under way ends.
        closePending_ = true;
        stopRequested_ = true;
        if (!acting_ && sessionLoop_)
            sessionLoop_->quit();
        event->ignore();
        return;
    }
    event->accept();
}

void MonitorWindow::linkChanged() {
    if (session_) {
        if (link_.breaks() != breaksAtStart_)
            ended(LinkError(kResetEnds, LinkError::Ending::EndAsFrame));
        return;
    }
    // The virtual board names its part at each reset; a real board leaves the choice to the user.
    if (const sim::Variant* v = sim::variantNamed(link_.part()))
        chip_->setCurrentText(
            QString::fromLatin1(v->name.data(), static_cast<qsizetype>(v->name.size())));
}

void MonitorWindow::ended(const LinkError& e) {
    if (!ending_)
        ending_ = e;
    stopRequested_ = true;
    if (sessionLoop_)
        sessionLoop_->quit();
}

bool MonitorWindow::act(const std::function<void(Monitor&)>& action) {
    if (!session_ || acting_ || ending_)
        return false;
    acting_ = true;
    try {
        action(*session_);
    } catch (const LinkError& e) {
        if (e.ending == LinkError::Ending::EndAsFrame)
            ended(e);
        else
            tellRefusal(e.what(), e.detail);
    }
    acting_ = false;
    if (ending_ || !session_)
        return false;
    if (closePending_ && sessionLoop_)
        sessionLoop_->quit();
    return true;
}

void MonitorWindow::tellRefusal(const std::string& text, const std::string& detail) {
    tell_({text, kAppTitle, Icon::Exclamation, detail});
}

// ---- the controls' actions -----------------------------------------------------------------

void MonitorWindow::loadClicked() {
    if (state_ != State::Stopped || acting_)
        return;
    const std::string file = choose_();
    if (file.empty() || file == kChooserCancel)
        return;
    // The commands' own load: the same checks and the same words as kestro-cli's.
    if (file.find('"') != std::string::npos) {
        tellRefusal("The monitor loads files whose path has no double quote: " + file,
                    "Move or link the file to a folder without one in its name.");
        return;
    }
    std::vector<std::string> said, errors;
    ops::monitor::Outcome outcome = ops::monitor::Outcome::Done;
    act([&](Monitor& m) {
        ops::monitor::Interpreter commands(
            m,
            {.line = [&](const std::string& s) { said.push_back(s); },
             .error = [&](const std::string& s) { errors.push_back(s); },
             .programOutput = [this](ByteView bytes) { appendOutput(bytes); },
             .stopRequested = {},
             .progress = {}},
            symbols());
        outcome = commands.run("load \"" + file + "\"");
    });
    std::string detail;
    for (std::size_t i = 1; i < errors.size(); ++i)
        detail += (i > 1 ? "\n" : "") + errors[i];
    if (outcome == ops::monitor::Outcome::Ended)
        ended(LinkError(errors.empty() ? kResetEnds : errors.front(), LinkError::Ending::EndAsFrame,
                        detail));
    else if (!errors.empty())
        tellRefusal(errors.front(), detail);
    if (!said.empty())
        stateLabel_->setText(qs(said.back()));
    if (session_ && !ending_) {
        showMemory();
        showListing();
    }
}

void MonitorWindow::symbolsClicked() {
    if (acting_ || state_ == State::Running)
        return;
    const std::string file = choose_();
    if (file.empty() || file == kChooserCancel)
        return;
    std::ifstream in(file, std::ios::binary);
    const std::string content{std::istreambuf_iterator<char>(in), {}};
    if (!in.is_open() || in.bad()) {
        tellRefusal("Cannot read the symbols' file " + file + ".");
        return;
    }
    try {
        symbols_ = ops::monitor::Symbols::fromElf(file, content);
    } catch (const LinkError& e) {
        tellRefusal(e.what(), e.detail);
        return;
    }
    stateLabel_->setText(QStringLiteral("Symbols from ") + qs(file) + QLatin1Char('.'));
    if (session_) {
        showRegisters();
        showListing();
    }
}

void MonitorWindow::takeTyping() {
    // F5 and F10 leave the focus where it is, unlike a click on the button, so what is still
    // being typed has not been written yet: it is now, before the program runs.
    for (std::size_t i = 0; i < registers_.size(); ++i)
        if (registers_[i]->isModified())
            registerEdited(static_cast<int>(i));
    // A byte still in its cell's editor: leaving the cell hands it to the table, as leaving
    // the view would.
    const QModelIndex typing = memory_->currentIndex();
    if (memory_->indexWidget(typing) != nullptr) {
        memory_->setCurrentIndex({});
        memory_->setCurrentIndex(typing);
    }
}

void MonitorWindow::goClicked() {
    if (state_ != State::Stopped || acting_ || !session_)
        return;
    takeTyping();
    if (!session_ || ending_)
        return;
    stopRequested_ = false;
    showState(State::Running);
    std::optional<Stop> stop;
    act([&](Monitor& m) {
        stop = ops::monitor::go(m, std::nullopt,
                                {.output = [this](ByteView bytes) { appendOutput(bytes); },
                                 .stopRequested = [this] { return stopRequested_; }});
    });
    if (!session_ || ending_)
        return;
    // The views are read once, by the state; the line says why it stopped.
    showState(State::Stopped);
    if (stop)
        stateLabel_->setText(stopLine(*stop));
}

void MonitorWindow::appendOutput(ByteView bytes) {
    QString text = QString::fromLatin1(reinterpret_cast<const char*>(bytes.data()),
                                       static_cast<qsizetype>(bytes.size()));
    text.remove(QLatin1Char('\r'));
    output_->moveCursor(QTextCursor::End);
    output_->insertPlainText(text);
    output_->verticalScrollBar()->setValue(output_->verticalScrollBar()->maximum());
}

void MonitorWindow::stepClicked() {
    if (state_ != State::Stopped || acting_)
        return;
    takeTyping();
    std::optional<Stop> stop;
    act([&](Monitor& m) { stop = m.step(); });
    if (stop)
        showStop(*stop);
}

void MonitorWindow::stopClicked() {
    if (state_ == State::Running)
        stopRequested_ = true;
}

void MonitorWindow::registerEdited(int index) {
    if (showing_ || state_ != State::Stopped || acting_ || !session_)
        return;
    const auto i = static_cast<std::size_t>(index);
    bool ok = false;
    const unsigned value = registers_[i]->text().toUInt(&ok, 16);
    Registers r = session_->registers();
    if (!ok || value == registerValue(r, i)) {
        showRegisters();
        return;
    }
    setRegisterValue(r, i, value);
    act([&](Monitor& m) { m.setRegisters(r); });
    if (session_ && !ending_) {
        showRegisters();
        if (i == 5)
            showListing();
    }
}

void MonitorWindow::memoryEdited(int row, int column) {
    if (showing_ || column >= kBytesPerRow)
        return;
    const QString text = memory_->item(row, column)->text().trimmed();
    bool ok = false;
    const unsigned value = text.toUInt(&ok, 16);
    const auto address = static_cast<std::uint16_t>(memoryAddress_ + row * kBytesPerRow + column);
    if (state_ != State::Stopped || acting_) {
        // Nothing is written while the program runs or a step is under way, and nothing can be
        // read then either: the cell goes back to what was read last.
        QTableWidgetItem* item = memory_->item(row, column);
        showing_ = true;
        item->setText(item->data(Qt::AccessibleTextRole).toString().right(2));
        showing_ = false;
        return;
    }
    if (ok && value <= 0xFF && !text.isEmpty())
        act([&](Monitor& m) { m.write(address, Bytes{static_cast<Byte>(value)}); });
    else
        tellRefusal("Not a byte: " + text.toStdString() + " (two hex digits, 00 to FF).");
    // What the HC11 holds now, whether or not the write went in.
    if (session_ && !ending_)
        showMemory();
}

void MonitorWindow::memoryAddressEntered() {
    const auto address =
        ops::monitor::parseAddress(address_->text().trimmed().toStdString(), symbols());
    if (!address) {
        tellRefusal("Not an address: " + address_->text().toStdString() + ".");
        return;
    }
    memoryAddress_ = *address;
    if (state_ == State::Stopped)
        showMemory();
}

void MonitorWindow::codeAddressEntered() {
    const QString text = codeAddress_->text().trimmed();
    if (text.isEmpty()) {
        listed_.clear();
        showListing();
        return;
    }
    const auto address = ops::monitor::parseAddress(text.toStdString(), symbols());
    if (!address) {
        tellRefusal("Not an address: " + text.toStdString() + ".");
        return;
    }
    if (state_ == State::Stopped)
        listFrom(*address);
}

void MonitorWindow::toggleBreakpoint(int row) {
    if (state_ != State::Stopped || row < 0 || row >= static_cast<int>(listed_.size()))
        return;
    const std::uint16_t at = listed_[static_cast<std::size_t>(row)];
    act([at](Monitor& m) {
        const auto set = m.breakpoints();
        if (std::find(set.begin(), set.end(), at) != set.end())
            m.clearBreakpoint(at);
        else
            m.setBreakpoint(at);
    });
    if (session_ && !ending_) {
        listFrom(listingStart_);
        listing_->setCurrentCell(row, 0);
    }
}

// ---- what the window shows -----------------------------------------------------------------

void MonitorWindow::showState(State state) {
    state_ = state;
    const bool stopped = state == State::Stopped;
    chip_->setEnabled(state == State::Closed);
    start_->setEnabled(state == State::Closed);
    end_->setEnabled(state != State::Closed);
    load_->setEnabled(stopped);
    symbolsButton_->setEnabled(state != State::Running);
    go_->setEnabled(stopped);
    step_->setEnabled(stopped);
    stop_->setEnabled(state == State::Running);
    for (QLineEdit* r : registers_)
        r->setEnabled(stopped);
    address_->setEnabled(stopped);
    codeAddress_->setEnabled(stopped);
    memory_->setEnabled(stopped);
    listing_->setEnabled(stopped);
    switch (state) {
        case State::Closed:
            stateLabel_->setText(
                QStringLiteral("No session: reset the HC11 in bootstrap mode, then Start."));
            break;
        case State::Stopped:
            stateLabel_->setText(QStringLiteral("Stopped."));
            showRegisters();
            showMemory();
            showListing();
            break;
        case State::Running:
            stateLabel_->setText(QStringLiteral("Running: Stop (Shift+F5) stops it."));
            break;
    }
    if (state == State::Stopped && !focusWidget())
        go_->setFocus();
}

void MonitorWindow::showStop(const Stop& stop) {
    stateLabel_->setText(stopLine(stop));
    showRegisters();
    showMemory();
    showListing();
}

void MonitorWindow::showRegisters() {
    if (!session_)
        return;
    const Registers r = session_->registers();
    showing_ = true;
    for (std::size_t i = 0; i < registers_.size(); ++i)
        registers_[i]->setText(hex(registerValue(r, i), digitsOf(i)));
    showing_ = false;
    const QString flags = flagsText(r.ccr);
    flags_->setText(QStringLiteral("CCR flags: ") + flags);
    registers_[6]->setAccessibleDescription(flags);
    // The PC's name, or none where it has moved to an address without one.
    const auto* s = symbols();
    registers_[5]->setAccessibleDescription(s != nullptr ? qs(s->nameFor(r.pc)) : QString());
}

void MonitorWindow::showMemory() {
    if (!session_ || acting_)
        return;
    const std::size_t length =
        std::min<std::size_t>(kMemoryRows * kBytesPerRow, 0x10000u - memoryAddress_);
    Bytes bytes;
    if (!act([&](Monitor& m) { bytes = m.read(memoryAddress_, length); }))
        return;
    showing_ = true;
    address_->setText(QLatin1Char('$') + hex(memoryAddress_, 4));
    for (int row = 0; row < kMemoryRows; ++row) {
        const std::size_t from = static_cast<std::size_t>(row) * kBytesPerRow;
        const auto rowAddress = static_cast<unsigned>(memoryAddress_ + from);
        memory_->setVerticalHeaderItem(
            row, new QTableWidgetItem(from < length ? QLatin1Char('$') + hex(rowAddress, 4)
                                                    : QString()));
        QString ascii;
        for (int c = 0; c < kBytesPerRow; ++c) {
            const std::size_t at = from + static_cast<std::size_t>(c);
            QTableWidgetItem* item = cell(memory_, row, c);
            const bool shown = at < bytes.size();
            item->setText(shown ? hex(bytes[at], 2) : QString());
            item->setFlags(shown ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable
                                 : Qt::NoItemFlags);
            item->setData(Qt::AccessibleTextRole,
                          shown ? QLatin1Char('$') + hex(rowAddress + static_cast<unsigned>(c), 4) +
                                      QStringLiteral(": ") + hex(bytes[at], 2)
                                : QString());
            if (shown)
                ascii +=
                    bytes[at] >= 0x20 && bytes[at] < 0x7F ? QChar(bytes[at]) : QLatin1Char('.');
        }
        QTableWidgetItem* text = cell(memory_, row, kBytesPerRow);
        text->setText(ascii);
        text->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    }
    showing_ = false;
}

void MonitorWindow::showListing() {
    if (!session_ || acting_)
        return;
    const std::uint16_t pc = session_->registers().pc;
    // The listing keeps its place while the PC moves within it, so that a step reads as the
    // arrow moving down; a PC outside it, or near its end, starts it afresh.
    const auto at = std::find(listed_.begin(), listed_.end(), pc);
    if (at == listed_.end() || at - listed_.begin() > kListingRows - 4) {
        codeAddress_->clear();
        listFrom(pc);
    } else {
        listFrom(listingStart_);
    }
}

void MonitorWindow::listFrom(std::uint16_t start) {
    if (!session_ || acting_)
        return;
    listingStart_ = start;
    const std::uint16_t pc = session_->registers().pc;
    // Five bytes hold the longest instruction.
    const std::size_t length = std::min<std::size_t>(kListingRows * 5, 0x10000u - listingStart_);
    Bytes code;
    std::vector<std::uint16_t> breakpoints;
    if (!act([&](Monitor& m) {
            code = m.read(listingStart_, length);
            breakpoints = m.breakpoints();
        }))
        return;
    listed_.clear();
    std::size_t offset = 0;
    for (int row = 0; row < kListingRows; ++row) {
        if (offset >= code.size()) {
            for (int c = 0; c < 4; ++c)
                listing_->setItem(row, c, new QTableWidgetItem);
            continue;
        }
        const auto address = static_cast<std::uint16_t>(listingStart_ + offset);
        const ops::monitor::Instruction i =
            ops::monitor::decode(ByteView(code).subspan(offset), address, symbols());
        listed_.push_back(address);
        const bool isBreak =
            std::find(breakpoints.begin(), breakpoints.end(), address) != breakpoints.end();
        const bool isPc = address == pc;
        auto* margin =
            new QTableWidgetItem(QString(isBreak ? QStringLiteral("\u25CF") : QString()) +
                                 (isPc ? QStringLiteral("\u25B6") : QString()));
        QStringList said;
        if (isBreak)
            said << QStringLiteral("breakpoint");
        if (isPc)
            said << QStringLiteral("next instruction");
        margin->setData(Qt::AccessibleTextRole, said.isEmpty() ? QStringLiteral("no breakpoint")
                                                               : said.join(QStringLiteral(", ")));
        listing_->setItem(row, 0, margin);
        QString where = QLatin1Char('$') + hex(address, 4);
        if (const auto* s = symbols())
            if (const std::string name = s->nameFor(address); !name.empty())
                where += QStringLiteral(" <") + qs(name) + QLatin1Char('>');
        listing_->setItem(row, 1, new QTableWidgetItem(where));
        QStringList bytes;
        for (Byte b : i.bytes)
            bytes << hex(b, 2);
        listing_->setItem(row, 2, new QTableWidgetItem(bytes.join(QLatin1Char(' '))));
        listing_->setItem(row, 3, new QTableWidgetItem(qs(i.text)));
        offset += std::max<std::size_t>(i.length, 1);
    }
}

}  // namespace kestro
