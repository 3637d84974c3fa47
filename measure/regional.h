// Regional settings: the decimal separator, the short date and the long time
// the operator's system uses, read from the C library's locale data (what
// `date +%x`, `date +%X` and `locale decimal_point` print). Every number, date
// and time the program shows, reads or logs goes through here, so that one
// call sets them for a test. The process-wide C locale is never changed.
#pragma once

#include <QDate>
#include <QString>
#include <QTime>
#include <optional>

namespace qvr {

// Takes the settings from the locale named `localeName` ("pl_PL.UTF-8"): the
// decimal separator from its LC_NUMERIC, the date and time from its LC_TIME.
// An empty name reads the environment (LC_ALL, then LC_NUMERIC / LC_TIME, then
// LANG), which is what the program starts with. A category whose locale is
// not installed on the system falls back to "C".
void SetRegionalSettings(const char *localeName);

// The decimal separator in force: "," or "." (never empty).
const QString &RegionalDecimalSeparator();

// Numbers are written with the ASCII digits 0-9, an ASCII "-" and "E" for the
// exponent whatever the locale, never with a group separator; only the
// decimal separator is regional.

// A real number in the regional format; nullopt for empty or non-numeric text
// and for infinities and NaN. The decimal separator must be the regional one:
// "0.5" is rejected where it is ",". Surrounding white space is ignored.
std::optional<double> ParseRegionalReal(const QString &text);
// General format with at most 15 significant digits: "0,5", "512",
// "0,300000011920929", "1E-05".
QString FormatGeneral(double value);
// Scientific notation with `decimals` digits after the separator: "1,00099999589990E+15".
QString FormatScientific(double value, int decimals);
// Fixed point with exactly two decimals: "50,05", "-1,20".
QString FormatFixed2(double value);
// The regional short date (strftime's %x: "09.12.2026") and long time (%X:
// "14:03:27"), with ASCII digits. The long time carries no time zone.
QString RegionalShortDate(const QDate &date);
QString RegionalLongTime(const QTime &time);

} // namespace qvr
