#include "sim/sensor_signal.h"

#include <algorithm>
#include <cmath>

namespace qvr {

namespace {
constexpr double kPi = 3.14159265358979323846;
} // namespace

TSensorSignal::TSensorSignal(std::mt19937 &rng)
{
    std::uniform_real_distribution<double> phase(0.0, 2 * kPi);
    std::uniform_real_distribution<double> period(20.0, 120.0);
    std::uniform_real_distribution<double> amplitude(420.0, 505.0);
    for (TWave &w : waves_) {
        w.Phase = phase(rng);
        w.PeriodS = period(rng);
        w.Amplitude = amplitude(rng);
    }
}

double TSensorSignal::At(int address, double seconds) const
{
    if (!IsSensorAddress(address))
        return 0;
    const TWave &w = waves_[static_cast<std::size_t>(address - kFirstAddress)];
    return 511.5 + w.Amplitude * std::sin(2 * kPi * seconds / w.PeriodS + w.Phase);
}

std::uint16_t TSensorSignal::Reading(int address, double seconds, std::mt19937 &rng) const
{
    const int noise = std::uniform_int_distribution<int>(-2, 2)(rng);
    const long value = std::lround(At(address, seconds)) + noise;
    return static_cast<std::uint16_t>(std::clamp(value, 0L, 1023L));
}

} // namespace qvr
