// Regional settings: the decimal separator, the short date and the long time
// the operator's system uses. Every number, date and time the program shows,
// reads or logs goes through here, so that one call sets them for a test.
#pragma once

#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>
#include <optional>

namespace qvr {

// The locale in force: the system's (taken from the environment, LANG=pl_PL.UTF-8
// gives a decimal comma even where glibc has no such locale generated), never
// writing group separators ("65535", not "65 535").
const QLocale &RegionalLocale();
// Replaces it (tests); group separators are switched off here too.
void SetRegionalLocale(const QLocale &locale);

// A real number in the regional format; nullopt for empty or non-numeric text
// and for infinities and NaN.
std::optional<double> ParseRegionalReal(const QString &text);
// Where a locale's exponent is neither "e" nor "E" ("×10^" in Swedish or
// Lithuanian, which neither Qt nor a spreadsheet reads back), these two write "E".
// General format with at most 15 significant digits: "0,5", "512", "0,300000011920929".
QString FormatGeneral(double value);
// Scientific notation with `decimals` digits after the separator: "1,00099999589990E+15".
QString FormatScientific(double value, int decimals);
// Fixed point with exactly two decimals: "50,05", "-1,20".
QString FormatFixed2(double value);
// The regional short date and long time. The long time carries no time zone.
QString RegionalShortDate(const QDate &date);
QString RegionalLongTime(const QTime &time);

} // namespace qvr
