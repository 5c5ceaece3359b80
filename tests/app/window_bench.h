// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSettings>
#include <QUrl>
#include <memory>
#include <vector>

#include "link_state.h"
#include "main_window.h"
#include "virtual_clock.h"
#include "virtual_line.h"
#include "virtual_port.h"

namespace kestro::testing {

// The program's window started as main() starts it, on a virtual clock and virtual ports:
// Comm 1 and Comm 2 have a line each, Comm 3 and Comm 4 none. Its boxes and the pages it
// opens are kept instead of shown.
struct WindowBench {
    WindowBench() {
        port.attach(1, line1, "/dev/ttyV1");
        port.attach(2, line2, "/dev/ttyV2");
    }
    ~WindowBench() {
        window.reset();
        link.reset();
    }
    void start(QSettings& settings) {
        window.reset();
        link = std::make_unique<LinkState>(port, clock, clock);
        window = std::make_unique<MainWindow>(*link, settings);
        link->setView(window.get());
        port.setListener(link.get());
        window->setMessageSink([this](const Message& m) { messages.push_back(m); });
        window->setUrlOpener([this](const QUrl& url) {
            opened.push_back(url);
            return viewer;
        });
        window->startup();
    }

    VirtualClock clock;
    VirtualLine line1{clock};
    VirtualLine line2{clock};
    VirtualPort port{clock};
    std::unique_ptr<LinkState> link;
    std::unique_ptr<MainWindow> window;
    std::vector<Message> messages;
    std::vector<QUrl> opened;
    bool viewer = true;  // whether the desktop has a viewer for the help
};

}  // namespace kestro::testing
