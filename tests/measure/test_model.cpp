// The measurement model on its own: which address each poll asks, the guards,
// the time-out, the reset of the reading table, read replies, the chart's
// bottom axis, and the parameter values and confirmations.
#include "measure/model.h"
#include "measure/parameters.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

using namespace qvr;

// Polls `count` times with every guard passing, each request ending by its
// time-out; returns the addresses asked.
std::vector<int> Cycle(TMeasurementModel &m, int sensorCountIndex, int count)
{
    std::vector<int> asked;
    for (int i = 0; i < count; ++i) {
        const std::optional<std::uint8_t> a = m.PollNextSensor(true, true, sensorCountIndex);
        asked.push_back(a ? *a : -1);
        m.TimedOut();
    }
    return asked;
}

TEST(Model, PollsTheActiveAddressesInTurn)
{
    struct Row {
        int sensorCountIndex;
        std::vector<int> asked;
    };
    const Row rows[] = {
        {0, {50, 50, 50}},
        {2, {50, 51, 52, 50, 51}},
        {15, {50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64, 65, 50}},
        {-1, {50, 50, 50}}, // no selection: address 50 alone
    };
    for (const Row &r : rows) {
        TMeasurementModel m;
        EXPECT_EQ(Cycle(m, r.sensorCountIndex, static_cast<int>(r.asked.size())), r.asked)
            << r.sensorCountIndex;
    }
}

TEST(Model, AFailedGuardChangesNothing)
{
    for (const auto &[linkUp, pollingOn] :
         {std::pair{false, true}, {true, false}, {false, false}}) {
        TMeasurementModel m;
        Cycle(m, 15, 3); // NextAddress 53, PolledIndex 2
        EXPECT_EQ(m.PollNextSensor(linkUp, pollingOn, 15), std::nullopt);
        EXPECT_EQ(m.NextAddress(), 53);
        EXPECT_EQ(m.PolledIndex(), 2);
        EXPECT_FALSE(m.RequestOutstanding());
    }
}

TEST(Model, TimeOutMarksThePolledSensorOnly)
{
    TMeasurementModel m;
    m.ResetReadings(16);
    ASSERT_EQ(m.PollNextSensor(true, true, 15), 50);
    ASSERT_EQ(m.PollNextSensor(true, true, 15), 51);
    EXPECT_TRUE(m.RequestOutstanding());
    m.TimedOut();
    EXPECT_FALSE(m.RequestOutstanding());
    TReadings expected{};
    expected[1] = kNoReading;
    EXPECT_EQ(m.SensorReading(), expected);
}

TEST(Model, LoweredCountAsksTheOldAddressOnceMoreThenWraps)
{
    TMeasurementModel m;
    Cycle(m, 15, 6); // 50..55
    EXPECT_EQ(Cycle(m, 1, 3), (std::vector<int>{56, 50, 51}));
}

TEST(Model, ResetGivesActiveSensorsZeroAndTheOthersNoReading)
{
    for (int n : {0, 1, 3, 5, 16}) {
        TMeasurementModel m;
        Cycle(m, 15, 16); // every entry kNoReading
        m.ResetReadings(n);
        for (int i = 0; i < kSensorCount; ++i)
            EXPECT_EQ(m.SensorReading()[i], i < n ? 0u : kNoReading) << n << " " << i;
    }
}

