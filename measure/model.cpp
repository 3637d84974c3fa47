#include "measure/model.h"

#include <algorithm>

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
    if (address == kFirstAddress) {
        if (roundBegun_)
            ++round_;
        roundBegun_ = true;
    }
    outstanding_ = true;
    nextAddress_ = NextPollAddress(address, sensorCountIndex);
    return address;
}

void TMeasurementModel::TimedOut()
{
    sensorReading_[polledIndex_] = kNoReading;
    outstanding_ = false;
}

void TMeasurementModel::ResetReadings(int activeCount)
{
    for (int i = 0; i < kSensorCount; ++i)
        sensorReading_[i] = i < activeCount ? 0 : kNoReading;
}

std::optional<TReadOutcome>
TMeasurementModel::ReadReply(std::uint8_t address, const std::uint8_t *data, std::size_t dataLength)
{
    if (dataLength < 2)
        return std::nullopt;
    TReadOutcome outcome;
    outcome.Raw = static_cast<std::uint32_t>(data[0] << 8 | data[1]);
    if (!IsSensorAddress(address))
        return outcome;
    outcome.Index = address - kFirstAddress;
    outcome.X = round_;
    seriesEnd_[outcome.Index] = round_ + 1;
    ++readingsTaken_;
    sensorReading_[outcome.Index] = outcome.Raw;
    outcome.AnswersRequest = outstanding_ && outcome.Index == polledIndex_;
    if (outcome.AnswersRequest)
        outstanding_ = false;
    return outcome;
}

std::optional<TAxisRange> TMeasurementModel::BottomAxis(int activeCount) const
{
    // Rounds only grow, so each series' last point is its newest.
    std::uint64_t end = 0;
    for (int i = 0; i < activeCount && i < kSensorCount; ++i)
        end = std::max(end, seriesEnd_[i]);
    if (end == 0 || end - 1 <= static_cast<std::uint64_t>(kChartWindow))
        return std::nullopt;
    const double newest = static_cast<double>(end - 1);
    return TAxisRange{newest - kChartWindow, newest};
}

} // namespace qvr
