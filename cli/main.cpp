// SPDX-License-Identifier: GPL-3.0-or-later
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <filesystem>

#include "command_line.h"
#include "console.h"
#include "input_files.h"
#include "interruption.h"
#include "parallel.h"
#include "runner.h"
#include "settings_inputs.h"
#include "settings_store.h"

using namespace kestro;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The window's name, so both find the same settings and the same virtual board.
    QCoreApplication::setApplicationName(QStringLiteral("kestro"));

    const auto settings = openUserSettings();
    ops::Inputs defaults = cli::inputsFromSettings(*settings);
    std::error_code ec;
    defaults.dumpFolder = std::filesystem::current_path(ec);

    const cli::Parsed parsed = cli::parseCommandLine(
        std::vector<std::string>(argv + 1, argv + argc), defaults, linkCrystal(*settings));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "kestro-cli: %s\nTry 'kestro-cli --help'.\n", parsed.error.c_str());
        return static_cast<int>(cli::Exit::Usage);
    }
    const cli::Plan& plan = parsed.plan;
    if (plan.help) {
        const std::string text =
            plan.helpCommand.empty() ? cli::generalHelp() : cli::commandHelp(plan.helpCommand);
        std::fputs(text.c_str(), stdout);
        return 0;
    }
    if (plan.version) {
        std::printf("kestro-cli %s\n", KESTRO_VERSION);
        return 0;
    }

    // Every file of the job is read once, here: a worker gets them from the process that
    // started it.
    cli::InputFiles files = plan.worker
                                ? cli::InputFiles::fromStream(stdin).value_or(cli::InputFiles{})
                                : cli::InputFiles::read(plan);
    cli::catchInterruptions();
    const cli::Environment env{
        .talkerDir = std::filesystem::path(
                         QCoreApplication::applicationDirPath().toLocal8Bit().toStdString()) /
                     "asm",
        .deviceForComm = [&settings](int n) { return deviceForComm(*settings, n); },
        .files = &files,
    };
    if (plan.worker) {
        cli::WorkerReporter reporter(stdout);
        return static_cast<int>(cli::runOnPort(plan, plan.ports.front(), env, reporter));
    }

    std::vector<std::string> labels;
    for (const cli::PortChoice& p : plan.ports)
        labels.push_back(p.label());
    cli::Console console({.quiet = plan.quiet, .json = plan.json, .terminal = ::isatty(2) == 1},
                         stdout, stderr, labels);
    if (plan.ports.size() == 1) {
        cli::ConsoleReporter reporter(console, 0);
        return static_cast<int>(cli::runOnPort(plan, plan.ports.front(), env, reporter));
    }
    return static_cast<int>(
        cli::runParallel(plan, QCoreApplication::applicationFilePath().toLocal8Bit().toStdString(),
                         console, files.serialize()));
}
