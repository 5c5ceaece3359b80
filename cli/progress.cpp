// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kestro::cli {

namespace {

std::string rateAndLeft(const Transfer& t) {
    char text[96] = "";
    if (t.rate > 0) {
        const auto left = static_cast<long>(
            std::ceil(static_cast<double>(std::max<std::int64_t>(t.total - t.done, 0)) / t.rate));
        std::snprintf(text, sizeof text, "%.0f B/s, %ld:%02ld left", t.rate, left / 60, left % 60);
    }
    std::string more = text;
    if (t.baud > 0)
        more += (more.empty() ? "" : ", ") + std::to_string(t.baud) + " baud";
    return more;
}

}  // namespace

std::string progressBar(const Transfer& t, int width) {
    const int percent = std::clamp(t.percent, 0, 100);
    const int filled = width * percent / 100;
    std::string bar = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                      std::string(static_cast<std::size_t>(width - filled), ' ') + "]";
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, " %3d%%  %lld/%lld B", percent,
                  static_cast<long long>(t.done), static_cast<long long>(t.total));
    std::string text = bar + numbers;
    if (const std::string more = rateAndLeft(t); !more.empty())
        text += "  " + more;
    return text;
}

std::string progressLine(const Transfer& t) {
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "%d%% %lld/%lld B", std::clamp(t.percent, 0, 100),
                  static_cast<long long>(t.done), static_cast<long long>(t.total));
    std::string text = numbers;
    if (const std::string more = rateAndLeft(t); !more.empty())
        text += ", " + more;
    return text;
}

double RateMeter::rate(std::int64_t done, double seconds) {
    if (last_ && done != *last_) {
        if (!firstChange_)
            firstChange_ = Mark{done, seconds};
        else
            lastChange_ = Mark{done, seconds};
    }
    last_ = done;
    if (!lastChange_ || lastChange_->seconds <= firstChange_->seconds)
        return 0;
    return static_cast<double>(lastChange_->done - firstChange_->done) /
           (lastChange_->seconds - firstChange_->seconds);
}

bool ProgressSteps::due(int percent) {
    const int step = std::clamp(percent, 0, 100) / 10;
    if (step <= last_)
        return false;
    last_ = step;
    return true;
}

}  // namespace kestro::cli
