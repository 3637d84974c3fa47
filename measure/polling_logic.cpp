#include "polling_logic.h"

namespace qvr {

std::uint8_t NextPollAddress(std::uint8_t current, int sensorCountIndex)
{
    const int next = current + 1;
    if (next >= sensorCountIndex + kFirstAddress + 1)
        return kFirstAddress;
    return static_cast<std::uint8_t>(next);
}

} // namespace qvr
