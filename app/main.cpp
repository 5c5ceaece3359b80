#include <QApplication>

#include "event_loop_clock.h"
#include "form1.h"
#include "settings_store.h"

#ifdef KESTRO_HAVE_TERMIOS
#include "termios_port.h"
#else
#include "virtual_port.h"
#endif

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kestro"));
    QApplication::setApplicationVersion(QStringLiteral(KESTRO_VERSION));

    const auto settings = kestro::openUserSettings();
    kestro::EventLoopClock clock;
#ifdef KESTRO_HAVE_TERMIOS
    kestro::TermiosPort port([&settings](int n) { return kestro::deviceForComm(*settings, n); });
#else
    // No serial backend in this build: a port with nothing attached, so the window still opens.
    kestro::VirtualPort port(clock);
#endif
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
    return app.exec();
}
