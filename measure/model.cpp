#include "measure/model.h"

namespace qvr {

std::uint8_t NextPollAddress(std::uint8_t current, int sensorCountIndex)
{
    const int next = current + 1;
    if (next >= sensorCountIndex + kFirstAddress + 1)
        return kFirstAddress;
    return static_cast<std::uint8_t>(next);
}

std::optional<std::uint8_t> TMeasurementModel::PollNextSensor(bool linkUp, bool pollingOn,
                                                              int sensorCountIndex)
{
    if (!linkUp || !pollingOn)
        return std::nullopt;
    const std::uint8_t address = nextAddress_;
    polledIndex_ = static_cast<std::uint8_t>(address - kFirstAddress);
    outstanding_ = true;
    nextAddress_ = NextPollAddress(address, sensorCountIndex);
    return address;
}

void TMeasurementModel::TimedOut()
{
    sensorReading_[polledIndex_] = NoReading;
    outstanding_ = false;
}

void TMeasurementModel::ResetReadings(int activeCount)
{
    for (int i = 0; i < kSensorCount; ++i)
        sensorReading_[i] = i < activeCount ? 0 : NoReading;
}

} // namespace qvr
