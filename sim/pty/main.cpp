// SPDX-License-Identifier: GPL-3.0-or-later
// kestro-board: the virtual HC11 board in a process of its own, its serial line on a
// pseudo-terminal. Any program that speaks to an HC11 over a serial port can talk to it.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "before_reset.h"
#include "event_loop_clock.h"
#include "persisted_board.h"
#include "pty_bridge.h"
#include "sci_rates.h"
#include "virtual_port.h"

namespace {

// Signals arrive as bytes on a pipe, read by the event loop: a reset (SIGUSR1) or the end
// (SIGTERM, SIGINT, SIGHUP).
int signalPipe[2] = {-1, -1};

void onSignal(int signal) {
    const char c = signal == SIGUSR1 ? 'r' : 'q';
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

void catchSignals() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    ::sigemptyset(&sa.sa_mask);
    for (int s : {SIGUSR1, SIGTERM, SIGINT, SIGHUP})
        ::sigaction(s, &sa, nullptr);
}

// The link --link makes to the device, taken away again when the board ends: left behind it
// would point at a device that is gone, or at another program's.
class DeviceLink {
  public:
    // Refuses anything at path but a link to a pseudo-terminal that is gone (a board's link
    // left behind by one that was killed): a file or folder given by mistake is the user's, and
    // a pseudo-terminal that is still there is open, most likely a running board's, which would
    // lose its link (and take this board's with it when it ends).
    static std::string refusal(const std::filesystem::path& path) {
        std::error_code ec;
        const auto status = std::filesystem::symlink_status(path, ec);
        if (!std::filesystem::exists(status))
            return {};
        const std::filesystem::path target = std::filesystem::is_symlink(status)
                                                 ? std::filesystem::read_symlink(path, ec)
                                                 : std::filesystem::path();
        if (ec || !target.string().starts_with("/dev/pts/"))
            return path.string() + " is already there and is not a link to a pseudo-terminal: " +
                   "choose a path where nothing is";
        // A pseudo-terminal's device is there as long as something holds it open.
        if (std::filesystem::exists(std::filesystem::symlink_status(target, ec)))
            return path.string() + " is already there, a link to " + target.string() +
                   ", which is open (another board running?): end that board or choose another "
                   "path";
        return {};
    }

    DeviceLink(std::filesystem::path at, const std::string& device, std::string& error)
        : at_(std::move(at)), device_(device) {
        // Made beside and renamed over: what stands at the path is replaced in one step, and
        // only what refusal() allowed.
        const std::filesystem::path temp =
            at_.string() + ".kestro-board-" + std::to_string(::getpid());
        std::error_code ec;
        std::filesystem::create_symlink(device_, temp, ec);
        if (!ec)
            std::filesystem::rename(temp, at_, ec);
        if (ec) {
            std::error_code ignored;
            std::filesystem::remove(temp, ignored);
            error = ec.message();
            return;
        }
        made_ = true;
    }
    ~DeviceLink() {
        std::error_code ec;
        if (made_ && std::filesystem::read_symlink(at_, ec) == device_ && !ec)
            std::filesystem::remove(at_, ec);
    }
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

