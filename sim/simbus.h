// The simulated sensor bus: one adapter with sixteen Modbus RTU sensors
// (addresses 50..65) behind it, answering after the real wire time, with
// faults on demand. Runs on an injectable clock so that tests and soak runs
// advance time by hand; deterministic for a given seed and call sequence.
// Not thread-safe: everything runs on one thread.
#pragma once

#include "link/d2xx.h"
#include "link/modbus.h"
#include "sim/sensor_signal.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace qvr {

class TSimulatedBus : public ID2xx {
public:
    // Microseconds on any monotonic scale.
    using Clock = std::function<std::int64_t()>;

    // What the addressed sensor does with its reply instead of answering normally.
    // Only the reply changes: a write is stored all the same.
    enum class Fault {
        None,
        Silence,   // no reply
        BadCrc,    // the normal reply with its CRC corrupted
        Exception, // an exception reply (function | 0x80, ExceptionFaultCode())
        Garbage,   // 1..20 random bytes that never form a valid frame
        Split,     // the normal reply with a pause of SplitGapUs() after its first half
        Late,      // the normal reply, LateDelayUs() after the request instead of the turnaround
    };

    // The library calls, for one-shot failures and call counters.
    enum class Call {
        ListDevices,
        CreateDeviceInfoList,
        GetDeviceInfoDetail,
        OpenEx,
        SetBaudRate,
        SetDataCharacteristics,
        SetFlowControl,
        Purge,
        GetStatus,
        Read,
        Write,
        Close,
    };
    static constexpr std::size_t kCallKinds = 12;

    // The adapter's description until SetDescription; the programs name it
    // in the operator's words.
    static constexpr const char *kDescription = "QVR-1 simulated sensor bus";
    static constexpr const char *kSerialNumber = "QVRSIM01";
    // Any address: for InjectFault.
    static constexpr int kAnyAddress = -1;

    // The sensors' line: 57600 baud, start + 8 data + stop bits per byte.
    static constexpr std::uint32_t kBusBaud = 57600;
    static constexpr std::uint32_t kBitsPerByte = 10;
    static constexpr std::int64_t kDefaultTurnaroundUs = 3000;
    // The program ends a frame on its second empty 20 ms receive tick, so only a
    // pause over 60 ms splits a reply into two frames whatever the tick phase;
    // a shorter one (20..40 ms) shows as one frame spread over ticks.
    static constexpr std::int64_t kDefaultSplitGapUs = 80000;
    static constexpr std::int64_t kDefaultLateDelayUs = 250000;
    static constexpr double kDefaultSpikeRate = 0.002;
    static constexpr std::uint8_t kDefaultFaultExceptionCode = 0x04;

    // Time on the wire of `bytes` bytes, rounded down to whole microseconds.
    static constexpr std::int64_t WireTimeUs(std::size_t bytes)
    {
        return static_cast<std::int64_t>(bytes) * kBitsPerByte * 1000000 / kBusBaud;
    }

    static Clock SteadyClock();

    explicit TSimulatedBus(Clock clock = SteadyClock(), std::uint32_t seed = 1);

    // ID2xx. A handle is valid from a successful OpenEx until Close; every call
    // with any other handle fails with FT_INVALID_HANDLE and changes nothing.
    FtStatus ListDevices(std::vector<std::string> &descriptions, std::uint32_t *count,
                         std::uint32_t maxCount) override;
    FtStatus CreateDeviceInfoList(std::uint32_t *count) override;
    FtStatus GetDeviceInfoDetail(std::uint32_t index, DeviceDetails &details,
                                 FtHandle *handle) override;
    FtStatus OpenEx(const std::string &description, std::uint32_t flags, FtHandle *handle) override;
    FtStatus SetBaudRate(FtHandle handle, std::uint32_t baud) override;
    FtStatus SetDataCharacteristics(FtHandle handle, std::uint8_t wordLength, std::uint8_t stopBits,
                                    std::uint8_t parity) override;
    FtStatus SetFlowControl(FtHandle handle, std::uint16_t flow, std::uint8_t xon,
                            std::uint8_t xoff) override;
    // RX drops the bytes already received; bytes still on the wire arrive later.
    FtStatus Purge(FtHandle handle, std::uint32_t mask) override;
    // rxQueue: bytes received by now. txQueue: request bytes still being sent.
    FtStatus GetStatus(FtHandle handle, std::uint32_t *rxQueue, std::uint32_t *txQueue,
                       std::uint32_t *eventStatus) override;
    // Returns up to `toRead` received bytes; never waits.
    FtStatus Read(FtHandle handle, void *buffer, std::uint32_t toRead,
                  std::uint32_t *bytesRead) override;
    // One call is one request frame. It goes on the wire at once (after an
    // earlier request still being sent); the sensor answers after it ends.
    FtStatus Write(FtHandle handle, const void *buffer, std::uint32_t toWrite,
                   std::uint32_t *bytesWritten) override;
    // Drops everything received or still on the way.
    FtStatus Close(FtHandle handle) override;

