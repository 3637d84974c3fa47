#include "bench/modbus_peer.h"

#include "sim/sensor_signal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <utility>

namespace qvr::test {

namespace {

constexpr std::int64_t kBaud = 57600;
constexpr std::int64_t kBitsPerByte = 11;
// A request whose length the peer cannot tell from its function code ends
// when the terminal has been quiet this long.
constexpr int kQuietMs = 5;

static_assert(std::atomic<bool>::is_always_lock_free, "Stop and Interrupt run in signal handlers");

constexpr std::int64_t WireUs(std::size_t bytes)
{
    return static_cast<std::int64_t>(bytes) * kBitsPerByte * 1000000 / kBaud;
}

bool IsParameter(int reg)
{
    return reg == 1 || reg == 2 || reg == 3 || reg == 10;
}

// Whatever waits on a socket, without blocking.
std::vector<std::uint8_t> Drain(int fd)
{
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[MODBUS_RTU_MAX_ADU_LENGTH];
    ssize_t n;
    while ((n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    return bytes;
}

void Complain(const std::string &what)
{
    std::fprintf(stderr, "modbus peer: %s: %s\n", what.c_str(), std::strerror(errno));
}

TPeerOptions TestOptions(std::vector<int> slaves, std::uint16_t register0, std::string link)
{
    TPeerOptions o;
    o.Addresses = std::move(slaves);
    o.Register0 = register0;
    o.Link = std::move(link);
    return o;
}

} // namespace

std::int64_t TModbusPeer::NowUs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
}

TModbusPeer::TModbusPeer(TPeerOptions options) : options_(std::move(options)), rng_(options_.Seed)
{
    if (options_.Moving)
        signal_ = std::make_unique<TSensorSignal>(rng_);
    Open();
}

TModbusPeer::TModbusPeer(std::vector<int> slaves, std::uint16_t register0, std::string link)
    : TModbusPeer(TestOptions(std::move(slaves), register0, std::move(link)))
{
    Start();
}

TModbusPeer::~TModbusPeer()
{
    HangUp();
    RemoveLink();
    for (auto &[address, slave] : slaves_)
        if (slave.Map != nullptr)
            modbus_mapping_free(slave.Map);
    if (ctx_ != nullptr)
        modbus_free(ctx_);
    for (const int fd : {slave_, inner_[0], inner_[1], wake_[0], wake_[1]})
        if (fd >= 0)
            ::close(fd);
    if (log_ != nullptr)
        std::fclose(log_);
}

bool TModbusPeer::Fail(const std::string &what)
{
    error_ = what + ": " + std::strerror(errno);
    return false;
}

bool TModbusPeer::Open()
{
    if (options_.Addresses.empty()) {
        error_ = "no address to serve";
        return false;
    }
    if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0)
        return Fail("pipe");
    if (!OpenTerminal())
        return false;
    // libmodbus reads each gathered request from a socket pair and writes its
    // reply there; the peer moves the bytes to and from the terminal.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, inner_) != 0)
        return Fail("socketpair");
    ctx_ = modbus_new_rtu(path_.c_str(), static_cast<int>(kBaud), 'N', 8, 1);
    if (ctx_ == nullptr)
        return Fail("modbus_new_rtu");
    modbus_set_socket(ctx_, inner_[0]);
    modbus_set_byte_timeout(ctx_, 0, 20000); // a short frame is given up quickly
    for (const int address : options_.Addresses) {
        TSlave &slave = slaves_[address];
        slave.Map = modbus_mapping_new(0, 0, kRegisters, 0);
        if (slave.Map == nullptr)
            return Fail("modbus_mapping_new");
        slave.Map->tab_registers[0] = options_.Register0;
        counts_.Requests[address] = 0;
    }
    for (const int address : options_.Silent)
        if (slaves_.count(address) != 0)
            slaves_[address].Silent = true;

