// Sensor addressing and the wrap of the polling cycle. No widgets.
#pragma once

#include <cstdint>

namespace qvr {

constexpr int kSensorCount = 16;
constexpr std::uint8_t kFirstAddress = 50;
// A reading table entry without a valid reading.
constexpr std::uint32_t NoReading = 0xFFFF;

// Address polled after `current`, given the selected item index of the sensor
// count list (-1 when nothing is selected, which keeps the cycle at 50). The
// comparison is signed: a lowered count still lets one more request go to an
// address that is no longer active before the cycle returns to 50.
std::uint8_t NextPollAddress(std::uint8_t current, int sensorCountIndex);

} // namespace qvr
