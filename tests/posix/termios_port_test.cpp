#include "termios_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <cerrno>
#include <numeric>

namespace kestro {
namespace {

// termios as configureTermios leaves a terminal that started in the usual cooked state.
termios cooked() {
    termios t{};
    t.c_iflag = ICRNL | IXON | IGNBRK | BRKINT | ISTRIP;
    t.c_oflag = OPOST | ONLCR;
    t.c_cflag = CS7 | PARENB | CRTSCTS | CREAD;
    t.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
    return t;
}

TEST(ConfigureTermios, LineSettingsAndRawMode) {
    struct Case {
        const char* text;
        speed_t speed;
        tcflag_t size;
        tcflag_t parity;  // of PARENB, PARODD, CMSPAR
        bool twoStop;
    };
    const Case cases[] = {
        {"1200,N,8,1", B1200, CS8, 0, false},
        {"2400,n,8,1", B2400, CS8, 0, false},
        {"9600,e,7,2", B9600, CS7, PARENB, true},
        {"300,O,6,1", B300, CS6, PARENB | PARODD, false},
        {"19200,M,5,1", B19200, CS5, PARENB | PARODD | CMSPAR, false},
        {"115200,s,8,1", B115200, CS8, PARENB | CMSPAR, false},
    };
    for (const Case& c : cases) {
        termios t = cooked();
        ASSERT_TRUE(configureTermios(t, *LineSettings::parse(c.text))) << c.text;
        EXPECT_EQ(cfgetispeed(&t), c.speed) << c.text;
        EXPECT_EQ(cfgetospeed(&t), c.speed) << c.text;
        EXPECT_EQ(t.c_cflag & CSIZE, c.size) << c.text;
        EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), c.parity) << c.text;
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStop) << c.text;
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD | CRTSCTS), tcflag_t(CLOCAL | CREAD)) << c.text;
        // Breaks and errors marked in the data, nothing else touched on the way in or out.
        EXPECT_EQ(t.c_iflag, tcflag_t(PARMRK | INPCK)) << c.text;
        EXPECT_EQ(t.c_oflag & OPOST, 0u) << c.text;
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u) << c.text;
        EXPECT_EQ(t.c_cc[VMIN], 1) << c.text;
        EXPECT_EQ(t.c_cc[VTIME], 0) << c.text;
    }
}

TEST(TermiosPortNames, ComPortsMapToTtyS) {
    EXPECT_EQ(defaultDevice(1), "/dev/ttyS0");
    EXPECT_EQ(defaultDevice(4), "/dev/ttyS3");
    TermiosPort mapped(
        [](int n) { return n == 2 ? std::string("/dev/ttyUSB0") : defaultDevice(n); });
    EXPECT_EQ(mapped.deviceName(2), "/dev/ttyUSB0");
    EXPECT_EQ(mapped.deviceName(3), "/dev/ttyS2");
}

struct Recorder : PortListener {
    std::vector<std::string> events;
    std::vector<PortError> failures;
    void portBreak() override { events.push_back("break"); }
    void portDataArrived() override { events.push_back("data"); }
    void portFailed(PortError e) override {
        events.push_back("failed");
        failures.push_back(e);
    }
};

// A pseudo-terminal stands in for the device: the port opens the slave, the test plays the
// target on the master.
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
    }
    void TearDown() override {
        port_.close();
        if (slave_ >= 0)
            ::close(slave_);
        closeMaster();
    }
    void closeMaster() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

    void sendFromTarget(const Bytes& bytes) {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // What the target received, read while the port's event loop runs.
    Bytes receiveAtTarget(std::size_t want, int ms = 5000) {
        Bytes got;
        QElapsedTimer timer;
        timer.start();
        while (got.size() < want && timer.elapsed() < ms) {
            QCoreApplication::processEvents();
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 2) != 1)
                continue;
            Byte buffer[4096];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0)
                got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }
    bool waitForInput(std::size_t n) {
        return QTest::qWaitFor([&] { return port_.inBufferCount() >= n; }, 5000);
    }
    termios slaveTermios() {
        termios t{};
        EXPECT_EQ(tcgetattr(slave_, &t), 0);
        return t;
    }

    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    TimePoint now_{1'000'000'000};
    TermiosPort port_{[this](int) { return slavePath_; }, [this] { return now_; }};
    Recorder recorder_;
};

