// What the fuzz targets share: a broken invariant ends the run (libFuzzer
// keeps the input as a crash), a reader of the input's bytes, the regional
// settings a byte picks, and the checks every measurement log line passes.
#pragma once

#include "measure/derived.h"
#include "measure/model.h"
#include "measure/regional.h"
#include "storage/log_line.h"

#include <QByteArray>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

#define FUZZ_REQUIRE(condition)                                                                    \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #condition, __FILE__,           \
                         __LINE__);                                                                \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace qvr::fuzz {

// The input from front to back; past its end every read gives zeros.
class TInput {
public:
    TInput(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const { return pos_ >= size_; }
    std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // `count` bytes, most significant first.
    std::uint32_t Number(int count)
    {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i)
            value = value << 8 | Byte();
        return value;
    }
    // At most `count` bytes.
    QByteArray Take(std::size_t count)
    {
        const std::size_t n = std::min(count, size_ - std::min(pos_, size_));
        const QByteArray bytes(reinterpret_cast<const char *>(data_ + pos_),
                               static_cast<qsizetype>(n));
        pos_ += n;
        return bytes;
    }
    QByteArray Rest() { return Take(size_); }

private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// The log fields in the low five bits of `bits`: date, time, raw, percent,
// scaled value.
inline TLogFields LogFieldsFrom(std::uint8_t bits)
{
    return {(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0, (bits & 8) != 0, (bits & 16) != 0};
}

// C (decimal point), Polish (decimal comma), Swedish (decimal comma and a
// short date with hyphens).
inline void PickRegionalLocale(std::uint8_t choice)
{
    static const char *const locales[] = {"C", "pl_PL.UTF-8", "sv_SE.UTF-8"};
    SetRegionalSettings(locales[choice % 3]);
}

// A number field of the log: "---" when there is no value, else digits with
// one regional decimal separator, an ASCII sign and maybe an exponent, never
// a group separator, and within rounding of the value.
inline void CheckLogNumber(const QByteArray &text, std::optional<double> value)
{
    if (!value) {
        FUZZ_REQUIRE(text == "---");
        return;
    }
    QByteArray plain = text;
    plain.replace(RegionalDecimalSeparator().toUtf8(), ".");
    bool good = plain.count('.') == 1;
    for (const char c : plain)
        good = good && ((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'E');
    bool parsed = false;
    const double back = plain.toDouble(&parsed);
    good = good && parsed && std::fabs(back - *value) <= 0.005 + std::fabs(*value) * 1e-13;
    if (!good)
        std::fprintf(stderr, "log field \"%s\" for %.17g\n", text.constData(), *value);
    FUZZ_REQUIRE(good);
}

// The line BuildLogLine gave for these arguments.
inline void CheckLogLine(const QByteArray &line, const TLogFields &fields, int sensorCountIndex,
                         const TReadings &readings, const QString &coeffText)
{
    FUZZ_REQUIRE(line.endsWith("\r\n"));
    FUZZ_REQUIRE(line.count('\r') == 1 && line.count('\n') == 1);
    const int sensors = std::clamp(sensorCountIndex + 1, 0, kSensorCount);
    const int count =
        fields.Date + fields.Time + sensors * (fields.Raw + fields.Percent + fields.Scaled);
    FUZZ_REQUIRE(line.count(';') == count);
    if (count == 0) {
        FUZZ_REQUIRE(line == "\r\n");
        return;
    }
    FUZZ_REQUIRE(line.endsWith(";\r\n"));
    const QList<QByteArray> parts = line.chopped(3).split(';');
    FUZZ_REQUIRE(parts.size() == count);

    int k = 0;
    if (fields.Date) {
        const QByteArray &date = parts[k++];
        FUZZ_REQUIRE(!date.isEmpty() && date != "---" && !date.contains('-'));
    }
    if (fields.Time) {
        const QByteArray &time = parts[k++];
        FUZZ_REQUIRE(!time.isEmpty() && time != "---");
    }
    const std::optional<float> coeff = ParseCoeff(coeffText);
    for (int i = 0; i < sensors; ++i) {
        const std::uint32_t entry = readings[static_cast<std::size_t>(i)];
        const bool none = entry == kNoReading;
        if (fields.Raw)
            FUZZ_REQUIRE(parts[k++] == (none ? QByteArray("---") : QByteArray::number(entry)));
        if (fields.Percent)
            CheckLogNumber(parts[k++], none ? std::nullopt : std::optional(Percent(entry)));
        if (fields.Scaled)
            CheckLogNumber(parts[k++], none || !coeff
                                           ? std::nullopt
                                           : std::optional(static_cast<double>(*coeff) * entry));
    }
}

} // namespace qvr::fuzz
