// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "link_state.h"
#include "persisted_board.h"
#include "virtual_line.h"
#include "virtual_port.h"

class QTimer;
class QWidget;

namespace kestro {

class MainWindow;

namespace sim {
class BoardWindow;
}

// The window's virtual HC11 board on Comm 1, with its own window beside the main window. Its
// memories are saved before every verdict and about once a second, as a chip keeps them
// whatever happens to the PC; the board is the program's alone while it runs, and a board that
// another program holds makes Comm 1 a port in use until that program lets go of it.
class VirtualBoard : public QObject, private PortListener {
    Q_OBJECT
  public:
    static constexpr int kSaveIntervalMs = 1000;
    static constexpr int kRetryIntervalMs = 1000;

    // port: the virtual ports, of which the board takes Comm 1; folder: where its memories are;
    // crystalHz: the crystal it starts with.
    VirtualBoard(Scheduler& scheduler, VirtualPort& port, std::filesystem::path folder,
                 std::uint32_t crystalHz = SciClock::kDefaultCrystalHz);
    ~VirtualBoard() override;

    // Joins the main window and the link: saving before every box, Connect on Comm 1 and
    // Ctrl+B bringing the board's window back, and the board's power on the line.
    void attach(MainWindow& window, LinkState& link);

    // Saves at once; from now on a failure is told on the terminal, as no one may be there
    // to close a box.
    void sessionEnding();
    void showBeside(const QWidget& main);
    // Shows the board's window again, wherever it was hidden.
    void showWindow();

    // Takes the board once the program that held it has let go: Comm 1 then opens on it.
    // True when this window has the board.
    bool tryAgain();

    // Null when another program holds the board.
    sim::PersistedBoard* persisted() { return persisted_.get(); }
    sim::BoardWindow* window() { return window_.get(); }
    // Why there is no board: "the window's virtual board is in use by process N".
    const std::optional<std::string>& refusal() const { return refusal_; }

    void save();

  private:
    // PortListener: the board's line, on its way to the link. A board without power holds its
    // TxD low: that break is no boot loader announcing itself. During a job it ends the job as
    // a reset does; otherwise the target is simply no longer ready.
    void portBreak() override;
    void portDataArrived() override;
    void portFailed(PortError error) override;

    void tell(const std::string& text) const;
    // The board's window and its saving, once the board is this program's.
    void setUp();
    // The board's part in the main window and the link.
    void join();

    Scheduler& scheduler_;
    VirtualPort& port_;
    std::filesystem::path folder_;
    std::uint32_t crystalHz_;
    MainWindow* main_ = nullptr;
    QTimer* retry_ = nullptr;
    std::unique_ptr<sim::PersistedBoard> persisted_;
    std::optional<std::string> refusal_;
    std::unique_ptr<VirtualLine> idleLine_;  // Comm 1's line when the board is refused
    std::unique_ptr<sim::BoardWindow> window_;
    LinkState* link_ = nullptr;
    std::uint64_t savedRevision_ = 0;
    bool sessionEnding_ = false;
    bool placed_ = false;  // shown beside the main window once
};

}  // namespace kestro