TEST_F(PtyPort, OpenAppliesSettingsAndChangesApplyWhileOpen) {
    ASSERT_EQ(port_.open(), PortError::None);
    ASSERT_TRUE(port_.isOpen());
    // On the device itself, as ConfigureTermios makes them.
    termios t = slaveTermios();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B1200));
    EXPECT_EQ(t.c_cflag & (CSIZE | CLOCAL), tcflag_t(CS8 | CLOCAL));
    EXPECT_EQ(t.c_iflag & (PARMRK | INPCK | IGNBRK | BRKINT | IXON), tcflag_t(PARMRK | INPCK));
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));

    EXPECT_EQ(port_.setSettings("9600,n,8,2"), PortError::None);
    t = slaveTermios();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(port_.isOpen());

    // Settings that are not valid, or a rate without a termios constant, change nothing.
    for (const char* bad : {"7812,N,8,1", "9600,X,8,1", "fast"}) {
        EXPECT_EQ(port_.setSettings(bad), PortError::BadSettings) << bad;
        EXPECT_EQ(port_.settings(), *LineSettings::parse("9600,N,8,2")) << bad;
        EXPECT_TRUE(port_.isOpen()) << bad;
        t = slaveTermios();
        EXPECT_EQ(cfgetospeed(&t), speed_t(B9600)) << bad;
        EXPECT_TRUE(t.c_cflag & CSTOPB) << bad;
    }
}

TEST_F(PtyPort, EveryByteValueGoesBothWaysUnchanged) {
    ASSERT_EQ(port_.open(), PortError::None);
    Bytes all(256);
    std::iota(all.begin(), all.end(), 0);

    for (const Byte b : all)
        ASSERT_EQ(port_.output(b), PortError::None);
    EXPECT_EQ(receiveAtTarget(256), all);

    Bytes twice = all;
    twice.insert(twice.end(), all.rbegin(), all.rend());
    sendFromTarget(twice);
    ASSERT_TRUE(waitForInput(twice.size()));
    EXPECT_EQ(port_.input(), twice);
    EXPECT_EQ(port_.inBufferCount(), 0u);
    EXPECT_EQ(std::count(recorder_.events.begin(), recorder_.events.end(), "break"), 0);
    EXPECT_NE(std::count(recorder_.events.begin(), recorder_.events.end(), "data"), 0);
}

TEST_F(PtyPort, OutCountFollowsTheLineTimeOfWhatWasHandedOver) {
    ASSERT_EQ(port_.open(), PortError::None);
    const Duration frame = characterTime(1200);
    ASSERT_EQ(port_.output(Bytes(12, 'a')), PortError::None);
    EXPECT_EQ(port_.outBufferCount(), 12u);
    EXPECT_EQ(receiveAtTarget(12).size(), 12u);  // gone from the driver, not from the line
    EXPECT_EQ(port_.outBufferCount(), 12u);

    now_ += 5 * frame;
    EXPECT_EQ(port_.outBufferCount(), 7u);
    // Queued behind the bytes still on the line, not from now.
    ASSERT_EQ(port_.output(Bytes(10, 'b')), PortError::None);
    EXPECT_EQ(port_.outBufferCount(), 17u);
    now_ += 16 * frame;
    EXPECT_EQ(port_.outBufferCount(), 1u);
    now_ += frame / 2;
    EXPECT_EQ(port_.outBufferCount(), 1u) << "a frame still partly on the wire counts";
    now_ += frame / 2 + 1us;  // past the end, whatever the nanosecond rounding
    EXPECT_EQ(port_.outBufferCount(), 0u);

    // After a quiet spell the next byte starts now.
    now_ += 100 * frame;
    ASSERT_EQ(port_.output(Byte{'c'}), PortError::None);
    EXPECT_EQ(port_.outBufferCount(), 1u);
    now_ += frame;
    EXPECT_EQ(port_.outBufferCount(), 0u);

    // The rate in force sets the time.
    ASSERT_EQ(port_.setSettings("9600,N,8,1"), PortError::None);
    ASSERT_EQ(port_.output(Bytes(8, 'd')), PortError::None);
    now_ += characterTime(9600, 8);
    EXPECT_EQ(port_.outBufferCount(), 0u);
    EXPECT_EQ(port_.outBufferSize(), 512u);
}

