// The bus peer as a process: started with a link path, polled by a libmodbus
// master through that link, then stopped (by its --duration or a SIGTERM);
// its summary line and reading log are checked against what the master saw.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <modbus/modbus.h>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Request 8 bytes and reply 7 bytes at 57600 baud, 11 bit times a byte, plus
// the default 1 ms turnaround.
constexpr long kReadWireTimeUs = 15 * 11 * 1000000 / 57600 + 1000;

long MicrosecondsSince(Clock::time_point start)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
}

// The peer with its stdout on a pipe; the first line it prints is the path to open.
class PeerProcess {
public:
    explicit PeerProcess(std::vector<std::string> args)
    {
        int out[2];
        if (::pipe(out) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            std::vector<char *> argv{const_cast<char *>(QVR_BUS_PEER)};
            for (std::string &a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(QVR_BUS_PEER, argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = ::fdopen(out[0], "r");
        path_ = Line();
    }

    ~PeerProcess()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ != nullptr)
            std::fclose(out_);
    }

    const std::string &Path() const { return path_; }

    // The summary line, after the exit (on a signal if given); empty unless it exits with 0.
    std::string Finish(int signal = 0)
    {
        if (signal != 0)
            ::kill(pid_, signal);
        const std::string summary = Line();
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? summary : std::string();
    }

private:
    std::string Line()
    {
        char line[512] = {};
        if (out_ == nullptr || std::fgets(line, sizeof line, out_) == nullptr)
            return {};
        return std::string(line, std::strcspn(line, "\n"));
    }

    pid_t pid_ = -1;
    FILE *out_ = nullptr;
    std::string path_;
};

// "name=number" pairs of a summary line.
std::map<std::string, long> Counts(const std::string &summary)
{
    std::map<std::string, long> counts;
    const std::regex pair(R"((\w+)=(\d+))");
    for (auto it = std::sregex_iterator(summary.begin(), summary.end(), pair);
         it != std::sregex_iterator(); ++it)
        counts[(*it)[1]] = std::stol((*it)[2]);
    return counts;
}

class Master {
public:
    Master(const std::string &path, int timeoutMs)
    {
        ctx_ = modbus_new_rtu(path.c_str(), 57600, 'N', 8, 1);
        if (ctx_ != nullptr && modbus_connect(ctx_) != 0) {
            modbus_free(ctx_);
            ctx_ = nullptr;
        }
        if (ctx_ != nullptr)
            modbus_set_response_timeout(ctx_, 0, timeoutMs * 1000);
    }
    ~Master()
    {
        if (ctx_ != nullptr) {
            modbus_close(ctx_);
            modbus_free(ctx_);
        }
    }
    modbus_t *get() { return ctx_; }

    // Register `reg` of `address`: the value, or -errno.
    long Read(int address, int reg = 0)
    {
        std::uint16_t value = 0;
        modbus_set_slave(ctx_, address);
        return modbus_read_registers(ctx_, reg, 1, &value) == 1 ? value : -errno;
    }

private:
    modbus_t *ctx_ = nullptr;
};

class BusPeer : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/bus_peer_test.XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override
    {
        ::unlink((dir_ + "/readings.csv").c_str());
        ::unlink((dir_ + "/first").c_str());
        ::unlink(Link().c_str());
        ::rmdir(dir_.c_str());
    }
    std::string Link() const { return dir_ + "/bus"; }
    bool LinkExists() const
    {
        struct stat st {};
        return ::lstat(Link().c_str(), &st) == 0;
    }

    std::string dir_;
};