    if (!options_.Log.empty()) {
        log_ = std::fopen(options_.Log.c_str(), "w");
        if (log_ == nullptr)
            return Fail(options_.Log);
        std::setvbuf(log_, nullptr, _IOLBF, 0);
        std::fputs("monotonic_ms;address;value\n", log_);
    }
    startUs_ = NowUs();
    return true;
}

// A new terminal, raw, its slave side kept open as well so that the master
// side does not hang up while the program is not connected; named by the
// link when there is one.
bool TModbusPeer::OpenTerminal()
{
    if (slave_ >= 0)
        ::close(slave_);
    slave_ = -1;
    termios raw{};
    cfmakeraw(&raw);
    char name[PATH_MAX] = {};
    if (::openpty(&master_, &slave_, name, &raw, nullptr) != 0)
        return Fail("openpty");
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    path_ = name;
    if (options_.Link.empty())
        return true;

    struct stat st {};
    if (::lstat(options_.Link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error_ = options_.Link + " exists and is not a link";
        return false;
    }
    // Re-pointed in one step (a link left by an earlier run too): whoever
    // opens the link finds a terminal.
    const std::string next = options_.Link + ".next";
    ::unlink(next.c_str());
    if (::symlink(name, next.c_str()) != 0 || ::rename(next.c_str(), options_.Link.c_str()) != 0)
        return Fail(options_.Link);
    linked_ = true;
    return true;
}

void TModbusPeer::RemoveLink()
{
    if (!linked_)
        return;
    char target[PATH_MAX] = {};
    const ssize_t n = ::readlink(options_.Link.c_str(), target, sizeof target - 1);
    if (n > 0 && path_ == std::string(target, static_cast<std::size_t>(n)))
        ::unlink(options_.Link.c_str());
    linked_ = false;
}

void TModbusPeer::Start()
{
    if (Ready() && !server_.joinable())
        server_ = std::thread([this] { Serve(); });
}

void TModbusPeer::Stop()
{
    const int saved = errno;
    stop_ = true;
    [[maybe_unused]] const ssize_t n = ::write(wake_[1], "s", 1);
    errno = saved;
}

void TModbusPeer::Interrupt()
{
    const int saved = errno;
    interrupted_ = true;
    [[maybe_unused]] const ssize_t n = ::write(wake_[1], "i", 1);
    errno = saved;
}

void TModbusPeer::DrainWake()
{
    char bytes[64];
    while (::read(wake_[0], bytes, sizeof bytes) > 0) {
    }
}

void TModbusPeer::HangUp()
{
    Stop();
    if (server_.joinable())
        server_.join();
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

bool TModbusPeer::ComeBack()
{
    HangUp();
    if (!Ready() || options_.Link.empty() || !OpenTerminal())
        return false;
    pending_.clear();
    DrainWake();
    stop_ = false;
    Start();
    return true;
}

bool TModbusPeer::StopOutput()
{
    return ::tcflow(slave_, TCOOFF) == 0;
}

bool TModbusPeer::SendMarker()
{
    const std::uint8_t marker = 0;
    return ::write(slave_, &marker, 1) == 1;
}

modbus_mapping_t *TModbusPeer::Map(int slave)
{
    return slave < 0 ? slaves_.begin()->second.Map : slaves_.at(slave).Map;
}

std::uint16_t TModbusPeer::Register(int index, int slave)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return Map(slave)->tab_registers[index];
}

void TModbusPeer::SetRegister(int index, std::uint16_t value, int slave)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Map(slave)->tab_registers[index] = value;
}

int TModbusPeer::Requests(int slave)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = counts_.Requests.find(slave);
    return it == counts_.Requests.end() ? 0 : static_cast<int>(it->second);
}

TPeerCounts TModbusPeer::Counts()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_;
}

std::string TModbusPeer::Summary()
{
    const TPeerCounts c = Counts();
    std::string line = "requests";
    for (const auto &[address, n] : c.Requests)
        line += " " + std::to_string(address) + "=" + std::to_string(n);
    line += " other=" + std::to_string(c.Other) + " refused=" + std::to_string(c.Refused) +
            " replies=" + std::to_string(c.Replies) + " late=" + std::to_string(c.Late) +
            " bad_crc=" + std::to_string(c.BadCrc);
    return line;
}

