// The Modbus peer in-process, polled by a libmodbus master over its terminal:
// what it answers, its faults and pacing, the moving readings, the log, the
// link, and how serving ends. bus_peer is this peer behind a command line.
#include "bench/modbus_master.h"
#include "bench/modbus_peer.h"
#include "link/codec.h"
#include "sim/simbus.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using qvr::test::kReadWireTimeUs;
using qvr::test::MicrosecondsSince;
using qvr::test::TestClock;
using qvr::test::TModbusMaster;
using qvr::test::TModbusPeer;
using qvr::test::TPeerOptions;

class ModbusPeer : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/modbus_peer_test.XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string File(const char *name) const { return dir_ + "/" + name; }
    static bool Exists(const std::string &path)
    {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0;
    }
    static std::vector<std::string> Lines(const std::string &path)
    {
        std::ifstream in(path);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    std::string dir_;
};

struct TRequestRow {
    const char *name;
    int address;
    int reg;
    int write;     // the value written; -1 for a read
    long expected; // the value read or echoed, or -errno
};

TEST_F(ModbusPeer, AnswersItsAddressesAndRefusesWhatASensorRefuses)
{
    TPeerOptions o;
    o.Addresses = {50, 51, 52};
    o.Silent = {52};
    o.Register0 = 300;
    TModbusPeer peer(o);
    ASSERT_TRUE(peer.Ready()) << peer.Error();
    peer.SetRegister(0, 777, 51);
    peer.Start();
    TModbusMaster m(peer.Path(), 150);
    ASSERT_NE(m.get(), nullptr);

    const TRequestRow rows[] = {
        {"reading", 50, 0, -1, 300},
        {"reading set by hand", 51, 0, -1, 777},
        {"parameter 10 written", 50, 10, 2, 2},
        {"and kept", 50, 10, -1, 2},
        {"parameters 1..3 written", 51, 3, 900, 900},
        {"reading refuses a write", 50, 0, 7, -EMBXILADD},
        {"register 4 refuses a write", 50, 4, 7, -EMBXILADD},
        {"no register 100", 50, 100, -1, -EMBXILADD},
        {"silent", 52, 0, -1, -ETIMEDOUT},
        {"nobody there", 70, 0, -1, -ETIMEDOUT},
    };
    for (const TRequestRow &row : rows) {
        SCOPED_TRACE(row.name);
        const long got = row.write < 0
                             ? m.Read(row.address, row.reg)
                             : m.Write(row.address, row.reg, static_cast<std::uint16_t>(row.write));
        EXPECT_EQ(got, row.expected);
    }
    EXPECT_EQ(peer.Register(10), 2);
    EXPECT_EQ(peer.Register(3, 51), 900);
    EXPECT_EQ(peer.Register(0, 50), 300);

    // A parameter write comes back byte for byte.
    std::uint8_t frame[qvr::kMaxRequestSize];
    const std::size_t n = qvr::BuildRequest(frame, 50, 6, 10, 0, 5);
    const std::vector<std::uint8_t> request(frame, frame + n);
    EXPECT_EQ(m.Raw({request.begin(), request.end() - 2}), request);

    const qvr::test::TPeerCounts c = peer.Counts();
    EXPECT_EQ(c.Requests.at(50), 7u);
    EXPECT_EQ(c.Requests.at(51), 2u);
    EXPECT_EQ(c.Requests.at(52), 1u); // taken, not answered
    EXPECT_EQ(c.Other, 1u);
    EXPECT_EQ(c.Replies, 9u);
    EXPECT_EQ(peer.Requests(50), 7);
    EXPECT_EQ(peer.Requests(70), 0);
    EXPECT_EQ(peer.Summary(), "requests 50=7 51=2 52=1 other=1 refused=0 replies=9 late=0 "
                              "bad_crc=0");
    EXPECT_EQ(peer.Frames(), 11);
    EXPECT_EQ(peer.Received(), 11 * 8);
}

