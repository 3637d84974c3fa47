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
    expected[1] = NoReading;
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
        Cycle(m, 15, 16); // every entry NoReading
        m.ResetReadings(n);
        for (int i = 0; i < kSensorCount; ++i)
            EXPECT_EQ(m.SensorReading()[i], i < n ? 0u : NoReading) << n << " " << i;
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

TEST(Model, EachSeriesCountsItsOwnPointsAndTheAxisFollowsTheNewest)
{
    TMeasurementModel m;
    const std::uint8_t value[] = {0x00, 0x05};
    auto reply = [&](std::uint8_t address) { return m.ReadReply(address, value, 2)->X; };
    EXPECT_EQ(reply(50), 0u);
    EXPECT_EQ(reply(51), 0u);
    EXPECT_EQ(reply(50), 1u);
    EXPECT_EQ(m.BottomAxis(2), std::nullopt); // the axis scales itself at first

    for (int i = 0; i < 40; ++i)
        reply(51); // x 1..40
    EXPECT_EQ(m.BottomAxis(2), (TAxisRange{10, 40}));
    // Sensor 50 lags behind: the window stays on the newest points of all.
    EXPECT_EQ(m.BottomAxis(1), std::nullopt);
    reply(50);
    EXPECT_EQ(m.BottomAxis(2), (TAxisRange{10, 40}));
    EXPECT_EQ(m.BottomAxis(0), std::nullopt);
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

TEST(Parameters, EchoedRegistersHaveTheirConfirmations)
{
    EXPECT_EQ(WriteConfirmation(1), QStringLiteral("Parametr [OC_ON_OFF] został zapisany"));
    EXPECT_EQ(WriteConfirmation(2), QStringLiteral("Parametr [OC_ON_MIN] został zapisany"));
    EXPECT_EQ(WriteConfirmation(3), QStringLiteral("Parametr [OC_ON_MAX] został zapisany"));
    EXPECT_EQ(WriteConfirmation(10), QStringLiteral("Parametr [OC_MODE] został zapisany"));
    for (int reg : {0, 4, 9, 11, 255})
        EXPECT_EQ(WriteConfirmation(static_cast<std::uint8_t>(reg)), std::nullopt) << reg;
}

} // namespace
