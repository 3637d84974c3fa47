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
// peer sleeps. Requests for other addresses get no reply.
//
// Usage: bus_peer [--link PATH] [--silent 53,60] [--late-every N] [--late-ms MS]
//                 [--bad-crc-every N] [--turnaround-us US] [--seed N]
//                 [--duration SECONDS] [--log FILE] [--first-request FILE]
// The first line on stdout is the path to open; on exit and on SIGUSR1 a
// one-line summary follows. --log writes "monotonic ms;address;value" for
// every reading sent with a good CRC. --first-request writes the monotonic
// time in ms (three decimals) at which the first request began to arrive,
// for timing the program's start.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <modbus/modbus.h>
#include <poll.h>
#include <pty.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFirstAddress = 50;
constexpr int kSensorCount = 16;
constexpr int kRegisters = 16;
constexpr std::int64_t kBaud = 57600;
constexpr std::int64_t kBitsPerByte = 11;
// A request whose length the peer cannot tell from its function code ends
// when the terminal has been quiet this long.
constexpr int kQuietMs = 5;
constexpr double kPi = 3.14159265358979323846;

volatile std::sig_atomic_t gStop = 0;
volatile std::sig_atomic_t gReport = 0;

void OnStop(int)
{
    gStop = 1;
}
void OnReport(int)
{
    gReport = 1;
}

std::int64_t NowUs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
}

// Sleeps until a monotonic time; a signal ends the sleep early only for a stop.
void SleepUntilUs(std::int64_t us)
{
    const timespec at{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR && !gStop) {
    }
}

constexpr std::int64_t WireUs(std::size_t bytes)
{
    return static_cast<std::int64_t>(bytes) * kBitsPerByte * 1000000 / kBaud;
}

