// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "bytes.h"

namespace kestro {

// What a UART makes of a low level that starts with a start bit and ends before the stop bit:
// 0 bits from bit 0 up, then 1 bits ($00, $80, $C0 ... $FE, $FF). The boot loader holds its
// break after a reset only until the PC's next byte, so a PC that is sending reads it as such a
// byte and not as a break (M68HC11 Reference Manual 3.5.4.1). No text character has this shape.
inline bool readsAsBreak(Byte b) {
    const unsigned ones = static_cast<Byte>(~b);
    return b == 0 || (ones & (ones + 1)) == 0;
}

// Why a port operation failed. Callers decide what to show; the port never builds text.
enum class PortError {
    None,
    Absent,        // no such device
    InUse,         // another program holds it
    NoPermission,  // the user may not open it; accessProblem() says why where it can
    Lost,          // it went away while open, e.g. a USB adapter pulled out
    NotOpen,       // an operation that needs an open port
    BadSettings,   // a settings text we cannot apply
    Io,            // any other failure of the system
    NotSerial,     // the path opens, but as no terminal (a regular file, /dev/null, a folder)
    NoDevice,      // the node is there with nothing behind it (a port without its hardware,
                   // /dev/tty without a controlling terminal)
};

// Line settings as the program writes them: "1200,N,8,1" (baud, parity, data bits, stop bits).
struct LineSettings {
    int baud = 1200;
    char parity = 'N';  // always upper case: N, E, O, M or S
    int dataBits = 8;
    int stopBits = 1;

    // Accepts the parity letter in either case; nullopt for anything it cannot read.
    static std::optional<LineSettings> parse(std::string_view text);
    bool operator==(const LineSettings&) const = default;
};

// Why the system refused a port to the user, as far as the port can tell.
struct AccessProblem {
    enum class Kind {
        Unknown,
        NotInGroup,    // the device's group may use it and the user is not (yet) in it
        OwnerOnly,     // only the device's owner may use it
        ClosedFolder,  // a folder on the device's path cannot be entered
    };
    Kind kind = Kind::Unknown;
    std::string name;  // the group, the owner or the folder
    bool operator==(const AccessProblem&) const = default;
};

// Notifications of a port, delivered on the thread that owns the link (the UI thread).
class PortListener {
  public:
    virtual ~PortListener() = default;
    virtual void portBreak() {}
    virtual void portDataArrived() {}
    virtual void portFailed(PortError) {}
};

// Sees every byte each way and every break as the port handles them, for the wire trace.
class PortTrace {
  public:
    virtual ~PortTrace() = default;
    virtual void sent(ByteView bytes) = 0;
    virtual void received(ByteView bytes) = 0;
    virtual void breakReceived() = 0;
    // A rate asked of the port with setRate: what the port set, or that it refused.
    virtual void rateChanged(int /*asked*/, int /*inForce*/, bool /*refused*/) {}
};

// What setRate did: the rate in force afterwards, also when it failed (then the one before).
struct RateResult {
    PortError error = PortError::None;  // BadSettings: the port refused that rate
    int baud = 0;
    bool operator==(const RateResult&) const = default;
};

// The serial port as the operations use it: opened by number, text line settings, a queued
// write, counts of what waits in either direction, and a break notification.
class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // Port numbers start at 1; used at the next open.
    virtual void setCommPort(int n) = 0;
    virtual int commPort() const = 0;
    // What port n is for the user: a device path, or a name of our own for a virtual port.
    virtual std::string deviceName(int n) const = 0;

    // Applies at once when the port is open; the port stays open.
    virtual PortError setSettings(std::string_view settings) = 0;
    // The rate in force while setRate's rate holds, otherwise the text's.
    virtual LineSettings settings() const = 0;
    // Asks an open port for a rate in baud, any rate, the rest of the settings kept, and says
    // which rate the port really set: an adapter may round it, or refuse it (BadSettings, the
    // rate before stays). Only for as long as the port stays open: the next open and the next
    // setSettings go back to the settings text. A port that cannot change its rate this way
    // refuses every rate.
    virtual RateResult setRate(int /*baud*/) {
        return {isOpen() ? PortError::BadSettings : PortError::NotOpen, settings().baud};
    }

    virtual PortError open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Set when an open port failed under us (Lost, Io); cleared by the next open.
    virtual PortError failure() const = 0;
    // Why the last open that failed with NoPermission was refused.
    virtual AccessProblem accessProblem() const { return {}; }

    // Queues the bytes in order and returns at once.
    virtual PortError output(ByteView bytes) = 0;
    // Bytes not yet gone from the wire; 0 only once every byte can have left the PC.
    virtual std::size_t outBufferCount() = 0;
    virtual std::size_t outBufferSize() const = 0;
    virtual void discardOutput() = 0;

    // Removes and returns the received bytes waiting, at most inputLen of them when that is set.
    virtual Bytes input() = 0;
    // The received bytes waiting, left in place.
    virtual Bytes waiting() const { return {}; }
    virtual std::size_t inBufferCount() = 0;
    virtual void discardInput() = 0;
    virtual void setInputLen(std::size_t n) = 0;
    // Before a wait for bytes: the wait ends once count bytes are waiting. A port whose bytes come
    // from events on the program's own clock (a virtual board in the same process) has the clock
    // wake for the last of them as it arrives; a real port's bytes wake the loop themselves.
    virtual void awaitInput(std::size_t /*count*/) {}

    virtual void setListener(PortListener* listener) = 0;

    // Some USB adapters pass a received break on as a plain NUL byte. While no operation runs,
    // such a port reports a NUL that arrives on its own as a break; the link switches this off
    // while an operation talks to the target, where NUL is ordinary data.
    virtual void setLoneNulIsBreak(bool /*enabled*/) {}
    // While the target answers only in text, a byte that reads as a break (see readsAsBreak)
    // is one, wherever it comes: the link switches this on once a talker that speaks text runs.
    virtual void setTextAnswers(bool /*enabled*/) {}

    void setTrace(PortTrace* trace) { trace_ = trace; }

    PortError output(std::string_view text) {
        const Bytes b = bytesOf(text);
        return output(ByteView(b));
    }
    PortError output(Byte b) { return output(ByteView(&b, 1)); }

  protected:
    PortTrace* trace_ = nullptr;
};

}  // namespace kestro
