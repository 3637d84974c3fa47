// Sensor parameters: the registers the configuration page writes, the value
// an edit sends, and the length of a write echo.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace qvr {

constexpr std::uint16_t kRegisterOnOff = 1;
constexpr std::uint16_t kRegisterOnMin = 2;
constexpr std::uint16_t kRegisterOnMax = 3;
constexpr std::uint16_t kRegisterMode = 10;
// The parameters take the sensor's raw range.
constexpr int kParameterMax = 1023;

// The value an edit sends: its text as a decimal integer, clamped to 0..1023;
// nothing when the text is not an integer (the edit turns to the error colour).
std::optional<int> ParameterValue(const QString &text);

// Bytes of a write echo after its third byte: register low, value high, value low.
constexpr std::size_t kWriteEchoDataLength = 3;

} // namespace qvr
