// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QMessageBox>
#include <QSessionManager>
#include <cstdio>
#include <memory>

#include "event_loop_clock.h"
#include "main_window.h"
#include "port_switch.h"
#include "session_end.h"
#include "settings_store.h"
#include "start_windows.h"
#include "termios_port.h"
#include "virtual_board.h"
#include "virtual_port.h"
#include "wire_trace.h"

namespace {

void nameApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("kestro"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KESTRO_VERSION));
}

// Qt's own options for the window system, which QApplication takes off the command line before
// the program's parser sees it; whether the next argument is the option's value.
struct QtWindowOption {
    const char* name;
    bool takesValue;
};
constexpr QtWindowOption kQtWindowOptions[] = {
    {"platform", true},     {"platformpluginpath", true}, {"platformtheme", true},
    {"plugin", true},       {"qwindowgeometry", true},    {"qwindowicon", true},
    {"qwindowtitle", true}, {"reverse", false},           {"session", true},
    {"display", true},      {"geometry", true},           {"style", true},
    {"stylesheet", true},   {"widgetcount", false},       {"qmljsdebugger", true},
};

// The command line as the program's parser will see it once QApplication has taken its own.
QStringList withoutQtWindowOptions(const QStringList& arguments) {
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        const QString bare = a.startsWith(QLatin1String("--")) ? a.mid(2) : a.mid(1);
        const QtWindowOption* qt = nullptr;
        if (i > 0 && a.startsWith(QLatin1Char('-')))
            for (const QtWindowOption& o : kQtWindowOptions)
                if (bare == QLatin1String(o.name) ||
                    (o.takesValue && bare.startsWith(QLatin1String(o.name) + QLatin1Char('='))))
                    qt = &o;
        if (!qt) {
            kept << a;
        } else if (qt->takesValue && !bare.contains(QLatin1Char('='))) {
            ++i;
        }
    }
    return kept;
}

}  // namespace

int main(int argc, char** argv) {
    const kestro::StartOptions options;
    {
        // The options are read, and help, the version and every mistake in them answered,
        // before a window system is touched, so all of it works without a display; process()
        // prints the text and ends the program.
        QCoreApplication core(argc, argv);
        nameApplication();
        QCommandLineParser parser;
        options.describe(parser);
        parser.process(withoutQtWindowOptions(QCoreApplication::arguments()));
        if (parser.isSet(options.trace)) {
            const QString path = parser.value(options.trace);
            std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "a");
            if (!file) {
                std::fprintf(stderr, "kestro: cannot write the trace file %s\n", qPrintable(path));
                return 2;
            }
            std::fclose(file);
        }
    }

    QApplication app(argc, argv);
    nameApplication();
    QCommandLineParser parser;
    options.describe(parser);
    parser.process(app);
    const QCommandLineOption& virtualBoard = options.virtualBoard;
    const QCommandLineOption& trace = options.trace;

    const auto settings = kestro::openUserSettings();
    kestro::EventLoopClock clock;
    kestro::TermiosPort realPorts(
        [&settings](int n) { return kestro::deviceForComm(*settings, n); });
    kestro::VirtualPort virtualPorts(clock);
    kestro::PortSwitch port(realPorts);

    std::unique_ptr<kestro::VirtualBoard> board;
    if (parser.isSet(virtualBoard)) {
        // The board starts with the crystal the link is set for, so that the two agree until
        // the board window's list puts another on it.
        const auto crystal = kestro::linkCrystal(*settings);
        board = std::make_unique<kestro::VirtualBoard>(
            clock, virtualPorts, kestro::sim::PersistedBoard::folderFor(),
            crystal
                ? kestro::parseCrystalMHz(*crystal).value_or(kestro::SciClock::kDefaultCrystalHz)
                : kestro::SciClock::kDefaultCrystalHz);
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
    kestro::MainWindow window(link, *settings);
    link.setView(&window);
    port.setListener(&link);
    if (board)
        board->attach(window, link);
    window.setQuitHook([&clock] {
        clock.abandonWaits();
        QCoreApplication::quit();
    });

    // Logout, shutdown and SIGTERM keep what Exit keeps. What is left to say goes to the
    // terminal (or the session's log): no one may be there to close a box.
    kestro::SessionEnd sessionEnd;
    QObject::connect(&sessionEnd, &kestro::SessionEnd::ending, &window, [&window, &board] {
        window.setMessageSink(
            [](const kestro::Message& m) { std::fprintf(stderr, "kestro: %s\n", m.text.c_str()); });
        if (board)
            board->sessionEnding();
        window.endSession();
    });
    // A session manager asks first, and may cancel the logout.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.saveSettings(); });

    window.setFast(parser.isSet(options.fast));
    window.startup();
    kestro::showStartWindows(parser, options, window, board.get());
    const int result = app.exec();
    // The window may have been closed with the port still open: let go of the board's line and
    // of the listener before they go away.
    port.close();
    port.setListener(nullptr);
    port.setTraceAll(nullptr);
    return result;
}
