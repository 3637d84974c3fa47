// Derived values of a reading and their texts, under a decimal-comma locale
// and under the C locale; the regional settings taken from the C library's
// locale data.
#include "measure/derived.h"
#include "measure/regional.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <ostream>

void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

using namespace qvr;

class Derived : public ::testing::Test {
protected:
    void SetUp() override { SetRegionalSettings("pl_PL.UTF-8"); }
    void TearDown() override { SetRegionalSettings("C"); }
};

TEST_F(Derived, GridTextsUnderDecimalComma)
{
    struct Row {
        std::uint32_t raw;
        const char *coeff;
        const char *grid;
    };
    const Row rows[] = {
        {0, "1", "[0] [0,00 %] [0]"},
        {512, "1", "[512] [50,05 %] [512]"},
        {1022, "1", "[1022] [99,90 %] [1022]"},
        {1023, "1", "[1023] [100,00 %] [1023]"},
        {1023, "0,5", "[1023] [100,00 %] [511,5]"},
        {3, "0,1", "[3] [0,29 %] [0,300000011920929]"},
        {65535, "1", "[65535] [6406,16 %] [65535]"},
        {512, "", "[512] [50,05 %] [---]"},
        {512, "abc", "[512] [50,05 %] [---]"},
        {512, "0.5", "[512] [50,05 %] [---]"}, // a point where the comma is the separator
        {512, " 2 ", "[512] [50,05 %] [1024]"},
        {512, "-1", "[512] [50,05 %] [-512]"},
        {512, "1e39", "[512] [50,05 %] [---]"},       // beyond single precision
        {65535, "1e34", "[65535] [6406,16 %] [---]"}, // product beyond single precision
        {512, "nan", "[512] [50,05 %] [---]"},
    };
    for (const Row &r : rows)
        EXPECT_EQ(GridText(r.raw, QString::fromUtf8(r.coeff)), QString::fromUtf8(r.grid))
            << r.raw << " x " << r.coeff;
}

TEST_F(Derived, GaugeValueTruncatesAndNoReadingIsZero)
{
    const std::pair<std::uint32_t, int> rows[] = {
        {0, 0}, {512, 50}, {1022, 99}, {1023, 100}, {2046, 200}, {65534, 6406}, {kNoReading, 0}};
    for (const auto &[entry, gauge] : rows)
        EXPECT_EQ(GaugeValue(entry), gauge) << entry;
}

TEST_F(Derived, RegionalFormatsWithoutGroupsOrZone)
{
    EXPECT_EQ(FormatFixed2(6406.0603), QStringLiteral("6406,06"));
    EXPECT_EQ(FormatFixed2(123456.0), QStringLiteral("123456,00"));
    EXPECT_EQ(FormatGeneral(0.100000001490116), QStringLiteral("0,100000001490116"));
    EXPECT_EQ(ParseRegionalReal(QStringLiteral("0,5")), 0.5);
    EXPECT_EQ(ParseRegionalReal(QStringLiteral("65 535")), std::nullopt);
    EXPECT_EQ(RegionalLongTime(QTime(14, 3, 27)), QStringLiteral("14:03:27"));

    // Swedish writes its exponent "×10^", which it cannot read back.
    SetRegionalSettings("sv_SE.UTF-8");
    for (const double value : {1e-5, 2.5e40, -1e300}) {
        const QString text = FormatGeneral(value);
        EXPECT_TRUE(text.contains(u'E')) << text.toStdString();
        EXPECT_EQ(ParseRegionalReal(text), value) << text.toStdString();
    }
    EXPECT_EQ(FormatScientific(1e15, 2), QStringLiteral("1,00E+15"));

    SetRegionalSettings("C");
    EXPECT_EQ(FormatFixed2(50.048875), QStringLiteral("50.05"));
    EXPECT_EQ(ParseRegionalReal(QStringLiteral("0,5")), std::nullopt);
    EXPECT_EQ(ScaledText(3, QStringLiteral("0.1")), QStringLiteral("0.300000011920929"));
}

bool AsciiDigitsOnly(const QString &text)
{
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return !c.isDigit() || c.unicode() < 0x80; });
}

struct TLocaleRow {
    const char *name;
    const char *separator;
    const char *fixed;    // FormatFixed2(-1234.5)
    const char *date;     // 2026-12-09, nullptr: a month name, digits checked only
    const char *longTime; // 14:03:27
};

void PrintTo(const TLocaleRow &row, std::ostream *os)
{
    *os << row.name;
}

class RegionalLocales : public ::testing::TestWithParam<TLocaleRow> {
protected:
    void SetUp() override { SetRegionalSettings(GetParam().name); }
    void TearDown() override { SetRegionalSettings("C"); }
};

