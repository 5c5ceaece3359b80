// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>

#include "serial_port.h"
#include "virtual_line.h"

namespace kestro {

// The PC's side of virtual serial lines. Port numbers lead to lines that a test or the virtual
// board attaches; a number with no line is absent, and a test can mark a port as held by
// another program or pull it away while open.
class VirtualPort final : public SerialPort {
  public:
    // Time is kept by the lines the port is attached to; the scheduler is only asked to watch
    // closely where a wait hangs on the line (watchClosely).
    explicit VirtualPort(Scheduler& scheduler) : scheduler_(scheduler) {}
    ~VirtualPort() override;

    void attach(int n, VirtualLine& line, std::string name = {});
    void setOpenResult(int n, PortError result, AccessProblem why = {}) {
        openResult_[n] = result;
        accessProblems_[n] = std::move(why);
    }
    // Simulates a device that disappears under an open port (a USB adapter pulled out).
    void pull();
    // What the adapter sets for a rate asked with setRate, or nullopt where it refuses the
    // rate; by default it sets every rate exactly, as the SCI makes any rate it is given.
    using Adapter = std::function<std::optional<int>(int asked)>;
    void setAdapter(Adapter adapter) { adapter_ = std::move(adapter); }
    // An adapter whose driver counts a byte as sent once it has gone into the adapter's own
    // FIFO of this many bytes (the ch341's does): the last of a write leaves the wire up to that
    // many characters after the port says it has gone. 0: the port counts what is on the wire.
    void setAdapterFifo(std::size_t bytes) { adapterFifo_ = bytes; }

    void setCommPort(int n) override { port_ = n; }
    int commPort() const override { return port_; }
    std::string deviceName(int n) const override;

    PortError setSettings(std::string_view settings) override;
    LineSettings settings() const override;
    RateResult setRate(int baud) override;

    PortError open() override;
    void close() override;
    bool isOpen() const override { return open_ != nullptr; }
    PortError failure() const override { return failure_; }
    AccessProblem accessProblem() const override {
        auto it = accessProblems_.find(port_);
        return it != accessProblems_.end() ? it->second : AccessProblem{};
    }

    PortError output(ByteView bytes) override;
    using SerialPort::output;
    std::size_t outBufferCount() override {
        const std::size_t pending = tx_ ? tx_->pending() : 0;
        return pending > adapterFifo_ ? pending - adapterFifo_ : 0;
    }
    std::size_t outBufferSize() const override { return kOutBufferSize; }
    void discardOutput() override;

    Bytes input() override;
    Bytes waiting() const override { return Bytes(rx_.begin(), rx_.end()); }
    std::size_t inBufferCount() override { return rx_.size(); }
    void discardInput() override {
        rx_.clear();
        awaited_ = 0;
    }
    void setInputLen(std::size_t n) override { inputLen_ = n; }
    void awaitInput(std::size_t count) override;

    void setListener(PortListener* listener) override { listener_ = listener; }
    // As an adapter that passes a break on as a plain NUL: see SerialPort.
    void setLoneNulIsBreak(bool enabled) override { loneNulIsBreak_ = enabled; }
    void setTextAnswers(bool enabled) override { textAnswers_ = enabled; }

    static constexpr std::size_t kOutBufferSize = 512;

  private:
    void received(Byte byte, bool framingError);
    // Both directions at the rate in force, from now on.
    void applyRate();

    struct Attached {
        VirtualLine* line;
        std::string name;
    };
    Scheduler& scheduler_;
    std::map<int, Attached> lines_;
    std::map<int, PortError> openResult_;
    std::map<int, AccessProblem> accessProblems_;
    int port_ = 1;
    LineSettings settings_;
    int rate_ = 0;  // set by setRate until the next open or setSettings; 0: the text's
    Adapter adapter_;
    std::size_t adapterFifo_ = 0;
    VirtualLine* open_ = nullptr;
    std::unique_ptr<Transmitter> tx_;
    std::deque<Byte> rx_;
    std::size_t inputLen_ = 0;
    std::size_t awaited_ = 0;  // awaitInput's count, until it is reached or the input taken
    PortError failure_ = PortError::None;
    PortListener* listener_ = nullptr;
    bool loneNulIsBreak_ = false;
    bool textAnswers_ = false;
};

}  // namespace kestro
