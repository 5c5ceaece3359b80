// SPDX-License-Identifier: GPL-3.0-or-later
#include "virtual_board.h"

#include <QKeySequence>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <cstdio>

#include "before_reset.h"
#include "board_window.h"
#include "main_window.h"
#include "window_placement.h"

namespace kestro {

VirtualBoard::VirtualBoard(Scheduler& scheduler, VirtualPort& port, std::filesystem::path folder,
                           std::uint32_t crystalHz)
    : scheduler_(scheduler), port_(port), folder_(std::move(folder)), crystalHz_(crystalHz) {
    if (tryAgain())
        return;
    // As a real port that another program holds: Comm 1 opens as in use, and the board's
    // memories stay the other program's; once it lets go, the board is taken, as a port
    // that has come free opens on the next Connect.
    idleLine_ = std::make_unique<VirtualLine>(scheduler);
    port.attach(1, *idleLine_, "virtual HC11 board");
    port.setOpenResult(1, PortError::InUse);
    std::fprintf(stderr, "kestro: %s\n", refusal_->c_str());
    retry_ = new QTimer(this);
    retry_->setInterval(kRetryIntervalMs);
    QObject::connect(retry_, &QTimer::timeout, this, &VirtualBoard::tryAgain);
    retry_->start();
}

bool VirtualBoard::tryAgain() {
    if (persisted_)
        return true;
    // A crystal chosen in Preferences meanwhile is the one the link now expects.
    const std::uint32_t crystal = link_ != nullptr ? link_->sciClock().crystalHz() : crystalHz_;
    try {
        // One timer per slice: a few milliseconds keep the event loop light and bytes on time.
        persisted_ = std::make_unique<sim::PersistedBoard>(
            scheduler_, port_, 1, "virtual HC11 board", folder_, std::chrono::milliseconds(2),
            std::string_view{}, crystal);
    } catch (const sim::BoardInUse& e) {
        refusal_ = e.what();
        return false;
    }
    if (refusal_) {
        refusal_.reset();
        port_.setOpenResult(1, PortError::None);
        retry_->stop();
    }
    setUp();
    if (main_ != nullptr)
        join();
    return true;
}

void VirtualBoard::setUp() {
    if (const auto& told = persisted_->loadError())
        tell(*told);
    savedRevision_ = persisted_->board().revision();
    window_ = std::make_unique<sim::BoardWindow>(persisted_->board());
    // The parts' fastest crystals as kestro-cli refuses them, in the same words.
    window_->setCrystalCheck(ops::crystalRefusal);
    QObject::connect(window_.get(), &sim::BoardWindow::nonVolatileChanged, this,
                     [this] { save(); });
    // What a program running on the board writes, and what no verdict follows, is kept too.
    auto* timer = new QTimer(this);
    timer->setInterval(kSaveIntervalMs);
    QObject::connect(timer, &QTimer::timeout, this, [this] {
        if (persisted_->board().revision() != savedRevision_ &&
            persisted_->board().phase() != sim::BootPhase::Loading)
            save();
    });
    timer->start();
}

VirtualBoard::~VirtualBoard() {
    if (persisted_)
        save();
    if (link_ && persisted_)
        port_.setListener(nullptr);
    // The board's line goes with it: a port still open on it lets go first.
    if (port_.isOpen() && port_.commPort() == 1)
        port_.close();
}

void VirtualBoard::attach(MainWindow& window, LinkState& link) {
    main_ = &window;
    link_ = &link;
    if (persisted_)
        join();
}

void VirtualBoard::join() {
    MainWindow& window = *main_;
    port_.setListener(this);
    // The board is brought up to the line's time first: the talker's last write is done by
    // the time its verdict is shown.
    window.setBeforeMessage([this] {
        persisted_->board().catchUp();
        save();
    });
    // A board window closed from its title bar is only hidden: Connect on Comm 1 or Ctrl+B in
    // the main window bring it back.
    if (auto* connectButton = window.findChild<QPushButton*>(QStringLiteral("Connect")))
        QObject::connect(connectButton, &QPushButton::clicked, this, [this] {
            if (link_->portNumber() == 1)
                showWindow();
        });
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_B), &window);
    QObject::connect(shortcut, &QShortcut::activated, this, &VirtualBoard::showWindow);
}

void VirtualBoard::sessionEnding() {
    sessionEnding_ = true;
    save();
}

void VirtualBoard::showBeside(const QWidget& main) {
    if (!window_)
        return;
    placed_ = true;
    kestro::showBeside(*window_, main, window_->fullMinimum());
}

void VirtualBoard::showWindow() {
    if (!window_)
        return;
    // A board taken after the start has never been placed.
    if (!placed_ && main_ != nullptr) {
        showBeside(*main_);
        return;
    }
    window_->show();
    window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    window_->raise();
    window_->activateWindow();
}

void VirtualBoard::save() {
    if (!persisted_)
        return;
    savedRevision_ = persisted_->board().revision();
    if (const auto told = persisted_->save())
        tell(*told);
}

void VirtualBoard::portBreak() {
    if (!link_)
        return;
    if (!persisted_->board().powered() && !link_->operationRunning()) {
        link_->clearReady();
        return;
    }
    // The talkers that differ by part (the 711E20's EPROM register) follow the board's part,
    // as they follow a part named on the command line.
    link_->setPart(std::string(persisted_->board().chip().name));
    link_->portBreak();
}

void VirtualBoard::portDataArrived() {
    if (link_)
        link_->portDataArrived();
}

void VirtualBoard::portFailed(PortError error) {
    if (link_)
        link_->portFailed(error);
}

void VirtualBoard::tell(const std::string& text) const {
    if (sessionEnding_) {
        std::fprintf(stderr, "kestro: %s\n", text.c_str());
        return;
    }
    QMessageBox::warning(nullptr, QStringLiteral("Virtual HC11 board"),
                         QString::fromStdString(text));
}

}  // namespace kestro
