// The soak's reading of the measurement log: it takes the lines the program
// writes, and tells a damaged line from a line carrying other readings.
#include "bench/soak_check.h"
#include "measure/regional.h"
#include "storage/log_line.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using namespace qvr;
using soak::CheckLogLine;
using soak::TLineVerdict;

class SoakLogCheck : public ::testing::Test {
protected:
    void SetUp() override { SetRegionalSettings("sv_SE.UTF-8"); }
    void TearDown() override { SetRegionalSettings("C"); }

    // 0, 68, 136 ... with one sensor without a reading and a spike.
    static TReadings Readings()
    {
        TReadings r;
        for (int i = 0; i < kSensorCount; ++i)
            r[i] = static_cast<std::uint32_t>(68 * i);
        r[3] = kNoReading;
        r[15] = 1200;
        return r;
    }

    // The program's line, without its CR LF.
    static std::string Line(const TReadings &r)
    {
        QByteArray line = BuildLogLine(TLogFields{}, QDateTime(QDate(2011, 5, 12), QTime(4, 3, 27)),
                                       15, r, QStringLiteral("1"));
        line.chop(2);
        return line.toStdString();
    }

    static std::string Edited(std::string line, const std::string &from, const std::string &to)
    {
        const std::size_t at = line.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? line : line.replace(at, from.size(), to);
    }
};

TEST_F(SoakLogCheck, TakesTheProgramsLineOnlyWithTheReadingsItWasWrittenFrom)
{
    const TReadings r = Readings();
    const std::string line = Line(r);
    ASSERT_EQ(line.substr(0, 27), "2011:05:12;04:03:27;0;0,00;");
    EXPECT_EQ(CheckLogLine(line, r, kSensorCount, ','), TLineVerdict::Good);

    const std::pair<int, std::uint32_t> others[] = {
        {0, 1}, {3, 0}, {5, kNoReading}, {15, 1201}, {15, kNoReading}};
    for (const auto &[index, value] : others) {
        TReadings other = r;
        other[index] = value;
        EXPECT_EQ(CheckLogLine(line, other, kSensorCount, ','), TLineVerdict::Misattributed)
            << index << " " << value;
    }
    // A percent or scaled value that does not belong to its raw value.
    EXPECT_EQ(CheckLogLine(Edited(line, ";68;6,65;", ";68;6,66;"), r, kSensorCount, ','),
              TLineVerdict::Misattributed);
    EXPECT_EQ(CheckLogLine(Edited(line, ";68,00;", ";68,01;"), r, kSensorCount, ','),
              TLineVerdict::Misattributed);
}

TEST_F(SoakLogCheck, DamagedLinesAreMalformed)
{
    const TReadings r = Readings();
    const std::string line = Line(r);
    const std::string damaged[] = {
        "",
        line.substr(0, line.size() - 1),            // the last ';' missing
        line + "0;",                                // a field too many
        Line(TReadings{}).substr(0, 20) + "0;0,00", // one sensor, unterminated
        Edited(line, "2011:05:12", "2011-05-12"),
        Edited(line, "2011:05:12", "11:05:12"),
        Edited(line, "04:03:27", "4:03:27"),
        Edited(line, ";---;---;---;", ";---;0,00;---;"),
        Edited(line, ";68;6,65;", ";68;6.65;"),
        Edited(line, ";68;6,65;", ";68;6,6;"),
        Edited(line, ";68;6,65;", ";+68;6,65;"),
        Edited(line, ";68;6,65;", ";6 8;6,65;"),
        Edited(line, ";68;6,65;", ";;6,65;"),
    };
    for (const std::string &bad : damaged)
        EXPECT_EQ(CheckLogLine(bad, r, kSensorCount, ','), TLineVerdict::Malformed) << bad;
    // Fifteen sensors' worth is malformed where sixteen are due.
    EXPECT_EQ(CheckLogLine(line, r, kSensorCount - 1, ','), TLineVerdict::Malformed);
}

} // namespace
