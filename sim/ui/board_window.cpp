// SPDX-License-Identifier: GPL-3.0-or-later
#include "board_window.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "accessible_frame.h"
#include "announce.h"
#include "button_keys.h"
#include "combo_selection.h"
#include "hex_text.h"
#include "ports_view.h"
#include "serial_view.h"

namespace kestro::sim {

namespace {

// The memories shown, one tab each, in this order.
enum Tab {
    TabInternalEeprom,
    TabConfig,
    TabEprom,
    TabExternalRam,
    TabExternalEeprom,
    TabCompanionEeprom,
    kTabs
};

const char* const kTabTitles[kTabs] = {"Internal EEPROM", "CONFIG",          "EPROM",
                                       "External RAM",    "External EEPROM", "Companion EEPROM"};
// Short enough that the whole row, Ports and Serial included, fits beside the main window on
// a common screen; the tooltips and the views' accessible names give the titles in full.
const char* const kTabCaptions[kTabs] = {"EEPROM",   "CONFIG",      "EPROM",
                                         "Ext. RAM", "Ext. EEPROM", "Companion"};

// The crystals boards are most often built with: those that make standard rates from the boot
// loader's dividers, and the 8 and 12 MHz of the 2 and 3 MHz parts.
constexpr std::uint32_t kCrystals[] = {4'915'200, 7'372'800, 8'000'000, 9'830'400, 12'000'000};

QString crystalText(std::uint32_t hz) {
    QString mhz = QString::number(hz / 1e6, 'f', 6);
    while (mhz.endsWith('0'))
        mhz.chop(1);
    if (mhz.endsWith('.'))
        mhz.chop(1);
    return mhz + " MHz";
}

QString phaseText(BootPhase p) {
    switch (p) {
        case BootPhase::SecureErase:
            return QObject::tr("Secured part: erasing itself");
        case BootPhase::AwaitSync:
            return QObject::tr("Boot loader: break sent, waiting for the PC");
        case BootPhase::Loading:
            return QObject::tr("Boot loader: loading");
        case BootPhase::Running:
            return QObject::tr("Running the downloaded program");
    }
    return {};
}

// A monitor's stop, over the phase while it holds the program.
QString haltText(Board::MonitorHalt h) {
    const QString at = QString("$%1").arg(h.at, 4, 16, QChar('0')).toUpper();
    switch (h.kind) {
        case Board::Halt::None:
            return {};
        case Board::Halt::Breakpoint:
            return QObject::tr("Stopped at a breakpoint at %1").arg(at);
        case Board::Halt::FromPc:
            return QObject::tr("Stopped from the PC");
        case Board::Halt::IllegalOpcode:
            return QObject::tr("Stopped at an illegal opcode at %1").arg(at);
    }
    return {};
}

std::string hexByte(std::uint8_t v) {
    static const char* digits = "0123456789ABCDEF";
    return {digits[v >> 4], digits[v & 15]};
}

}  // namespace

BoardWindow::BoardWindow(Board& board, QWidget* parent) : QWidget(parent), board_(board) {
    // Before anything asks for its accessible interface, which Qt then keeps.
    widgets::readAsFrame(this);
    setObjectName("VirtualBoard");
    setWindowTitle(tr("Virtual HC11 board"));
    setAccessibleName(tr("Virtual HC11 board"));
    widgets::enterPressesButtons(this);

    reset_ = new QPushButton(tr("&Reset"), this);
    reset_->setObjectName("BoardReset");
    reset_->setAccessibleName(tr("Reset into bootstrap mode"));
    const QString resetHelp =
        tr("Holds the HC11's RESET low while the button or Space is down, %1 ms at the least; "
           "on release the boot loader sends a break to the PC")
            .arg(std::chrono::duration_cast<std::chrono::milliseconds>(kMinimumPress).count());
    reset_->setToolTip(resetHelp);
    reset_->setAccessibleDescription(resetHelp);

    auto* chipLabel = new QLabel(tr("&Chip:"), this);
    chip_ = new QComboBox(this);
    chip_->setObjectName("BoardChip");
    chip_->setAccessibleName(tr("Chip on the board"));
    chipLabel->setBuddy(chip_);
    for (const Variant& v : variants())
        chip_->addItem(QString::fromUtf8(v.name.data(), static_cast<int>(v.name.size())),
                       static_cast<int>(v.chip));
    chip_->setCurrentIndex(chip_->findData(static_cast<int>(board_.chip().chip)));

    auto* crystalLabel = new QLabel(tr("Cr&ystal:"), this);
    crystal_ = new QComboBox(this);
    crystal_->setObjectName("BoardCrystal");
    crystal_->setAccessibleName(tr("Crystal on the board"));
    crystal_->setToolTip(tr("E is a quarter of it; the boot loader's rates and the SCI follow it"));
    crystalLabel->setBuddy(crystal_);
    for (const std::uint32_t hz : kCrystals)
        crystal_->addItem(crystalText(hz), hz);
    if (crystal_->findData(board_.crystalHz()) < 0)
        crystal_->addItem(crystalText(board_.crystalHz()), board_.crystalHz());
    crystal_->setCurrentIndex(crystal_->findData(board_.crystalHz()));

    vppe_ = new QCheckBox(tr("&Programming voltage on XIRQ/VPPE"), this);
    vppe_->setObjectName("BoardVppe");
    vppe_->setAccessibleName(tr("Programming voltage on XIRQ/VPPE"));
    vppe_->setToolTip(tr("+12 V for programming the EPROM of the MC68HC711E9"));
    vppe_->setChecked(board_.programmingVoltage());

    // Read by its text, which a screen reader announces as it changes; what the line is comes
    // with it as its description.
    phase_ = new QLabel(this);
    phase_->setObjectName("BoardPhase");
    phase_->setAccessibleDescription(tr("Board state"));

    tabs_ = new QTabWidget(this);
    tabs_->setObjectName("BoardMemories");
    tabs_->setAccessibleName(tr("Memories"));
    const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    for (int t = 0; t < kTabs; ++t) {
        auto* text = new QPlainTextEdit(tabs_);
        text->setReadOnly(true);
        text->setFont(mono);
        text->setLineWrapMode(QPlainTextEdit::NoWrap);
        text->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
        text->setObjectName(QString("BoardView%1").arg(t));
        text->setAccessibleName(tr(kTabTitles[t]));
        tabs_->addTab(text, tr(kTabCaptions[t]));
        tabs_->setTabToolTip(t, tr(kTabTitles[t]));
        views_.push_back(View{text, {}});
    }
    // The pins, after the memories: they read the board only while their tab is in view.
    // The lamps keep their names whole; a window narrower than their rows scrolls them.
    ports_ = new PortsView(board_);
    auto* portsArea = new QScrollArea(tabs_);
    portsArea->setObjectName("BoardPortsArea");
    portsArea->setFrameShape(QFrame::NoFrame);
    // The pins take the keyboard, and the area follows them into view.
    portsArea->setFocusPolicy(Qt::NoFocus);
    portsArea->setWidgetResizable(true);
    portsArea->setWidget(ports_);
    tabs_->addTab(portsArea, tr("P&orts"));
    tabs_->addTab(new SerialView(board_, tabs_), tr("&Serial"));

    factory_ = new QPushButton(tr("&Factory state"), this);
    factory_->setObjectName("BoardFactory");
    factory_->setAccessibleName(tr("Restore the factory state"));
    factory_->setToolTip(
        tr("Erase every EEPROM and the EPROM and restore the default CONFIG "
           "and companion-chip registers"));

    auto* top = new QHBoxLayout;
    top->addWidget(reset_);
    top->addWidget(chipLabel);
    top->addWidget(chip_);
    top->addWidget(crystalLabel);
    top->addWidget(crystal_);
    top->addWidget(vppe_);
    top->addStretch();
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(phase_, 1);
    bottom->addWidget(factory_);
    // A window narrower or lower than its controls (a large scale factor on a small screen)
    // scrolls them, as the main window does, rather than staying larger than the screen.
    content_ = new QWidget;
    content_->setObjectName("BoardContent");
    auto* layout = new QVBoxLayout(content_);
    layout->addLayout(top);
    layout->addWidget(tabs_, 1);
    layout->addLayout(bottom);
    auto* scroller = new QScrollArea(this);
    scroller->setObjectName("BoardScroller");
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setFocusPolicy(Qt::NoFocus);
    scroller->setWidgetResizable(true);
    scroller->setWidget(content_);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroller);

