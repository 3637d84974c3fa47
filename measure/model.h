// The measurement model: the reading table and the state of the polling
// cycle. Plain values; the window asks it what to send and tells it what
// happened.
#pragma once

#include "link/modbus.h"
#include "measure/derived.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace qvr {

using TReadings = std::array<std::uint32_t, kSensorCount>;

// Address polled after `current`, given the selected item index of the sensor
// count list (-1 when nothing is selected, which keeps the cycle at 50). The
// comparison is signed: a lowered count still lets one more request go to an
// address that is no longer active before the cycle returns to 50.
std::uint8_t NextPollAddress(std::uint8_t current, int sensorCountIndex);

// What a read reply does.
struct TReadOutcome {
    // The sensor index whose entry, grid row and chart series take the
    // reading; -1 for a reply from an address outside 50..65.
    int Index = -1;
    std::uint32_t Raw = 0;
    // The x position of its chart point: the points its series received before.
    std::uint64_t X = 0;
    // From the polled sensor while its request is outstanding: the time-out
    // stops and the next request goes out. A reply from another address (a
    // late one) is stored and shown, but the bus keeps one request at a time.
    bool AnswersRequest = false;
};

// Bottom axis of the line chart: the 30 x-steps ending at the newest point.
struct TAxisRange {
    double Lower = 0;
    double Upper = 0;
    bool operator==(const TAxisRange &o) const { return Lower == o.Lower && Upper == o.Upper; }
};
constexpr int kChartWindow = 30;

class TMeasurementModel {
public:
    // The next read request, when the link is up and polling is on: the
    // address to ask (PolledIndex names it; NextAddress moves on with the
    // wrap for `sensorCountIndex`). Nothing changes when a guard fails.
    std::optional<std::uint8_t> PollNextSensor(bool linkUp, bool pollingOn, int sensorCountIndex);
    // The reply time-out: the polled sensor has no reading.
    void TimedOut();
    // Entries of the `activeCount` first sensors become 0, the others NoReading.
    void ResetReadings(int activeCount);
    // A read reply from `address` carrying `dataLength` bytes after its byte
    // count. Nothing for a reply too short to hold a register: only bytes the
    // frame carried are read.
    std::optional<TReadOutcome> ReadReply(std::uint8_t address, const std::uint8_t *data,
                                          std::size_t dataLength);
    // The bottom axis for the first `activeCount` series: nothing while their
    // newest x is at most 30 (the axis scales itself), else the 30 steps
    // ending there.
    std::optional<TAxisRange> BottomAxis(int activeCount) const;

    const TReadings &SensorReading() const { return sensorReading_; }
    std::uint8_t NextAddress() const { return nextAddress_; }
    std::uint8_t PolledIndex() const { return polledIndex_; }
    // Whether a read request is waiting for its reply or its time-out.
    bool RequestOutstanding() const { return outstanding_; }

private:
    TReadings sensorReading_{};
    std::uint8_t nextAddress_ = kFirstAddress;
    std::uint8_t polledIndex_ = 0;
    bool outstanding_ = false;
    // Points each chart series has ever received; the next point's x.
    std::array<std::uint64_t, kSensorCount> seriesPoints_{};
};

} // namespace qvr
