// SPDX-License-Identifier: GPL-3.0-or-later
// The settings restore: any text as the settings file, read by the main window at start-up and
// saved back on leaving.
#include <unistd.h>

#include <QApplication>
#include <QSettings>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "main_window.h"
#include "virtual_clock.h"
#include "virtual_port.h"

namespace {

QApplication& app() {
    static int argc = 1;
    static char name[] = "fuzz_settings";
    static char* argv[] = {name, nullptr};
    static QApplication a(argc, argv);
    return a;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestro;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    app();
    const auto file = std::filesystem::temp_directory_path() /
                      ("kestro-fuzz-settings-" + std::to_string(::getpid()) + ".ini");
    {
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    QSettings settings(QString::fromStdString(file.string()), QSettings::IniFormat);
    VirtualClock clock;
    VirtualPort port(clock);
    LinkState link(port, clock, clock);
    MainWindow window(link, settings);
    link.setView(&window);
    window.setMessageSink([](const Message&) {});
    window.startup();
    window.saveSettings();
    link.setView(nullptr);
    return 0;
}