struct TOptions {
    std::string Link;
    std::vector<int> Silent;
    long LateEvery = 0;
    long LateMs = 300;
    long BadCrcEvery = 0;
    long TurnaroundUs = 1000;
    unsigned long Seed = 1;
    double DurationS = 0; // 0: until stopped
    std::string Log;
    std::string FirstRequest;
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
        if (name == "--link") {
            o.Link = value;
        } else if (name == "--silent") {
            ok = ParseSilent(value, o.Silent);
        } else if (name == "--late-every") {
            ok = ParseLong(value, 0, o.LateEvery);
        } else if (name == "--late-ms") {
            ok = ParseLong(value, 0, o.LateMs);
        } else if (name == "--bad-crc-every") {
            ok = ParseLong(value, 0, o.BadCrcEvery);
        } else if (name == "--turnaround-us") {
            ok = ParseLong(value, 0, o.TurnaroundUs);
        } else if (name == "--seed") {
            ok = ParseLong(value, 0, number);
            o.Seed = static_cast<unsigned long>(number);
        } else if (name == "--duration") {
            char *end = nullptr;
            o.DurationS = std::strtod(value, &end);
            ok = end != value && *end == '\0' && o.DurationS >= 0;
        } else if (name == "--log") {
            o.Log = value;
        } else if (name == "--first-request") {
            o.FirstRequest = value;
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

class TBusPeer {
public:
    explicit TBusPeer(const TOptions &options) : m_options(options), m_rng(options.Seed)
    {
        // Each sensor its own wave: 20..120 s a period, nearly the full range.
        std::uniform_real_distribution<double> phase(0.0, 2 * kPi);
        std::uniform_real_distribution<double> period(20.0, 120.0);
        std::uniform_real_distribution<double> amplitude(420.0, 505.0);
        for (TSensor &s : m_sensors) {
            s.Phase = phase(m_rng);
            s.PeriodS = period(m_rng);
            s.Amplitude = amplitude(m_rng);
        }
        for (const int address : options.Silent)
            m_sensors[address - kFirstAddress].Silent = true;
    }

    ~TBusPeer()
    {
        RemoveLink();
        for (TSensor &s : m_sensors)
            if (s.Map != nullptr)
                modbus_mapping_free(s.Map);
        if (m_ctx != nullptr)
            modbus_free(m_ctx);
        for (const int fd : {m_master, m_slave, m_inner[0], m_inner[1]})
            if (fd >= 0)
                ::close(fd);
        if (m_log != nullptr)
            std::fclose(m_log);
    }

    TBusPeer(const TBusPeer &) = delete;
    TBusPeer &operator=(const TBusPeer &) = delete;

    bool Open()
    {
        termios raw{};
        cfmakeraw(&raw);
        char name[PATH_MAX] = {};
        if (::openpty(&m_master, &m_slave, name, &raw, nullptr) != 0)
            return Fail("openpty");
        m_slaveName = name;
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        // The peer keeps the slave end open too, so that the master end does
        // not hang up while the program is not connected.

        // libmodbus reads each gathered request from a socket pair and writes
        // its reply there; the peer moves the bytes to and from the terminal.
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, m_inner) != 0)
            return Fail("socketpair");
        m_ctx = modbus_new_rtu(name, static_cast<int>(kBaud), 'N', 8, 1);
        if (m_ctx == nullptr)
            return Fail("modbus_new_rtu");
        modbus_set_socket(m_ctx, m_inner[0]);
        modbus_set_byte_timeout(m_ctx, 0, 20000); // a short frame is given up quickly
        for (TSensor &s : m_sensors) {
            s.Map = modbus_mapping_new(0, 0, kRegisters, 0);
            if (s.Map == nullptr)
                return Fail("modbus_mapping_new");
        }

        if (!m_options.Log.empty()) {
            m_log = std::fopen(m_options.Log.c_str(), "w");
            if (m_log == nullptr)
                return Fail(m_options.Log.c_str());
            std::setvbuf(m_log, nullptr, _IOLBF, 0);
            std::fputs("monotonic_ms;address;value\n", m_log);
        }

        if (!m_options.Link.empty()) {
            struct stat st {};
            if (::lstat(m_options.Link.c_str(), &st) == 0) {
                if (!S_ISLNK(st.st_mode)) {
                    std::fprintf(stderr, "bus_peer: %s exists and is not a link\n",
                                 m_options.Link.c_str());
                    return false;
                }
                ::unlink(m_options.Link.c_str()); // left by an earlier run
            }
            if (::symlink(name, m_options.Link.c_str()) != 0)
                return Fail(m_options.Link.c_str());
            m_linked = true;
        }
        m_startUs = NowUs();
        return true;
    }

    // Where the program should open the bus.
    const std::string &Path() const
    {
        return m_options.Link.empty() ? m_slaveName : m_options.Link;
    }

    void Run()
    {
        const std::int64_t endUs =
            m_options.DurationS > 0
                ? m_startUs + static_cast<std::int64_t>(m_options.DurationS * 1e6)
                : INT64_MAX;
        while (!gStop) {
            if (gReport) {
                gReport = 0;
                PrintSummary();
            }
            const std::int64_t now = NowUs();
            if (now >= endUs)
                break;
            if (m_pending.empty()) {
                const std::int64_t waitMs =
                    std::min<std::int64_t>((endUs - now + 999) / 1000, 1000);
                pollfd p{m_master, POLLIN, 0};
                if (::poll(&p, 1, static_cast<int>(waitMs)) <= 0 || !(p.revents & POLLIN))
                    continue;
            }
            // The request began to arrive now: on a real line its last byte
            // comes in the request's wire time later.
            const std::int64_t arrivedUs = NowUs();
            const std::vector<std::uint8_t> frame = NextFrame();
            if (frame.empty())
                continue;
            if (!m_firstSeen)
                StampFirstRequest(arrivedUs);
            Answer(frame, arrivedUs);
        }
    }

