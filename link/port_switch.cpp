// SPDX-License-Identifier: GPL-3.0-or-later
#include "port_switch.h"

#include <cstdio>

namespace kestro {

SerialPort& PortSwitch::backendFor(int n) const {
    auto it = routes_.find(n);
    return it != routes_.end() ? *it->second : fallback_;
}

template <typename F>
void PortSwitch::forEachBackend(F f) {
    f(fallback_);
    for (auto& [n, backend] : routes_)
        f(*backend);
}

void PortSwitch::setCommPort(int n) {
    port_ = n;
    // An open port keeps its backend; the number counts from the next open, as on any port.
    if (!current_->isOpen())
        current_ = &backendFor(n);
    current_->setCommPort(n);
}

PortError PortSwitch::setSettings(std::string_view settings) {
    const auto parsed = LineSettings::parse(settings);
    if (!parsed)
        return PortError::BadSettings;
    settings_ = *parsed;
    rate_ = 0;
    return current_->setSettings(settings);
}

LineSettings PortSwitch::settings() const {
    LineSettings s = settings_;
    if (rate_ != 0)
        s.baud = rate_;
    return s;
}

RateResult PortSwitch::setRate(int baud) {
    const RateResult r = current_->setRate(baud);
    if (r.error == PortError::None)
        rate_ = r.baud;
    return r;
}

void PortSwitch::close() {
    rate_ = 0;
    current_->close();
}

PortError PortSwitch::open() {
    if (current_->isOpen())
        return PortError::InUse;
    rate_ = 0;
    current_ = &backendFor(port_);
    current_->setCommPort(port_);
    // The backend hears the settings and the read length the program set before the open.
    char text[32];
    std::snprintf(text, sizeof text, "%d,%c,%d,%d", settings_.baud, settings_.parity,
                  settings_.dataBits, settings_.stopBits);
    if (const PortError e = current_->setSettings(text); e != PortError::None)
        return e;
    current_->setInputLen(inputLen_);
    current_->setLoneNulIsBreak(loneNulIsBreak_);
    current_->setTextAnswers(textAnswers_);
    return current_->open();
}

void PortSwitch::setInputLen(std::size_t n) {
    inputLen_ = n;
    current_->setInputLen(n);
}

void PortSwitch::setListener(PortListener* listener) {
    forEachBackend([listener](SerialPort& p) { p.setListener(listener); });
}

void PortSwitch::setLoneNulIsBreak(bool enabled) {
    loneNulIsBreak_ = enabled;
    current_->setLoneNulIsBreak(enabled);
}

void PortSwitch::setTextAnswers(bool enabled) {
    textAnswers_ = enabled;
    current_->setTextAnswers(enabled);
}

void PortSwitch::setTraceAll(PortTrace* trace) {
    setTrace(trace);
    forEachBackend([trace](SerialPort& p) { p.setTrace(trace); });
}

}  // namespace kestro
