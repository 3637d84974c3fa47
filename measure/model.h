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
    // The x position of its chart point: the polling round current when the
    // reply arrived (see TMeasurementModel::Round).
    std::uint64_t X = 0;
    // From the polled sensor while its request is outstanding: the time-out
    // stops and the next request goes out. A reply from another address (a
    // late one) is stored and shown, but the bus keeps one request at a time.
    bool AnswersRequest = false;
};

// Bottom axis of the line chart: the 30 rounds ending at the newest point.
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
    // Entries of the `activeCount` first sensors become 0, the others kNoReading.
    void ResetReadings(int activeCount);
    // A read reply from `address` carrying `dataLength` bytes after its byte
    // count. Nothing for a reply too short to hold a register: only bytes the
    // frame carried are read. A sensor's reply is a chart point in the current
    // round, whether it answers the outstanding request or comes late.
    std::optional<TReadOutcome> ReadReply(std::uint8_t address, const std::uint8_t *data,
                                          std::size_t dataLength);
    // The bottom axis for the first `activeCount` series: nothing while their
    // newest point's x is at most 30 (the axis scales itself), else the 30
    // rounds ending there.
    std::optional<TAxisRange> BottomAxis(int activeCount) const;

    const TReadings &SensorReading() const { return sensorReading_; }
    std::uint8_t NextAddress() const { return nextAddress_; }
    std::uint8_t PolledIndex() const { return polledIndex_; }
    // Whether a read request is waiting for its reply or its time-out.
    bool RequestOutstanding() const { return outstanding_; }
    // The polling round, the x of every point read now. Round 0 begins with
    // the first request to address 50 (and holds the replies before it);
    // every later request to 50 begins the next round, so one sensor alone
    // has a round per request. One count for all series; a sensor count
    // change or a stop of polling leaves it, as the cycle resumes where it
    // stopped. A reply that answers no request (a late one, or one from a
    // sensor asked in an earlier round) lies in the round current on its
    // arrival: the bus does not say which request it answers. A sensor that
    // times out has no point in that round.
    std::uint64_t Round() const { return round_; }
    // Read replies from sensor addresses so far: the readings taken.
    std::uint64_t ReadingsTaken() const { return readingsTaken_; }

private:
    TReadings sensorReading_{};
    std::uint8_t nextAddress_ = kFirstAddress;
    std::uint8_t polledIndex_ = 0;
    bool outstanding_ = false;
    std::uint64_t round_ = 0;
    // Whether round 0 has begun: the next request to 50 begins round 1.
    bool roundBegun_ = false;
    std::uint64_t readingsTaken_ = 0;
    // Per series: its newest point's x + 1; 0 before its first point.
    std::array<std::uint64_t, kSensorCount> seriesEnd_{};
};

} // namespace qvr
