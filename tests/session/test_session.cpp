// The bus session on the simulated bus in simulated time: the cycle's timing
// (20 ms receive tick, a frame on the second silent tick, the 200 ms reply
// time-out, the 2 ms pause before a write) as rows of what the operator does
// and the events that follow, each with its time in milliseconds.
#include "session/session.h"
#include "sim/simbus.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <string>

namespace {

using qvr::TBusSession;
using qvr::TSessionEvent;
using qvr::TSimulatedBus;
using Kind = TSessionEvent::Kind;
using Fault = TSimulatedBus::Fault;

// The session with its timers run as the window runs them: the receive tick
// every 20 ms from the start (stopped when the link goes down, started when
// a connect begins), the time-out started unless running. Every event is
// written down as "<ms> <event>".
class TRun {
public:
    static constexpr int kReconnectIntervalMs = 500;

    TRun() : bus_([this] { return nowUs_; }) { bus_.SetSpikeRate(0); }

    TSimulatedBus &Bus() { return bus_; }
    TBusSession &Session() { return session_; }
    qvr::TCycleControls Controls;

    // Runs the timers that fall due until `endMs`.
    void RunUntil(int endMs)
    {
        const std::int64_t endUs = endMs * 1000LL;
        for (;;) {
            std::int64_t next = endUs + 1;
            if (tickOn_)
                next = nextTickUs_;
            if (timeoutAtUs_ && *timeoutAtUs_ < next)
                next = *timeoutAtUs_;
            if (reconnectAtUs_ && *reconnectAtUs_ < next)
                next = *reconnectAtUs_;
            if (next > endUs)
                break;
            nowUs_ = next;
            if (timeoutAtUs_ && *timeoutAtUs_ == next) {
                timeoutAtUs_.reset();
                session_.TimedOut(Controls, sink_);
            } else if (reconnectAtUs_ && *reconnectAtUs_ == next) {
                *reconnectAtUs_ += kReconnectIntervalMs * 1000;
                session_.Reconnect(Controls, sink_);
            } else {
                nextTickUs_ += qvr::kReceiveTickMs * 1000;
                session_.ReceiveTick(Controls, sink_);
            }
        }
        nowUs_ = endUs;
    }

    const qvr::TEventSink &Sink() const { return sink_; }
    std::string Events() const { return events_.str(); }

private:
    class TPause : public qvr::IPause {
    public:
        explicit TPause(std::int64_t &nowUs) : nowUs_(nowUs) {}
        void Pause(int milliseconds) override { nowUs_ += milliseconds * 1000LL; }

    private:
        std::int64_t &nowUs_;
    };

    void Record(const TSessionEvent &e)
    {
        events_ << nowUs_ / 1000 << ' ' << Text(e) << '\n';
        switch (e.What) {
        case Kind::Link:
            if (e.Link == qvr::TLinkChange::Connecting && !tickOn_) {
                tickOn_ = true;
                nextTickUs_ = nowUs_ + qvr::kReceiveTickMs * 1000;
            } else if (e.Link == qvr::TLinkChange::Lost || e.Link == qvr::TLinkChange::Closed) {
                tickOn_ = false;
            }
            break;
        case Kind::TimeoutStart:
            if (!timeoutAtUs_)
                timeoutAtUs_ = nowUs_ + qvr::kReplyTimeoutMs * 1000;
            break;
        case Kind::TimeoutStop:
            timeoutAtUs_.reset();
            break;
        case Kind::ReconnectStart:
            reconnectAtUs_ = nowUs_ + kReconnectIntervalMs * 1000;
            break;
        case Kind::ReconnectStop:
            reconnectAtUs_.reset();
            break;
        default:
            break;
        }
    }

