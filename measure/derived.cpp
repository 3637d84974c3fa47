#include "measure/derived.h"

#include "measure/regional.h"

#include <cmath>
#include <limits>

namespace qvr {

double Percent(std::uint32_t raw)
{
    return raw * 100.0 / kFullScale;
}

std::optional<float> ParseCoeff(const QString &text)
{
    const std::optional<double> value = ParseRegionalReal(text);
    if (!value || std::fabs(*value) > std::numeric_limits<float>::max())
        return std::nullopt;
    return static_cast<float>(*value);
}

QString PercentText(std::uint32_t raw)
{
    return FormatFixed2(Percent(raw));
}

QString ScaledText(std::uint32_t raw, const QString &coeffText)
{
    const std::optional<float> coeff = ParseCoeff(coeffText);
    if (!coeff)
        return QStringLiteral("---");
    const float product = static_cast<float>(raw) * *coeff;
    if (!std::isfinite(product))
        return QStringLiteral("---");
    return FormatGeneral(static_cast<double>(product));
}

QString GridText(std::uint32_t raw, const QString &coeffText)
{
    return QStringLiteral("[%1] [%2 %] [%3]")
        .arg(QString::number(raw), PercentText(raw), ScaledText(raw, coeffText));
}

int GaugeValue(std::uint32_t entry)
{
    if (entry == kNoReading)
        return 0;
    return static_cast<int>(Percent(entry));
}

} // namespace qvr