TEST_F(BusPeer, AnswersAsSixteenSensorsAndLogsTheReadingsSent)
{
    const std::string log = dir_ + "/readings.csv";
    const std::string first = dir_ + "/first";
    PeerProcess peer({"--link", Link(), "--silent", "53", "--duration", "2", "--log", log,
                      "--first-request", first});
    ASSERT_EQ(peer.Path(), Link());
    ASSERT_TRUE(LinkExists());
    Master m(Link(), 300);
    ASSERT_NE(m.get(), nullptr);

    EXPECT_FALSE(std::ifstream(first).good()); // no request yet
    const auto start = Clock::now();
    const long reading = m.Read(50);
    const long took = MicrosecondsSince(start);
    const long last = m.Read(65);
    EXPECT_GE(took, kReadWireTimeUs);
    ASSERT_GE(reading, 0);
    ASSERT_GE(last, 0);
    EXPECT_LE(reading, 1023);
    EXPECT_LE(last, 1023);
    EXPECT_EQ(m.Read(53), -ETIMEDOUT); // silent
    EXPECT_EQ(m.Read(70), -ETIMEDOUT); // no sensor there

    // A parameter write comes back byte for byte and is kept; the reading refuses writes.
    modbus_set_slave(m.get(), 50);
    const std::uint8_t write[] = {50, 6, 0, 10, 0, 2};
    ASSERT_GT(modbus_send_raw_request(m.get(), write, sizeof write), 0);
    std::uint8_t echo[MODBUS_RTU_MAX_ADU_LENGTH];
    ASSERT_EQ(modbus_receive_confirmation(m.get(), echo), 8);
    EXPECT_EQ(std::vector<std::uint8_t>(echo, echo + 6),
              std::vector<std::uint8_t>(write, write + 6));
    EXPECT_EQ(m.Read(50, 10), 2);
    EXPECT_EQ(modbus_write_register(m.get(), 0, 7), -1);
    EXPECT_EQ(errno, EMBXILADD);

    const std::string summary = peer.Finish(); // --duration ends it
    ASSERT_FALSE(summary.empty());
    const auto counts = Counts(summary);
    EXPECT_EQ(counts.at("50"), 4);
    EXPECT_EQ(counts.at("53"), 1);
    EXPECT_EQ(counts.at("65"), 1);
    EXPECT_EQ(counts.at("51"), 0);
    EXPECT_EQ(counts.at("other"), 1);
    EXPECT_EQ(counts.at("replies"), 5);
    EXPECT_EQ(counts.at("late"), 0);
    EXPECT_EQ(counts.at("bad_crc"), 0);
    EXPECT_FALSE(LinkExists());

    // The two readings of register 0, as the master received them.
    std::ifstream in(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u);
    const std::regex row(R"(\d+;(\d+);(\d+))");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[1], match, row));
    EXPECT_EQ(match[1], "50");
    EXPECT_EQ(std::stol(match[2]), reading);
    ASSERT_TRUE(std::regex_match(lines[2], match, row));
    EXPECT_EQ(match[1], "65");
    EXPECT_EQ(std::stol(match[2]), last);

    // When the first request came, on the monotonic clock (steady_clock
    // here), in ms to the microsecond.
    double firstMs = 0;
    ASSERT_TRUE(std::ifstream(first) >> firstMs);
    const double startMs =
        std::chrono::duration<double, std::milli>(start.time_since_epoch()).count();
    EXPECT_GE(firstMs, startMs - 0.001);
    EXPECT_LE(firstMs, startMs + took / 1000.0);
}

TEST_F(BusPeer, EveryNthReplyLateOrBrokenAndTheLinkGoneAfterSigterm)
{
    PeerProcess peer({"--link", Link(), "--late-every", "2", "--bad-crc-every", "3"});
    ASSERT_EQ(peer.Path(), Link());
    Master m(Link(), 1000);
    ASSERT_NE(m.get(), nullptr);

    auto start = Clock::now();
    EXPECT_GE(m.Read(50), 0);
    EXPECT_LT(MicrosecondsSince(start), 150000);
    start = Clock::now();
    EXPECT_GE(m.Read(50), 0);
    EXPECT_GE(MicrosecondsSince(start), 300000);
    EXPECT_EQ(m.Read(50), -EMBBADCRC);

    const std::string summary = peer.Finish(SIGTERM);
    ASSERT_FALSE(summary.empty());
    const auto counts = Counts(summary);
    EXPECT_EQ(counts.at("50"), 3);
    EXPECT_EQ(counts.at("replies"), 3);
    EXPECT_EQ(counts.at("late"), 1);
    EXPECT_EQ(counts.at("bad_crc"), 1);
    EXPECT_FALSE(LinkExists());
}

} // namespace
