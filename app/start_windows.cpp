// SPDX-License-Identifier: GPL-3.0-or-later
#include "start_windows.h"

#include "main_window.h"
#include "virtual_board.h"

namespace kestro {

void StartOptions::describe(QCommandLineParser& parser) const {
    parser.setApplicationDescription(
        QStringLiteral("Loads, programs, verifies and reads the memories of a 68HC11 through "
                       "its serial bootstrap mode."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(virtualBoard);
    parser.addOption(trace);
    parser.addOption(fast);
    parser.addOption(monitor);
}

void showStartWindows(const QCommandLineParser& parser, const StartOptions& options,
                      MainWindow& window, VirtualBoard* board) {
    window.show();
    // The board's window first, so that the Monitor window keeps clear of it.
    if (board)
        board->showBeside(window);
    if (parser.isSet(options.monitor))
        window.openMonitor();
}

}  // namespace kestro
