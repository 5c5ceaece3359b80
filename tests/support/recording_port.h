// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <vector>

#include "serial_port.h"

namespace kestro::testing {

// Passes everything through to a port; test ports override only what they watch or change.
class ForwardingPort : public SerialPort {
  public:
    explicit ForwardingPort(SerialPort& inner) : inner_(inner) {}

    void setCommPort(int n) override { inner_.setCommPort(n); }
    int commPort() const override { return inner_.commPort(); }
    std::string deviceName(int n) const override { return inner_.deviceName(n); }
    PortError setSettings(std::string_view s) override { return inner_.setSettings(s); }
    LineSettings settings() const override { return inner_.settings(); }
    RateResult setRate(int baud) override { return inner_.setRate(baud); }
    PortError open() override { return inner_.open(); }
    void close() override { inner_.close(); }
    bool isOpen() const override { return inner_.isOpen(); }
    PortError failure() const override { return inner_.failure(); }
    AccessProblem accessProblem() const override { return inner_.accessProblem(); }
    PortError output(ByteView bytes) override { return inner_.output(bytes); }
    using SerialPort::output;
    std::size_t outBufferCount() override { return inner_.outBufferCount(); }
    std::size_t outBufferSize() const override { return inner_.outBufferSize(); }
    void discardOutput() override { inner_.discardOutput(); }
    Bytes input() override { return inner_.input(); }
    Bytes waiting() const override { return inner_.waiting(); }
    std::size_t inBufferCount() override { return inner_.inBufferCount(); }
    void discardInput() override { inner_.discardInput(); }
    void setInputLen(std::size_t n) override { inner_.setInputLen(n); }
    void setListener(PortListener* l) override { inner_.setListener(l); }
    void setLoneNulIsBreak(bool on) override { inner_.setLoneNulIsBreak(on); }
    void setTextAnswers(bool on) override { inner_.setTextAnswers(on); }

  protected:
    SerialPort& inner_;
};

// Keeps each write as it was made, so tests can check how many writes an operation makes, not
// only the bytes.
class RecordingPort final : public ForwardingPort {
  public:
    using ForwardingPort::ForwardingPort;

    std::vector<Bytes> writes;
    std::vector<std::string> settingsLog;
    // A port whose output never leaves, as one held up by flow control.
    bool neverDrains = false;

    PortError setSettings(std::string_view s) override {
        settingsLog.emplace_back(s);
        return inner_.setSettings(s);
    }
    PortError output(ByteView bytes) override {
        writes.emplace_back(bytes.begin(), bytes.end());
        return inner_.output(bytes);
    }
    using SerialPort::output;
    std::size_t outBufferCount() override {
        const std::size_t n = inner_.outBufferCount();
        return neverDrains ? std::max<std::size_t>(n, 1) : n;
    }
};

}  // namespace kestro::testing