    // Faults. A persistent fault stays on the sensor until set to None; an
    // injected one applies to the next request that sensor (or, with
    // kAnyAddress, any sensor) would answer, and takes precedence.
    void SetSensorFault(std::uint8_t address, Fault fault);
    Fault SensorFault(std::uint8_t address) const;
    void InjectFault(Fault fault, int address = kAnyAddress);
    void ClearFaults();

    // Unplug: the adapter disappears from the listing, cannot be opened, and
    // every call on the handle open at that moment fails with FT_IO_ERROR
    // (Close excepted, which releases it). Plug makes it listable and
    // openable again; the old handle stays dead, as after a real unplug.
    void Unplug();
    void Plug();
    bool IsPlugged() const { return plugged_; }

    // The next call of this kind (with a valid handle, where it takes one)
    // fails once with `status` and changes nothing.
    void FailNextCall(Call call, FtStatus status = FT_IO_ERROR);

    // Called for every request a sensor takes (good CRC, its address, a frame
    // it answers), once the reply is decided: the fault it met and the bytes
    // that go on the wire (none for silence). For soak runs that check what
    // the program shows against what the sensors sent.
    using ReplyObserver = std::function<void(std::uint8_t address, Fault fault,
                                             const std::vector<std::uint8_t> &reply)>;
    void SetReplyObserver(ReplyObserver observer) { replyObserver_ = std::move(observer); }

    // The description the adapter lists and opens by.
    void SetDescription(std::string description) { description_ = std::move(description); }

    // Tuning.
    void SetTurnaroundUs(std::int64_t us) { turnaroundUs_ = us; }
    void SetSplitGapUs(std::int64_t us) { splitGapUs_ = us; }
    void SetLateDelayUs(std::int64_t us) { lateDelayUs_ = us; }
    // Chance per read reply that the reading is a spike above 1023.
    void SetSpikeRate(double rate) { spikeRate_ = rate; }
    void SetFaultExceptionCode(std::uint8_t code) { faultExceptionCode_ = code; }
    std::int64_t TurnaroundUs() const { return turnaroundUs_; }
    std::int64_t SplitGapUs() const { return splitGapUs_; }
    std::int64_t LateDelayUs() const { return lateDelayUs_; }

    // Inspection.
    bool IsOpen() const { return handle_ != kNoHandle; }
    std::uint32_t BaudRate() const { return baud_; }
    std::uint8_t WordLength() const { return wordLength_; }
    std::uint8_t StopBits() const { return stopBits_; }
    std::uint8_t Parity() const { return parity_; }
    std::uint16_t FlowControl() const { return flow_; }
    std::uint32_t LastPurgeMask() const { return purgeMask_; }
    // Frames with a good CRC received for this address byte (sensor or not).
    std::uint64_t RequestsReceived(std::uint8_t address) const { return requests_[address]; }
    // Frames dropped for a bad CRC or a length under 4.
    std::uint64_t CorruptRequests() const { return corruptRequests_; }
    std::uint64_t RepliesSent() const { return repliesSent_; }
    std::uint64_t CallCount(Call call) const { return calls_[static_cast<std::size_t>(call)]; }
    // Bytes of the last Write that was accepted.
    const std::vector<std::uint8_t> &LastRequest() const { return lastRequest_; }
    // Register 0 is the live reading (none for it here); registers 1, 2, 3 and 10
    // hold what was written. Nothing for other registers or addresses.
    std::optional<std::uint16_t> StoredRegister(std::uint8_t address, std::uint16_t reg) const;
    // Received bytes readable now.
    std::uint32_t VisibleBytes() const;
    // The sensor's signal at a clock time, without noise or spikes (0..1023).
    double Signal(std::uint8_t address, std::int64_t timeUs) const;

private:
    struct TSensor {
        std::uint16_t OnOff = 0;
        std::uint16_t OnMin = 0;
        std::uint16_t OnMax = 1023;
        std::uint16_t Mode = 0;
        Fault Persistent = Fault::None;
    };

