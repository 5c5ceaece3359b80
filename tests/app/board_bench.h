// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "board_window.h"
#include "main_window.h"
#include "virtual_board.h"
#include "virtual_clock.h"

namespace kestro::testing {

// The program's window on a virtual clock with the virtual board on Comm 1; boxes are kept.
struct BoardBench {
    explicit BoardBench(const std::filesystem::path& folder,
                        std::uint32_t crystalHz = SciClock::kDefaultCrystalHz)
        : settings(QString::fromStdString((folder / "kestro.ini").string()), QSettings::IniFormat),
          board(clock, port, folder, crystalHz) {
        link = std::make_unique<LinkState>(port, clock, clock);
        window = std::make_unique<MainWindow>(*link, settings);
        link->setView(window.get());
        port.setListener(link.get());
        board.attach(*window, *link);
        window->setMessageSink([this](const Message& m) {
            messages.push_back(m);
            if (onMessage)
                onMessage(m);
        });
        window->startup();
    }
    ~BoardBench() {
        window.reset();
        link.reset();
    }

    sim::Board& hc11() { return board.persisted()->board(); }
    QString status() const { return window->findChild<QLabel*>("HC11Stat")->text(); }
    void reset() {
        hc11().resetBootstrap();
        clock.advance(std::chrono::milliseconds(100));
    }
    void click(const char* button) { window->findChild<QPushButton*>(button)->click(); }
    void chooseChip(const char* name) {
        auto* combo = board.window()->findChild<QComboBox*>("BoardChip");
        const int index = combo->findText(name);
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }

    QSettings settings;
    VirtualClock clock;
    VirtualPort port{clock};
    VirtualBoard board;
    std::unique_ptr<LinkState> link;
    std::unique_ptr<MainWindow> window;
    std::vector<Message> messages;
    std::function<void(const Message&)> onMessage;
};

}  // namespace kestro::testing
