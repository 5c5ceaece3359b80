#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <cstdio>
#include <memory>

#include "board_window.h"
#include "event_loop_clock.h"
#include "form1.h"
#include "persisted_board.h"
#include "port_switch.h"
#include "settings_store.h"
#include "termios_port.h"
#include "virtual_port.h"
#include "wire_trace.h"

namespace {

// Comm 1 as a virtual HC11 board, with its window beside the main window.
class VirtualBoard {
  public:
    VirtualBoard(kestro::EventLoopClock& clock, kestro::VirtualPort& port)
        // One timer per slice: a few milliseconds keep the event loop light and bytes on time.
        : persisted_(clock, port, 1, "virtual HC11 board", kestro::sim::PersistedBoard::folderFor(),
                     std::chrono::milliseconds(2)) {
        if (const auto& error = persisted_.loadError()) {
            QMessageBox::warning(nullptr, QStringLiteral("Virtual HC11 board"),
                                 QStringLiteral("The saved state of the virtual board could not "
                                                "be read, so it starts in its factory state.\n\n") +
                                     QString::fromStdString(*error));
        }
        window_ = std::make_unique<kestro::sim::BoardWindow>(persisted_.board());
        QObject::connect(window_.get(), &kestro::sim::BoardWindow::nonVolatileChanged,
                         [this] { persisted_.save(); });
    }

    void showBeside(const QWidget& main) {
        window_->move(main.frameGeometry().right() + 16, main.frameGeometry().top());
        window_->show();
    }

  private:
    kestro::sim::PersistedBoard persisted_;
    std::unique_ptr<kestro::sim::BoardWindow> window_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kestro"));
    QApplication::setApplicationVersion(QStringLiteral(KESTRO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Loads, programs, verifies and reads the memories of a 68HC11 through "
                       "its serial bootstrap mode."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption virtualBoard(
        QStringLiteral("virtual-board"),
        QStringLiteral("Comm 1 is a virtual HC11 board; Comm 2 to 4 stay real ports."));
    const QCommandLineOption trace(
        QStringLiteral("trace"),
        QStringLiteral("Append every byte each way and every break, with its time, to <file>."),
        QStringLiteral("file"));
    parser.addOption(virtualBoard);
    parser.addOption(trace);
    parser.process(app);

    const auto settings = kestro::openUserSettings();
    kestro::EventLoopClock clock;
    kestro::TermiosPort realPorts(
        [&settings](int n) { return kestro::deviceForComm(*settings, n); });
    kestro::VirtualPort virtualPorts(clock);
    kestro::PortSwitch port(realPorts);

    std::unique_ptr<VirtualBoard> board;
    if (parser.isSet(virtualBoard)) {
        board = std::make_unique<VirtualBoard>(clock, virtualPorts);
        port.route(1, virtualPorts);
    }

    std::unique_ptr<kestro::WireTrace> wireTrace;
    if (parser.isSet(trace)) {
        wireTrace = std::make_unique<kestro::WireTrace>(parser.value(trace).toStdString(), clock);
        if (!wireTrace->ok()) {
            std::fprintf(stderr, "kestro: cannot write the trace file %s\n",
                         qPrintable(parser.value(trace)));
            return 2;
        }
        port.setTraceAll(wireTrace.get());
    }

    kestro::LinkState link(port, clock, clock);
    kestro::Form1 window(link, *settings);
    link.setView(&window);
    port.setListener(&link);
    window.setQuitHook([&clock] {
        clock.abandonWaits();
        QCoreApplication::quit();
    });

    window.startup();
    window.show();
    if (board)
        board->showBeside(window);
    const int result = app.exec();
    // The window may have been closed with the port still open: let go of the board's line and
    // of the listener before they go away.
    port.close();
    port.setListener(nullptr);
    port.setTraceAll(nullptr);
    return result;
}