// A read reply is stored in the entry of its own address; only the polled
// sensor's reply, while its request is outstanding, moves the cycle on.
TEST(Model, ReadRepliesGoToTheirOwnSensor)
{
    struct Row {
        const char *name;
        std::uint8_t address;
        std::vector<std::uint8_t> data;
        bool handled;
        int index;
        bool answers;
    };
    const Row rows[] = {
        {"polled", 51, {0x01, 0x2C}, true, 1, true},
        {"late, from the sensor polled before", 50, {0x01, 0x2C}, true, 0, false},
        {"another active sensor", 60, {0x01, 0x2C}, true, 10, false},
        {"outside the bus", 49, {0x01, 0x2C}, true, -1, false},
        {"outside the bus above", 66, {0x01, 0x2C}, true, -1, false},
        {"too short: no register", 51, {0x01}, false, -1, false},
        {"empty", 51, {}, false, -1, false},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        TMeasurementModel m;
        m.ResetReadings(16);
        Cycle(m, 15, 1);                                 // 50 timed out
        ASSERT_EQ(m.PollNextSensor(true, true, 15), 51); // 51 outstanding
        const TReadings before = m.SensorReading();
        const auto outcome = m.ReadReply(r.address, r.data.data(), r.data.size());
        ASSERT_EQ(outcome.has_value(), r.handled);
        TReadings expected = before;
        if (outcome) {
            EXPECT_EQ(outcome->Index, r.index);
            EXPECT_EQ(outcome->Raw, 0x012Cu);
            EXPECT_EQ(outcome->AnswersRequest, r.answers);
            if (r.index >= 0)
                expected[r.index] = 0x012C;
        }
        EXPECT_EQ(m.SensorReading(), expected);
        EXPECT_EQ(m.RequestOutstanding(), !r.answers);
    }
}

// Rounds of polling with every guard passing. Per active sensor, in address
// order, one character says what its request meets in each round:
//   a  answered
//   e  answered in even rounds (counted from the first), timed out in odd ones
//   -  timed out
//   l  timed out; its reply comes late, while the next request is outstanding
struct TPhase {
    int rounds;
    int sensorCount; // set as the window does: the next requests and a table reset
    const char *behaviour;
};

// The x of every chart point of every series, in the order they came.
using TPoints = std::array<std::vector<std::uint64_t>, kSensorCount>;

TPoints RunPhases(TMeasurementModel &m, const std::vector<TPhase> &phases)
{
    TPoints points;
    const std::uint8_t value[] = {0x01, 0x2C};
    auto reply = [&](int address) {
        const auto outcome = m.ReadReply(static_cast<std::uint8_t>(address), value, 2);
        points[outcome->Index].push_back(outcome->X);
    };
    int round = 0;
    int late = -1; // the address whose reply is on its way
    for (const TPhase &p : phases) {
        m.ResetReadings(p.sensorCount);
        for (int r = 0; r < p.rounds; ++r, ++round) {
            for (int i = 0; i < p.sensorCount; ++i) {
                const auto address = m.PollNextSensor(true, true, p.sensorCount - 1);
                EXPECT_EQ(address, kFirstAddress + i) << "round " << round;
                if (late >= 0)
                    reply(late);
                late = -1;
                switch (p.behaviour[i]) {
                case 'a':
                    reply(*address);
                    break;
                case 'e':
                    if (round % 2 == 0)
                        reply(*address);
                    else
                        m.TimedOut();
                    break;
                case 'l':
                    m.TimedOut();
                    late = *address;
                    break;
                default:
                    m.TimedOut();
                    break;
                }
            }
        }
    }
    return points;
}

// `count` x values from `first` on, `step` apart.
std::vector<std::uint64_t> Steps(std::uint64_t first, int count, std::uint64_t step = 1)
{
    std::vector<std::uint64_t> x;
    for (int i = 0; i < count; ++i)
        x.push_back(first + i * step);
    return x;
}

