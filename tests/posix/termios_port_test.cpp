// SPDX-License-Identifier: GPL-3.0-or-later
// The real serial port over a pseudo-terminal: the port opens the slave, the test plays the
// target on the master.
#include "termios_port.h"

#include "driver_rate.h"
#include "event_loop_clock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTest>
#include <numeric>

namespace kestro {
namespace {

TEST(ConfigureTermios, LineSettingsAndRawMode) {
    const std::tuple<const char*, speed_t, tcflag_t> cases[] = {
        {"1200,N,8,1", B1200, CS8},
        {"2400,n,8,1", B2400, CS8},
        {"9600,e,7,2", B9600, CS7 | PARENB | CSTOPB},
    };
    constexpr tcflag_t kLine =
        CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CLOCAL | CREAD | CIBAUD;
    for (const auto& [text, speed, cflag] : cases) {
        SCOPED_TRACE(text);
        // A terminal as it starts, cooked.
        termios t{};
        t.c_iflag = ICRNL | IXON | IGNBRK | BRKINT | ISTRIP;
        t.c_oflag = OPOST | ONLCR;
        // CIBAUD: an input rate of its own that a driver left after a custom rate.
        t.c_cflag = CS7 | PARENB | CRTSCTS | CREAD | CIBAUD;
        t.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
        ASSERT_TRUE(configureTermios(t, *LineSettings::parse(text)));
        EXPECT_EQ(std::pair(cfgetispeed(&t), cfgetospeed(&t)), std::pair(speed, speed));
        EXPECT_EQ(t.c_cflag & kLine, cflag | CLOCAL | CREAD);
        // Breaks and errors marked in the data, nothing else touched on the way in or out.
        EXPECT_EQ(t.c_iflag, tcflag_t(PARMRK | INPCK));
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ(std::pair(t.c_cc[VMIN], t.c_cc[VTIME]), std::pair(cc_t{1}, cc_t{0}));
    }
}

struct Recorder : PortListener {
    std::vector<std::string> events;
    std::vector<PortError> failures;
    void portBreak() override { events.push_back("break"); }
    void portDataArrived() override { events.push_back("data"); }
    void portFailed(PortError e) override { failures.push_back(e); }
};

class PtyPort : public ::testing::Test {
  protected:
    void SetUp() override {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(grantpt(master_), 0);
        ASSERT_EQ(unlockpt(master_), 0);
        slavePath_ = ptsname(master_);
        // Opened before the port takes the slave exclusively; kept to look at its termios.
        slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(slave_, 0);
        port_.setListener(&recorder_);
        ASSERT_EQ(port_.setSettings("1200,N,8,1"), PortError::None);
        ASSERT_EQ(port_.open(), PortError::None);
    }
    void TearDown() override {
        port_.close();
        ::close(slave_);
        if (master_ >= 0)
            ::close(master_);
    }
    void closeMaster() { ::close(std::exchange(master_, -1)); }

