#include "bench/soak_check.h"

#include <array>
#include <cmath>
#include <initializer_list>
#include <optional>

namespace qvr::soak {

namespace {

constexpr std::string_view kMissing = "---";

bool AllDigits(std::string_view text)
{
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return !text.empty();
}

std::uint32_t DigitsValue(std::string_view text)
{
    std::uint32_t value = 0;
    for (const char c : text)
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    return value;
}

// Groups of digits of the given widths joined by ':'.
bool ColonGroups(std::string_view field, std::initializer_list<std::size_t> widths)
{
    std::size_t at = 0;
    bool first = true;
    for (const std::size_t width : widths) {
        if (!first && (at >= field.size() || field[at++] != ':'))
            return false;
        first = false;
        if (field.size() < at + width || !AllDigits(field.substr(at, width)))
            return false;
        at += width;
    }
    return at == field.size();
}

// Digits, `decimal`, two digits: no sign, no group separator.
std::optional<double> TwoDecimals(std::string_view field, char decimal)
{
    if (field.size() < 4 || field[field.size() - 3] != decimal)
        return std::nullopt;
    const std::string_view whole = field.substr(0, field.size() - 3);
    const std::string_view cents = field.substr(field.size() - 2);
    if (!AllDigits(whole) || !AllDigits(cents) || whole.size() > 9)
        return std::nullopt;
    return DigitsValue(whole) + DigitsValue(cents) / 100.0;
}

} // namespace

TLineVerdict CheckLogLine(std::string_view line, const TReadings &readings, int sensors,
                          char decimal)
{
    // Every field ends with ';', the last one too.
    constexpr std::size_t kMaxFields = 2 + 3 * kSensorCount;
    std::array<std::string_view, kMaxFields> fields;
    std::size_t count = 0;
    std::size_t start = 0;
    while (start < line.size()) {
        const std::size_t end = line.find(';', start);
        if (end == std::string_view::npos || count == kMaxFields)
            return TLineVerdict::Malformed;
        fields[count++] = line.substr(start, end - start);
        start = end + 1;
    }
    if (sensors < 0 || sensors > kSensorCount || count != 2 + 3 * std::size_t(sensors))
        return TLineVerdict::Malformed;
    if (!ColonGroups(fields[0], {4, 2, 2}) || !ColonGroups(fields[1], {2, 2, 2}))
        return TLineVerdict::Malformed;

    bool attributed = true;
    for (int i = 0; i < sensors; ++i) {
        const std::string_view raw = fields[2 + 3 * i];
        const std::string_view percent = fields[3 + 3 * i];
        const std::string_view scaled = fields[4 + 3 * i];
        if (raw == kMissing) {
            if (percent != kMissing || scaled != kMissing)
                return TLineVerdict::Malformed;
            attributed = attributed && readings[i] == kNoReading;
            continue;
        }
        const std::optional<double> percentValue = TwoDecimals(percent, decimal);
        const std::optional<double> scaledValue = TwoDecimals(scaled, decimal);
        if (!AllDigits(raw) || raw.size() > 5 || !percentValue || !scaledValue)
            return TLineVerdict::Malformed;
        const std::uint32_t value = DigitsValue(raw);
        // Half a cent of rounding, and a little for the binary fractions.
        const double percentWanted = value * 100.0 / kFullScale;
        attributed = attributed && value == readings[i] &&
                     std::fabs(*percentValue - percentWanted) <= 0.005 + 1e-9 &&
                     *scaledValue == value;
    }
    return attributed ? TLineVerdict::Good : TLineVerdict::Misattributed;
}

} // namespace qvr::soak
