// Sensor addressing and the wrap of the polling cycle. No widgets.
#pragma once

#include "link/modbus.h"
#include "measure/derived.h"

#include <cstdint>

namespace qvr {


// Address polled after `current`, given the selected item index of the sensor
// count list (-1 when nothing is selected, which keeps the cycle at 50). The
// comparison is signed: a lowered count still lets one more request go to an
// address that is no longer active before the cycle returns to 50.
std::uint8_t NextPollAddress(std::uint8_t current, int sensorCountIndex);

} // namespace qvr
