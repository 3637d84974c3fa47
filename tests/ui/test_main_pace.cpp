// The polling pace on the simulated bus in simulated time. A reply is handled
// on the third 20 ms receive tick after its request (bytes on the first, two
// silent ticks end the frame), so sixteen answering sensors give one reading
// per 60 ms; a silent one costs its 200 ms time-out instead.
#include "sim/simbus.h"
#include "ui/Main.h"
#include "ui/window_settings.h"

#include <QTimer>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <qcustomplot.h>

namespace {

using qvr::TSimulatedBus;

constexpr std::int64_t kTickUs = 20'000;
constexpr std::int64_t kTimeoutUs = 200'000;
constexpr std::int64_t kSecondUs = 1'000'000;
constexpr std::int64_t kReadingUs = 3 * kTickUs;

class Pace : public ::testing::Test {
protected:
    Pace()
    {
        window_ = std::make_unique<TFMain>(bus_, qvr::test::SettingsFile());
        window_->FormCreate();
    }

    TFMain &w() { return *window_; }

    // Sixteen sensors, connected, polling on; the first request goes out at time 0.
    void Start()
    {
        w().Form().SensorCnt->setCurrentIndex(15);
        w().SensorCntChange();
        w().ConnectButtonClick();
        ASSERT_TRUE(w().Link()->IsOpen());
        w().Form().UpdateData->setChecked(true);
        ASSERT_EQ(bus_.RequestsReceived(50), 1u);
        TrackTimeout();
    }

    // The time-out in simulated time. The window starts TimeoutTimer from
    // stopped with each poll request here (after a handled reply or a
    // time-out, both of which stop it first), possibly within one handler
    // call where isActive() never shows it stopped; so a request written while
    // the timer runs marks a fresh start. A timer left running keeps its start.
    void TrackTimeout()
    {
        const std::uint64_t writes = bus_.CallCount(TSimulatedBus::Call::Write);
        if (!w().TimeoutTimer()->isActive())
            timeoutStartUs_ = -1;
        else if (timeoutStartUs_ < 0 || writes != writesSeen_)
            timeoutStartUs_ = nowUs_;
        writesSeen_ = writes;
    }

    // One 20 ms receive tick, then the time-out if it is due.
    void Tick()
    {
        nowUs_ += kTickUs;
        w().UsbTimerTimer();
        TrackTimeout();
        if (timeoutStartUs_ >= 0 && nowUs_ - timeoutStartUs_ >= kTimeoutUs) {
            w().TimeoutTimerTimer();
            TrackTimeout();
        }
    }

    long Readings()
    {
        long n = 0;
        for (int i = 0; i < qvr::kSensorCount; ++i)
            n += w().Series(i)->data()->size();
        return n;
    }

    std::int64_t nowUs_ = 0;
    std::int64_t timeoutStartUs_ = -1;
    std::uint64_t writesSeen_ = 0;
    TSimulatedBus bus_{[this] { return nowUs_; }};
    std::unique_ptr<TFMain> window_;
};

TEST_F(Pace, SixteenAnsweringSensorsGiveAReadingEveryThreeTicks)
{
    Start();
    constexpr std::int64_t kRunUs = 60 * kSecondUs;
    while (nowUs_ < kRunUs)
        Tick();

    const double designed = double(kRunUs) / kReadingUs;
    const double ratio = Readings() / designed;
    RecordProperty("pace_ratio", std::to_string(ratio));
    std::printf("readings %ld in 60 s, %.2f/s; ratio to 1 per 60 ms: %.4f\n", Readings(),
                Readings() / 60.0, ratio);
    EXPECT_GE(ratio, 0.98);
    EXPECT_LE(ratio, 1.0);
    EXPECT_EQ(bus_.RepliesSent(), std::uint64_t(Readings()) + 1); // the last one in flight
}

TEST_F(Pace, ASilentSensorCostsItsTimeOutOnceARound)
{
    bus_.SetSensorFault(57, TSimulatedBus::Fault::Silence);
    Start();
    std::vector<std::int64_t> roundStarts{0};
    while (nowUs_ < 12 * kSecondUs) {
        Tick();
        if (bus_.RequestsReceived(50) > roundStarts.size())
            roundStarts.push_back(nowUs_);
    }

    constexpr std::int64_t kRoundUs = 15 * kReadingUs + kTimeoutUs;
    ASSERT_GE(roundStarts.size(), 10u);
    for (std::size_t r = 1; r < roundStarts.size(); ++r) {
        SCOPED_TRACE(r);
        EXPECT_NEAR(roundStarts[r] - roundStarts[r - 1], kRoundUs, kTickUs);
    }
    const double mean =
        double(roundStarts.back() - roundStarts.front()) / double(roundStarts.size() - 1) / 1000.0;
    RecordProperty("round_ms", std::to_string(mean));
    std::printf("rounds %zu, mean %.1f ms (designed %lld ms)\n", roundStarts.size() - 1, mean,
                static_cast<long long>(kRoundUs / 1000));
    EXPECT_EQ(w().Series(7)->data()->size(), 0);
}

} // namespace