    setTabOrder(reset_, chip_);
    setTabOrder(chip_, crystal_);
    setTabOrder(crystal_, vppe_);
    setTabOrder(vppe_, tabs_);
    setTabOrder(tabs_, factory_);

    // Pressed and released rather than clicked: the chip stays in reset while the button, or
    // Space, is held down.
    connect(reset_, &QPushButton::pressed, this, &BoardWindow::resetPressed);
    connect(reset_, &QPushButton::released, this, &BoardWindow::resetReleased);
    connect(chip_, &QComboBox::activated, this, &BoardWindow::chipChosen);
    widgets::takeSelectionAsChoice(chip_);
    connect(crystal_, &QComboBox::activated, this, &BoardWindow::crystalChosen);
    widgets::takeSelectionAsChoice(crystal_);
    connect(vppe_, &QCheckBox::toggled, this,
            [this](bool on) { board_.setProgrammingVoltage(on); });
    connect(factory_, &QPushButton::clicked, this, &BoardWindow::factoryClicked);
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int) { refresh(); });

    timer_ = new QTimer(this);
    timer_->setInterval(kRefreshMs);
    connect(timer_, &QTimer::timeout, this, &BoardWindow::refresh);
    timer_->start();
    // Every tab in full at the opening size; where the screen is narrower (a large scale
    // factor), the captions shorten rather than hide tabs behind scroll arrows.
    tabs_->setUsesScrollButtons(false);
    tabs_->setElideMode(Qt::ElideRight);
    const QMargins margins = layout->contentsMargins();
    resize(qMax(720, tabs_->tabBar()->sizeHint().width() + margins.left() + margins.right() + 8),
           420);
    refresh();
}

