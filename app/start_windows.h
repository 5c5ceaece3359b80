// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace kestro {

class MainWindow;
class VirtualBoard;

// The program's options; also what --help lists.
struct StartOptions {
    QCommandLineOption virtualBoard{
        QStringLiteral("virtual-board"),
        QStringLiteral("Comm 1 is a virtual HC11 board; Comm 2 to 4 stay real ports.")};
    QCommandLineOption trace{
        QStringLiteral("trace"),
        QStringLiteral("Append every byte each way and every break, with its time, to <file>."),
        QStringLiteral("file")};
    QCommandLineOption fast{
        QStringLiteral("fast"),
        QStringLiteral("Binary blocks, each checked, where the operation has them, as the key "
                       "fast=true of the settings group [link] does.")};
    QCommandLineOption monitor{
        QStringLiteral("monitor"),
        QStringLiteral("Opens the Monitor window (Ctrl+M) beside the main window at start.")};

    void describe(QCommandLineParser& parser) const;
};

// The windows the program starts with, once the main window has started up: the main window,
// the board's window beside it where there is a virtual board, and the Monitor window where
// the command line asks for it.
void showStartWindows(const QCommandLineParser& parser, const StartOptions& options,
                      MainWindow& window, VirtualBoard* board);

}  // namespace kestro
