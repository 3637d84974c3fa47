// The measurement model on its own: which address each poll asks, the guards,
// the time-out and the reset of the reading table.
#include "measure/model.h"

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

} // namespace