// Each point lies at the polling round it was read in; the bottom axis shows
// the 30 rounds ending at the newest point of the active series.
TEST(Model, ChartPointsLieAtTheirPollingRound)
{
    struct Row {
        const char *name;
        std::vector<TPhase> phases;
        int watched; // sensor index whose points are compared
        std::vector<std::uint64_t> x;
        int activeCount;
        std::optional<TAxisRange> axis;
    };
    const Row rows[] = {
        {"every other round: inside the window",
         {{60, 2, "ae"}},
         1,
         Steps(0, 30, 2),
         2,
         TAxisRange{29, 59}},
        {"every round", {{60, 2, "ae"}}, 0, Steps(0, 60), 2, TAxisRange{29, 59}},
        {"switched on after 60 rounds",
         {{60, 1, "a"}, {5, 2, "aa"}},
         1,
         Steps(60, 5),
         2,
         TAxisRange{34, 64}},
        {"the count lowered and raised again keeps counting",
         {{20, 2, "a-"}, {10, 1, "a"}, {5, 2, "aa"}},
         1,
         Steps(30, 5),
         2,
         TAxisRange{4, 34}},
        {"a silent sensor: no points", {{40, 3, "a-a"}}, 1, {}, 3, TAxisRange{9, 39}},
        {"late replies lie in the round of their arrival",
         {{3, 2, "la"}},
         0,
         Steps(0, 3),
         2,
         std::nullopt},
        {"a late reply after the wrap: the next round",
         {{3, 2, "al"}},
         1,
         Steps(1, 2),
         2,
         std::nullopt},
        {"one sensor: a round per request", {{31, 1, "a"}}, 0, Steps(0, 31), 1, std::nullopt},
        {"newest x 30: the axis still scales itself",
         {{31, 2, "ae"}},
         1,
         Steps(0, 16, 2),
         2,
         std::nullopt},
        {"newest x 31: the newest 30 rounds",
         {{32, 2, "ae"}},
         1,
         Steps(0, 16, 2),
         2,
         TAxisRange{1, 31}},
        {"the axis follows active series only",
         {{40, 2, "a-"}, {10, 2, "-a"}},
         1,
         Steps(40, 10),
         1,
         TAxisRange{9, 39}},
        {"no active series", {{40, 1, "a"}}, 0, Steps(0, 40), 0, std::nullopt},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        TMeasurementModel m;
        const TPoints points = RunPhases(m, r.phases);
        EXPECT_EQ(points[r.watched], r.x);
        EXPECT_EQ(m.BottomAxis(r.activeCount), r.axis);
    }
}

// The round counts requests to 50: a sensor count change, a reading table
// reset and failed guards leave it; replies before the first request lie in
// round 0.
TEST(Model, TheRoundCountsRequestsToTheFirstAddressOnly)
{
    TMeasurementModel m;
    const std::uint8_t value[] = {0x00, 0x05};
    EXPECT_EQ(m.ReadReply(53, value, 2)->X, 0u);
    EXPECT_EQ(m.ReadingsTaken(), 1u);
    Cycle(m, 2, 7); // 50 51 52 50 51 52 50
    EXPECT_EQ(m.Round(), 2u);
    m.ResetReadings(16);
    EXPECT_EQ(m.PollNextSensor(false, true, 15), std::nullopt);
    EXPECT_EQ(m.Round(), 2u);
    EXPECT_EQ(Cycle(m, 15, 3), (std::vector<int>{51, 52, 53}));
    EXPECT_EQ(m.Round(), 2u);
    EXPECT_EQ(m.ReadReply(60, value, 2)->X, 2u);
    m.ReadReply(49, value, 2); // outside the bus: no reading of a sensor
    m.ReadReply(50, value, 1); // too short
    EXPECT_EQ(m.ReadingsTaken(), 2u);
}

TEST(Parameters, EditTextsAreClampedIntegers)
{
    const std::pair<const char *, std::optional<int>> rows[] = {
        {"512", 512},
        {"5000", 1023},
        {"-1", 0},
        {"-5", 0},
        {"007", 7},
        {"1023", 1023},
        {"0", 0},
        {" 12 ", 12},
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"1,5", std::nullopt},
        {"99999999999", std::nullopt},
    };
    for (const auto &[text, value] : rows)
        EXPECT_EQ(ParameterValue(QString::fromLatin1(text)), value) << text;
}

} // namespace