  private:
    std::filesystem::path at_;
    std::filesystem::path device_;
    bool made_ = false;
};

// A whole number from 1 to max, or nullopt.
std::optional<std::uint64_t> wholeNumber(const QString& text, std::uint64_t max) {
    bool ok = false;
    const qulonglong n = text.toULongLong(&ok);
    if (!ok || n < 1 || n > max)
        return std::nullopt;
    return n;
}

// The line faults the options ask for, or what is wrong with them.
std::string readFaults(const QCommandLineParser& parser, kestro::sim::LineFaults& faults,
                       const QCommandLineOption& refuseRates, const QCommandLineOption& roundRates,
                       const QCommandLineOption& rateError, const QCommandLineOption& flipEvery,
                       const QCommandLineOption& silentAfter, const QCommandLineOption& silentAt) {
    constexpr std::uint64_t kMaxRate = 4'000'000;
    auto rate = [](const QString& text) { return wholeNumber(text, kMaxRate); };
    for (const QString& r : parser.value(refuseRates).split(',', Qt::SkipEmptyParts)) {
        const auto baud = rate(r);
        if (!baud)
            return "--refuse-rates takes rates in baud, e.g. 125000,62500";
        faults.refused.push_back(static_cast<int>(*baud));
    }
    for (const QString& pair : parser.value(roundRates).split(',', Qt::SkipEmptyParts)) {
        const QStringList parts = pair.split(':');
        const auto set = parts.size() == 2 ? rate(parts[0]) : std::nullopt;
        const auto made = parts.size() == 2 ? rate(parts[1]) : std::nullopt;
        if (!set || !made)
            return "--round-rates takes SET:MADE pairs of rates, e.g. 7812:7692";
        faults.rounded.emplace_back(static_cast<int>(*set), static_cast<int>(*made));
    }
    if (parser.isSet(rateError)) {
        bool ok = false;
        faults.rateError = parser.value(rateError).toDouble(&ok);
        if (!ok || faults.rateError <= -50 || faults.rateError >= 50)
            return "--rate-error takes per cent between -50 and 50, e.g. 3 or -2.5";
    }
    if (parser.isSet(flipEvery)) {
        const auto n = wholeNumber(parser.value(flipEvery), UINT32_MAX);
        if (!n)
            return "--flip-every takes a number of bytes from 1";
        faults.flipEvery = *n;
    }
    if (parser.isSet(silentAfter)) {
        bool ok = false;
        faults.silentAfter = parser.value(silentAfter).toULongLong(&ok);
        if (!ok)
            return "--silent-after takes a number of bytes";
    }
    if (parser.isSet(silentAt)) {
        bool ok = false;
        const double seconds = parser.value(silentAt).toDouble(&ok);
        if (!ok || seconds < 0 || seconds > 1e6)
            return "--silent-at takes seconds, e.g. 2.5";
        faults.silentAt =
            std::chrono::duration_cast<kestro::Duration>(std::chrono::duration<double>(seconds));
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kestro"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KESTRO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The virtual HC11 board on a pseudo-terminal: prints the device to open, then runs until "
        "it is ended. Reset it into bootstrap mode by typing r and Enter, or with SIGUSR1 (RESET "
        "is held low for 100 ms, as a push-button's press holds it); q and "
        "Enter, SIGTERM or Ctrl-C end it, its memories saved. A pseudo-terminal carries no break: "
        "the board's reset break comes as a lone NUL byte."));
    parser.addHelpOption();
    // Not Qt's own: that names the application, which is Kestro's, for its data folder.
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Displays version information."));
    parser.addOption(version);
    const QCommandLineOption chip(
        QStringLiteral("chip"),
        QStringLiteral("The part: A0, A1, A8, E0, E1, E9, E20, 711E9, 711E20, 811E2 or F1, or "
                       "its full name (MC68HC11A8 ...), "
                       "as kestro-cli --chip takes it. Without it, the part the board was saved "
                       "as; another part starts its memories afresh, and says so."),
        QStringLiteral("part"));
    const QCommandLineOption vpp(QStringLiteral("vpp"),
                                 QStringLiteral("+12 V on XIRQ/VPPE (the 711E9's EPROM)."));
    const QCommandLineOption board(
        QStringLiteral("board"),
        QStringLiteral("A named board with memories of its own (as kestro-cli --board); "
                       "without it, the window's board."),
        QStringLiteral("name"));
    const QCommandLineOption link(
        QStringLiteral("link"),
        QStringLiteral("Also make <path> a link to the device, removed at the end; "
                       "never over a file or folder, nor over a link to a pseudo-terminal "
                       "still open (another board's)."),
        QStringLiteral("path"));
    const QCommandLineOption reset(QStringLiteral("reset"),
                                   QStringLiteral("Reset into bootstrap mode at once."));
    // A poor adapter or cable, for seeing what a program does on a bad line.
    const QCommandLineOption refuseRates(
        QStringLiteral("refuse-rates"),
        QStringLiteral("Rates the adapter cannot make (e.g. 125000,62500): the line keeps the "
                       "rate it had, and the device is set back to it."),
        QStringLiteral("list"));
    const QCommandLineOption roundRates(
        QStringLiteral("round-rates"),
        QStringLiteral("Rates the adapter makes another of, as SET:MADE (e.g. 7812:7692): the "
                       "line runs at MADE when a program sets SET."),
        QStringLiteral("list"));
    const QCommandLineOption rateError(
        QStringLiteral("rate-error"),
        QStringLiteral(
            "The line runs this many per cent off the rate made (e.g. 3, or below 0 for slower), "
            "as an adapter's divider does."),
        QStringLiteral("percent"));
    const QCommandLineOption flipEvery(
        QStringLiteral("flip-every"),
        QStringLiteral("Flips a bit of every Nth byte the line carries, either way."),
        QStringLiteral("n"));
    const QCommandLineOption silentAfter(
        QStringLiteral("silent-after"),
        QStringLiteral("The line carries N bytes, either way, then nothing more."),
        QStringLiteral("n"));
    const QCommandLineOption silentAt(
        QStringLiteral("silent-at"),
        QStringLiteral("The line carries nothing from this many seconds after the start."),
        QStringLiteral("seconds"));
    const QCommandLineOption pullUp(
        QStringLiteral("txd-pull-up"),
        QStringLiteral("The pull-up in ohms that TxD rises through while the boot loader leaves "
                       "it open-drain (default 200000, an adapter's own weak one: characters "
                       "above 120,000 baud arrive damaged; 4700 limits nothing)."),
        QStringLiteral("ohms"));
    const QCommandLineOption crystal(
        QStringLiteral("crystal"),
        QStringLiteral("The crystal in MHz (default 8): E, the boot loader's rates, the SCI and "
                       "the timer follow it, as kestro-cli --crystal sets the PC's side."),
        QStringLiteral("mhz"));
    parser.addOptions({chip, vpp, board, link, reset, crystal, refuseRates, roundRates, rateError,
                       flipEvery, silentAfter, silentAt, pullUp});
    parser.process(app);
    if (parser.isSet(version)) {
        std::printf("kestro-board %s\n", KESTRO_VERSION);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "kestro-board: unexpected argument: %s (see kestro-board --help)\n",
                     qPrintable(parser.positionalArguments().front()));
        return 1;
    }
    double pullUpOhms = kestro::sim::BoardOptions{}.txdPullUpOhms;
    if (parser.isSet(pullUp)) {
        bool ok = false;
        pullUpOhms = parser.value(pullUp).toDouble(&ok);
        if (!ok || !(pullUpOhms > 0) || pullUpOhms > 1e9) {
            std::fprintf(stderr, "kestro-board: --txd-pull-up takes ohms above 0, up to 1e9\n");
            return 2;
        }
    }

    std::uint32_t crystalHz = kestro::sim::BoardOptions{}.crystalHz;
    if (parser.isSet(crystal)) {
        const auto hz = kestro::parseCrystalMHz(parser.value(crystal).toStdString());
        if (!hz) {
            std::fprintf(stderr, "kestro-board: --crystal takes MHz from %d to %d, e.g. 7.3728\n",
                         kestro::kCrystalMinMHz, kestro::kCrystalMaxMHz);
            return 2;
        }
        crystalHz = *hz;
    }

    const std::string name = parser.value(board).toStdString();
    if (parser.isSet(board) && !kestro::sim::PersistedBoard::validBoardName(name)) {
        std::fprintf(stderr, "kestro-board: a board's name is letters, digits, '-' and '_'\n");
        return 2;
    }
    const kestro::sim::Variant* part = nullptr;
    if (parser.isSet(chip)) {
        part = kestro::sim::PersistedBoard::partNamed(parser.value(chip).toStdString());
        if (!part) {
            std::fprintf(stderr, "kestro-board: no such part: %s (%s)\n",
                         qPrintable(parser.value(chip)), kestro::sim::partList().data());
            return 2;
        }
    }

    kestro::sim::LineFaults faults;
    if (const std::string wrong = readFaults(parser, faults, refuseRates, roundRates, rateError,
                                             flipEvery, silentAfter, silentAt);
        !wrong.empty()) {
        std::fprintf(stderr, "kestro-board: %s\n", wrong.c_str());
        return 1;
    }

    if (parser.isSet(link)) {
        if (const std::string refused = DeviceLink::refusal(parser.value(link).toStdString());
            !refused.empty()) {
            std::fprintf(stderr, "kestro-board: %s\n", refused.c_str());
            return 2;
        }
    }

    // A part named here is refused before the saved board is opened, so that it keeps its
    // memories; the saved part is checked once it is read.
    const auto tooFast = [&](const kestro::sim::Variant& p, const char* hint) {
        const std::string why = kestro::ops::crystalRefusal(p, crystalHz);
        if (!why.empty())
            std::fprintf(stderr, "kestro-board: %s: %s\n", why.c_str(), hint);
        return !why.empty();
    };
    if (part && tooFast(*part, "give another --crystal or --chip"))
        return 2;

    kestro::EventLoopClock clock;
    kestro::VirtualPort unused(clock);
    std::unique_ptr<kestro::sim::PersistedBoard> held;
    try {
        held = std::make_unique<kestro::sim::PersistedBoard>(
            clock, unused, 1, "pseudo-terminal", kestro::sim::PersistedBoard::folderFor(name),
            std::chrono::milliseconds(2), name, crystalHz);
    } catch (const kestro::sim::BoardInUse& e) {
        std::fprintf(stderr, "kestro-board: %s\n", e.what());
        return 1;
    }
    kestro::sim::PersistedBoard& persisted = *held;
    if (const auto& told = persisted.loadError())
        std::fprintf(stderr, "kestro-board: %s\n", told->c_str());
    kestro::sim::Board& hc11 = persisted.board();
    if (!part && tooFast(hc11.chip(),
                         "the board was saved as that part; give another "
                         "--crystal, or --chip"))
        return 2;
    if (part)
        if (const auto lost = persisted.setPart(*part, name))
            std::fprintf(stderr, "kestro-board: %s\n", lost->c_str());
    hc11.setProgrammingVoltage(parser.isSet(vpp));
    hc11.setTxdPullUp(pullUpOhms);

    std::unique_ptr<kestro::sim::PtyBridge> bridge;
    try {
        bridge = std::make_unique<kestro::sim::PtyBridge>(clock, persisted.line(), faults);
    } catch (const kestro::sim::PtyError& e) {
        std::fprintf(stderr, "kestro-board: %s\n", e.what());
        return 1;
    }
    std::unique_ptr<DeviceLink> deviceLink;
    if (parser.isSet(link)) {
        const std::filesystem::path at = parser.value(link).toStdString();
        std::string error;
        deviceLink = std::make_unique<DeviceLink>(at, bridge->devicePath(), error);
        if (!error.empty()) {
            std::fprintf(stderr, "kestro-board: cannot make the link %s: %s\n", at.c_str(),
                         error.c_str());
            return 1;
        }
    }

    QSocketNotifier fromProgram(bridge->masterFd(), QSocketNotifier::Read);
    QObject::connect(&fromProgram, &QSocketNotifier::activated, [&] { bridge->readable(); });

    // Saves what changed about once a second, so that a killed board loses little.
    std::uint64_t saved = hc11.revision();
    auto save = [&] {
        saved = hc11.revision();
        if (const auto told = persisted.save())
            std::fprintf(stderr, "kestro-board: %s\n", told->c_str());
    };
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        bridge->followRate();
        if (hc11.revision() != saved && hc11.phase() != kestro::sim::BootPhase::Loading)
            save();
    });
    tick.start(1000);
    // The rate a program sets takes effect before its first byte: it is read again at every
    // read as well.

    // A signal or a command is no button that is held: it gives the press a push-button and its
    // supervisor would, and what the PC sends meanwhile is lost, as on a real board.
    constexpr auto kPress = std::chrono::milliseconds(100);
    auto resetBoard = [&] {
        hc11.pressReset(kPress);
        std::fprintf(stderr, "kestro-board: reset into bootstrap mode\n");
    };
    auto quit = [&] {
        save();
        QCoreApplication::quit();
    };
    catchSignals();
    QSocketNotifier signalled(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalled, &QSocketNotifier::activated, [&] {
        char c = 0;
        while (::read(signalPipe[0], &c, 1) == 1)
            c == 'r' ? resetBoard() : quit();
    });
    QSocketNotifier keys(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&keys, &QSocketNotifier::activated, [&] {
        std::string lineIn;
        if (!std::getline(std::cin, lineIn)) {
            keys.setEnabled(false);  // standard input closed: signals still work
            return;
        }
        if (lineIn == "r" || lineIn == "reset")
            resetBoard();
        else if (lineIn == "q" || lineIn == "quit")
            quit();
    });

    std::printf("%s\n", bridge->devicePath().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "kestro-board: %s on %s; r and Enter resets it, q and Enter ends it\n",
                 hc11.chip().name.data(), bridge->devicePath().c_str());
    if (parser.isSet(reset))
        resetBoard();
    const int result = app.exec();
    tick.stop();
    save();
    return result;
}
