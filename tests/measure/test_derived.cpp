// Derived values of a reading and their texts, under a decimal-comma locale
// and under the C locale.
#include "measure/derived.h"
#include "measure/regional.h"

#include <gtest/gtest.h>

namespace {

using namespace qvr;

class Derived : public ::testing::Test {
protected:
    void SetUp() override { SetRegionalLocale(QLocale(QLocale::Polish, QLocale::Poland)); }
    void TearDown() override { SetRegionalLocale(QLocale::c()); }
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
        {0, 0}, {512, 50}, {1022, 99}, {1023, 100}, {2046, 200}, {65534, 6406}, {NoReading, 0}};
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
    SetRegionalLocale(QLocale(QLocale::Swedish, QLocale::Sweden));
    for (const double value : {1e-5, 2.5e40, -1e300}) {
        const QString text = FormatGeneral(value);
        EXPECT_TRUE(text.contains(u'E')) << text.toStdString();
        EXPECT_EQ(ParseRegionalReal(text), value) << text.toStdString();
    }
    EXPECT_EQ(FormatScientific(1e15, 2), QStringLiteral("1,00E+15"));

    SetRegionalLocale(QLocale::c());
    EXPECT_EQ(FormatFixed2(50.048875), QStringLiteral("50.05"));
    EXPECT_EQ(ParseRegionalReal(QStringLiteral("0,5")), std::nullopt);
    EXPECT_EQ(ScaledText(3, QStringLiteral("0.1")), QStringLiteral("0.300000011920929"));
}

} // namespace
