// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "progress.h"
#include "report.h"

namespace kestro::cli {

struct ConsoleOptions {
    bool quiet = false;
    bool json = false;
    bool terminal = false;  // standard error is a terminal: bars that redraw themselves
};

// The terminal of one run or of several at once. Each port has a row; on a terminal every
// row's bar is redrawn in place below the lines already written, elsewhere progress comes as
// plain lines at every tenth. With several ports each line names its port.
class Console {
  public:
    Console(ConsoleOptions options, std::FILE* out, std::FILE* err, std::vector<std::string> ports);
    ~Console();

    void line(std::size_t port, Channel channel, const std::string& text);
    void progress(std::size_t port, const std::optional<Transfer>& transfer);
    void record(std::size_t port, const RunRecord& record);
    // Writes the summary table of several ports: port, verdict, exit code, time.
    void summary(const std::vector<RunRecord>& lastOfEachPort);

  private:
    void clearBars();
    void drawBars();
    std::string prefix(std::size_t port) const;

    ConsoleOptions options_;
    std::FILE* out_;
    std::FILE* err_;
    std::vector<std::string> ports_;
    std::vector<std::optional<Transfer>> transfers_;
    std::vector<ProgressSteps> steps_;
    int barsShown_ = 0;
};

// A Reporter for one port of a Console.
class ConsoleReporter final : public Reporter {
  public:
    ConsoleReporter(Console& console, std::size_t port) : console_(console), port_(port) {}
    void line(Channel channel, const std::string& text) override {
        console_.line(port_, channel, text);
    }
    void progress(const std::optional<Transfer>& t) override { console_.progress(port_, t); }
    void record(const RunRecord& r) override { console_.record(port_, r); }

  private:
    Console& console_;
    std::size_t port_;
};

// A worker's Reporter: every event as one JSON line on out, for the process that started it.
class WorkerReporter final : public Reporter {
  public:
    explicit WorkerReporter(std::FILE* out) : out_(out) {}
    void line(Channel channel, const std::string& text) override;
    void progress(const std::optional<Transfer>& t) override;
    void record(const RunRecord& r) override;

  private:
    void send(const std::string& json);
    std::FILE* out_;
};

// Reads one line of a worker and hands it to reporter; false for a line that is no event.
bool replayWorkerLine(const std::string& line, Reporter& reporter);

// Reads a record back from its JSON; false when it is none.
bool parseRecord(const std::string& json, RunRecord& record);

}  // namespace kestro::cli
