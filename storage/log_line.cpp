#include "storage/log_line.h"

#include "measure/derived.h"
#include "measure/regional.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <optional>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
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

namespace {

// Opens the log for appending, creating it when missing, without ever
// blocking: a FIFO without a reader, a device or a folder in its place is
// refused, as is anything else that is not a regular file.
class TLogFile {
public:
    explicit TLogFile(const QString &path)
    {
#ifdef Q_OS_UNIX
        const QByteArray name = QFile::encodeName(path);
        fd_ = ::open(name.constData(),
                     O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
        struct stat st = {};
        if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)))
            Close();
#else
        file_.setFileName(path);
        if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
            return;
        opened_ = true;
#endif
    }
    ~TLogFile()
    {
        Close();
    }
    TLogFile(const TLogFile &) = delete;
    TLogFile &operator=(const TLogFile &) = delete;

    bool IsOpen() const
    {
#ifdef Q_OS_UNIX
        return fd_ >= 0;
#else
        return opened_;
#endif
    }

    // The whole of `data`, in as few writes as the system allows.
    bool Write(const QByteArray &data)
    {
#ifdef Q_OS_UNIX
        qsizetype done = 0;
        while (done < data.size()) {
            const ssize_t n =
                ::write(fd_, data.constData() + done, static_cast<size_t>(data.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
#else
        return file_.write(data) == data.size();
#endif
    }

    // False when the system reports a failure on closing (a delayed write error).
    bool Close()
    {
#ifdef Q_OS_UNIX
        if (fd_ < 0)
            return false;
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0;
#else
        if (!opened_)
            return false;
        opened_ = false;
        file_.close();
        return file_.error() == QFileDevice::NoError;
#endif
    }

private:
#ifdef Q_OS_UNIX
    int fd_ = -1;
#else
    QFile file_;
    bool opened_ = false;
#endif
};

} // namespace

bool AppendToLog(const QString &path, const QByteArray &line)
{
    TLogFile file(path);
    if (!file.IsOpen())
        return false;
    const bool written = file.Write(line);
    return file.Close() && written;
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
    TLogFile file(path);
    return file.IsOpen() && file.Close();
}

} // namespace qvr
