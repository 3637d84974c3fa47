// The polling cycle as the window runs it: the requests written, the guards
// read from the controls, the reply time-out and its timer. Every request
// here ends by its time-out, which the tests fire by calling the handler.
#include "link/fake_library.h"
#include "sim/simbus.h"
#include "ui/Main.h"
#include "ui/window_settings.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <thread>

namespace {

using qvr::kNoReading;
using qvr::test::FakeLibrary;
using Bytes = std::vector<std::uint8_t>;

// Slave addresses of the frames written, each checked to be a read of register 0.
std::vector<int> RequestAddresses(const FakeLibrary &library)
{
    std::vector<int> addresses;
    for (const Bytes &f : library.Written) {
        EXPECT_EQ(f.size(), 8u);
        if (f.size() == 8u) {
            EXPECT_EQ(Bytes(f.begin() + 1, f.begin() + 6), (Bytes{0x03, 0x00, 0x00, 0x00, 0x01}));
        }
        addresses.push_back(f.empty() ? -1 : f[0]);
    }
    return addresses;
}

std::vector<int> Range(int first, int last)
{
    std::vector<int> r;
    for (int a = first; a <= last; ++a)
        r.push_back(a);
    return r;
}

class Polling : public ::testing::Test {
protected:
    Polling()
    {
        library.Adapters = {"Adapter A"};
        window = std::make_unique<TFMain>(library, qvr::test::SettingsFile());
        window->FormCreate();
    }

    TFMain &w() { return *window; }

    void Connect()
    {
        w().ConnectButtonClick();
        ASSERT_TRUE(w().Link()->IsOpen());
    }

    // Connected with `sensorCountIndex` selected, then polling switched on.
    void Start(int sensorCountIndex)
    {
        w().Form().SensorCnt->setCurrentIndex(sensorCountIndex);
        w().SensorCntChange();
        Connect();
        w().Form().UpdateData->setChecked(true);
    }