    static bool IsSensor(std::uint8_t address) { return IsSensorAddress(address); }
    TSensor &SensorAt(std::uint8_t address) { return sensors_[address - kFirstAddress]; }
    const TSensor &SensorAt(std::uint8_t address) const
    {
        return sensors_[address - kFirstAddress];
    }

    // Counts the call; then, for calls that take one, checks the handle (and
    // whether it died with an unplug); then fires an armed one-shot failure.
    // FT_OK lets the call run.
    FtStatus Enter(Call call, const FtHandle *handle);
    std::int64_t Now() const { return clock_(); }

    void HandleRequest(const std::vector<std::uint8_t> &frame, std::int64_t requestEndUs);
    // The normal answer to a request with a good CRC to a sensor; empty for none.
    std::vector<std::uint8_t> Answer(const std::vector<std::uint8_t> &frame);
    std::optional<std::uint16_t> ReadRegister(std::uint8_t address, std::uint16_t reg);
    bool WriteRegister(std::uint8_t address, std::uint16_t reg, std::uint16_t value);
    std::uint16_t Reading(std::uint8_t address);
    Fault TakeFault(std::uint8_t address);
    std::vector<std::uint8_t> Garbage();
    // Queues bytes that start arriving at `startUs`, one every byte time; a
    // pause of `gapUs` follows the first `gapAfter` bytes.
    void Schedule(const std::vector<std::uint8_t> &bytes, std::int64_t startUs,
                  std::size_t gapAfter = 0, std::int64_t gapUs = 0);
    void DropReceived();

    Clock clock_;
    std::int64_t originUs_;
    std::mt19937 rng_;
    TSensorSignal signal_; // drawn from rng_ first
    std::array<TSensor, kSensorCount> sensors_;

    std::string description_ = kDescription;
    bool plugged_ = true;
    FtHandle handle_ = kNoHandle;
    bool handleLost_ = false;
    FtHandle nextHandle_ = 0x5100;

    std::uint32_t baud_ = 9600;
    std::uint8_t wordLength_ = FT_BITS_8;
    std::uint8_t stopBits_ = FT_STOP_BITS_1;
    std::uint8_t parity_ = FT_PARITY_NONE;
    std::uint16_t flow_ = FT_FLOW_NONE;
    std::uint32_t purgeMask_ = 0;

    // Bytes on the way or received, by arrival time. Replies that overlap in
    // time interleave, as colliding replies garble each other on a real bus.
    std::multimap<std::int64_t, std::uint8_t> rx_;
    std::int64_t txFreeUs_ = 0;

    std::int64_t turnaroundUs_ = kDefaultTurnaroundUs;
    std::int64_t splitGapUs_ = kDefaultSplitGapUs;
    std::int64_t lateDelayUs_ = kDefaultLateDelayUs;
    double spikeRate_ = kDefaultSpikeRate;
    std::uint8_t faultExceptionCode_ = kDefaultFaultExceptionCode;

    std::vector<std::pair<int, Fault>> injected_;
    std::map<Call, FtStatus> failNext_;
    ReplyObserver replyObserver_;

    std::array<std::uint64_t, 256> requests_{};
    std::array<std::uint64_t, kCallKinds> calls_{};
    std::uint64_t corruptRequests_ = 0;
    std::uint64_t repliesSent_ = 0;
    std::vector<std::uint8_t> lastRequest_;
};

} // namespace qvr
