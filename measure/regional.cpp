#include "measure/regional.h"

#include <cmath>

namespace qvr {

namespace {

QLocale WithoutGroups(QLocale locale)
{
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator |
                            QLocale::RejectGroupSeparator);
    return locale;
}

QLocale &Current()
{
    static QLocale locale = WithoutGroups(QLocale::system());
    return locale;
}

QString WithPlainExponent(QString text)
{
    const QString exponent = Current().exponential();
    if (exponent.compare(QLatin1String("e"), Qt::CaseInsensitive) != 0)
        text.replace(exponent, QStringLiteral("E"));
    return text;
}

} // namespace

const QLocale &RegionalLocale()
{
    return Current();
}

void SetRegionalLocale(const QLocale &locale)
{
    Current() = WithoutGroups(locale);
}

std::optional<double> ParseRegionalReal(const QString &text)
{
    bool ok = false;
    const double value = Current().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QString FormatGeneral(double value)
{
    return WithPlainExponent(Current().toString(value, 'g', 15));
}

QString FormatScientific(double value, int decimals)
{
    return WithPlainExponent(Current().toString(value, 'E', decimals));
}

QString FormatFixed2(double value)
{
    return Current().toString(value, 'f', 2);
}

QString RegionalShortDate(const QDate &date)
{
    return Current().toString(date, QLocale::ShortFormat);
}

QString RegionalLongTime(const QTime &time)
{
    // Qt's long time format ends with the time zone ("HH:mm:ss t"); the
    // regional long time of the operator's settings has none.
    QString format = Current().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return Current().toString(time, format.trimmed());
}

} // namespace qvr
