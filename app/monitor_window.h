// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "frame.h"
#include "monitor/monitor.h"
#include "monitor/symbols.h"

class QComboBox;
class QEventLoop;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QTableWidget;

namespace kestro {

// A look into a program running on the HC11: its registers, memory and code around the PC,
// breakpoints in the listing's margin, Go, Step and Stop, and what the program sends. The
// session holds the link as a job does, from Start until End, the window's closing, or a
// failure that ends it; the main window stays disabled meanwhile.
class MonitorWindow : public QWidget {
    Q_OBJECT
  public:
    // Runs a job on the main window's target, as its buttons do, and keeps the main window from
    // closing under it; false when another job runs.
    using JobRunner = std::function<bool(const std::function<void(Target&)>&)>;
    // The app's one place where failures become boxes.
    using Teller = std::function<void(const Message&)>;
    // The file chooser: a full path, or kChooserCancel.
    using Chooser = std::function<std::string()>;

    static constexpr int kMemoryRows = 8;
    static constexpr int kBytesPerRow = 16;
    static constexpr int kListingRows = 16;

    MonitorWindow(LinkState& link, JobRunner runJob, Teller tell, Chooser choose,
                  QWidget* parent = nullptr);
    ~MonitorWindow() override;

    // The session while it is open; nullptr otherwise.
    ops::monitor::Monitor* session() { return session_; }
    // Shows the window beside main, within main's screen; no larger than that screen, and
    // scrolled where the screen is smaller than the window's least size.
    void showBeside(const QWidget& main);
    // The HC11 was reset, or the link changed: a session open on it has ended.
    void linkChanged();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    enum class State { Closed, Stopped, Running };

    void startClicked();
    void endClicked();
    void loadClicked();
    void symbolsClicked();
    void goClicked();
    void appendOutput(ByteView bytes);
    void stepClicked();
    void stopClicked();
    void registerEdited(int index);
    void takeTyping();
    void memoryEdited(int row, int column);
    void memoryAddressEntered();
    void codeAddressEntered();
    void toggleBreakpoint(int row);
    // Each view's least size: a whole row of the memory view, a few rows of each table.
    void fitTables();

    // Runs one action on the open session; a refusal is told and the session goes on, a
    // failure that ends it ends the job. false when nothing ran.
    bool act(const std::function<void(ops::monitor::Monitor&)>& action);
    void ended(const LinkError& e);
    void showState(State state);
    void showStop(const ops::monitor::Stop& stop);
    void showRegisters();
    void showMemory();
    // The listing around the PC: where it is while the PC stays well within it, else from the
    // PC.
    void showListing();
    void listFrom(std::uint16_t start);
    void tellRefusal(const std::string& text, const std::string& detail = {});
    const ops::monitor::Symbols* symbols() const { return symbols_.empty() ? nullptr : &symbols_; }

    LinkState& link_;
    JobRunner runJob_;
    Teller tell_;
    Chooser choose_;

    ops::monitor::Monitor* session_ = nullptr;
    QEventLoop* sessionLoop_ = nullptr;
    std::optional<LinkError> ending_;  // what ended the open session
    QString endedText_;
    std::uint64_t breaksAtStart_ = 0;
    State state_ = State::Closed;
    bool inJob_ = false;  // from Start until the session's job has ended
    bool acting_ = false;
    bool stopRequested_ = false;
    bool closePending_ = false;
    ops::monitor::Symbols symbols_;
    std::uint16_t memoryAddress_ = 0;
    std::uint16_t listingStart_ = 0;
    std::vector<std::uint16_t> listed_;  // the address of each listing row
    bool showing_ = false;               // the views are being filled, not edited

    QComboBox* chip_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* end_ = nullptr;
    QPushButton* load_ = nullptr;
    QPushButton* symbolsButton_ = nullptr;
    QPushButton* go_ = nullptr;
    QPushButton* step_ = nullptr;
    QPushButton* stop_ = nullptr;
    QLabel* stateLabel_ = nullptr;
    std::array<QLineEdit*, 7> registers_{};  // A B X Y SP PC CCR
    QLabel* flags_ = nullptr;
    QLineEdit* address_ = nullptr;
    QLineEdit* codeAddress_ = nullptr;
    QTableWidget* memory_ = nullptr;
    QTableWidget* listing_ = nullptr;
    QPlainTextEdit* output_ = nullptr;
    QScrollArea* scroll_ = nullptr;
};

}  // namespace kestro
