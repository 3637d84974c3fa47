// A bus of sixteen sensors (Modbus RTU slaves 50..65) on a pseudo-terminal,
// for running the program against something that is not its own code. The
// program opens the terminal's slave end by its path (config.ini, [Adapters],
// Port1=<path>); libmodbus answers on the master end.
//
// Each sensor's register 0 is its reading, a slow wave within 0..1023 with a
// little noise; registers 1, 2, 3 and 10 take writes (function 6, echoed), any
// other register refuses them. A reply is written no earlier than the time the
// request and the reply would take on the wire at 57600 baud (11 bit times a
// byte) plus the device's turnaround: a terminal has no baud rate, so the
// peer sleeps. Requests for other addresses get no reply. The peer itself is
// bench/modbus_peer.h, which the tests also serve from; this is its command line.
//
// Usage: bus_peer [--link PATH] [--silent 53,60] [--late-every N] [--late-ms MS]
//                 [--bad-crc-every N] [--turnaround-us US] [--seed N]
//                 [--duration SECONDS] [--log FILE] [--first-request FILE]
// The first line on stdout is the path to open; on exit and on SIGUSR1 a
// one-line summary follows. --log writes "monotonic ms;address;value" for
// every reading sent with a good CRC. --first-request writes the monotonic
// time in ms (three decimals) at which the first request began to arrive,
// for timing the program's start.
#include "bench/modbus_peer.h"
#include "link/modbus.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using qvr::test::TModbusPeer;
using qvr::test::TPeerOptions;

using qvr::kFirstAddress;
using qvr::kSensorCount;

// The peer the signal handlers reach; set before they are installed.
TModbusPeer *gPeer = nullptr;

void OnStop(int)
{
    gPeer->Stop();
}
void OnReport(int)
{
    gPeer->Interrupt();
}

struct TOptions {
    TPeerOptions Peer;
    double DurationS = 0; // 0: until stopped
};

void Usage(FILE *to)
{
    std::fputs("Usage: bus_peer [--link PATH] [--silent 53,60] [--late-every N] [--late-ms MS]\n"
               "                [--bad-crc-every N] [--turnaround-us US] [--seed N]\n"
               "                [--duration SECONDS] [--log FILE] [--first-request FILE]\n",
               to);
}

bool ParseLong(const char *text, long min, long &out)
{
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < min)
        return false;
    out = value;
    return true;
}

bool ParseSilent(const std::string &text, std::vector<int> &out)
{
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        long address = 0;
        if (!ParseLong(text.substr(at, comma - at).c_str(), kFirstAddress, address) ||
            address >= kFirstAddress + kSensorCount)
            return false;
        out.push_back(static_cast<int>(address));
        at = comma + 1;
    }
    return true;
}

bool ParseOptions(int argc, char **argv, TOptions &o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            Usage(stdout);
            std::exit(0);
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "bus_peer: %s needs a value\n", name.c_str());
            return false;
        }
        const char *value = argv[++i];
        bool ok = true;
        long number = 0;
        TPeerOptions &p = o.Peer;
        if (name == "--link") {
            p.Link = value;
        } else if (name == "--silent") {
            ok = ParseSilent(value, p.Silent);
        } else if (name == "--late-every") {
            ok = ParseLong(value, 0, p.LateEvery);
        } else if (name == "--late-ms") {
            ok = ParseLong(value, 0, p.LateMs);
        } else if (name == "--bad-crc-every") {
            ok = ParseLong(value, 0, p.BadCrcEvery);
        } else if (name == "--turnaround-us") {
            ok = ParseLong(value, 0, p.TurnaroundUs);
        } else if (name == "--seed") {
            ok = ParseLong(value, 0, number);
            p.Seed = static_cast<unsigned long>(number);
        } else if (name == "--duration") {
            char *end = nullptr;
            o.DurationS = std::strtod(value, &end);
            ok = end != value && *end == '\0' && o.DurationS >= 0;
        } else if (name == "--log") {
            p.Log = value;
        } else if (name == "--first-request") {
            p.FirstRequest = value;
        } else {
            std::fprintf(stderr, "bus_peer: unknown option %s\n", name.c_str());
            Usage(stderr);
            return false;
        }
        if (!ok) {
            std::fprintf(stderr, "bus_peer: bad value for %s: %s\n", name.c_str(), value);
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    TOptions options;
    options.Peer.Addresses.clear();
    for (int i = 0; i < kSensorCount; ++i)
        options.Peer.Addresses.push_back(kFirstAddress + i);
    options.Peer.Moving = true;
    options.Peer.WireTime = true;
    if (!ParseOptions(argc, argv, options))
        return 2;

    TModbusPeer peer(options.Peer);
    if (!peer.Ready()) {
        std::fprintf(stderr, "bus_peer: %s\n", peer.Error().c_str());
        return 1;
    }
    gPeer = &peer;
    struct sigaction stop {};
    stop.sa_handler = OnStop; // through the peer's wake pipe: its waits end at once
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    struct sigaction report {};
    report.sa_handler = OnReport;
    sigaction(SIGUSR1, &report, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("%s\n", peer.Path().c_str());
    std::fflush(stdout);
    const std::int64_t endUs =
        options.DurationS > 0
            ? TModbusPeer::NowUs() + static_cast<std::int64_t>(options.DurationS * 1e6)
            : INT64_MAX;
    const auto summary = [&peer] {
        std::printf("%s\n", peer.Summary().c_str());
        std::fflush(stdout);
    };
    while (peer.Run(endUs)) // back on each SIGUSR1
        summary();
    summary();
    peer.RemoveLink();
    return 0;
}