void BoardWindow::resetPressed() {
    board_.holdReset();
    refresh();
}

void BoardWindow::resetReleased() {
    board_.releaseReset(kMinimumPress);
    refresh();
}

void BoardWindow::chipChosen(int index) {
    const auto chip = static_cast<Chip>(chip_->itemData(index).toInt());
    if (chip == board_.chip().chip || refused(variant(chip), board_.crystalHz()))
        return;
    board_.setChip(chip);
    refresh();
    emit nonVolatileChanged();
}

void BoardWindow::crystalChosen(int index) {
    const std::uint32_t hz = crystal_->itemData(index).toUInt();
    if (refused(board_.chip(), hz))
        return;
    board_.setCrystal(hz);
    refresh();
}

bool BoardWindow::refused(const Variant& part, std::uint32_t crystalHz) {
    const std::string why = crystalCheck_ ? crystalCheck_(part, crystalHz) : std::string();
    if (why.empty())
        return false;
    chip_->setCurrentIndex(chip_->findData(static_cast<int>(board_.chip().chip)));
    crystal_->setCurrentIndex(crystal_->findData(board_.crystalHz()));
    QString text = QString::fromStdString(why);
    text[0] = text[0].toUpper();
    // Not modal: the board goes on running under it, and a screen reader reads it as any box.
    auto* box =
        new QMessageBox(QMessageBox::Warning, windowTitle(), text + '.', QMessageBox::Ok, this);
    box->setObjectName("BoardRefusal");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return true;
}

void BoardWindow::factoryClicked() {
    board_.factoryReset();
    refresh();
    emit nonVolatileChanged();
}

std::string BoardWindow::memoryText(int tab) {
    switch (tab) {
        case TabInternalEeprom:
            return hexDump(board_.eeprom().array(), board_.eepromBase());
        case TabConfig: {
            const std::uint8_t cell = board_.eeprom().configCell();
            return "CONFIG cell (next reset): $" + hexByte(cell) +
                   "\nIn force since the last reset: $" + hexByte(board_.config()) + "\n";
        }
        case TabEprom:
            if (board_.eprom().empty())
                return "This part has no EPROM.\n";
            return hexDump(board_.eprom(), board_.chip().rom[0].base);
        case TabExternalRam:
            return hexDump(board_.devices().ram(), 0x0000);
        case TabExternalEeprom:
            return hexDump(board_.devices().parallelEeprom().cells(),
                           BoardDevices::kParallelEepromBase);
        case TabCompanionEeprom: {
            const Companion& c = board_.devices().companion();
            const CompanionRegisters& r = c.stored();
            return "BPR $" + hexByte(r.bpr) + "  EEM $" + hexByte(r.eem) + "  SFR $" +
                   hexByte(r.sfr) + (c.eeprom().sdp() ? "  data protection on\n" : "\n") +
                   hexDump(c.eeprom().cells(), c.eepromBase());
        }
        default:
            return {};
    }
}

void BoardWindow::refreshView(int tab) {
    if (tab < 0 || tab >= kTabs)
        return;
    View& v = views_[static_cast<std::size_t>(tab)];
    std::string text = memoryText(tab);
    if (text == v.shown)
        return;
    // Keep the reader's place when the contents change under it.
    const int scroll = v.text->verticalScrollBar() ? v.text->verticalScrollBar()->value() : 0;
    v.text->setPlainText(QString::fromStdString(text));
    v.text->verticalScrollBar()->setValue(scroll);
    v.shown = std::move(text);
}

void BoardWindow::refresh() {
    QString phase = board_.resetHeld() ? tr("Reset held: the chip is stopped")
                    : board_.powered() ? phaseText(board_.phase())
                                       : tr("Waiting for a reset: press Reset");
    if (board_.powered() && board_.phase() == BootPhase::Running)
        if (const QString halt = haltText(board_.monitorHalt()); !halt.isEmpty())
            phase = halt;
    if (phase != phase_->text()) {
        phase_->setText(phase);
        QAccessibleEvent changed(phase_, QAccessible::NameChanged);
        widgets::announce(changed);
    }
    const int index = chip_->findData(static_cast<int>(board_.chip().chip));
    if (chip_->currentIndex() != index)
        chip_->setCurrentIndex(index);
    // Only the tab in view: the external RAM alone is 32 KB of text.
    refreshView(tabs_->currentIndex());
}

}  // namespace kestro::sim
