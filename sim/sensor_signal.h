// The sensors' moving signal: each of the sixteen sensors (addresses 50..65)
// a slow sine of its own, 20..120 s a period, nearly the full range 0..1023.
// The simulated bus and the Modbus peer on a pseudo-terminal both read it.
#pragma once

#include "link/modbus.h"

#include <array>
#include <cstdint>
#include <random>

namespace qvr {

class TSensorSignal {
public:
    // Draws the waves from `rng`: phase, period and amplitude, sensor after
    // sensor (the same seed, the same waves).
    explicit TSensorSignal(std::mt19937 &rng);

    // The signal `seconds` after the start, without noise; 0 for an address
    // that is no sensor.
    double At(int address, double seconds) const;

    // A reading: the signal rounded, plus noise of -2..2 drawn from `rng`,
    // kept within 0..1023.
    std::uint16_t Reading(int address, double seconds, std::mt19937 &rng) const;

private:
    struct TWave {
        double Phase = 0;
        double PeriodS = 60;
        double Amplitude = 500;
    };
    std::array<TWave, kSensorCount> waves_;
};

} // namespace qvr