    static std::string Text(const TSessionEvent &e)
    {
        static const char *const kLinks[] = {"connecting",  "disconnecting", "switching",
                                             "no adapters", "detail failed", "open failed",
                                             "up",          "lost",          "closed"};
        switch (e.What) {
        case Kind::Link:
            return kLinks[static_cast<int>(e.Link)];
        case Kind::FrameSent:
            return "TX " + std::to_string(e.Bytes[0]) + (e.Bytes[1] == 6 ? " write" : "");
        case Kind::FrameReceived:
            return "RX " + std::to_string(e.Length);
        case Kind::FrameError:
            return "error " + std::to_string(e.Result);
        case Kind::Reading:
            return "reading " + std::to_string(e.Sensor) + " round " + std::to_string(e.X);
        case Kind::WriteConfirmed:
            return "written " + std::to_string(e.Register);
        case Kind::TimeoutStart:
            return "timeout start";
        case Kind::TimeoutStop:
            return "timeout stop";
        case Kind::ReconnectStart:
            return "reconnect start";
        case Kind::ReconnectStop:
            return "reconnect stop";
        }
        return "?";
    }

    std::int64_t nowUs_ = 0;
    TSimulatedBus bus_;
    TPause pause_{nowUs_};
    TBusSession session_{bus_, pause_};
    const qvr::TEventSink sink_ = [this](const TSessionEvent &e) { Record(e); };
    std::ostringstream events_;
    bool tickOn_ = true;
    std::int64_t nextTickUs_ = qvr::kReceiveTickMs * 1000;
    std::optional<std::int64_t> timeoutAtUs_;
    std::optional<std::int64_t> reconnectAtUs_;
};

struct CycleRow {
    const char *name;
    int sensorCountIndex;
    bool polling;
    std::function<void(TRun &)> arrange; // before the connect at 0 ms
    int untilMs;
    const char *events;
};

void PrintTo(const CycleRow &row, std::ostream *os)
{
    *os << row.name;
}

class Cycle : public ::testing::TestWithParam<CycleRow> {};

TEST_P(Cycle, EventsFollowAtTheirTimes)
{
    const CycleRow &row = GetParam();
    TRun run;
    run.Controls = {row.polling, row.sensorCountIndex};
    run.Session().ListAdapters();
    if (row.arrange)
        row.arrange(run);
    run.Session().ConnectButton(run.Controls, run.Sink());
    run.RunUntil(row.untilMs);
    EXPECT_EQ(run.Events(), row.events);
}

// The request leaves 2 ms after the decision; the reply (5.6 ms on the wire
// with the turnaround) is fetched by the tick at 20 ms, and the frame ends on
// the second silent tick, at 60 ms, where the next request is decided.
INSTANTIATE_TEST_SUITE_P(
    Timing, Cycle,
    ::testing::Values(
        CycleRow{"AnsweringSensorEverySixtyMilliseconds", 0, true, nullptr, 130,
                 "0 connecting\n0 up\n0 timeout start\n2 TX 50\n"
                 "60 RX 7\n60 timeout stop\n60 reading 0 round 0\n60 timeout start\n62 TX 50\n"
                 "120 RX 7\n120 timeout stop\n120 reading 0 round 1\n120 timeout start\n"
                 "122 TX 50\n"},
        CycleRow{"TwoSensorsInTurnOneRoundEach", 1, true, nullptr, 125,
                 "0 connecting\n0 up\n0 timeout start\n2 TX 50\n"
                 "60 RX 7\n60 timeout stop\n60 reading 0 round 0\n60 timeout start\n62 TX 51\n"
                 "120 RX 7\n120 timeout stop\n120 reading 1 round 0\n120 timeout start\n"
                 "122 TX 50\n"},
        CycleRow{"SilentSensorTimesOutTwoHundredMillisecondsAfterTheDecision", 0, true,
                 [](TRun &r) { r.Bus().SetSensorFault(50, Fault::Silence); }, 410,
                 "0 connecting\n0 up\n0 timeout start\n2 TX 50\n"
                 "200 timeout stop\n200 timeout start\n202 TX 50\n"
                 "400 timeout stop\n400 timeout start\n402 TX 50\n"},
        CycleRow{"BadCrcIsAnErrorAndTheTimeOutMovesOn", 0, true,
                 [](TRun &r) { r.Bus().InjectFault(Fault::BadCrc, 50); }, 205,
                 "0 connecting\n0 up\n0 timeout start\n2 TX 50\n"
                 "60 RX 7\n60 error -1\n200 timeout stop\n200 timeout start\n202 TX 50\n"},
        CycleRow{"ExceptionReplyShowsItsCode", 0, true,
                 [](TRun &r) { r.Bus().InjectFault(Fault::Exception, 50); }, 70,
                 "0 connecting\n0 up\n0 timeout start\n2 TX 50\n60 RX 5\n60 error 4\n"},
        // A pause of 80 ms after the reply's first half: two frames, neither good.
        CycleRow{"SplitReplyIsTwoBadFrames", 0, true,
                 [](TRun &r) { r.Bus().InjectFault(Fault::Split, 50); }, 150,
                 "0 connecting\n0 up\n0 timeout start\n2 TX 50\n"
                 "60 RX 3\n60 error -1\n140 RX 4\n140 error -1\n"},
        // The late reply (250 ms) lands on the next sensor's answer: the two
        // run together into one bad frame, and that sensor's time-out moves on.
        CycleRow{"LateReplyCollidesWithTheNextAnswer", 1, true,
                 [](TRun &r) { r.Bus().InjectFault(Fault::Late, 50); }, 405,
                 "0 connecting\n0 up\n0 timeout start\n2 TX 50\n"
                 "200 timeout stop\n200 timeout start\n202 TX 51\n"
                 "300 RX 14\n300 error -1\n400 timeout stop\n400 timeout start\n402 TX 50\n"},
        CycleRow{"PollingOffSendsNothing", 15, false, nullptr, 500, "0 connecting\n0 up\n"},
        // Unplugged between request and reply: the next tick's status call
        // fails, the tick stops, and the time-out sends nothing on a link that is down.
        CycleRow{"UnplugTakesTheLinkDownAtTheNextTick", 0, true,
                 [](TRun &r) { r.Bus().FailNextCall(TSimulatedBus::Call::GetStatus); }, 300,
                 "0 connecting\n0 up\n0 timeout start\n2 TX 50\n20 lost\n200 timeout stop\n"},
        CycleRow{"NoAdapterOnlyResetsTheCaption", 0, true, [](TRun &r) { r.Bus().Unplug(); }, 100,
                 "0 connecting\n0 no adapters\n"}),
    [](const auto &info) { return std::string(info.param.name); });

// A parameter write goes out after the pause whatever the cycle does; its
// echo confirms the register and moves nothing.
TEST(SessionWrite, EchoConfirmsTheRegister)
{
    TRun run;
    run.Session().ListAdapters();
    run.Session().ConnectButton(run.Controls, run.Sink());
    run.Session().WriteParameter(51, 3, 700, run.Sink());
    run.RunUntil(70);
    EXPECT_EQ(run.Events(), "0 connecting\n0 up\n2 TX 51 write\n60 RX 8\n60 written 3\n");
    EXPECT_EQ(run.Bus().StoredRegister(51, 3), 700);
}

// A write while the link is down is logged, not sent.
TEST(SessionWrite, WhileDownIsLoggedOnly)
{
    TRun run;
    run.Session().WriteParameter(50, 1, 1, run.Sink());
    EXPECT_EQ(run.Events(), "0 TX 50 write\n");
    EXPECT_EQ(run.Bus().CallCount(TSimulatedBus::Call::Write), 0u);
}

// The operator's button while up ends the link, and a second press connects
// and polls again from where the cycle stopped.
TEST(SessionLink, ButtonEndsAndRestartsTheLink)
{
    TRun run;
    run.Controls = {true, 1};
    run.Session().ListAdapters();
    run.Session().ConnectButton(run.Controls, run.Sink());
    run.RunUntil(70);
    run.Session().ConnectButton(run.Controls, run.Sink());
    run.RunUntil(300);
    run.Session().ConnectButton(run.Controls, run.Sink());
    EXPECT_EQ(run.Events(),
              "0 connecting\n0 up\n0 timeout start\n2 TX 50\n"
              "60 RX 7\n60 timeout stop\n60 reading 0 round 0\n60 timeout start\n62 TX 51\n"
              "70 disconnecting\n70 closed\n260 timeout stop\n"
              "300 connecting\n300 up\n300 timeout start\n302 TX 50\n");
}

// Unplugged at 70 ms (after the second request), plugged back at `plugMs`
// (the next open failing once when `failOpen`), the operator's button
// pressed at `pressMs`.
struct ReconnectRow {
    const char *name;
    bool reconnect;
    int pressMs;
    int plugMs;
    bool failOpen;
    const char *events;
};

void PrintTo(const ReconnectRow &row, std::ostream *os)
{
    *os << row.name;
}

class Reconnect : public ::testing::TestWithParam<ReconnectRow> {};

TEST_P(Reconnect, AfterAnUnplug)
{
    const ReconnectRow &row = GetParam();
    TRun run;
    run.Controls = {true, 0};
    run.Session().SetReconnect(row.reconnect);
    run.Session().ListAdapters();
    run.Session().ConnectButton(run.Controls, run.Sink());
    std::vector<std::pair<int, std::function<void()>>> steps = {
        {70, [&] { run.Bus().Unplug(); }},
        {row.plugMs,
         [&] {
             run.Bus().Plug();
             if (row.failOpen)
                 run.Bus().FailNextCall(TSimulatedBus::Call::OpenEx);
         }},
        {row.pressMs, [&] { run.Session().ConnectButton(run.Controls, run.Sink()); }},
        {1100, [] {}},
    };
    std::stable_sort(steps.begin(), steps.end(),
                     [](const auto &x, const auto &y) { return x.first < y.first; });
    for (const auto &[ms, step] : steps) {
        if (ms < 0)
            continue;
        run.RunUntil(ms);
        step();
    }
    // Every row begins alike: up to the second request, sent at 62 ms.
    EXPECT_EQ(run.Events(),
              std::string("0 connecting\n0 up\n0 timeout start\n2 TX 50\n"
                          "60 RX 7\n60 timeout stop\n60 reading 0 round 0\n60 timeout start\n"
                          "62 TX 50\n") +
                  row.events);
}

INSTANTIATE_TEST_SUITE_P(
    Unplugged, Reconnect,
    ::testing::Values(
        // Each try is a connect: while unplugged it finds no adapter; once
        // plugged the link comes up and polling goes on with the next request.
        ReconnectRow{"TriesEveryIntervalUntilTheAdapterIsBack", true, -1, 900, false,
                     "80 lost\n80 reconnect start\n260 timeout stop\n"
                     "580 connecting\n580 no adapters\n"
                     "1080 connecting\n1080 up\n1080 reconnect stop\n1080 timeout start\n"
                     "1082 TX 50\n"},
        ReconnectRow{"OffNothingHappens", false, -1, 900, false, "80 lost\n260 timeout stop\n"},
        // The button, captioned "Rozłącz" since a try that failed to open,
        // ends the tries.
        ReconnectRow{"TheButtonEndsTheTries", true, 600, 550, true,
                     "80 lost\n80 reconnect start\n260 timeout stop\n"
                     "580 connecting\n580 open failed\n"
                     "600 disconnecting\n600 reconnect stop\n"},
        // After a try that found no adapter the button reads "Połącz": a
        // press is a try of its own and the tries go on.
        ReconnectRow{"AfterNoAdapterTheButtonIsATry", true, 600, 900, false,
                     "80 lost\n80 reconnect start\n260 timeout stop\n"
                     "580 connecting\n580 no adapters\n600 connecting\n600 no adapters\n"
                     "1080 connecting\n1080 up\n1080 reconnect stop\n1080 timeout start\n"
                     "1082 TX 50\n"},
        // A link the operator ended is never tried again.
        ReconnectRow{"NeverAfterTheOperatorEndedTheLink", true, 65, 900, false,
                     "65 disconnecting\n65 closed\n260 timeout stop\n"}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
