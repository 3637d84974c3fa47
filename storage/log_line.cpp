#include "storage/log_line.h"

#include "measure/derived.h"
#include "measure/regional.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <optional>

namespace qvr {

namespace {

// Two decimals; a value with more than 15 digits before the separator goes
// to scientific notation with 15 significant digits instead. The sign is the
// ASCII "-" whatever the locale's minus sign.
QString LogNumber(double value)
{
    const double magnitude = std::fabs(value);
    QString text = FormatFixed2(magnitude);
    const qsizetype point = text.indexOf(RegionalDecimalSeparator());
    if ((point < 0 ? text.size() : point) > 15)
        text = FormatScientific(magnitude, 14);
    return value < 0 ? QLatin1Char('-') + text : text;
}

} // namespace

QByteArray BuildLogLine(const TLogFields &fields, const QDateTime &now, int sensorCountIndex,
                        const std::array<std::uint32_t, kSensorCount> &readings,
                        const QString &coeffText)
{
    const QString missing = QStringLiteral("---");
    QString line;
    if (fields.Date)
        line += RegionalShortDate(now.date()).replace(QLatin1Char('-'), QLatin1Char(':')) + ';';
    if (fields.Time)
        line += RegionalLongTime(now.time()) + ';';

    const int sensors = std::clamp(sensorCountIndex + 1, 0, kSensorCount);
    for (int i = 0; i < sensors; ++i) {
        const std::uint32_t entry = readings[static_cast<std::size_t>(i)];
        const bool none = entry == NoReading;
        if (fields.Raw)
            line += (none ? missing : QString::number(entry)) + ';';
        if (fields.Percent)
            line += (none ? missing : LogNumber(Percent(entry))) + ';';
        if (fields.Scaled) {
            // Parsed for every field: the edit may change between two lines.
            const std::optional<float> coeff = ParseCoeff(coeffText);
            if (!coeff || none)
                line += missing + ';';
            else
                line += LogNumber(static_cast<double>(*coeff) * entry) + ';';
        }
    }
    line += QStringLiteral("\r\n");
    return line.toUtf8();
}

bool AppendToLog(const QString &path, const QByteArray &line)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    const bool written = file.write(line) == line.size();
    // close() flushes; a failure there leaves an error on the file.
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

bool CreateIfMissing(const QString &path)
{
    if (QFile::exists(path))
        return true;
    QFile file(path);
    // Append, not truncate: a file made in the meantime is kept as it is.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    file.close();
    return file.error() == QFileDevice::NoError;
}

} // namespace qvr