    void PrintSummary()
    {
        std::string line = "requests";
        for (int i = 0; i < kSensorCount; ++i)
            line += " " + std::to_string(kFirstAddress + i) + "=" +
                    std::to_string(m_sensors[i].Requests);
        line += " other=" + std::to_string(m_otherRequests) +
                " refused=" + std::to_string(m_refused) + " replies=" + std::to_string(m_replies) +
                " late=" + std::to_string(m_late) + " bad_crc=" + std::to_string(m_badCrc);
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

    void RemoveLink()
    {
        if (!m_linked)
            return;
        // Only while the link is still the one this peer made.
        char target[PATH_MAX] = {};
        const ssize_t n = ::readlink(m_options.Link.c_str(), target, sizeof target - 1);
        if (n > 0 && m_slaveName == std::string(target, static_cast<std::size_t>(n)))
            ::unlink(m_options.Link.c_str());
        m_linked = false;
    }

private:
    struct TSensor {
        double Phase = 0;
        double PeriodS = 60;
        double Amplitude = 500;
        bool Silent = false;
        modbus_mapping_t *Map = nullptr;
        std::uint64_t Requests = 0;
    };

    static bool Fail(const char *what)
    {
        std::fprintf(stderr, "bus_peer: %s: %s\n", what, std::strerror(errno));
        return false;
    }

    // Once, for the first request: written beside and renamed, so that a
    // script waiting for the file never reads half a line.
    void StampFirstRequest(std::int64_t arrivedUs)
    {
        m_firstSeen = true;
        if (m_options.FirstRequest.empty())
            return;
        const std::string temporary = m_options.FirstRequest + ".part";
        FILE *f = std::fopen(temporary.c_str(), "w");
        if (f == nullptr) {
            Fail(temporary.c_str());
            return;
        }
        std::fprintf(f, "%lld.%03lld\n", static_cast<long long>(arrivedUs / 1000),
                     static_cast<long long>(arrivedUs % 1000));
        if (std::fclose(f) != 0 ||
            std::rename(temporary.c_str(), m_options.FirstRequest.c_str()) != 0)
            Fail(m_options.FirstRequest.c_str());
    }

    // Reads what the terminal has into m_pending without waiting.
    void ReadAvailable()
    {
        std::uint8_t chunk[256];
        ssize_t n;
        while ((n = ::read(m_master, chunk, sizeof chunk)) > 0)
            m_pending.insert(m_pending.end(), chunk, chunk + n);
    }

    // The next request: eight bytes for functions 3 and 6, anything else up
    // to a pause on the line. Bytes past it stay for the next one.
    std::vector<std::uint8_t> NextFrame()
    {
        ReadAvailable();
        for (;;) {
            const bool fixed = m_pending.size() >= 2 && (m_pending[1] == 3 || m_pending[1] == 6);
            if (fixed && m_pending.size() >= 8)
                break;
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, kQuietMs) <= 0 || !(p.revents & POLLIN))
                break;
            ReadAvailable();
        }
        const bool fixed = m_pending.size() >= 2 && (m_pending[1] == 3 || m_pending[1] == 6);
        const std::size_t take =
            fixed ? std::min<std::size_t>(8, m_pending.size()) : m_pending.size();
        std::vector<std::uint8_t> frame(m_pending.begin(), m_pending.begin() + take);
        m_pending.erase(m_pending.begin(), m_pending.begin() + take);
        return frame;
    }

    // Whatever waits on a socket, without blocking.
    static std::vector<std::uint8_t> Drain(int fd)
    {
        std::vector<std::uint8_t> bytes;
        std::uint8_t chunk[MODBUS_RTU_MAX_ADU_LENGTH];
        ssize_t n;
        while ((n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT)) > 0)
            bytes.insert(bytes.end(), chunk, chunk + n);
        return bytes;
    }

    std::uint16_t Reading(int index, std::int64_t nowUs)
    {
        const TSensor &s = m_sensors[index];
        const double t = static_cast<double>(nowUs - m_startUs) / 1e6;
        const double wave = 511.5 + s.Amplitude * std::sin(2 * kPi * t / s.PeriodS + s.Phase);
        const long value = std::lround(wave) + std::uniform_int_distribution<int>(-2, 2)(m_rng);
        return static_cast<std::uint16_t>(std::clamp(value, 0L, 1023L));
    }

    void Answer(const std::vector<std::uint8_t> &frame, std::int64_t arrivedUs)
    {
        const int index = frame[0] - kFirstAddress;
        if (index < 0 || index >= kSensorCount) {
            ++m_otherRequests; // another device's business: a slave keeps quiet
            return;
        }
        TSensor &sensor = m_sensors[index];

        // libmodbus checks the frame (CRC, length for its function) and answers.
        modbus_set_slave(m_ctx, frame[0]);
        Drain(m_inner[0]);
        if (::write(m_inner[1], frame.data(), frame.size()) != ssize_t(frame.size()))
            return;
        std::uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH];
        const int length = modbus_receive(m_ctx, request);
        Drain(m_inner[0]); // bytes past the frame libmodbus took
        if (length <= 0) {
            ++m_refused;
            return;
        }
        ++sensor.Requests;
        if (sensor.Silent)
            return;

        const std::uint8_t function = request[1];
        const int reg = request[2] << 8 | request[3];
        int logged = -1;
        if (function == MODBUS_FC_WRITE_SINGLE_REGISTER && reg != 1 && reg != 2 && reg != 3 &&
            reg != 10) {
            // Register 0 is the reading; only the parameters take writes.
            modbus_reply_exception(m_ctx, request, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
        } else {
            if (function == MODBUS_FC_READ_HOLDING_REGISTERS && reg == 0) {
                sensor.Map->tab_registers[0] = Reading(index, NowUs());
                logged = sensor.Map->tab_registers[0];
            }
            modbus_reply(m_ctx, request, length, sensor.Map);
        }
        std::vector<std::uint8_t> reply = Drain(m_inner[1]);
        if (reply.size() < 5)
            return;
        if (function != MODBUS_FC_READ_HOLDING_REGISTERS || (reply[1] & 0x80) != 0)
            logged = -1;

        ++m_replies;
        const bool late = m_options.LateEvery > 0 && m_replies % m_options.LateEvery == 0;
        const bool badCrc = m_options.BadCrcEvery > 0 && m_replies % m_options.BadCrcEvery == 0;
        if (late)
            ++m_late;
        if (badCrc) {
            ++m_badCrc;
            reply.back() ^= 0x5A;
            logged = -1; // no master takes this reading
        }
        const std::int64_t delayUs = late ? m_options.LateMs * 1000 : m_options.TurnaroundUs;
        SleepUntilUs(arrivedUs + WireUs(frame.size()) + delayUs + WireUs(reply.size()));
        if (::write(m_master, reply.data(), reply.size()) < 0)
            return; // the terminal's queue is full: nobody reads it
        if (logged >= 0 && m_log != nullptr)
            std::fprintf(m_log, "%lld;%d;%d\n", static_cast<long long>(NowUs() / 1000), frame[0],
                         logged);
    }

    const TOptions &m_options;
    std::mt19937 m_rng;
    std::array<TSensor, kSensorCount> m_sensors;
    int m_master = -1;
    int m_slave = -1;
    int m_inner[2] = {-1, -1}; // libmodbus's end, the peer's end
    std::string m_slaveName;
    bool m_linked = false;
    bool m_firstSeen = false;
    modbus_t *m_ctx = nullptr;
    FILE *m_log = nullptr;
    std::int64_t m_startUs = 0;
    std::vector<std::uint8_t> m_pending;

    std::uint64_t m_otherRequests = 0;
    std::uint64_t m_refused = 0;
    std::uint64_t m_replies = 0;
    std::uint64_t m_late = 0;
    std::uint64_t m_badCrc = 0;
};

} // namespace

int main(int argc, char **argv)
{
    TOptions options;
    if (!ParseOptions(argc, argv, options))
        return 2;

    struct sigaction stop {};
    stop.sa_handler = OnStop; // no SA_RESTART: poll and sleeps return at once
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    struct sigaction report {};
    report.sa_handler = OnReport;
    sigaction(SIGUSR1, &report, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    TBusPeer peer(options);
    if (!peer.Open())
        return 1;
    std::printf("%s\n", peer.Path().c_str());
    std::fflush(stdout);
    peer.Run();
    peer.PrintSummary();
    peer.RemoveLink();
    return 0;
}