    void sendFromTarget(const Bytes& bytes) {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // What the target received, read while the port's event loop runs.
    Bytes receiveAtTarget(std::size_t want, int ms = 5000) {
        Bytes got;
        (void)QTest::qWaitFor(
            [&] {
                Byte buffer[4096];
                for (ssize_t n; (n = ::read(master_, buffer, sizeof buffer)) > 0;)
                    got.insert(got.end(), buffer, buffer + n);
                return got.size() >= want;
            },
            ms);
        return got;
    }
    bool waitForInput(std::size_t n) {
        return QTest::qWaitFor([&] { return port_.inBufferCount() >= n; }, 5000);
    }
    bool waitForFailure() {
        return QTest::qWaitFor([&] { return !recorder_.failures.empty(); }, 5000);
    }

    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    TimePoint now_{1'000'000'000};
    TermiosPort port_{[this](int) { return slavePath_; }, [this] { return now_; }};
    Recorder recorder_;
};

// The settings apply at the open and while open. Rates without a B constant go through
// termios2; the port says what the driver really set and times its output by it, until the
// settings text or the next open takes over again. A settings text cannot name such a rate.
TEST_F(PtyPort, ACustomRateIsSetAndReadBackUntilTheSettingsApplyAgain) {
    const auto driver = [this] {
        const DriverRate r = driverRate(slave_);
        EXPECT_EQ(r.error, 0);
        EXPECT_EQ(r.in, r.out) << "both directions alike";
        return r.out;
    };
    EXPECT_EQ(driver(), 1'200);
    EXPECT_EQ(port_.setSettings("7812,N,8,1"), PortError::BadSettings);
    EXPECT_EQ(port_.settings(), *LineSettings::parse("1200,N,8,1"));
    EXPECT_EQ(port_.setRate(125'000), (RateResult{PortError::None, 125'000}));
    EXPECT_EQ(driver(), 125'000);
    EXPECT_EQ(port_.settings().baud, 125'000);
    ASSERT_EQ(port_.output(Bytes(10, 'f')), PortError::None);
    EXPECT_EQ(receiveAtTarget(10).size(), 10u);
    now_ += characterTime(125'000, 10);
    EXPECT_EQ(port_.outBufferCount(), 0u);

    EXPECT_EQ(port_.setRate(0), (RateResult{PortError::BadSettings, 125'000}));
    EXPECT_EQ(port_.setRate(9'600), (RateResult{PortError::None, 9'600}));
    ASSERT_EQ(port_.setSettings("1200,N,8,1"), PortError::None);
    EXPECT_EQ(driver(), 1'200);
    EXPECT_TRUE(port_.isOpen());
    EXPECT_EQ(port_.setRate(62'500).baud, 62'500);
    port_.close();
    EXPECT_EQ(port_.setRate(62'500), (RateResult{PortError::NotOpen, 1'200}));
    ASSERT_EQ(port_.open(), PortError::None);
    EXPECT_EQ(driver(), 1'200);
    EXPECT_EQ(port_.settings().baud, 1'200);
}

TEST_F(PtyPort, EveryByteValueGoesBothWaysUnchanged) {
    Bytes all(256);
    std::iota(all.begin(), all.end(), 0);
    ASSERT_EQ(port_.output(all), PortError::None);
    EXPECT_EQ(receiveAtTarget(256), all);

    Bytes twice = all;
    twice.insert(twice.end(), all.rbegin(), all.rend());
    sendFromTarget(twice);
    ASSERT_TRUE(waitForInput(twice.size()));
    EXPECT_EQ(port_.input(), twice);
    EXPECT_EQ(std::count(recorder_.events.begin(), recorder_.events.end(), "break"), 0);
    EXPECT_NE(std::count(recorder_.events.begin(), recorder_.events.end(), "data"), 0);
}

// An adapter's own buffer hides bytes from the driver's count: what was handed over counts by
// line time until it can have left.
TEST_F(PtyPort, OutCountFollowsTheLineTimeOfWhatWasHandedOver) {
    const Duration f = characterTime(1200);
    const std::tuple<Duration, std::size_t, std::size_t> steps[] = {
        // time passing, bytes handed over then, the count afterwards
        {0s, 12, 12},        {5 * f, 0, 7},
        {0s, 10, 17},  // queued behind the bytes still on the line, not from now
        {16 * f, 0, 1},      {f / 2, 0, 1},    // a frame still partly on the wire counts
        {f / 2 + 1us, 0, 0}, {100 * f, 1, 1},  // after a quiet spell the next byte starts now
        {f, 0, 0},
    };
    for (const auto& [time, handed, count] : steps) {
        now_ += time;
        if (handed) {
            ASSERT_EQ(port_.output(Bytes(handed, 'a')), PortError::None);
            EXPECT_EQ(receiveAtTarget(handed).size(), handed);  // gone from the driver
        }
        EXPECT_EQ(port_.outBufferCount(), count) << "after " << time.count() << " ns";
    }
    // The rate in force sets the time.
    ASSERT_EQ(port_.setSettings("9600,N,8,1"), PortError::None);
    ASSERT_EQ(port_.output(Bytes(8, 'd')), PortError::None);
    now_ += characterTime(9600, 8);
    EXPECT_EQ(port_.outBufferCount(), 0u);
}

// Nothing tells the program that its output has drained, so the port wakes the event loop when
// the last byte can have left: a wait for the drain ends then, not at the wait's next look.
TEST_F(PtyPort, AWaitForTheDrainEndsWhenTheLastByteCanHaveLeft) {
    port_.close();
    TermiosPort port([this](int) { return slavePath_; });  // in real time
    ASSERT_EQ(port.open(), PortError::None);
    EventLoopClock clock;
    std::vector<Duration> late;
    for (int round = 0; round < 5; ++round) {
        ASSERT_EQ(port.output(Bytes(3, 'a')), PortError::None);  // 25 ms at 1200 baud
        const TimePoint start = clock.now();
        ASSERT_TRUE(clock.waitUntil([&] { return port.outBufferCount() == 0; }, 1s));
        late.push_back(clock.now() - start - characterTime(1200, 3));
        receiveAtTarget(3);
    }
    std::nth_element(late.begin(), late.begin() + 2, late.end());
    EXPECT_LT(late[2], Duration{2ms});
}

TEST_F(PtyPort, OutputBeyondWhatTheDriverTakesWaitsInOrderUntilDiscarded) {
    Bytes big(200'000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<Byte>(i * 7 + i / 256);
    ASSERT_EQ(port_.output(big), PortError::None);  // returns at once although nobody reads
    EXPECT_GT(port_.outBufferCount(), 100'000u);
    Bytes got = receiveAtTarget(100'000);
    port_.discardOutput();
    EXPECT_EQ(port_.outBufferCount(), 0u);
    ASSERT_EQ(port_.output(bytesOf("tail")), PortError::None);
    const Bytes rest = receiveAtTarget(200'004, 1000);
    got.insert(got.end(), rest.begin(), rest.end());
    ASSERT_GE(got.size(), 100'004u);
    ASSERT_LT(got.size(), 200'000u);
    EXPECT_EQ(textOf(ByteView(got).last(4)), "tail");
    got.resize(got.size() - 4);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), big.begin()));
}

TEST_F(PtyPort, DiscardInputAndReadsOfAGivenLength) {
    sendFromTarget(bytesOf("abc"));
    ASSERT_TRUE(waitForInput(3));
    port_.discardInput();
    sendFromTarget(bytesOf("0123456789"));
    ASSERT_TRUE(waitForInput(10));
    port_.setInputLen(4);
    for (const char* part : {"0123", "4567", "89", ""})
        EXPECT_EQ(textOf(port_.input()), part);
    port_.setInputLen(0);
    sendFromTarget(bytesOf("xyz"));
    ASSERT_TRUE(waitForInput(3));
    EXPECT_EQ(textOf(port_.input()), "xyz");
}

// Adapters without line status, and a board behind a pseudo-terminal, pass a break on as a NUL;
// one that the PC's sending cut short as the rest of a character. While a talker answers in text
// neither can be an answer.
TEST_F(PtyPort, ABreakAsAByteCountsOnlyWhenAskedAndAlone) {
    // The lone NUL rule, text answers, what already waits in the receive queue, what arrives,
    // what waits afterwards.
    const std::tuple<bool, bool, Bytes, Bytes, std::size_t, const char*> cases[] = {
        {true, false, {}, {0}, 0, "break"},       {false, false, {}, {0}, 1, "data"},
        {true, false, {}, {0, 0}, 2, "data"},     {true, false, {}, {'a', 0}, 2, "data"},
        {true, false, {'z'}, {0}, 2, "data"},     {false, true, {'z'}, {0}, 1, "break"},
        {false, true, {'V'}, {0xE0}, 1, "break"}, {false, true, {}, {0xFC}, 0, "break"},
        {false, false, {}, {0xE0}, 1, "data"},    {false, true, {}, {0xE1}, 1, "data"},
    };
    for (const auto& [rule, text, before, arriving, queued, event] : cases) {
        SCOPED_TRACE(::testing::PrintToString(before) + " then " +
                     ::testing::PrintToString(arriving) + (rule ? ", rule on" : ", rule off") +
                     (text ? ", text" : ""));
        port_.close();
        ASSERT_EQ(port_.open(), PortError::None);
        port_.setLoneNulIsBreak(rule);
        port_.setTextAnswers(text);
        if (!before.empty()) {
            sendFromTarget(before);
            ASSERT_TRUE(waitForInput(before.size()));
        }
        recorder_.events.clear();
        sendFromTarget(arriving);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder_.events.empty(); }, 5000));
        QTest::qWait(20);
        EXPECT_EQ(port_.inBufferCount(), queued);
        EXPECT_EQ(recorder_.events, std::vector<std::string>{event});
    }
}

// A path that is not there, one that opens as no terminal at all, and a node with nothing
// behind it are told apart: the user's remedy differs for each.
TEST(TermiosOpen, SaysWhyAPathIsNoUsablePort) {
    char file[] = "/tmp/kestro-port-XXXXXX";
    const int fd = ::mkstemp(file);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const std::pair<std::string, PortError> cases[] = {
        {"/dev/kestro-no-such-port", PortError::Absent},
        {"/dev/null", PortError::NotSerial},
        {file, PortError::NotSerial},
        {"/", PortError::NotSerial},
    };
    for (const auto& [path, expected] : cases) {
        TermiosPort port([&path](int) { return path; });
        EXPECT_EQ(port.open(), expected) << path;
        EXPECT_FALSE(port.isOpen()) << path;
    }
    ::unlink(file);
    // /dev/tty in a session of its own, which has no controlling terminal whatever the tests'.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setsid();
        TermiosPort port([](int) { return std::string("/dev/tty"); });
        ::_exit(port.open() == PortError::NoDevice ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// An open port holds the device exclusively: another is refused as in use until it closes.
TEST_F(PtyPort, APortHeldByAnotherIsInUseUntilClosed) {
    const auto exclusive = [this] {
        int flag = -1;
        EXPECT_EQ(::ioctl(slave_, TIOCGEXCL, &flag), 0);
        return flag;
    };
    EXPECT_EQ(exclusive(), 1);
    TermiosPort other([this](int) { return slavePath_; });
    EXPECT_EQ(other.open(), PortError::InUse);
    EXPECT_EQ(other.output(Byte{1}), PortError::NotOpen);
    port_.close();
    // Else a user other than root could not open the pty again while its master lives.
    EXPECT_EQ(exclusive(), 0);
    EXPECT_EQ(other.open(), PortError::None);
}

// The port gives the device back as it found it: a program after us that only sets raw mode
// would otherwise get our break marking, every 0xFF doubled.
TEST_F(PtyPort, ClosingGivesBackTheSettingsItFound) {
    port_.close();
    termios cooked{};
    ASSERT_EQ(::tcgetattr(slave_, &cooked), 0);
    cooked.c_iflag = ICRNL | IXON;
    cooked.c_lflag = ICANON | ECHO;
    cfsetspeed(&cooked, B38400);
    ASSERT_EQ(::tcsetattr(slave_, TCSANOW, &cooked), 0);
    ASSERT_EQ(port_.open(), PortError::None);
    port_.close();
    termios after{};
    ASSERT_EQ(::tcgetattr(slave_, &after), 0);
    EXPECT_EQ(after.c_iflag, cooked.c_iflag);
    EXPECT_EQ(after.c_lflag, cooked.c_lflag);
    EXPECT_EQ(cfgetospeed(&after), speed_t{B38400});
}

TEST_F(PtyPort, HangUpIsALostDevice) {
    closeMaster();
    ASSERT_TRUE(waitForFailure());
    EXPECT_EQ(recorder_.failures, std::vector<PortError>{PortError::Lost});
    EXPECT_FALSE(port_.isOpen());
    EXPECT_EQ(port_.output(Byte{1}), PortError::Lost);
    EXPECT_EQ(port_.open(), PortError::Absent);  // the pty is gone with its master
}

TEST_F(PtyPort, AWriteThatFindsTheDeviceGoneReportsFromTheEventLoop) {
    closeMaster();
    EXPECT_EQ(port_.output(Byte{1}), PortError::Lost);
    EXPECT_FALSE(port_.isOpen());
    EXPECT_TRUE(recorder_.failures.empty()) << "not from inside the caller's output";
    ASSERT_TRUE(waitForFailure());
    EXPECT_EQ(recorder_.failures, std::vector<PortError>{PortError::Lost});
}

}  // namespace
}  // namespace kestro
