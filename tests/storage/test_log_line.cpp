// Measurement log lines under a decimal comma, their date and time as the
// system prints them, and the append that reports every failure.
#include "measure/derived.h"
#include "measure/regional.h"
#include "storage/log_line.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

using namespace qvr;

using Readings = std::array<std::uint32_t, kSensorCount>;

const QDateTime kNow(QDate(2011, 5, 12), QTime(14, 3, 27));

Readings Filled(std::uint32_t value)
{
    Readings r;
    r.fill(value);
    return r;
}

class LogLine : public ::testing::Test {
protected:
    void SetUp() override { SetRegionalSettings("pl_PL.UTF-8"); }
    void TearDown() override { SetRegionalSettings("C"); }
};

TEST_F(LogLine, HyphenatedDateTakesColons)
{
    // Year-month-day with hyphens, 24-hour time, decimal comma.
    SetRegionalSettings("sv_SE.UTF-8");
    Readings r = Filled(0);
    r[0] = 512;
    r[1] = kNoReading;
    EXPECT_EQ(BuildLogLine(TLogFields{}, kNow, 1, r, "1"),
              "2011:05:12;14:03:27;512;50,05;512,00;---;---;---;\r\n");
}

TEST_F(LogLine, FieldsPresentAsTicked)
{
    Readings r = Filled(0);
    r[0] = 512;
    r[1] = kNoReading;
    r[2] = 1023;
    struct Row {
        TLogFields fields;
        int sensorCountIndex;
        const char *coeff;
        const char *line;
    };
    const Row rows[] = {
        {{true, false, false, false, false}, 15, "1", "12.05.2011;\r\n"},
        {{false, true, false, false, false}, 15, "1", "14:03:27;\r\n"},
        {{false, false, false, false, false}, 15, "1", "\r\n"},
        {{true, true, true, true, true}, -1, "1", "12.05.2011;14:03:27;\r\n"},
        {{false, false, true, false, false}, 2, "1", "512;---;1023;\r\n"},
        {{false, false, false, true, false}, 2, "1", "50,05;---;100,00;\r\n"},
        {{false, false, false, false, true}, 2, "0,5", "256,00;---;511,50;\r\n"},
        {{false, false, false, false, true}, 2, "0.5", "---;---;---;\r\n"},
        {{false, false, true, false, true}, 0, "x", "512;---;\r\n"},
        {{true, false, true, true, false}, 0, "1", "12.05.2011;512;50,05;\r\n"},
        {{false, false, true, true, true}, 1, "1", "512;50,05;512,00;---;---;---;\r\n"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(BuildLogLine(row.fields, kNow, row.sensorCountIndex, r, row.coeff), row.line)
            << row.line;
}

TEST_F(LogLine, SixteenSensorsInAddressOrder)
{
    Readings r;
    for (int i = 0; i < kSensorCount; ++i)
        r[i] = static_cast<std::uint32_t>(100 * i);
    const QByteArray line = BuildLogLine(TLogFields{}, kNow, 15, r, "2");
    EXPECT_EQ(line.count(';'), 50);
    ASSERT_TRUE(line.endsWith(";\r\n"));
    const QList<QByteArray> fields = line.chopped(3).split(';');
    ASSERT_EQ(fields.size(), 50);
    EXPECT_EQ(fields[2 + 3 * 15], "1500");
    EXPECT_EQ(fields[3 + 3 * 15], "146,63");
    EXPECT_EQ(fields[4 + 3 * 15], "3000,00");
}

TEST_F(LogLine, PerSensorValues)
{
    struct Row {
        std::uint32_t entry;
        const char *coeff;
        const char *fields; // raw;percent;scaled;
    };
    const Row rows[] = {
        {0, "1", "0;0,00;0,00;"},
        {1023, "1", "1023;100,00;1023,00;"},
        {2046, "1", "2046;200,00;2046,00;"},
        {65534, "1", "65534;6406,06;65534,00;"},
        {1000, "0,1", "1000;97,75;100,00;"},
        {512, "0,1", "512;50,05;51,20;"},
        {512, "-1", "512;50,05;-512,00;"},
        {512, "0.1", "512;50,05;---;"},
        {512, "", "512;50,05;---;"},
        {kNoReading, "1", "---;---;---;"},
        {kNoReading, "abc", "---;---;---;"},
        // Up to 15 digits before the separator in fixed point, beyond in
        // scientific notation (1e12 is 999999995904 in single precision).
        {999, "1e12", "999;97,65;998999995908096,00;"},
        {1001, "1e12", "1001;97,85;1,00099999589990E+15;"},
        {1001, "-1e12", "1001;97,85;-1,00099999589990E+15;"},
    };
    for (const Row &row : rows) {
        Readings r = Filled(kNoReading);
        r[0] = row.entry;
        EXPECT_EQ(BuildLogLine({false, false, true, true, true}, kNow, 0, r, row.coeff),
                  QByteArray(row.fields) + "\r\n")
            << row.entry << " x " << row.coeff;
    }
}

TEST_F(LogLine, ExponentIsWrittenAsEInEveryLocale)
{
    // Qt's own exponent for these is "×10^" (Swedish, Lithuanian) or a
    // Cyrillic "Е" (Ukrainian).
    for (const char *locale : {"pl_PL.UTF-8", "sv_SE.UTF-8", "lt_LT.UTF-8", "uk_UA.UTF-8"}) {
        SetRegionalSettings(locale);
        Readings r = Filled(kNoReading);
        r[0] = 1001;
        EXPECT_EQ(BuildLogLine({false, false, false, false, true}, kNow, 0, r, "-1E12"),
                  "-1,00099999589990E+15;\r\n")
            << locale;
    }
}

TEST_F(LogLine, PolishDateHasLeadingZeros)
{
    Readings r = Filled(kNoReading);
    r[0] = 512;
    EXPECT_EQ(
        BuildLogLine(TLogFields{}, QDateTime(QDate(2026, 12, 9), QTime(14, 3, 27)), 0, r, "1"),
        "09.12.2026;14:03:27;512;50,05;512,00;\r\n");
    EXPECT_EQ(
        BuildLogLine(TLogFields{}, QDateTime(QDate(2026, 1, 2), QTime(4, 5, 6)), 0, r, "-0,5"),
        "02.01.2026;04:05:06;512;50,05;-256,00;\r\n");
}

// What the system's own `date` prints for %x and %X under the locale.
QString SystemDateTime(const char *locale, const QDateTime &at)
{
    QProcess date;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QString::fromLatin1(locale));
    date.setProcessEnvironment(env);
    date.start(QStringLiteral("date"),
               {QStringLiteral("-u"), QStringLiteral("-d"),
                at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), QStringLiteral("+%x;%X;")});
    if (!date.waitForFinished() || date.exitCode() != 0)
        return QStringLiteral("<date failed>");
    return QString::fromUtf8(date.readAllStandardOutput()).trimmed();
}

