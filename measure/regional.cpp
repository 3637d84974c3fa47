#include "measure/regional.h"

#include <QLocale>
#include <cmath>
#include <ctime>
#include <langinfo.h>
#include <locale.h>
#include <wchar.h>

namespace qvr {

namespace {

// One category of the named locale, or of "C" when that one is not installed
// (newlocale fails then). Never sets the process-wide locale.
locale_t CategoryLocale(int mask, const char *name)
{
    locale_t locale = newlocale(mask, name, nullptr);
    return locale != nullptr ? locale : newlocale(mask, "C", nullptr);
}

struct TRegional {
    QString Separator = QStringLiteral(".");
    locale_t Time = nullptr; // LC_TIME of the settings, "C" for the rest

    void Set(const char *name)
    {
        if (const locale_t numeric = CategoryLocale(LC_NUMERIC_MASK, name)) {
            const QString radix = QString::fromUtf8(nl_langinfo_l(RADIXCHAR, numeric));
            Separator = radix.isEmpty() ? QStringLiteral(".") : radix;
            freelocale(numeric);
        }
        const locale_t time = CategoryLocale(LC_TIME_MASK, name);
        if (Time != nullptr)
            freelocale(Time);
        Time = time;
    }
};

TRegional &Current()
{
    static TRegional regional = [] {
        TRegional r;
        r.Set("");
        return r;
    }();
    return regional;
}

// Text of the C locale's conversion ("." and ASCII digits) with the regional
// separator.
QString WithSeparator(QString text)
{
    const QString &separator = Current().Separator;
    if (separator != QLatin1String("."))
        text.replace(QLatin1Char('.'), separator);
    return text;
}

// strftime with the regional LC_TIME, its digits mapped to ASCII: a locale's
// alternative digits (Persian, Arabic-Indic) are not for a log or a grid.
QString Strftime(const wchar_t *format, std::tm tm)
{
    // No zone is known for a bare date or time: "%Z" gives nothing then.
    tm.tm_isdst = -1;
    tm.tm_gmtoff = 0;
    tm.tm_zone = "";
    const locale_t locale = Current().Time;
    wchar_t buffer[256];
    const std::size_t length =
        locale != nullptr ? wcsftime_l(buffer, std::size(buffer), format, &tm, locale) : 0;
    QString text = QString::fromWCharArray(buffer, static_cast<qsizetype>(length));
    for (QChar &c : text) {
        if (c.unicode() >= 0x80 && c.isDigit())
            c = QLatin1Char(static_cast<char>('0' + c.digitValue()));
    }
    return text.trimmed();
}

std::tm TmOf(const QDate &date)
{
    std::tm tm{};
    tm.tm_year = date.year() - 1900;
    tm.tm_mon = date.month() - 1;
    tm.tm_mday = date.day();
    tm.tm_wday = date.dayOfWeek() % 7;
    tm.tm_yday = date.dayOfYear() - 1;
    return tm;
}

} // namespace

void SetRegionalSettings(const char *localeName)
{
    Current().Set(localeName != nullptr ? localeName : "");
}

const QString &RegionalDecimalSeparator()
{
    return Current().Separator;
}

std::optional<double> ParseRegionalReal(const QString &text)
{
    static const QLocale kCLocale = [] {
        QLocale locale = QLocale::c();
        locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
        return locale;
    }();
    const QString &separator = Current().Separator;
    QString plain = text.trimmed();
    if (separator != QLatin1String(".")) {
        if (plain.contains(QLatin1Char('.')))
            return std::nullopt;
        plain.replace(separator, QStringLiteral("."));
    }
    bool ok = false;
    const double value = kCLocale.toDouble(plain, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QString FormatGeneral(double value)
{
    // + 0.0 turns -0 into 0.
    return WithSeparator(
        QString::number(value + 0.0, 'g', 15).replace(QLatin1Char('e'), QLatin1Char('E')));
}

QString FormatScientific(double value, int decimals)
{
    return WithSeparator(QString::number(value + 0.0, 'E', decimals));
}

QString FormatFixed2(double value)
{
    return WithSeparator(QString::number(value + 0.0, 'f', 2));
}

QString RegionalShortDate(const QDate &date)
{
    return date.isValid() ? Strftime(L"%x", TmOf(date)) : QString();
}

QString RegionalLongTime(const QTime &time)
{
    if (!time.isValid())
        return QString();
    std::tm tm = TmOf(QDate(1970, 1, 1));
    tm.tm_hour = time.hour();
    tm.tm_min = time.minute();
    tm.tm_sec = time.second();
    return Strftime(L"%X", tm);
}

} // namespace qvr
