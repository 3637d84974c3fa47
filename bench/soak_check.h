// The soak's reading of the measurement log: one line checked against the
// readings the window's model held when the line was written.
#pragma once

#include "measure/model.h"

#include <string_view>

namespace qvr::soak {

enum class TLineVerdict {
    Good,
    Malformed,     // not the shape of a log line
    Misattributed, // well formed, but a value is not the one the model held
};

// `line` without its CR LF, written with every field ticked and the
// coefficient 1: date (year:month:day), time (hh:mm:ss), then for each of the
// `sensors` first sensors its raw value, its percent of 1023 and its value
// times 1, each field followed by ";". Percent and scaled value carry two
// decimals after `decimal`; a sensor without a reading has "---" in all three.
TLineVerdict CheckLogLine(std::string_view line, const TReadings &readings, int sensors,
                          char decimal);

} // namespace qvr::soak