TEST_F(LogLine, DateAndTimeAsTheSystemPrintsThem)
{
    const QDateTime moments[] = {QDateTime(QDate(2026, 12, 9), QTime(14, 3, 27)),
                                 QDateTime(QDate(2009, 3, 1), QTime(0, 0, 5))};
    for (const char *locale : {"pl_PL.UTF-8", "sv_SE.UTF-8", "lt_LT.UTF-8", "uk_UA.UTF-8", "C"}) {
        SetRegionalSettings(locale);
        for (const QDateTime &at : moments) {
            const QString line = QString::fromUtf8(
                BuildLogLine({true, true, false, false, false}, at, -1, Filled(0), "1"));
            EXPECT_EQ(line, SystemDateTime(locale, at).replace(QLatin1Char('-'), QLatin1Char(':')) +
                                QStringLiteral("\r\n"))
                << locale;
        }
    }
}

class LogFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    QByteArray Read(const QString &path) const
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }

    QTemporaryDir dir_;
};

TEST_F(LogFile, AppendsAfterExistingContent)
{
    const QString path = dir_.filePath("pomiar.csv");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("earlier;\r\n");
    f.close();

    EXPECT_TRUE(AppendToLog(path, "1;\r\n"));
    EXPECT_TRUE(AppendToLog(path, "2;\r\n"));
    EXPECT_EQ(Read(path), "earlier;\r\n1;\r\n2;\r\n");

    const QString fresh = dir_.filePath("nowy.csv");
    EXPECT_TRUE(AppendToLog(fresh, "\r\n"));
    EXPECT_EQ(Read(fresh), "\r\n");
}

// Runs `call` on a thread of its own. A call still blocked after two seconds
// (in open() on a FIFO without a reader) is freed by opening the FIFO's other
// end, and counts as blocked.
bool Blocks(const std::function<bool()> &call, const QString &fifo, bool *result)
{
    std::future<bool> done = std::async(std::launch::async, call);
    if (done.wait_for(std::chrono::seconds(2)) == std::future_status::ready) {
        *result = done.get();
        return false;
    }
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    *result = done.get();
    if (reader >= 0)
        ::close(reader);
    return true;
}

TEST_F(LogFile, EveryFailureIsReportedAndNothingBlocks)
{
    const QString fifo = dir_.filePath("fifo.csv");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const struct {
        const char *name;
        QString path;
    } rows[] = {
        {"a device", QStringLiteral("/dev/full")},
        {"a device that takes everything", QStringLiteral("/dev/null")},
        {"a missing folder", dir_.filePath("missing/pomiar.csv")},
        {"a folder", dir_.path()},
        {"a FIFO without a reader", fifo},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        bool appended = true;
        EXPECT_FALSE(
            Blocks([&] { return AppendToLog(row.path, "12.05.2011;\r\n"); }, fifo, &appended));
        EXPECT_FALSE(appended);
        bool created = true;
        EXPECT_FALSE(Blocks([&] { return CreateIfMissing(row.path); }, fifo, &created));
        EXPECT_FALSE(created);
    }
    EXPECT_FALSE(QFileInfo::exists(dir_.filePath("missing")));
}

TEST_F(LogFile, CreateIfMissingNeverTruncates)
{
    const QString path = dir_.filePath("wybrany.csv");
    EXPECT_TRUE(CreateIfMissing(path));
    EXPECT_TRUE(QFileInfo(path).isFile());
    EXPECT_EQ(Read(path), "");

    ASSERT_TRUE(AppendToLog(path, "1;\r\n"));
    EXPECT_TRUE(CreateIfMissing(path));
    EXPECT_EQ(Read(path), "1;\r\n");

    EXPECT_FALSE(CreateIfMissing(dir_.filePath("missing/wybrany.csv")));
}

} // namespace