TEST_P(RegionalLocales, SeparatorDateAndTimeFromTheCLibraryDigitsAscii)
{
    const TLocaleRow &row = GetParam();
    const QString separator = QString::fromUtf8(row.separator);
    EXPECT_EQ(RegionalDecimalSeparator(), separator);

    // ASCII minus and digits, no group separator, "E" as the exponent.
    EXPECT_EQ(FormatFixed2(-1234.5), QString::fromUtf8(row.fixed));
    EXPECT_EQ(FormatGeneral(-2.5e-5), "-2" + separator + "5E-05");
    EXPECT_EQ(FormatScientific(65535, 2), "6" + separator + "55E+04");
    for (const double value : {0.1, -65535.25, 1e-300, 0.300000011920929})
        EXPECT_EQ(ParseRegionalReal(FormatGeneral(value)), value)
            << FormatGeneral(value).toStdString();

    const QString date = RegionalShortDate(QDate(2026, 12, 9));
    const QString time = RegionalLongTime(QTime(14, 3, 27));
    EXPECT_TRUE(AsciiDigitsOnly(date)) << date.toStdString();
    EXPECT_TRUE(AsciiDigitsOnly(time)) << time.toStdString();
    if (row.date != nullptr)
        EXPECT_EQ(date, QString::fromUtf8(row.date));
    else
        EXPECT_TRUE(date.startsWith(QStringLiteral("09")) && date.endsWith(QStringLiteral("2026")))
            << date.toStdString();
    EXPECT_EQ(time, QString::fromUtf8(row.longTime));
}

// The texts `LC_ALL=<name> date -d "2026-12-09 14:03:27" +%x` and +%X print
// (ar_EG: a 12-hour time whose time zone is left out; fa_IR: Persian digits
// in the C library's data).
INSTANTIATE_TEST_SUITE_P(
    Glibc, RegionalLocales,
    ::testing::Values(TLocaleRow{"pl_PL.UTF-8", ",", "-1234,50", "09.12.2026", "14:03:27"},
                      TLocaleRow{"sv_SE.UTF-8", ",", "-1234,50", "2026-12-09", "14:03:27"},
                      TLocaleRow{"uk_UA.UTF-8", ",", "-1234,50", "09.12.26", "14:03:27"},
                      TLocaleRow{"ar_EG.UTF-8", ".", "-1234.50", nullptr, "02:03:27 \u0645"},
                      TLocaleRow{"fa_IR.UTF-8", ".", "-1234.50", "26/12/09", "14:03:27"},
                      TLocaleRow{"C", ".", "-1234.50", "12/09/26", "14:03:27"},
                      // Not installed: "C".
                      TLocaleRow{"xx_YY.UTF-8", ".", "-1234.50", "12/09/26", "14:03:27"}));

// An empty name reads the environment per category: a locale that is not
// installed makes its own category "C" and leaves the other one alone.
TEST(RegionalEnvironment, EachCategoryFallsBackAlone)
{
    struct Row {
        const char *numeric;
        const char *time;
        const char *separator;
        const char *date;
    };
    const Row rows[] = {
        {"pl_PL.UTF-8", "xx_YY.UTF-8", ",", "12/09/26"},
        {"xx_YY.UTF-8", "pl_PL.UTF-8", ".", "09.12.2026"},
        {"sv_SE.UTF-8", "pl_PL.UTF-8", ",", "09.12.2026"},
    };
    const QByteArray saved[] = {qgetenv("LC_ALL"), qgetenv("LC_NUMERIC"), qgetenv("LC_TIME")};
    const bool had[] = {qEnvironmentVariableIsSet("LC_ALL"),
                        qEnvironmentVariableIsSet("LC_NUMERIC"),
                        qEnvironmentVariableIsSet("LC_TIME")};
    qunsetenv("LC_ALL");
    for (const Row &row : rows) {
        qputenv("LC_NUMERIC", row.numeric);
        qputenv("LC_TIME", row.time);
        SetRegionalSettings("");
        EXPECT_EQ(RegionalDecimalSeparator(), QString::fromUtf8(row.separator)) << row.numeric;
        EXPECT_EQ(RegionalShortDate(QDate(2026, 12, 9)), QString::fromUtf8(row.date)) << row.time;
    }
    const char *const names[] = {"LC_ALL", "LC_NUMERIC", "LC_TIME"};
    for (int i = 0; i < 3; ++i) {
        if (had[i])
            qputenv(names[i], saved[i]);
        else
            qunsetenv(names[i]);
    }
    SetRegionalSettings("C");
}

} // namespace