bool TModbusPeer::Run(std::int64_t untilUs)
{
    while (!stop_) {
        if (interrupted_.exchange(false))
            return true;
        const std::int64_t now = NowUs();
        if (now >= untilUs)
            return false;
        if (pending_.empty()) {
            pollfd p[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            const auto waitMs = std::min<std::int64_t>((untilUs - now + 999) / 1000, 1000);
            const int ready = ::poll(p, 2, static_cast<int>(waitMs));
            if (p[1].revents != 0)
                DrainWake();
            if (ready <= 0 || (p[0].revents & POLLIN) == 0) {
                if ((p[0].revents & (POLLHUP | POLLERR)) != 0) // no reader on the slave side
                    ::usleep(5000);
                continue;
            }
        }
        // The request began to arrive now: on a real line its last byte
        // comes in the request's wire time later.
        const std::int64_t arrivedUs = NowUs();
        const std::vector<std::uint8_t> frame = NextFrame();
        if (frame.empty())
            continue;
        ++frames_;
        if (!firstSeen_)
            StampFirstRequest(arrivedUs);
        Answer(frame, arrivedUs);
    }
    return false;
}

// Until a monotonic time; Stop ends the wait early.
void TModbusPeer::Wait(std::int64_t untilUs)
{
    while (!stop_) {
        const std::int64_t left = untilUs - NowUs();
        if (left <= 0)
            return;
        pollfd p{wake_[0], POLLIN, 0};
        const timespec span{static_cast<time_t>(left / 1000000),
                            static_cast<long>(left % 1000000) * 1000};
        if (::ppoll(&p, 1, &span, nullptr) > 0)
            DrainWake();
    }
}

// Once, for the first request: written beside and renamed, so that a script
// waiting for the file never reads half a line.
void TModbusPeer::StampFirstRequest(std::int64_t arrivedUs)
{
    firstSeen_ = true;
    if (options_.FirstRequest.empty())
        return;
    const std::string temporary = options_.FirstRequest + ".part";
    std::FILE *f = std::fopen(temporary.c_str(), "w");
    if (f == nullptr) {
        Complain(temporary);
        return;
    }
    std::fprintf(f, "%lld.%03lld\n", static_cast<long long>(arrivedUs / 1000),
                 static_cast<long long>(arrivedUs % 1000));
    if (std::fclose(f) != 0 || std::rename(temporary.c_str(), options_.FirstRequest.c_str()) != 0)
        Complain(options_.FirstRequest);
}

// Reads what the terminal has into pending_ without waiting.
void TModbusPeer::ReadAvailable()
{
    std::uint8_t chunk[256];
    ssize_t n;
    while ((n = ::read(master_, chunk, sizeof chunk)) > 0) {
        received_ += n;
        pending_.insert(pending_.end(), chunk, chunk + n);
    }
}

// The next request: eight bytes for functions 3 and 6, anything else up to a
// pause on the line. Bytes past it stay for the next one.
std::vector<std::uint8_t> TModbusPeer::NextFrame()
{
    const auto fixed = [this] {
        return pending_.size() >= 2 && (pending_[1] == MODBUS_FC_READ_HOLDING_REGISTERS ||
                                        pending_[1] == MODBUS_FC_WRITE_SINGLE_REGISTER);
    };
    ReadAvailable();
    for (;;) {
        if (fixed() && pending_.size() >= 8)
            break;
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, kQuietMs) <= 0 || (p.revents & POLLIN) == 0)
            break;
        ReadAvailable();
    }
    const std::size_t take = fixed() ? std::min<std::size_t>(8, pending_.size()) : pending_.size();
    std::vector<std::uint8_t> frame(pending_.begin(), pending_.begin() + take);
    pending_.erase(pending_.begin(), pending_.begin() + take);
    return frame;
}

void TModbusPeer::Answer(const std::vector<std::uint8_t> &frame, std::int64_t arrivedUs)
{
    const auto served = slaves_.find(frame[0]);
    if (served == slaves_.end()) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++counts_.Other; // another device's business: a slave keeps quiet
        return;
    }
    TSlave &slave = served->second;

    modbus_set_slave(ctx_, frame[0]);
    Drain(inner_[0]);
    if (::write(inner_[1], frame.data(), frame.size()) != ssize_t(frame.size()))
        return;
    std::uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH] = {};
    const int length = modbus_receive(ctx_, request);
    Drain(inner_[0]); // bytes past the frame libmodbus took
    const std::uint8_t function = request[1];
    const int reg = request[2] << 8 | request[3];
    int logged = -1;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (length <= 0) {
            ++counts_.Refused;
            return;
        }
        ++counts_.Requests[frame[0]];
        if (slave.Silent)
            return;
        if (function == MODBUS_FC_WRITE_SINGLE_REGISTER && !IsParameter(reg)) {
            // Register 0 is the reading; only the parameters take writes.
            modbus_reply_exception(ctx_, request, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
        } else {
            if (function == MODBUS_FC_READ_HOLDING_REGISTERS && reg == 0) {
                if (signal_ != nullptr)
                    slave.Map->tab_registers[0] = signal_->Reading(
                        frame[0], static_cast<double>(NowUs() - startUs_) / 1e6, rng_);
                logged = slave.Map->tab_registers[0];
            }
            modbus_reply(ctx_, request, length, slave.Map);
        }
    }
    std::vector<std::uint8_t> reply = Drain(inner_[1]);
    if (reply.size() < 5)
        return;
    if (function != MODBUS_FC_READ_HOLDING_REGISTERS || (reply[1] & 0x80) != 0)
        logged = -1;

    bool late = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::uint64_t n = ++counts_.Replies;
        late = options_.LateEvery > 0 && n % options_.LateEvery == 0;
        if (late)
            ++counts_.Late;
        if (options_.BadCrcEvery > 0 && n % options_.BadCrcEvery == 0) {
            ++counts_.BadCrc;
            reply.back() ^= 0x5A;
            logged = -1; // no master takes this reading
        }
    }
    if (late || options_.WireTime) {
        const std::int64_t delayUs = late ? options_.LateMs * 1000 : options_.TurnaroundUs;
        Wait(arrivedUs + WireUs(frame.size()) + delayUs + WireUs(reply.size()));
    }
    if (::write(master_, reply.data(), reply.size()) < 0)
        return; // the terminal's queue is full or the far end is gone: nobody reads it
    if (logged >= 0 && log_ != nullptr)
        std::fprintf(log_, "%lld;%d;%d\n", static_cast<long long>(NowUs() / 1000), frame[0],
                     logged);
}

} // namespace qvr::test
