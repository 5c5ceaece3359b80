// SPDX-License-Identifier: GPL-3.0-or-later
#include "console.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

namespace kestro::cli {

namespace {

QJsonObject recordObject(const RunRecord& r) {
    QJsonObject o{
        {"operation", QString::fromStdString(r.operation)},
        {"port", QString::fromStdString(r.port)},
        {"verdict", QString::fromStdString(r.verdict)},
        {"exit", static_cast<int>(r.exit)},
        {"bytes", static_cast<double>(r.bytes)},
        {"seconds", std::round(r.seconds * 1000) / 1000},
    };
    // Only a fast job agrees on a rate; the default path's record stays as it was.
    if (r.baud > 0)
        o.insert("baud", r.baud);
    if (!r.identity.empty())
        o.insert("identity",
                 QJsonDocument::fromJson(QByteArray::fromStdString(r.identity)).object());
    if (!r.detail.empty())
        o.insert("detail", QString::fromStdString(r.detail));
    return o;
}

std::string compact(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

std::optional<QJsonObject> objectOf(const std::string& json) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

bool recordFrom(const QJsonObject& o, RunRecord& r) {
    if (!o.contains("operation") || !o.contains("exit"))
        return false;
    const auto exit = exitFromCode(o.value("exit").toInt(-1));
    if (!exit)
        return false;
    r.operation = o.value("operation").toString().toStdString();
    r.port = o.value("port").toString().toStdString();
    r.verdict = o.value("verdict").toString().toStdString();
    r.exit = *exit;
    r.bytes = static_cast<std::int64_t>(o.value("bytes").toDouble());
    r.seconds = o.value("seconds").toDouble();
    r.baud = o.value("baud").toInt();
    if (o.value("identity").isObject())
        r.identity = compact(o.value("identity").toObject());
    r.detail = o.value("detail").toString().toStdString();
    return true;
}

const char* channelName(Channel c) {
    switch (c) {
        case Channel::Verdict:
            return "verdict";
        case Channel::Info:
            return "info";
        case Channel::Error:
            break;
    }
    return "error";
}

}  // namespace

std::string recordJson(const RunRecord& r) {
    return compact(recordObject(r));
}

bool parseRecord(const std::string& json, RunRecord& record) {
    const auto o = objectOf(json);
    return o && recordFrom(*o, record);
}

Console::Console(ConsoleOptions options, std::FILE* out, std::FILE* err,
                 std::vector<std::string> ports)
    : options_(options),
      out_(out),
      err_(err),
      ports_(std::move(ports)),
      transfers_(ports_.size()),
      steps_(ports_.size()) {}

Console::~Console() {
    clearBars();
}

std::string Console::prefix(std::size_t port) const {
    return ports_.size() > 1 ? ports_[port] + ": " : std::string();
}

void Console::clearBars() {
    if (barsShown_ == 0)
        return;
    // Up to the first bar's row, then clear everything below.
    std::fprintf(err_, "\r\033[%dA\033[J", barsShown_);
    barsShown_ = 0;
}

void Console::drawBars() {
    if (!options_.terminal || options_.quiet)
        return;
    for (std::size_t p = 0; p < ports_.size(); ++p) {
        if (!transfers_[p])
            continue;
        std::fprintf(err_, "%s%s\n", prefix(p).c_str(), progressBar(*transfers_[p]).c_str());
        ++barsShown_;
    }
    std::fflush(err_);
}

void Console::line(std::size_t port, Channel channel, const std::string& text) {
    if (options_.quiet && channel != Channel::Error)
        return;
    // With --json, standard output holds the records alone.
    std::FILE* to = channel == Channel::Verdict && !options_.json ? out_ : err_;
    clearBars();
    std::string body = text;
    const std::string pre = prefix(port);
    for (std::size_t at = 0; (at = body.find('\n', at)) != std::string::npos; at += 1 + pre.size())
        body.insert(at + 1, pre);
    std::fprintf(to, "%s%s\n", pre.c_str(), body.c_str());
    std::fflush(to);
    drawBars();
}

void Console::progress(std::size_t port, const std::optional<Transfer>& transfer) {
    if (options_.quiet)
        return;
    if (!options_.terminal) {
        if (!transfer) {
            steps_[port].reset();
        } else if (steps_[port].due(transfer->percent)) {
            std::fprintf(err_, "%s%s\n", prefix(port).c_str(), progressLine(*transfer).c_str());
            std::fflush(err_);
        }
        return;
    }
    clearBars();
    transfers_[port] = transfer;
    drawBars();
}

void Console::record(std::size_t, const RunRecord& record) {
    if (!options_.json)
        return;
    clearBars();
    std::fprintf(out_, "%s\n", recordJson(record).c_str());
    std::fflush(out_);
    drawBars();
}

void Console::summary(const std::vector<RunRecord>& records) {
    if (options_.quiet)
        return;
    clearBars();
    std::FILE* to = options_.json ? err_ : out_;
    std::size_t width = 4;
    for (const RunRecord& r : records)
        width = std::max(width, r.port.size());
    std::fprintf(to, "\n%-*s  %-4s  %7s  %s\n", static_cast<int>(width), "PORT", "EXIT", "TIME",
                 "VERDICT");
    for (const RunRecord& r : records) {
        std::string verdict = r.verdict;
        std::replace(verdict.begin(), verdict.end(), '\n', ' ');
        std::fprintf(to, "%-*s  %-4d  %6.1fs  %s\n", static_cast<int>(width), r.port.c_str(),
                     static_cast<int>(r.exit), r.seconds, verdict.c_str());
    }
    std::fflush(to);
}

void WorkerReporter::send(const std::string& json) {
    std::fprintf(out_, "%s\n", json.c_str());
    std::fflush(out_);
}

void WorkerReporter::line(Channel channel, const std::string& text) {
    send(compact(QJsonObject{{"event", "line"},
                             {"channel", channelName(channel)},
                             {"text", QString::fromStdString(text)}}));
}

void WorkerReporter::progress(const std::optional<Transfer>& t) {
    if (!t) {
        send(compact(QJsonObject{{"event", "progress"}}));
        return;
    }
    send(compact(QJsonObject{{"event", "progress"},
                             {"done", static_cast<double>(t->done)},
                             {"total", static_cast<double>(t->total)},
                             {"seconds", t->seconds},
                             {"percent", t->percent},
                             {"rate", t->rate},
                             {"baud", t->baud}}));
}

void WorkerReporter::record(const RunRecord& r) {
    QJsonObject o = recordObject(r);
    o.insert("event", "record");
    send(compact(o));
}

bool replayWorkerLine(const std::string& line, Reporter& reporter) {
    const auto o = objectOf(line);
    if (!o)
        return false;
    const QString event = o->value("event").toString();
    if (event == "line") {
        const QString channel = o->value("channel").toString();
        reporter.line(channel == "verdict" ? Channel::Verdict
                      : channel == "info"  ? Channel::Info
                                           : Channel::Error,
                      o->value("text").toString().toStdString());
        return true;
    }
    if (event == "progress") {
        if (!o->contains("percent")) {
            reporter.progress(std::nullopt);
            return true;
        }
        reporter.progress(Transfer{.done = static_cast<std::int64_t>(o->value("done").toDouble()),
                                   .total = static_cast<std::int64_t>(o->value("total").toDouble()),
                                   .seconds = o->value("seconds").toDouble(),
                                   .percent = o->value("percent").toInt(),
                                   .rate = o->value("rate").toDouble(),
                                   .baud = o->value("baud").toInt()});
        return true;
    }
    if (event == "record") {
        RunRecord r;
        if (!recordFrom(*o, r))
            return false;
        reporter.record(r);
        return true;
    }
    return false;
}

}  // namespace kestro::cli