    FakeLibrary library;
    std::unique_ptr<TFMain> window;
};

// --- Which sensors are polled ----------------------------------------------------------------

struct CycleCase {
    const char *name;
    int sensorCountIndex;
    std::vector<int> addresses; // of the requests, one per time-out after the first
};

void PrintTo(const CycleCase &c, std::ostream *os)
{
    *os << c.name;
}

class Cycle : public Polling, public ::testing::WithParamInterface<CycleCase> {};

TEST_P(Cycle, VisitsTheActiveAddressesInTurn)
{
    const std::vector<int> &expected = GetParam().addresses;
    Start(GetParam().sensorCountIndex);
    for (std::size_t i = 1; i < expected.size(); ++i) {
        ASSERT_EQ(library.Written.size(), i);
        EXPECT_EQ(w().Measurement().PolledIndex(), expected[i - 1] - 50);
        EXPECT_TRUE(w().TimeoutTimer()->isActive());
        w().TimeoutTimerTimer();
    }
    EXPECT_EQ(RequestAddresses(library), expected);
    EXPECT_EQ(w().Measurement().PolledIndex(), expected.back() - 50);
}

std::vector<int> SixteenThenFifty()
{
    std::vector<int> a = Range(50, 65);
    a.push_back(50);
    return a;
}

INSTANTIATE_TEST_SUITE_P(SensorCounts, Cycle,
                         ::testing::Values(CycleCase{"One", 0, {50, 50, 50}},
                                           CycleCase{"Three", 2, {50, 51, 52, 50, 51}},
                                           CycleCase{"Sixteen", 15, SixteenThenFifty()},
                                           CycleCase{"NoneSelected", -1, {50, 50, 50}}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Polling, OneSensorKeepsTheNextAddressAtFifty)
{
    Start(0);
    EXPECT_EQ(w().Measurement().NextAddress(), 50);
    w().TimeoutTimerTimer();
    EXPECT_EQ(w().Measurement().NextAddress(), 50);
}

// --- Guards ---------------------------------------------------------------------------------

TEST_F(Polling, LinkDownSendsNothingAndStartsNoTimeOut)
{
    w().Form().UpdateData->setChecked(true);

    EXPECT_TRUE(library.Written.empty());
    EXPECT_TRUE(w().Form().UartLog->document()->isEmpty());
    EXPECT_FALSE(w().TimeoutTimer()->isActive());
    EXPECT_EQ(w().Measurement().NextAddress(), 50);
}

TEST_F(Polling, PollingSwitchedOffSendsNothingAndStartsNoTimeOut)
{
    w().Form().SensorCnt->setCurrentIndex(15);
    Connect();

    w().PollNextSensor();

    EXPECT_FALSE(library.Called("Write"));
    EXPECT_FALSE(w().TimeoutTimer()->isActive());
    EXPECT_EQ(w().Measurement().NextAddress(), 50);
}

// --- The time-out ---------------------------------------------------------------------------

TEST_F(Polling, SilentSensorGetsNoReadingAndTheNextRequestGoesOut)
{
    Start(1);

    w().TimeoutTimerTimer();
    EXPECT_EQ(w().Measurement().SensorReading()[0], kNoReading);
    EXPECT_EQ(w().Measurement().SensorReading()[1], 0u);
    EXPECT_EQ(RequestAddresses(library), (std::vector<int>{50, 51}));
    EXPECT_TRUE(w().TimeoutTimer()->isActive());

    w().TimeoutTimerTimer();
    EXPECT_EQ(w().Measurement().SensorReading()[1], kNoReading);
    EXPECT_EQ(RequestAddresses(library), (std::vector<int>{50, 51, 50}));
    // A time-out writes nothing to the log: the lines are the requests alone.
    EXPECT_EQ(w().Form().UartLog->document()->blockCount(), 3);
}

TEST_F(Polling, UncheckingWhileOutstandingStillTimesOutThenStops)
{
    Start(15);
    w().Form().UpdateData->setChecked(false);
    EXPECT_EQ(library.Written.size(), 1u);
    EXPECT_TRUE(w().TimeoutTimer()->isActive());

    w().TimeoutTimerTimer();

    EXPECT_EQ(w().Measurement().SensorReading()[0], kNoReading);
    EXPECT_EQ(library.Written.size(), 1u);
    EXPECT_FALSE(w().TimeoutTimer()->isActive());
    EXPECT_EQ(w().Measurement().NextAddress(), 51);
}

TEST_F(Polling, RecheckingWhileOutstandingSendsAtOnceWithoutRestartingTheTimeOut)
{
    Start(15);
    ASSERT_TRUE(w().TimeoutTimer()->isActive());
    // The event loop does not run, so the time-out cannot fire meanwhile;
    // only its remaining time shrinks.
    std::this_thread::sleep_for(std::chrono::milliseconds(80));

    w().Form().UpdateData->setChecked(false);
    w().Form().UpdateData->setChecked(true);

    EXPECT_EQ(RequestAddresses(library), (std::vector<int>{50, 51}));
    EXPECT_EQ(w().Measurement().PolledIndex(), 1);
    ASSERT_TRUE(w().TimeoutTimer()->isActive());
    // Started at least 80 ms ago; a restart would leave nearly 200 ms.
    EXPECT_LE(w().TimeoutTimer()->remainingTime(), 150);
}

enum class LinkEnd { Button, FailedStatusCall };

class LinkEndsWhileOutstanding : public Polling, public ::testing::WithParamInterface<LinkEnd> {};

TEST_P(LinkEndsWhileOutstanding, TimeOutStillStoresNoReadingThenNothingIsSent)
{
    Start(15);
    w().TimeoutTimerTimer(); // a request to 51 outstanding
    if (GetParam() == LinkEnd::Button) {
        w().ConnectButtonClick();
    } else {
        library.Fail["GetStatus"] = qvr::FT_IO_ERROR;
        w().UsbTimerTimer();
    }
    ASSERT_FALSE(w().Link()->IsOpen());
    EXPECT_TRUE(w().TimeoutTimer()->isActive());
    library.Calls.clear();

    w().TimeoutTimerTimer();

    EXPECT_EQ(w().Measurement().SensorReading()[1], kNoReading);
    EXPECT_FALSE(library.Called("Write"));
    EXPECT_FALSE(w().TimeoutTimer()->isActive());
    EXPECT_EQ(w().Form().UartLog->document()->blockCount(), 2);
}

INSTANTIATE_TEST_SUITE_P(Ways, LinkEndsWhileOutstanding,
                         ::testing::Values(LinkEnd::Button, LinkEnd::FailedStatusCall),
                         [](const auto &info) {
                             return info.param == LinkEnd::Button ? "Disconnect" : "LinkLost";
                         });

// --- Stopping, resuming, changing the count -------------------------------------------------

TEST_F(Polling, CheckingAgainResumesWhereTheCycleStopped)
{
    Start(3);
    w().TimeoutTimerTimer();                  // 51
    w().Form().UpdateData->setChecked(false); // 51 still outstanding
    w().TimeoutTimerTimer();                  // stops
    ASSERT_FALSE(w().TimeoutTimer()->isActive());
    ASSERT_EQ(library.Written.size(), 2u);

    w().Form().UpdateData->setChecked(true);

    EXPECT_EQ(RequestAddresses(library), (std::vector<int>{50, 51, 52}));
    EXPECT_TRUE(w().TimeoutTimer()->isActive());
}

TEST_F(Polling, ReconnectingResumesWhereTheCycleStopped)
{
    Start(15);
    w().TimeoutTimerTimer(); // 51
    w().ConnectButtonClick();
    w().TimeoutTimerTimer(); // stops at 52

    w().ConnectButtonClick();

    EXPECT_EQ(RequestAddresses(library), (std::vector<int>{50, 51, 52}));
}

TEST_F(Polling, LoweredCountSendsOneMoreToTheOldAddressThenWraps)
{
    Start(15);
    for (int i = 0; i < 5; ++i)
        w().TimeoutTimerTimer(); // 51..55
    ASSERT_EQ(w().Measurement().NextAddress(), 56);

    w().Form().SensorCnt->setCurrentIndex(1);
    w().TimeoutTimerTimer();
    w().TimeoutTimerTimer();
    w().TimeoutTimerTimer();

    EXPECT_EQ(RequestAddresses(library), (std::vector<int>{50, 51, 52, 53, 54, 55, 56, 50, 51}));
    EXPECT_EQ(w().Measurement().SensorReading()[6], kNoReading);
}

TEST_F(Polling, LinkComingUpWithPollingOnSendsTheFirstRequestToTheOpenAdapter)
{
    w().Form().UpdateData->setChecked(true);
    ASSERT_TRUE(library.Written.empty());

    w().ConnectButtonClick();

    ASSERT_TRUE(w().Link()->IsOpen());
    EXPECT_EQ(RequestAddresses(library), (std::vector<int>{50}));
    // Exactly one write and it came after the line was configured.
    const std::vector<std::string> calls = library.Names();
    const auto write = std::find(calls.begin(), calls.end(), "Write");
    const auto purge = std::find(calls.begin(), calls.end(), "Purge");
    ASSERT_NE(purge, calls.end());
    EXPECT_GT(write, purge);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Write"), 1);
    EXPECT_EQ(w().Form().UartLog->toPlainText(), QStringLiteral("TX: 32 03 00 00 00 01 81 C9 "));
    EXPECT_EQ(w().PanelText(1), QStringLiteral("Polączony"));
    EXPECT_TRUE(w().TimeoutTimer()->isActive());
}

// --- End to end on the simulated bus ---------------------------------------------------------

TEST(PollingOnTheSimulatedBus, ReplyIsLoggedAndTheNextRequestGoesOutAtOnce)
{
    std::int64_t nowUs = 1000000;
    qvr::TSimulatedBus bus([&nowUs] { return nowUs; });
    TFMain window(bus, qvr::test::SettingsFile());
    window.FormCreate();
    ASSERT_EQ(window.Form().UsbBox->count(), 1);

    window.ConnectButtonClick();
    ASSERT_TRUE(window.Link()->IsOpen());
    window.Form().UpdateData->setChecked(true);

    // Receive ticks 20 ms apart in simulated time, until the reply has been processed.
    const QTextDocument *doc = window.Form().UartLog->document();
    for (int tick = 0; tick < 10 && doc->blockCount() < 2; ++tick) {
        nowUs += 20000;
        window.UsbTimerTimer();
    }

    EXPECT_EQ(bus.RequestsReceived(50), 2u);
    ASSERT_EQ(doc->blockCount(), 3);
    EXPECT_EQ(doc->firstBlock().text(), QStringLiteral("TX: 32 03 00 00 00 01 81 C9 "));
    const QString rx = doc->findBlockByNumber(1).text();
    EXPECT_TRUE(rx.startsWith(QStringLiteral("RX: 32 03 02 "))) << rx.toStdString();
    EXPECT_EQ(rx.size(), 4 + 7 * 3) << rx.toStdString();
    EXPECT_EQ(doc->findBlockByNumber(1).begin().fragment().charFormat().foreground().color(),
              QColor(24, 142, 214));
    EXPECT_EQ(doc->lastBlock().text(), QStringLiteral("TX: 32 03 00 00 00 01 81 C9 "));
    EXPECT_TRUE(window.TimeoutTimer()->isActive());
    EXPECT_NE(window.Measurement().SensorReading()[0], kNoReading);
}

} // namespace
