// The measurement model: the reading table and the state of the polling
// cycle. Plain values; the window asks it what to send and tells it what
// happened.
#pragma once

#include "link/modbus.h"
#include "measure/derived.h"

#include <array>
#include <cstdint>
#include <optional>

namespace qvr {

using TReadings = std::array<std::uint32_t, kSensorCount>;

// Address polled after `current`, given the selected item index of the sensor
// count list (-1 when nothing is selected, which keeps the cycle at 50). The
// comparison is signed: a lowered count still lets one more request go to an
// address that is no longer active before the cycle returns to 50.
std::uint8_t NextPollAddress(std::uint8_t current, int sensorCountIndex);

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
};

} // namespace qvr
