// bus_peer as a process: its options reach the peer (whose behaviour
// test_modbus_peer covers), the first line is the path to open, a summary
// line comes on SIGUSR1 and at the end (a SIGTERM or --duration), the link is
// gone after it, and bad command lines are refused.
#include "bench/modbus_master.h"
#include "sim/simbus.h"

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using qvr::test::kReadWireTimeUs;
using qvr::test::MicrosecondsSince;
using qvr::test::TestClock;
using qvr::test::TModbusMaster;

// The peer with its stdout on a pipe (stderr dropped).
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
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDERR_FILENO);
            std::vector<char *> argv{const_cast<char *>(QVR_BUS_PEER)};
            for (std::string &a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(QVR_BUS_PEER, argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = ::fdopen(out[0], "r");
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

    // The next line on stdout, without its newline; empty at the end.
    std::string Line()
    {
        char line[512] = {};
        if (out_ == nullptr || std::fgets(line, sizeof line, out_) == nullptr)
            return {};
        return std::string(line, std::strcspn(line, "\n"));
    }

    void Signal(int signal) { ::kill(pid_, signal); }

    // The rest of stdout and the exit code (-1 for a death by a signal).
    std::pair<std::string, int> Finish()
    {
        std::string rest;
        for (int c; out_ != nullptr && (c = std::fgetc(out_)) != EOF;)
            rest += static_cast<char>(c);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return {rest, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
    }

private:
    pid_t pid_ = -1;
    FILE *out_ = nullptr;
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

class BusPeer : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/bus_peer_test.XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string File(const char *name) const { return dir_ + "/" + name; }
    std::string Link() const { return File("bus"); }
    bool LinkExists() const
    {
        struct stat st {};
        return ::lstat(Link().c_str(), &st) == 0;
    }

    std::string dir_;
};

TEST_F(BusPeer, OptionsReachThePeerAndASummaryComesOnSigusr1AndSigterm)
{
    const std::string log = File("readings.csv");
    const std::string first = File("first");
    const auto launched = TestClock::now();
    PeerProcess peer({"--link", Link(), "--silent", "53,60", "--late-every", "2", "--late-ms",
                      "200", "--bad-crc-every", "3", "--turnaround-us", "20000", "--seed", "5",
                      "--log", log, "--first-request", first});
    ASSERT_EQ(peer.Line(), Link());
    ASSERT_TRUE(LinkExists());
    TModbusMaster m(Link(), 1000);
    ASSERT_NE(m.get(), nullptr);

    auto start = TestClock::now();
    const long reading = m.Read(50);
    EXPECT_GE(MicrosecondsSince(start), kReadWireTimeUs + 19000); // the turnaround
    // Sixteen moving sensors, each on the simulated bus's signal for the seed.
    std::int64_t now = 0;
    const qvr::TSimulatedBus bus([&] { return now; }, 5);
    // No wave moves faster than 2 pi 505 / 20 s, about 160 a second.
    EXPECT_NEAR(static_cast<double>(reading), bus.Signal(50, 0),
                2.5 + 160.0 * MicrosecondsSince(launched) / 1e6);
    start = TestClock::now();
    EXPECT_GE(m.Read(65), 0);
    EXPECT_GE(MicrosecondsSince(start), 200000); // late
    EXPECT_EQ(m.Read(50), -EMBBADCRC);
    EXPECT_EQ(m.Read(53), -ETIMEDOUT);
    EXPECT_EQ(m.Read(60), -ETIMEDOUT);
    EXPECT_EQ(m.Read(70), -ETIMEDOUT);

    peer.Signal(SIGUSR1);
    const std::string summary = peer.Line();
    EXPECT_TRUE(std::regex_match(summary, std::regex("requests( \\d+=\\d+){16} other=\\d+ "
                                                     "refused=\\d+ replies=\\d+ late=\\d+ "
                                                     "bad_crc=\\d+")))
        << summary;
    const std::map<std::string, long> expected{
        {"50", 2},    {"51", 0},      {"53", 1},      {"60", 1},   {"65", 1},
        {"other", 1}, {"refused", 0}, {"replies", 3}, {"late", 1}, {"bad_crc", 1}};
    const auto counts = Counts(summary);
    for (const auto &[name, n] : expected)
        EXPECT_EQ(counts.at(name), n) << name;
    EXPECT_TRUE(LinkExists());
    EXPECT_GE(m.Read(51), 0) << "serving goes on after a summary";
    EXPECT_GE(m.Read(51), 0);

    peer.Signal(SIGTERM);
    const auto [rest, code] = peer.Finish();
    EXPECT_EQ(code, 0);
    const auto last = Counts(rest);
    EXPECT_EQ(last.at("51"), 2);
    EXPECT_EQ(last.at("replies"), 5);
    EXPECT_FALSE(LinkExists());

    // The readings with a good CRC, as the master received them.
    std::ifstream in(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1].substr(lines[1].find(';')), ";50;" + std::to_string(reading));
    EXPECT_NE(lines[2].find(";65;"), std::string::npos);
    double firstMs = 0;
    EXPECT_TRUE(std::ifstream(first) >> firstMs);
}

struct TRunRow {
    const char *name;
    std::vector<std::string> args; // "LINK" stands for the link path
    int code;
    std::string out; // a regular expression for all of stdout
};

TEST_F(BusPeer, RunsThatEndByThemselves)
{
    const std::string zero = "requests( \\d+=0){16} other=0 refused=0 replies=0 late=0 bad_crc=0";
    const TRunRow rows[] = {
        {"duration", {"--duration", "0.2", "--link", "LINK"}, 0, "LINK\n" + zero + "\n"},
        {"help", {"--help"}, 0, "Usage: bus_peer (.|\n)*"},
        {"unknown option", {"--baud", "9600"}, 2, ""},
        {"no value", {"--link"}, 2, ""},
        {"negative count", {"--late-every", "-1"}, 2, ""},
        {"not a number", {"--bad-crc-every", "2x"}, 2, ""},
        {"silent below the sensors", {"--silent", "49"}, 2, ""},
        {"silent above the sensors", {"--silent", "53,66"}, 2, ""},
        {"bad duration", {"--duration", "-1"}, 2, ""},
        {"a file where the link goes", {"--link", "FILE"}, 1, ""},
    };
    std::ofstream(File("file")) << "keep";
    for (const TRunRow &row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> args = row.args;
        for (std::string &a : args)
            a = a == "LINK" ? Link() : a == "FILE" ? File("file") : a;
        PeerProcess peer(args);
        const auto [out, code] = peer.Finish();
        EXPECT_EQ(code, row.code);
        const std::string pattern = std::regex_replace(row.out, std::regex("LINK"), Link());
        EXPECT_TRUE(std::regex_match(out, std::regex(pattern))) << out;
        EXPECT_FALSE(LinkExists());
    }
    std::string kept;
    EXPECT_TRUE(std::getline(std::ifstream(File("file")), kept));
    EXPECT_EQ(kept, "keep");
}

} // namespace