// Paced as on the wire; every second reply late, every third with a broken CRC.
TEST_F(ModbusPeer, RepliesPacedLateOrBroken)
{
    TPeerOptions o;
    o.WireTime = true;
    o.LateEvery = 2;
    o.BadCrcEvery = 3;
    TModbusPeer peer(o);
    ASSERT_TRUE(peer.Ready()) << peer.Error();
    peer.Start();
    TModbusMaster m(peer.Path(), 1000);
    ASSERT_NE(m.get(), nullptr);

    const struct {
        const char *name;
        long expected;
        long minUs, maxUs;
    } rows[] = {
        {"on time", 0x012C, kReadWireTimeUs, 150000},
        {"late", 0x012C, 300000, 900000},
        {"bad CRC", -EMBBADCRC, kReadWireTimeUs, 150000},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const auto start = TestClock::now();
        EXPECT_EQ(m.Read(50), row.expected);
        const long took = MicrosecondsSince(start);
        EXPECT_GE(took, row.minUs);
        EXPECT_LT(took, row.maxUs);
    }
    const qvr::test::TPeerCounts c = peer.Counts();
    EXPECT_EQ(c.Replies, 3u);
    EXPECT_EQ(c.Late, 1u);
    EXPECT_EQ(c.BadCrc, 1u);
}

// The readings follow the sensors' signal, the simulated bus's for the same
// seed, with noise of at most 2.
TEST_F(ModbusPeer, MovingReadingsFollowTheSimulatedBusSignal)
{
    constexpr std::uint32_t kSeed = 7;
    std::int64_t now = 0;
    const qvr::TSimulatedBus bus([&] { return now; }, kSeed);
    TPeerOptions o;
    o.Moving = true;
    o.Seed = kSeed;
    o.Addresses.clear();
    for (int a = qvr::kFirstAddress; a <= qvr::kLastAddress; ++a)
        o.Addresses.push_back(a);
    const auto start = TestClock::now();
    TModbusPeer peer(o);
    ASSERT_TRUE(peer.Ready()) << peer.Error();
    peer.Start();
    TModbusMaster m(peer.Path(), 300);
    ASSERT_NE(m.get(), nullptr);

    for (const int a : o.Addresses) {
        SCOPED_TRACE(a);
        const long value = m.Read(a);
        // No wave moves faster than 2 pi 505 / 20 s, about 160 a second.
        const double slack = 2.5 + 160.0 * MicrosecondsSince(start) / 1e6;
        const double signal = bus.Signal(static_cast<std::uint8_t>(a), 0);
        EXPECT_NEAR(static_cast<double>(value), signal, slack);
    }
}

TEST_F(ModbusPeer, LogsTheReadingsSentAndStampsTheFirstRequest)
{
    TPeerOptions o;
    o.Addresses = {50, 65};
    o.Moving = true;
    o.BadCrcEvery = 4;
    o.Log = File("readings.csv");
    o.FirstRequest = File("first");
    TModbusPeer peer(o);
    ASSERT_TRUE(peer.Ready()) << peer.Error();
    peer.Start();
    TModbusMaster m(peer.Path(), 300);
    ASSERT_NE(m.get(), nullptr);
    EXPECT_FALSE(Exists(o.FirstRequest)); // no request yet

    const auto start = TestClock::now();
    const long first = m.Read(50);
    const long took = MicrosecondsSince(start);
    const long last = m.Read(65);
    EXPECT_EQ(m.Write(50, 10, 2), 2);  // not a reading
    EXPECT_EQ(m.Read(50), -EMBBADCRC); // no master took it
    EXPECT_EQ(m.Read(50, 10), 2);      // not register 0
    ASSERT_GE(first, 0);
    ASSERT_GE(last, 0);
    EXPECT_LE(first, 1023);
    EXPECT_LE(last, 1023);
    peer.HangUp();

    const std::vector<std::string> lines = Lines(o.Log);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "monotonic_ms;address;value");
    const std::regex row(R"(\d+;(\d+);(\d+))");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[1], match, row));
    EXPECT_EQ(match[1], "50");
    EXPECT_EQ(std::stol(match[2]), first);
    ASSERT_TRUE(std::regex_match(lines[2], match, row));
    EXPECT_EQ(match[1], "65");
    EXPECT_EQ(std::stol(match[2]), last);

    // On the monotonic clock (steady_clock here), in ms to the microsecond.
    double firstMs = 0;
    ASSERT_TRUE(std::ifstream(o.FirstRequest) >> firstMs);
    const double startMs =
        std::chrono::duration<double, std::milli>(start.time_since_epoch()).count();
    EXPECT_GE(firstMs, startMs - 0.001);
    EXPECT_LE(firstMs, startMs + took / 1000.0);
    EXPECT_FALSE(Exists(o.FirstRequest + ".part"));
}

