// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>

#include "serial_port.h"

namespace kestro {

// One port number space over several backends: with the virtual board, Comm 1 is the board
// and the other numbers stay real ports. The backend is chosen when the port opens.
class PortSwitch final : public SerialPort {
  public:
    explicit PortSwitch(SerialPort& fallback) : fallback_(fallback), current_(&fallback) {}

    // Port n is served by backend from now on.
    void route(int n, SerialPort& backend) { routes_[n] = &backend; }

    void setCommPort(int n) override;
    int commPort() const override { return port_; }
    std::string deviceName(int n) const override { return backendFor(n).deviceName(n); }

    PortError setSettings(std::string_view settings) override;
    LineSettings settings() const override;
    RateResult setRate(int baud) override;

    PortError open() override;
    void close() override;
    bool isOpen() const override { return current_->isOpen(); }
    PortError failure() const override { return current_->failure(); }
    AccessProblem accessProblem() const override { return current_->accessProblem(); }

    PortError output(ByteView bytes) override { return current_->output(bytes); }
    using SerialPort::output;
    std::size_t outBufferCount() override { return current_->outBufferCount(); }
    std::size_t outBufferSize() const override { return current_->outBufferSize(); }
    void discardOutput() override { current_->discardOutput(); }

    Bytes input() override { return current_->input(); }
    Bytes waiting() const override { return current_->waiting(); }
    std::size_t inBufferCount() override { return current_->inBufferCount(); }
    void discardInput() override { current_->discardInput(); }
    void setInputLen(std::size_t n) override;

    void setListener(PortListener* listener) override;
    void setLoneNulIsBreak(bool enabled) override;
    void setTextAnswers(bool enabled) override;
    // The trace follows whichever backend is in use.
    void setTraceAll(PortTrace* trace);

  private:
    SerialPort& backendFor(int n) const;
    template <typename F>
    void forEachBackend(F f);

    SerialPort& fallback_;
    SerialPort* current_;
    std::map<int, SerialPort*> routes_;
    int port_ = 1;
    LineSettings settings_;
    int rate_ = 0;  // the backend's answer to setRate, until the next open, close or settings
    std::size_t inputLen_ = 0;
    bool loneNulIsBreak_ = false;
    bool textAnswers_ = false;
};

}  // namespace kestro
