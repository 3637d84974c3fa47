// Values derived from a raw sensor reading, and their texts. Pure: every text
// uses the regional settings of measure/regional.h.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace qvr {

// A reading table entry without a valid reading (a sensor reporting 65535 is
// indistinguishable from it).
constexpr std::uint32_t kNoReading = 0xFFFF;
// Raw counts at full scale: the sensors' 10-bit range.
constexpr std::uint32_t kFullScale = 1023;

// raw x 100 / 1023 in double precision.
double Percent(std::uint32_t raw);
// The coefficient as the operator typed it, rounded to single precision;
// nullopt when the text is not a finite number.
std::optional<float> ParseCoeff(const QString &text);

// "50,05": two decimals.
QString PercentText(std::uint32_t raw);
// raw x coefficient in single precision, general format: "0,300000011920929",
// "511,5", "512"; "---" when the coefficient is not a number.
QString ScaledText(std::uint32_t raw, const QString &coeffText);
// The grid's value cell: "[512] [50,05 %] [512]".
QString GridText(std::uint32_t raw, const QString &coeffText);
// A gauge's progress: the integer part of the percent, 0 for kNoReading.
int GaugeValue(std::uint32_t entry);

} // namespace qvr