struct TLinkRow {
    const char *name;
    std::function<void(const std::string &link)> before; // what the path holds at the start
    bool ready;
    std::function<void(const std::string &link)> during; // while the peer serves
    bool removed;                                        // the link gone after the peer
};

TEST_F(ModbusPeer, NamesItsTerminalByALinkAndRemovesOnlyItsOwn)
{
    const auto nothing = [](const std::string &) {};
    const TLinkRow rows[] = {
        {"new", nothing, true, nothing, true},
        {"left by an earlier run",
         [](const std::string &link) { ASSERT_EQ(::symlink("/dev/null", link.c_str()), 0); }, true,
         nothing, true},
        {"a file there", [](const std::string &link) { std::ofstream(link) << "keep"; }, false,
         nothing, false},
        {"re-pointed by someone else", nothing, true,
         [](const std::string &link) {
             ASSERT_EQ(::unlink(link.c_str()), 0);
             ASSERT_EQ(::symlink("/dev/null", link.c_str()), 0);
         },
         false},
    };
    for (const TLinkRow &row : rows) {
        SCOPED_TRACE(row.name);
        const std::string link = File("bus");
        ::unlink(link.c_str());
        row.before(link);
        {
            TPeerOptions o;
            o.Link = link;
            TModbusPeer peer(o);
            ASSERT_EQ(peer.Ready(), row.ready) << peer.Error();
            if (!row.ready) {
                EXPECT_NE(peer.Error().find("exists and is not a link"), std::string::npos);
                EXPECT_EQ(Lines(link), std::vector<std::string>{"keep"}) << "the file untouched";
                continue;
            }
            EXPECT_EQ(peer.Path(), link);
            peer.Start();
            TModbusMaster m(link, 300);
            ASSERT_NE(m.get(), nullptr);
            EXPECT_EQ(m.Read(50), 0x012C);
            row.during(link);
        }
        EXPECT_EQ(Exists(link), !row.removed);
    }
}

// Unplugged and plugged in again: a new terminal under the same link, the
// registers and counts kept.
TEST_F(ModbusPeer, ComesBackUnderItsLinkAfterAHangUp)
{
    TModbusPeer peer({50}, 300, File("bus"));
    ASSERT_TRUE(peer.Ready()) << peer.Error();
    const auto terminal = [&] {
        char target[256] = {};
        return std::string(target, std::max<ssize_t>(0, ::readlink(peer.Path().c_str(), target,
                                                                   sizeof target - 1)));
    };
    {
        TModbusMaster m(peer.Path(), 300);
        ASSERT_NE(m.get(), nullptr);
        EXPECT_EQ(m.Write(50, 10, 4), 4);
        peer.HangUp();
        EXPECT_LT(m.Read(50), 0);
    }
    ASSERT_TRUE(peer.ComeBack());
    EXPECT_EQ(terminal().rfind("/dev/pts/", 0), 0u) << terminal();
    TModbusMaster m(peer.Path(), 300);
    ASSERT_NE(m.get(), nullptr);
    EXPECT_EQ(m.Read(50, 10), 4);
    EXPECT_EQ(peer.Requests(50), 2);
    EXPECT_FALSE(TModbusPeer(std::vector<int>{50}).ComeBack()) << "no link to come back under";
}

// Serving on the caller's thread (bus_peer's main): an interrupt brings Run
// back to go on, a stop or the end time ends it.
TEST_F(ModbusPeer, RunReturnsOnInterruptStopOrItsEnd)
{
    TPeerOptions o;
    TModbusPeer peer(o);
    ASSERT_TRUE(peer.Ready()) << peer.Error();
    const struct {
        const char *name;
        std::function<void()> from; // called from another thread after 50 ms
        std::int64_t runUs;         // Run's end, from now
        bool again;
    } rows[] = {
        {"interrupt", [&] { peer.Interrupt(); }, 5000000, true},
        {"end time", [] {}, 100000, false},
        {"stop", [&] { peer.Stop(); }, 5000000, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        std::thread other([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            row.from();
        });
        const auto start = TestClock::now();
        EXPECT_EQ(peer.Run(TModbusPeer::NowUs() + row.runUs), row.again);
        EXPECT_LT(MicrosecondsSince(start), 1000000);
        other.join();
    }
}

} // namespace
