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
    : m_clock(std::move(clock)), m_originUs(m_clock()), m_rng(seed), m_signal(m_rng)
{
}

FtStatus TSimulatedBus::Enter(Call call, const FtHandle *handle)
{
    ++m_calls[static_cast<std::size_t>(call)];
    if (handle) {
        if (*handle == kNoHandle || *handle != m_handle)
            return FT_INVALID_HANDLE;
        if (m_handleLost && call != Call::Close)
            return FT_IO_ERROR;
    }
    const auto armed = m_failNext.find(call);
    if (armed != m_failNext.end()) {
        const FtStatus status = armed->second;
        m_failNext.erase(armed);
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
    *count = m_plugged ? 1 : 0;
    descriptions.clear();
    if (m_plugged && maxCount > 0)
        descriptions.emplace_back(kDescription);
    return FT_OK;
}

FtStatus TSimulatedBus::CreateDeviceInfoList(std::uint32_t *count)
{
    if (const FtStatus status = Enter(Call::CreateDeviceInfoList, nullptr))
        return status;
    if (!count)
        return FT_INVALID_PARAMETER;
    *count = m_plugged ? 1 : 0;
    return FT_OK;
}

FtStatus TSimulatedBus::GetDeviceInfoDetail(std::uint32_t index, DeviceDetails &details,
                                            FtHandle *handle)
{
    if (const FtStatus status = Enter(Call::GetDeviceInfoDetail, nullptr))
        return status;
    if (!handle)
        return FT_INVALID_PARAMETER;
    if (!m_plugged || index != 0)
        return FT_DEVICE_NOT_FOUND;
    details.Flags = IsOpen() ? kFlagOpened : 0;
    details.Type = 0;
    details.ID = 0x51560001;
    details.LocId = 0x11;
    details.SerialNumber = kSerialNumber;
    details.Description = kDescription;
    *handle = m_handle;
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
    if (!m_plugged || description != kDescription)
        return FT_DEVICE_NOT_FOUND;
    if (IsOpen())
        return FT_DEVICE_NOT_OPENED; // busy: one open at a time
    m_handle = m_nextHandle++;
    m_handleLost = false;
    m_baud = 9600;
    m_wordLength = FT_BITS_8;
    m_stopBits = FT_STOP_BITS_1;
    m_parity = FT_PARITY_NONE;
    m_flow = FT_FLOW_NONE;
    m_purgeMask = 0;
    m_rx.clear();
    *handle = m_handle;
    return FT_OK;
}

FtStatus TSimulatedBus::SetBaudRate(FtHandle handle, std::uint32_t baud)
{
    if (const FtStatus status = Enter(Call::SetBaudRate, &handle))
        return status;
    if (baud == 0)
        return FT_INVALID_PARAMETER;
    m_baud = baud;
    return FT_OK;
}

FtStatus TSimulatedBus::SetDataCharacteristics(FtHandle handle, std::uint8_t wordLength,
                                               std::uint8_t stopBits, std::uint8_t parity)
{
    if (const FtStatus status = Enter(Call::SetDataCharacteristics, &handle))
        return status;
    m_wordLength = wordLength;
    m_stopBits = stopBits;
    m_parity = parity;
    return FT_OK;
}

FtStatus TSimulatedBus::SetFlowControl(FtHandle handle, std::uint16_t flow, std::uint8_t,
                                       std::uint8_t)
{
    if (const FtStatus status = Enter(Call::SetFlowControl, &handle))
        return status;
    m_flow = flow;
    return FT_OK;
}

FtStatus TSimulatedBus::Purge(FtHandle handle, std::uint32_t mask)
{
    if (const FtStatus status = Enter(Call::Purge, &handle))
        return status;
    m_purgeMask = mask;
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
    const std::int64_t sending = m_txFreeUs - Now();
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
    while (n < toRead && !m_rx.empty() && m_rx.begin()->first <= now) {
        out[n++] = m_rx.begin()->second;
        m_rx.erase(m_rx.begin());
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
    m_lastRequest.assign(in, in + toWrite);
    *bytesWritten = toWrite;
    const std::int64_t start = std::max(Now(), m_txFreeUs);
    m_txFreeUs = start + WireTimeUs(toWrite);
    HandleRequest(m_lastRequest, m_txFreeUs);
    return FT_OK;
}

FtStatus TSimulatedBus::Close(FtHandle handle)
{
    if (const FtStatus status = Enter(Call::Close, &handle))
        return status;
    m_handle = kNoHandle;
    m_handleLost = false;
    m_rx.clear();
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
    m_injected.emplace_back(address, fault);
}

void TSimulatedBus::ClearFaults()
{
    for (TSensor &s : m_sensors)
        s.Persistent = Fault::None;
    m_injected.clear();
    m_failNext.clear();
}

void TSimulatedBus::Unplug()
{
    m_plugged = false;
    if (IsOpen())
        m_handleLost = true;
    m_rx.clear();
}

void TSimulatedBus::Plug()
{
    m_plugged = true;
}

void TSimulatedBus::FailNextCall(Call call, FtStatus status)
{
    m_failNext[call] = status;
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
    const auto end = m_rx.upper_bound(Now());
    return static_cast<std::uint32_t>(std::distance(m_rx.begin(), end));
}

std::optional<std::int64_t> TSimulatedBus::NextArrivalUs() const
{
    const auto next = m_rx.upper_bound(Now());
    if (next == m_rx.end())
        return std::nullopt;
    return next->first;
}

double TSimulatedBus::Signal(std::uint8_t address, std::int64_t timeUs) const
{
    return m_signal.At(address, static_cast<double>(timeUs - m_originUs) / 1e6);
}

void TSimulatedBus::HandleRequest(const std::vector<std::uint8_t> &frame, std::int64_t requestEndUs)
{
    // An RTU slave keeps quiet about frames it cannot trust or that are not its own.
    if (!CrcMatches(frame)) {
        ++m_corruptRequests;
        return;
    }
    const std::uint8_t address = frame[0];
    ++m_requests[address];
    if (!IsSensor(address))
        return;
    std::vector<std::uint8_t> reply = Answer(frame);
    if (reply.empty())
        return;

    std::int64_t start = requestEndUs + m_turnaroundUs;
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
        reply = ExceptionReply(address, frame[1], m_faultExceptionCode);
        break;
    case Fault::Garbage:
        reply = Garbage();
        break;
    case Fault::Split:
        gapAfter = reply.size() / 2;
        gapUs = m_splitGapUs;
        break;
    case Fault::Late:
        start = requestEndUs + m_lateDelayUs;
        break;
    }
    if (m_replyObserver)
        m_replyObserver(address, fault, reply);
    if (reply.empty())
        return;
    ++m_repliesSent;
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
    if (unit(m_rng) < m_spikeRate)
        return static_cast<std::uint16_t>(std::uniform_int_distribution<int>(1024, 1200)(m_rng));
    return m_signal.Reading(address, static_cast<double>(Now() - m_originUs) / 1e6, m_rng);
}

TSimulatedBus::Fault TSimulatedBus::TakeFault(std::uint8_t address)
{
    for (int wanted : {int{address}, kAnyAddress}) {
        const auto it = std::find_if(m_injected.begin(), m_injected.end(),
                                     [wanted](const auto &f) { return f.first == wanted; });
        if (it != m_injected.end()) {
            const Fault fault = it->second;
            m_injected.erase(it);
            return fault;
        }
    }
    return SensorAt(address).Persistent;
}

std::vector<std::uint8_t> TSimulatedBus::Garbage()
{
    const int length = std::uniform_int_distribution<int>(1, 20)(m_rng);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    for (std::uint8_t &b : bytes)
        b = static_cast<std::uint8_t>(byte(m_rng));
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
        m_rx.emplace(startUs + pause + WireTimeUs(i + 1), bytes[i]);
    }
}

void TSimulatedBus::DropReceived()
{
    m_rx.erase(m_rx.begin(), m_rx.upper_bound(Now()));
}

} // namespace qvr
