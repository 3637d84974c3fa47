#include "sim/simbus.h"

#include "link/codec.h"

#include <algorithm>
#include <chrono>

namespace qvr {

namespace {

constexpr std::uint8_t kIllegalFunction = 0x01;
constexpr std::uint8_t kIllegalAddress = 0x02;
constexpr std::uint8_t kIllegalValue = 0x03;
// Largest register count one read may ask for.
constexpr std::uint16_t kMaxReadCount = 125;
// Device detail flag: the adapter is open.
constexpr std::uint32_t kFlagOpened = 1;

void AppendCrc(std::vector<std::uint8_t> &frame)
{
    const std::uint16_t crc = Crc16(frame.data(), frame.size());
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

bool CrcMatches(const std::vector<std::uint8_t> &frame)
{
    if (frame.size() < 4)
        return false;
    const std::size_t n = frame.size();
    const std::uint16_t crc = Crc16(frame.data(), n - 2);
    return frame[n - 2] == (crc & 0xFF) && frame[n - 1] == (crc >> 8);
}

std::uint16_t Word(const std::vector<std::uint8_t> &frame, std::size_t at)
{
    return static_cast<std::uint16_t>(frame[at] << 8 | frame[at + 1]);
}

std::vector<std::uint8_t> ExceptionReply(std::uint8_t address, std::uint8_t function,
                                         std::uint8_t code)
{
    std::vector<std::uint8_t> reply{address, static_cast<std::uint8_t>(function | kExceptionFlag),
                                    code};
    AppendCrc(reply);
    return reply;
}

} // namespace

TSimulatedBus::Clock TSimulatedBus::SteadyClock()
{
    return [] {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
}

TSimulatedBus::TSimulatedBus(Clock clock, std::uint32_t seed)
    : clock_(std::move(clock)), originUs_(clock_()), rng_(seed), signal_(rng_)
{
}

FtStatus TSimulatedBus::Enter(Call call, const FtHandle *handle)
{
    ++calls_[static_cast<std::size_t>(call)];
    if (handle) {
        if (*handle == kNoHandle || *handle != handle_)
            return FT_INVALID_HANDLE;
        if (handleLost_ && call != Call::Close)
            return FT_IO_ERROR;
    }
    const auto armed = failNext_.find(call);
    if (armed != failNext_.end()) {
        const FtStatus status = armed->second;
        failNext_.erase(armed);
        return status;
    }
    return FT_OK;
}

FtStatus TSimulatedBus::ListDevices(std::vector<std::string> &descriptions, std::uint32_t *count,
                                    std::uint32_t maxCount)
{
    if (const FtStatus status = Enter(Call::ListDevices, nullptr))
        return status;
    if (!count)
        return FT_INVALID_PARAMETER;
    *count = plugged_ ? 1 : 0;
    descriptions.clear();
    if (plugged_ && maxCount > 0)
        descriptions.emplace_back(description_);
    return FT_OK;
}

FtStatus TSimulatedBus::CreateDeviceInfoList(std::uint32_t *count)
{
    if (const FtStatus status = Enter(Call::CreateDeviceInfoList, nullptr))
        return status;
    if (!count)
        return FT_INVALID_PARAMETER;
    *count = plugged_ ? 1 : 0;
    return FT_OK;
}

FtStatus TSimulatedBus::GetDeviceInfoDetail(std::uint32_t index, DeviceDetails &details,
                                            FtHandle *handle)
{
    if (const FtStatus status = Enter(Call::GetDeviceInfoDetail, nullptr))
        return status;
    if (!handle)
        return FT_INVALID_PARAMETER;
    if (!plugged_ || index != 0)
        return FT_DEVICE_NOT_FOUND;
    details.Flags = IsOpen() ? kFlagOpened : 0;
    details.Type = 0;
    details.ID = 0x51560001;
    details.LocId = 0x11;
    details.SerialNumber = kSerialNumber;
    details.Description = description_;
    *handle = handle_;
    return FT_OK;
}

FtStatus TSimulatedBus::OpenEx(const std::string &description, std::uint32_t flags,
                               FtHandle *handle)
{
    if (!handle) {
        Enter(Call::OpenEx, nullptr);
        return FT_INVALID_PARAMETER;
    }
    *handle = kNoHandle;
    if (const FtStatus status = Enter(Call::OpenEx, nullptr))
        return status;
    if (flags != FT_OPEN_BY_DESCRIPTION)
        return FT_INVALID_PARAMETER;
    if (!plugged_ || description != description_)
        return FT_DEVICE_NOT_FOUND;
    if (IsOpen())
        return FT_DEVICE_NOT_OPENED; // busy: one open at a time
    handle_ = nextHandle_++;
    handleLost_ = false;
    baud_ = 9600;
    wordLength_ = FT_BITS_8;
    stopBits_ = FT_STOP_BITS_1;
    parity_ = FT_PARITY_NONE;
    flow_ = FT_FLOW_NONE;
    purgeMask_ = 0;
    rx_.clear();
    *handle = handle_;
    return FT_OK;
}

FtStatus TSimulatedBus::SetBaudRate(FtHandle handle, std::uint32_t baud)
{
    if (const FtStatus status = Enter(Call::SetBaudRate, &handle))
        return status;
    if (baud == 0)
        return FT_INVALID_PARAMETER;
    baud_ = baud;
    return FT_OK;
}

FtStatus TSimulatedBus::SetDataCharacteristics(FtHandle handle, std::uint8_t wordLength,
                                               std::uint8_t stopBits, std::uint8_t parity)
{
    if (const FtStatus status = Enter(Call::SetDataCharacteristics, &handle))
        return status;
    wordLength_ = wordLength;
    stopBits_ = stopBits;
    parity_ = parity;
    return FT_OK;
}

FtStatus TSimulatedBus::SetFlowControl(FtHandle handle, std::uint16_t flow, std::uint8_t,
                                       std::uint8_t)
{
    if (const FtStatus status = Enter(Call::SetFlowControl, &handle))
        return status;
    flow_ = flow;
    return FT_OK;
}

FtStatus TSimulatedBus::Purge(FtHandle handle, std::uint32_t mask)
{
    if (const FtStatus status = Enter(Call::Purge, &handle))
        return status;
    purgeMask_ = mask;
    if (mask & FT_PURGE_RX)
        DropReceived();
    return FT_OK;
}

FtStatus TSimulatedBus::GetStatus(FtHandle handle, std::uint32_t *rxQueue, std::uint32_t *txQueue,
                                  std::uint32_t *eventStatus)
{
    if (const FtStatus status = Enter(Call::GetStatus, &handle))
        return status;
    if (!rxQueue || !txQueue || !eventStatus)
        return FT_INVALID_PARAMETER;
    *rxQueue = VisibleBytes();
    const std::int64_t sending = txFreeUs_ - Now();
    const std::int64_t byteUs = WireTimeUs(1);
    *txQueue = sending > 0 ? static_cast<std::uint32_t>((sending + byteUs - 1) / byteUs) : 0;
    *eventStatus = 0;
    return FT_OK;
}

FtStatus TSimulatedBus::Read(FtHandle handle, void *buffer, std::uint32_t toRead,
                             std::uint32_t *bytesRead)
{
    if (const FtStatus status = Enter(Call::Read, &handle))
        return status;
    if (!bytesRead || (!buffer && toRead > 0))
        return FT_INVALID_PARAMETER;
    const std::int64_t now = Now();
    auto *out = static_cast<std::uint8_t *>(buffer);
    std::uint32_t n = 0;
    while (n < toRead && !rx_.empty() && rx_.begin()->first <= now) {
        out[n++] = rx_.begin()->second;
        rx_.erase(rx_.begin());
    }
    *bytesRead = n;
    return FT_OK;
}

FtStatus TSimulatedBus::Write(FtHandle handle, const void *buffer, std::uint32_t toWrite,
                              std::uint32_t *bytesWritten)
{
    if (const FtStatus status = Enter(Call::Write, &handle))
        return status;
    if (!bytesWritten || (!buffer && toWrite > 0))
        return FT_INVALID_PARAMETER;
    const auto *in = static_cast<const std::uint8_t *>(buffer);
    lastRequest_.assign(in, in + toWrite);
    *bytesWritten = toWrite;
    const std::int64_t start = std::max(Now(), txFreeUs_);
    txFreeUs_ = start + WireTimeUs(toWrite);
    HandleRequest(lastRequest_, txFreeUs_);
    return FT_OK;
}

FtStatus TSimulatedBus::Close(FtHandle handle)
{
    if (const FtStatus status = Enter(Call::Close, &handle))
        return status;
    handle_ = kNoHandle;
    handleLost_ = false;
    rx_.clear();
    return FT_OK;
}

void TSimulatedBus::SetSensorFault(std::uint8_t address, Fault fault)
{
    if (IsSensor(address))
        SensorAt(address).Persistent = fault;
}

TSimulatedBus::Fault TSimulatedBus::SensorFault(std::uint8_t address) const
{
    return IsSensor(address) ? SensorAt(address).Persistent : Fault::None;
}

void TSimulatedBus::InjectFault(Fault fault, int address)
{
    injected_.emplace_back(address, fault);
}

void TSimulatedBus::ClearFaults()
{
    for (TSensor &s : sensors_)
        s.Persistent = Fault::None;
    injected_.clear();
    failNext_.clear();
}

void TSimulatedBus::Unplug()
{
    plugged_ = false;
    if (IsOpen())
        handleLost_ = true;
    rx_.clear();
}

void TSimulatedBus::Plug()
{
    plugged_ = true;
}

void TSimulatedBus::FailNextCall(Call call, FtStatus status)
{
    failNext_[call] = status;
}

std::optional<std::uint16_t> TSimulatedBus::StoredRegister(std::uint8_t address,
                                                           std::uint16_t reg) const
{
    if (!IsSensor(address))
        return std::nullopt;
    const TSensor &s = SensorAt(address);
    switch (reg) {
    case 1:
        return s.OnOff;
    case 2:
        return s.OnMin;
    case 3:
        return s.OnMax;
    case 10:
        return s.Mode;
    default:
        return std::nullopt;
    }
}

std::uint32_t TSimulatedBus::VisibleBytes() const
{
    const auto end = rx_.upper_bound(Now());
    return static_cast<std::uint32_t>(std::distance(rx_.begin(), end));
}

double TSimulatedBus::Signal(std::uint8_t address, std::int64_t timeUs) const
{
    return signal_.At(address, static_cast<double>(timeUs - originUs_) / 1e6);
}

void TSimulatedBus::HandleRequest(const std::vector<std::uint8_t> &frame, std::int64_t requestEndUs)
{
    // An RTU slave keeps quiet about frames it cannot trust or that are not its own.
    if (!CrcMatches(frame)) {
        ++corruptRequests_;
        return;
    }
    const std::uint8_t address = frame[0];
    ++requests_[address];
    if (!IsSensor(address))
        return;
    std::vector<std::uint8_t> reply = Answer(frame);
    if (reply.empty())
        return;

    std::int64_t start = requestEndUs + turnaroundUs_;
    std::size_t gapAfter = 0;
    std::int64_t gapUs = 0;
    const Fault fault = TakeFault(address);
    switch (fault) {
    case Fault::None:
        break;
    case Fault::Silence:
        reply.clear();
        break;
    case Fault::BadCrc:
        reply[reply.size() - 1] ^= 0x5A;
        break;
    case Fault::Exception:
        reply = ExceptionReply(address, frame[1], faultExceptionCode_);
        break;
    case Fault::Garbage:
        reply = Garbage();
        break;
    case Fault::Split:
        gapAfter = reply.size() / 2;
        gapUs = splitGapUs_;
        break;
    case Fault::Late:
        start = requestEndUs + lateDelayUs_;
        break;
    }
    if (replyObserver_)
        replyObserver_(address, fault, reply);
    if (reply.empty())
        return;
    ++repliesSent_;
    Schedule(reply, start, gapAfter, gapUs);
}

std::vector<std::uint8_t> TSimulatedBus::Answer(const std::vector<std::uint8_t> &frame)
{
    const std::uint8_t address = frame[0];
    const std::uint8_t function = frame[1];
    if (function != kReadHoldingRegisters && function != kWriteSingleRegister)
        return ExceptionReply(address, function, kIllegalFunction);
    if (frame.size() != 8)
        return {}; // malformed for its function: dropped
    const std::uint16_t reg = Word(frame, 2);
    if (function == kWriteSingleRegister) {
        if (!WriteRegister(address, reg, Word(frame, 4)))
            return ExceptionReply(address, function, kIllegalAddress);
        return frame; // the echo
    }
    const std::uint16_t count = Word(frame, 4);
    if (count == 0 || count > kMaxReadCount)
        return ExceptionReply(address, function, kIllegalValue);
    std::vector<std::uint8_t> reply{address, function, static_cast<std::uint8_t>(2 * count)};
    for (std::uint32_t r = reg; r < std::uint32_t{reg} + count; ++r) {
        const auto value =
            r <= 0xFFFF ? ReadRegister(address, static_cast<std::uint16_t>(r)) : std::nullopt;
        if (!value)
            return ExceptionReply(address, function, kIllegalAddress);
        reply.push_back(static_cast<std::uint8_t>(*value >> 8));
        reply.push_back(static_cast<std::uint8_t>(*value & 0xFF));
    }
    AppendCrc(reply);
    return reply;
}

std::optional<std::uint16_t> TSimulatedBus::ReadRegister(std::uint8_t address, std::uint16_t reg)
{
    if (reg == 0)
        return Reading(address);
    return StoredRegister(address, reg);
}

bool TSimulatedBus::WriteRegister(std::uint8_t address, std::uint16_t reg, std::uint16_t value)
{
    TSensor &s = SensorAt(address);
    switch (reg) {
    case 1:
        s.OnOff = value;
        return true;
    case 2:
        s.OnMin = value;
        return true;
    case 3:
        s.OnMax = value;
        return true;
    case 10:
        s.Mode = value;
        return true;
    default:
        return false; // register 0 is read-only; nothing else exists
    }
}

std::uint16_t TSimulatedBus::Reading(std::uint8_t address)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    if (unit(rng_) < spikeRate_)
        return static_cast<std::uint16_t>(std::uniform_int_distribution<int>(1024, 1200)(rng_));
    return signal_.Reading(address, static_cast<double>(Now() - originUs_) / 1e6, rng_);
}

TSimulatedBus::Fault TSimulatedBus::TakeFault(std::uint8_t address)
{
    for (int wanted : {int{address}, kAnyAddress}) {
        const auto it = std::find_if(injected_.begin(), injected_.end(),
                                     [wanted](const auto &f) { return f.first == wanted; });
        if (it != injected_.end()) {
            const Fault fault = it->second;
            injected_.erase(it);
            return fault;
        }
    }
    return SensorAt(address).Persistent;
}

std::vector<std::uint8_t> TSimulatedBus::Garbage()
{
    const int length = std::uniform_int_distribution<int>(1, 20)(rng_);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    for (std::uint8_t &b : bytes)
        b = static_cast<std::uint8_t>(byte(rng_));
    // Random bytes could pass the CRC check by chance; garbage never does.
    if (bytes.size() >= 4 && CrcMatches(bytes))
        bytes.back() ^= 0x01;
    return bytes;
}

void TSimulatedBus::Schedule(const std::vector<std::uint8_t> &bytes, std::int64_t startUs,
                             std::size_t gapAfter, std::int64_t gapUs)
{
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::int64_t pause = gapAfter > 0 && i >= gapAfter ? gapUs : 0;
        rx_.emplace(startUs + pause + WireTimeUs(i + 1), bytes[i]);
    }
}

void TSimulatedBus::DropReceived()
{
    rx_.erase(rx_.begin(), rx_.upper_bound(Now()));
}

} // namespace qvr
