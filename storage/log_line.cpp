#include "storage/log_line.h"

#include "measure/derived.h"
#include "measure/regional.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <optional>

#ifdef Q_OS_UNIX
#include "storage/regular_file.h"

#include <fcntl.h>
#include <unistd.h>
#endif

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
        const bool none = entry == kNoReading;
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

namespace {

// Opens the log for appending, creating it when missing, without ever
// blocking: a FIFO without a reader, a device or a folder in its place is
// refused, as is anything else that is not a regular file.
bool OpenLog(QFile &file, const QString &path)
{
    constexpr QIODevice::OpenMode kMode =
        QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered;
#ifdef Q_OS_UNIX
    const int fd = OpenRegularFile(path, O_WRONLY | O_APPEND | O_CREAT);
    if (fd < 0)
        return false;
    if (file.open(fd, kMode, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
    return false;
#else
    file.setFileName(path);
    return file.open(kMode);
#endif
}

} // namespace

bool AppendToLog(const QString &path, const QByteArray &line)
{
    QFile file;
    if (!OpenLog(file, path))
        return false;
    const bool written = file.write(line) == line.size();
    // close() reports a delayed write error on the file.
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

bool IsStorableLogPath(const QString &path)
{
    if (path.isEmpty())
        return false;
    return std::none_of(path.begin(), path.end(),
                        [](QChar c) { return c.category() == QChar::Other_Control; });
}

bool CreateIfMissing(const QString &path)
{
    // Append, not truncate: a file made in the meantime is kept as it is.
    QFile file;
    if (!OpenLog(file, path))
        return false;
    file.close();
    return file.error() == QFileDevice::NoError;
}

} // namespace qvr
