// SPDX-License-Identifier: GPL-3.0-or-later
#include "parallel.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QProcess>
#include <QStringList>
#include <algorithm>
#include <memory>
#include <string>

#include "event_loop_clock.h"
#include "interruption.h"
#include "runner.h"
#include "verdict.h"

namespace kestro::cli {

namespace {

// A worker may run a long chain of long dumps; the wait only has to end some day.
constexpr Duration kWorkerLimit = std::chrono::hours(24);
// An interrupted worker ends within a second; one that has not after this is stuck.
constexpr Duration kInterruptedLimit = 5s;

// Shows a worker's events on its console row and keeps its last record for the summary.
class WorkerView final : public Reporter {
  public:
    WorkerView(Console& console, std::size_t port) : console_(console), port_(port) {}
    void line(Channel c, const std::string& text) override { console_.line(port_, c, text); }
    void progress(const std::optional<Transfer>& t) override { console_.progress(port_, t); }
    void record(const RunRecord& r) override {
        last = r;
        ++records;
        console_.record(port_, r);
    }
    std::optional<RunRecord> last;
    std::size_t records = 0;  // one a command that ended

  private:
    Console& console_;
    std::size_t port_;
};

struct Worker {
    std::unique_ptr<QProcess> process;
    std::unique_ptr<WorkerView> view;
    TimePoint start{0};
    TimePoint end{0};
    bool finished = false;
    std::string errors;  // the start of a line of its standard error
};

// "SIGKILL", as a shell user knows the signal.
std::string signalName(int signal) {
    if (const char* abbrev = ::sigabbrev_np(signal))
        return std::string("SIG") + abbrev;
    return "signal " + std::to_string(signal);
}

void readLines(Worker& w) {
    while (w.process->canReadLine()) {
        const std::string line = w.process->readLine().trimmed().toStdString();
        if (!line.empty() && !replayWorkerLine(line, *w.view))
            w.view->line(Channel::Error, line);
    }
}

}  // namespace

Exit runParallel(const Plan& plan, const std::string& program, Console& console,
                 const std::string& files) {
    EventLoopClock clock;
    std::vector<Worker> workers(plan.ports.size());
    for (std::size_t i = 0; i < plan.ports.size(); ++i) {
        Worker& w = workers[i];
        QStringList arguments;
        for (const std::string& a : plan.jobArguments)
            arguments << QString::fromStdString(a);
        for (const std::string& a : plan.ports[i].arguments())
            arguments << QString::fromStdString(a);
        arguments << QStringLiteral("--worker") << QString::number(i + 1);
        if (plan.trace)
            arguments << QStringLiteral("--trace")
                      << QString::fromStdString(*plan.trace + "." + std::to_string(i + 1));
        w.view = std::make_unique<WorkerView>(console, i);
        w.process = std::make_unique<QProcess>();
        // Its standard error comes through this process: in a process group of its own (below),
        // a worker writing to the terminal itself could be stopped by it.
        QObject::connect(w.process.get(), &QProcess::readyReadStandardError, [&w] {
            w.errors += w.process->readAllStandardError().toStdString();
            for (std::size_t end; (end = w.errors.find('\n')) != std::string::npos;) {
                w.view->line(Channel::Error, w.errors.substr(0, end));
                w.errors.erase(0, end + 1);
            }
        });
        // A group of its own, so that Ctrl-C reaches a worker once, passed on by this process
        // (twice would end it at once, untidied); and it ends with this process, however that
        // ends.
        w.process->setChildProcessModifier([] {
            ::setpgid(0, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        });
        QObject::connect(w.process.get(), &QProcess::readyReadStandardOutput,
                         [&w] { readLines(w); });
        QObject::connect(w.process.get(), &QProcess::finished, [&w, &clock] {
            w.finished = true;
            w.end = clock.now();
        });
        QObject::connect(w.process.get(), &QProcess::errorOccurred,
                         [&w, &clock](QProcess::ProcessError e) {
                             if (e == QProcess::FailedToStart) {
                                 w.finished = true;
                                 w.end = clock.now();
                             }
                         });
        w.start = clock.now();
        w.process->start(QString::fromStdString(program), arguments);
        w.process->write(files.data(), static_cast<qint64>(files.size()));
        w.process->closeWriteChannel();
        if (w.process->processId() > 0)
            addChildProcess(static_cast<pid_t>(w.process->processId()));
    }
    const auto allFinished = [&workers] {
        return std::all_of(workers.begin(), workers.end(),
                           [](const Worker& w) { return w.finished; });
    };
    clock.waitUntil([&] { return allFinished() || interruption() != 0; }, kWorkerLimit);
    if (const int signal = interruption(); signal != 0 && !allFinished()) {
        for (Worker& w : workers)
            if (!w.finished && w.process->processId() > 0)
                ::kill(static_cast<pid_t>(w.process->processId()), signal);
        if (!clock.waitUntil(allFinished, kInterruptedLimit))
            for (Worker& w : workers)
                if (!w.finished)
                    w.process->kill();
        clock.waitUntil(allFinished, kInterruptedLimit);
    }

    Exit worst = Exit::Success;
    std::vector<RunRecord> summary;
    for (std::size_t i = 0; i < workers.size(); ++i) {
        Worker& w = workers[i];
        readLines(w);
        if (!w.errors.empty())
            w.view->line(Channel::Error, w.errors);
        const int code = w.process->exitCode();
        RunRecord row;
        row.port = plan.ports[i].label();
        row.seconds = std::chrono::duration<double>(w.end - w.start).count();
        if (w.process->exitStatus() == QProcess::NormalExit && w.finished && exitFromCode(code) &&
            w.process->error() != QProcess::FailedToStart) {
            row.exit = *exitFromCode(code);
            if (w.view->last) {
                row.operation = w.view->last->operation;
                row.verdict = w.view->last->verdict;
            }
        } else {
            // The worker died: whatever it did to its port is unknown, and the command it was
            // running gets its record here, as a script counts on one for every command it ran.
            const Step& step = plan.steps[std::min(w.view->records, plan.steps.size() - 1)];
            row.exit = Exit::PortError;
            row.operation = step.command;
            if (w.process->error() == QProcess::FailedToStart) {
                row.verdict = "The run could not start: nothing was sent.";
            } else {
                row.verdict = "The run ended abnormally";
                if (w.process->exitStatus() == QProcess::CrashExit && w.finished)
                    row.verdict += std::string(" (") + signalName(w.process->exitCode()) + ")";
                row.verdict += " during " + step.command + ": " + partlyDone(step.button) + ".";
            }
            console.line(i, Channel::Error, row.verdict);
            // Unless its last record already ended its job (a failure, or the last command).
            const bool jobEnded = w.view->last && (w.view->last->exit != Exit::Success ||
                                                   w.view->records >= plan.steps.size());
            if (!jobEnded)
                console.record(i, row);
        }
        worst = worse(worst, row.exit);
        summary.push_back(row);
    }
    console.summary(summary);
    return worst;
}

}  // namespace kestro::cli
