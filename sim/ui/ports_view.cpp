// SPDX-License-Identifier: GPL-3.0-or-later
#include "ports_view.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace kestro::sim {

namespace {

// What a lamp shows, as one number: direction times two plus the level.
int stateOf(const PinState& p) {
    return static_cast<int>(p.direction) * 2 + (p.level ? 1 : 0);
}

struct Look {
    const char* words;  // for the text, the accessible name and the tooltip
    const char* style;
};

// Indexed by stateOf: input low, input high, output low, output high, bus.
constexpr Look kLooks[] = {
    {"input, low", "background: palette(base); border: 2px solid #3465a4; color: palette(text);"},
    {"input, high",
     "background: #c5d9f1; border: 2px solid #3465a4; color: black; font-weight: bold;"},
    {"output, low", "background: #5a1010; border: 2px solid #2e0606; color: #d0d0d0;"},
    {"output, high",
     "background: #ff3030; border: 2px solid #8b0000; color: black; "
     "font-weight: bold;"},
    {"address and data bus", "background: #bdbdbd; border: 2px dashed #555; color: black;"},
    {"address and data bus", "background: #bdbdbd; border: 2px dashed #555; color: black;"},
};

}  // namespace

PortsView::PortsView(Board& board, QWidget* parent) : QWidget(parent), board_(board) {
    setObjectName("BoardPorts");
    setAccessibleName(tr("Ports"));

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(4);
    const auto pins = board_.pins();
    QWidget* previous = nullptr;
    for (char port = 'A'; port <= 'E'; ++port) {
        const int row = port - 'A';
        auto* label = new QLabel(tr("Port %1").arg(QChar(port)), this);
        grid->addWidget(label, row, 0);
        for (const PinState& p : pins) {
            if (p.port != port)
                continue;
            auto* b = new QPushButton(QString::fromLatin1(p.name), this);
            b->setObjectName(QString("Pin%1%2").arg(QChar(port)).arg(p.bit));
            // Room for the whole name in bold (a high output), inside the lamp's border and
            // padding.
            QFont bold = b->font();
            bold.setBold(true);
            b->setMinimumWidth(
                qMax(64, QFontMetrics(bold).horizontalAdvance(b->text()) + 2 * (2 + 2) + 8));
            // Bit 7 on the left, as the register reads.
            grid->addWidget(b, row, 8 - p.bit);
            const std::size_t index = lamps_.size();
            lamps_.push_back(Lamp{b, port, p.bit, -1});
            connect(b, &QPushButton::clicked, this, [this, index] { lampClicked(index); });
            if (previous)
                setTabOrder(previous, b);
            previous = b;
        }
    }

    irq_ = new QPushButton(tr("&IRQ low"), this);
    irq_->setObjectName("BoardIrq");
    irq_->setCheckable(true);
    irq_->setAccessibleName(tr("Hold IRQ low"));
    irq_->setToolTip(tr("Pressed in: the IRQ pin is held low"));
    xirq_ = new QPushButton(tr("&XIRQ low"), this);
    xirq_->setObjectName("BoardXirq");
    xirq_->setCheckable(true);
    xirq_->setAccessibleName(tr("Hold XIRQ low"));
    xirq_->setToolTip(tr("Pressed in: the XIRQ pin is held low"));
    connect(irq_, &QPushButton::toggled, this, [this](bool low) { board_.setIrqLow(low); });
    connect(xirq_, &QPushButton::toggled, this, [this](bool low) { board_.setXirqLow(low); });
    if (previous)
        setTabOrder(previous, irq_);
    setTabOrder(irq_, xirq_);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(irq_);
    buttons->addWidget(xirq_);
    buttons->addStretch();
    auto* hint = new QLabel(tr("Click an input pin to change its level; an input that nothing "
                               "drives reads high."),
                            this);
    hint->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    layout->addWidget(hint);
    layout->addStretch();

    timer_ = new QTimer(this);
    timer_->setInterval(kRefreshMs);
    connect(timer_, &QTimer::timeout, this, &PortsView::refresh);
}

void PortsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
    timer_->start();
}

void PortsView::hideEvent(QHideEvent* event) {
    timer_->stop();
    QWidget::hideEvent(event);
}

void PortsView::lampClicked(std::size_t index) {
    const Lamp& lamp = lamps_[index];
    for (const PinState& p : board_.pins())
        if (p.port == lamp.port && p.bit == lamp.bit)
            board_.setPinInput(p.port, p.bit, !p.level);
    refresh();
}

void PortsView::showReceiverOwnership(QPushButton* rxd) {
    // While the SCI receives, the PC's serial line drives PD0/RxD and a click cannot change
    // it: the lamp is shown, not offered.
    const bool owned = board_.sciReceives();
    rxd->setFocusPolicy(owned ? Qt::NoFocus : Qt::StrongFocus);
    rxd->setAccessibleDescription(
        owned ? tr("Driven by the serial line from the PC while the SCI receives; a click "
                   "cannot change it")
              : QString());
}

void PortsView::refresh() {
    ++reads_;
    const auto pins = board_.pins();
    for (Lamp& lamp : lamps_) {
        for (const PinState& p : pins) {
            if (p.port != lamp.port || p.bit != lamp.bit)
                continue;
            const int state = stateOf(p);
            if (p.port == 'D' && p.bit == 0)
                showReceiverOwnership(lamp.button);
            if (state == lamp.state)
                break;
            lamp.state = state;
            const Look& look = kLooks[state];
            const QString words = tr(look.words);
            lamp.button->setStyleSheet(QString("QPushButton { %1 padding: 2px; }"
                                               "QPushButton:focus { outline: 2px solid "
                                               "palette(highlight); }")
                                           .arg(QLatin1String(look.style)));
            lamp.button->setAccessibleName(QString("%1, %2").arg(QLatin1String(p.name), words));
            lamp.button->setToolTip(p.direction == PinDirection::Input
                                        ? tr("%1. Click to toggle the level.").arg(words)
                                        : words);
            // Only an input can be driven from outside; the others are shown, not pressed.
            lamp.button->setEnabled(p.direction == PinDirection::Input);
            if (lamp.button->focusPolicy() == Qt::NoFocus)
                lamp.button->setToolTip(lamp.button->accessibleDescription());
            break;
        }
    }
    irq_->setChecked(board_.irqLow());
    xirq_->setChecked(board_.xirqLow());
}

}  // namespace kestro::sim