TEST_F(PtyPort, OutputBeyondWhatTheDriverTakesIsQueuedAndSentInOrder) {
    ASSERT_EQ(port_.open(), PortError::None);
    Bytes big(200'000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<Byte>(i * 7 + i / 256);
    ASSERT_EQ(port_.output(big), PortError::None);  // returns at once although nobody reads
    EXPECT_GT(port_.outBufferCount(), 100'000u);
    EXPECT_EQ(receiveAtTarget(big.size(), 10000), big);
    now_ += characterTime(1200, 200'000);
    EXPECT_EQ(port_.outBufferCount(), 0u);
}

TEST_F(PtyPort, DiscardOutputDropsWhatWaitsAndResetsTheCount) {
    ASSERT_EQ(port_.open(), PortError::None);
    ASSERT_EQ(port_.output(Bytes(200'000, 'x')), PortError::None);
    port_.discardOutput();
    EXPECT_EQ(port_.outBufferCount(), 0u);
    ASSERT_EQ(port_.output(bytesOf("tail")), PortError::None);
    const Bytes got = receiveAtTarget(200'004, 1000);
    ASSERT_GE(got.size(), 4u);
    EXPECT_LT(got.size(), 200'000u);
    EXPECT_EQ(textOf(ByteView(got).last(4)), "tail");
}

TEST_F(PtyPort, DiscardInputAndInputLen) {
    ASSERT_EQ(port_.open(), PortError::None);
    sendFromTarget(bytesOf("abc"));
    ASSERT_TRUE(waitForInput(3));
    port_.discardInput();
    EXPECT_EQ(port_.inBufferCount(), 0u);

    sendFromTarget(bytesOf("0123456789"));
    ASSERT_TRUE(waitForInput(10));
    port_.setInputLen(4);
    EXPECT_EQ(textOf(port_.input()), "0123");
    EXPECT_EQ(textOf(port_.input()), "4567");
    EXPECT_EQ(textOf(port_.input()), "89");
    EXPECT_TRUE(port_.input().empty());
    port_.setInputLen(0);
    sendFromTarget(bytesOf("xyz"));
    ASSERT_TRUE(waitForInput(3));
    EXPECT_EQ(textOf(port_.input()), "xyz");
}

TEST_F(PtyPort, LoneNulCountsAsABreakOnlyWhenAskedAndAlone) {
    struct Case {
        const char* name;
        bool rule;
        Bytes before;  // already waiting in the receive queue
        Bytes arriving;
        std::size_t queued;  // what waits afterwards
        bool isBreak;
    };
    const Case cases[] = {
        {"lone NUL, rule on", true, {}, {0}, 0, true},
        {"lone NUL, rule off", false, {}, {0}, 1, false},
        {"two NULs", true, {}, {0, 0}, 2, false},
        {"NUL after data", true, {}, {'a', 0}, 2, false},
        {"NUL behind waiting data", true, {'z'}, {0}, 2, false},
    };
    for (const Case& c : cases) {
        port_.close();
        ASSERT_EQ(port_.open(), PortError::None) << c.name;
        port_.setLoneNulIsBreak(c.rule);
        if (!c.before.empty()) {
            sendFromTarget(c.before);
            ASSERT_TRUE(waitForInput(c.before.size())) << c.name;
        }
        recorder_.events.clear();
        sendFromTarget(c.arriving);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder_.events.empty(); }, 5000)) << c.name;
        QTest::qWait(20);
        EXPECT_EQ(port_.inBufferCount(), c.queued) << c.name;
        EXPECT_EQ(recorder_.events, std::vector<std::string>{c.isBreak ? "break" : "data"})
            << c.name;
    }
}

TEST_F(PtyPort, MissingDeviceIsAbsent) {
    TermiosPort missing([](int n) { return "/dev/kestro-no-such-tty" + std::to_string(n); });
    EXPECT_EQ(missing.open(), PortError::Absent);
    EXPECT_FALSE(missing.isOpen());
    EXPECT_EQ(missing.output(Byte{1}), PortError::NotOpen);
    TermiosPort unmapped([](int) { return std::string(); });
    EXPECT_EQ(unmapped.open(), PortError::Absent);
}

// An open port holds the device exclusively: another is refused as in use until it closes.
TEST_F(PtyPort, APortHeldByAnotherIsInUseUntilClosed) {
    const auto exclusive = [this] {
        int flag = -1;
        EXPECT_EQ(::ioctl(slave_, TIOCGEXCL, &flag), 0);
        return flag;
    };
    ASSERT_EQ(port_.open(), PortError::None);
    EXPECT_EQ(exclusive(), 1);
    TermiosPort other([this](int) { return slavePath_; });
    EXPECT_EQ(other.open(), PortError::InUse);
    EXPECT_FALSE(other.isOpen());
    port_.close();
    // Else a user other than root could not open the pty again while its master lives.
    EXPECT_EQ(exclusive(), 0);
    EXPECT_EQ(other.open(), PortError::None);
}

TEST_F(PtyPort, HangUpIsALostDevice) {
    ASSERT_EQ(port_.open(), PortError::None);
    closeMaster();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder_.failures.empty(); }, 5000));
    EXPECT_EQ(recorder_.failures, std::vector<PortError>{PortError::Lost});
    EXPECT_FALSE(port_.isOpen());
    EXPECT_EQ(port_.failure(), PortError::Lost);
    EXPECT_EQ(port_.output(Byte{1}), PortError::Lost);
    EXPECT_EQ(port_.open(), PortError::Absent);  // the pty is gone with its master
}

TEST_F(PtyPort, AWriteThatFindsTheDeviceGoneReportsFromTheEventLoop) {
    ASSERT_EQ(port_.open(), PortError::None);
    closeMaster();
    EXPECT_EQ(port_.output(Byte{1}), PortError::Lost);
    EXPECT_FALSE(port_.isOpen());
    EXPECT_TRUE(recorder_.failures.empty()) << "not from inside the caller's output";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder_.failures.empty(); }, 5000));
    EXPECT_EQ(recorder_.failures, std::vector<PortError>{PortError::Lost});
}

}  // namespace
}  // namespace kestro
