// Long-run soak driver. The window polls sixteen simulated sensors in
// simulated time while 5 % of its requests meet a fault, one of every kind
// the simulated bus has (silence, bad CRC, exception, garbage, split reply,
// late reply, a one-shot library call failure, the adapter unplugged and
// plugged back), and the operator clicks Connect whenever the window shows
// the link lost. It writes its measurement log to a real file on every save
// tick. Per simulated hour the driver prints the pace, the process's memory,
// the chart points, the traffic-log lines and the log lines; every log line
// is read back and checked against the readings the model held when it was
// written, and those against the values the sensors sent.
//
// Usage: soak [hours]        simulated hours, default 1
//        soak --minutes N    N simulated minutes (the ctest smoke)
//        --seed N            seed of the fault schedule, default 7
// Exits with 0 when every check passed.
#include "bench/soak_check.h"
#include "link/codec.h"
#include "measure/regional.h"
#include "sim/simbus.h"
#include "ui/Main.h"
#include "ui/texts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <optional>
#include <qcustomplot.h>
#include <random>
#include <string>
#include <unistd.h>

namespace {

using qvr::TSimulatedBus;
using Call = TSimulatedBus::Call;
using Fault = TSimulatedBus::Fault;

// The window's timers, in simulated time.
constexpr std::int64_t kTickUs = 20'000;     // UsbTimer: the receive tick
constexpr std::int64_t kTimeoutUs = 200'000; // TimeoutTimer: the reply time-out
constexpr std::int64_t kSaveUs = 100'000;    // SaveTimer: a log line
// Posted events (the chart's queued redraw) are delivered once a second.
constexpr std::int64_t kEventsUs = 1'000'000;
// Log lines are read back once a minute, so that little is held in between.
constexpr std::int64_t kReadBackUs = 60'000'000;
constexpr std::int64_t kMinuteUs = 60'000'000;
constexpr std::int64_t kHourUs = 60 * kMinuteUs;
// Polling on with the link up, and no request for this long: a stall. The
// longest quiet spell by design is one time-out.
constexpr std::int64_t kStallUs = 1'000'000;
// After the run, faults stop; the link must be up again within this.
constexpr std::int64_t kRecoveryUs = 60'000'000;

constexpr double kFaultShare = 0.05;
constexpr double kPaceTarget = 0.98;
constexpr long kMemoryToleranceKiB = 5 * 1024;


// The tick design's time per reading. A read request goes out on a receive
// tick; request, turnaround and reply take
//     E = W(8 bytes) + turnaround + W(7 bytes) = 1.39 + 3 + 1.22 = 5.6 ms
// at 57600 baud. The first tick at or after the reply's last byte fetches it
// (ceil(E / tick) ticks after the request), two silent ticks later the frame
// is handled and the next request goes out in the same handler:
//     T = tick x (ceil(E / tick) + 2) = 20 ms x (1 + 2) = 60 ms,
// 16.7 readings a second; a round of sixteen sensors takes 16 T = 960 ms.
std::int64_t DesignReadingUs(std::int64_t turnaroundUs)
{
    const std::int64_t exchange =
        TSimulatedBus::WireTimeUs(8) + turnaroundUs + TSimulatedBus::WireTimeUs(7);
    return kTickUs * ((exchange + kTickUs - 1) / kTickUs + 2);
}

long ResidentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// What a request can meet, each kind equally often.
enum class Kind { Silence, BadCrc, Exception, Garbage, Split, Late, CallFailure, Unplug, Count };
constexpr int kKinds = static_cast<int>(Kind::Count);
const char *const kKindNames[kKinds] = {"silence", "bad-crc", "exception",    "garbage",
                                        "split",   "late",    "call-failure", "unplug"};
// The bus's reply faults, in the order of Kind.
const Fault kReplyFaults[] = {Fault::Silence, Fault::BadCrc, Fault::Exception,
                              Fault::Garbage, Fault::Split,  Fault::Late};

// Library calls a one-shot failure is armed for: those of the receive tick and
// of a request take the link down at once; those of a connect fail the next
// reconnect. Close is left out: a failed close leaves the simulated adapter
// open under a handle the window has already dropped, so no connect could
// open it again (the serial-port backend's close lets go of the port whatever
// happens).
const Call kFailingCalls[] = {
    Call::GetStatus,           Call::Read,   Call::Write,       Call::CreateDeviceInfoList,
    Call::GetDeviceInfoDetail, Call::OpenEx, Call::SetBaudRate, Call::SetDataCharacteristics,
    Call::SetFlowControl,      Call::Purge};

// The value of a well-formed read reply.
std::optional<std::uint16_t> ReplyValue(const std::vector<std::uint8_t> &reply)
{
    if (reply.size() != 7 || reply[1] != qvr::kReadHoldingRegisters || reply[2] != 2)
        return std::nullopt;
    const std::uint16_t crc = qvr::Crc16(reply.data(), 5);
    if (reply[5] != (crc & 0xFF) || reply[6] != (crc >> 8))
        return std::nullopt;
    return static_cast<std::uint16_t>(reply[3] << 8 | reply[4]);
}

// Figures of one reporting period.
struct TPeriod {
    std::int64_t startUs = 0;
    long readings = 0;
    long rounds = 0;
    long cleanRounds = 0;
    long cleanReadings = 0;
    std::int64_t cleanUs = 0;
};

class TSoak {
public:
    TSoak(const QString &dir, std::uint32_t seed)
        : logPath_(dir + QStringLiteral("/log.csv")), bus_([this] { return nowUs_; }),
          window_(bus_, WriteSettings(dir, logPath_)), random_(seed)
    {
        bus_.SetReplyObserver(
            [this](std::uint8_t address, Fault fault, const std::vector<std::uint8_t> &reply) {
                pending_ = TReply{address, fault, ReplyValue(reply)};
            });
    }

    int Run(std::int64_t durationUs);

private:
    struct TReply {
        std::uint8_t address;
        Fault fault;
        std::optional<std::uint16_t> value;
    };
    struct TSent {
        long round;
        std::uint16_t value;
    };
    struct TSnapshot {
        qvr::TReadings readings;
        bool attributed;
        bool resetZero;
    };

    static QString WriteSettings(const QString &dir, const QString &logPath);

    void Tick();
    void AfterHandler(bool stopsBeforeSending);
    void OnRequest();
    void RollFault();
    void StartRound();
    void MarkDirty() { roundDirty_ = true; }
    void Operator();
    void WatchLink();
    void SaveTick();
    bool Attributed(const qvr::TReadings &readings, bool &resetZero) const;
    void ReadBackLines();
    void CheckLine(std::string_view line);
    long Readings() const;
    long ChartPoints() const;
    void PrintPeriod(const char *label);
    std::int64_t Uniform(std::int64_t lowUs, std::int64_t highUs)
    {
        return std::uniform_int_distribution<std::int64_t>(lowUs, highUs)(random_);
    }

    const QString logPath_;
    std::int64_t nowUs_ = 0;
    TSimulatedBus bus_;
    TFMain window_;
    std::mt19937 random_;
    const std::int64_t designReadingUs_ = DesignReadingUs(bus_.TurnaroundUs());
    QElapsedTimer wall_;

    // TimeoutTimer: when it was last started, -1 while it is stopped.
    std::int64_t timeoutStartUs_ = -1;
    std::uint64_t writesSeen_ = 0;
    std::int64_t lastRequestUs_ = 0;

    // Faults.
    bool faultsOn_ = true;
    bool unplugWithNext_ = false;
    std::int64_t replugAtUs_ = -1;
    std::int64_t clickAtUs_ = -1;
    bool linkWasUp_ = false;
    long injected_[kKinds] = {};
    long repliesWithFault_ = 0;
    long linkLosses_ = 0;
    long unreportedLosses_ = 0;
    long clicks_ = 0;
    long stalls_ = 0;
    long driverErrors_ = 0;

    // Rounds: a round starts with each request to address 50. One is clean
    // when none of its requests, nor the one before it (a late reply lands
    // in the next request's time), met a fault and the link stayed up.
    long round_ = 0;
    std::int64_t roundStartUs_ = -1;
    long roundStartReadings_ = 0;
    bool roundDirty_ = true;
    bool dirtyNext_ = false;
    std::optional<TReply> pending_;
    // Values each sensor sent in this round and the one before.
    std::array<std::deque<TSent>, qvr::kSensorCount> sent_;

    // The log: a snapshot per save tick that should have logged, until its
    // line has been read back.
    std::deque<TSnapshot> snapshots_;
    long loggedTicks_ = 0;
    qint64 logOffset_ = 0;
    long linesRead_ = 0;
    long malformed_ = 0;
    long misattributed_ = 0;
    long extraLines_ = 0;
    long resetZeroLines_ = 0;
    int shownBadLines_ = 0;

    TPeriod period_;
    TPeriod total_;
    long firstHourKiB_ = -1;
    long lastHourKiB_ = -1;
    long firstHourPoints_ = 0;
    long lastHourPoints_ = 0;
    double worstCleanRatio_ = 2;
};

QString TSoak::WriteSettings(const QString &dir, const QString &logPath)
{
    const QString path = dir + QStringLiteral("/config.ini");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return path;
    file.write("[Options]\r\n"
               "AutoSave=1\r\nUpdate=1\r\nAutoConnect=1\r\n"
               "SaveDate=1\r\nSaveTime=1\r\nSaveRaw=1\r\nSavePercent=1\r\nSaveCoeff=1\r\n"
               "SaveFile=" +
               logPath.toUtf8() +
               "\r\n"
               "SensorCount=15\r\nSaveFreq=0\r\nChartType=0\r\nCoeff=1\r\n");
    return path;
}

int TSoak::Run(std::int64_t durationUs)
{
    wall_.start();
    // Connects, switches the log and polling on; the first request goes out.
    window_.FormCreate();
    // Shown, as the operator has it: a traffic log that was never shown
    // lays its lines out differently, and far more slowly once it is full.
    window_.show();
    AfterHandler(false);

    std::printf("soak: %.0f simulated minutes, %d sensors, %.0f %% of requests meet a fault\n",
                durationUs / 60e6, qvr::kSensorCount, kFaultShare * 100);
    std::printf("design pace: one reading per %lld ms, %.2f readings/s\n",
                static_cast<long long>(designReadingUs_ / 1000), 1e6 / designReadingUs_);
    std::printf("  hour  rd/s  clean-rd/s  ratio  rounds clean/all   rss-KiB  chart-pts  "
                "uart-lines  log-lines  losses  wall-s\n");
    std::fflush(stdout);

    while (nowUs_ < durationUs) {
        Tick();
        if (nowUs_ % kHourUs == 0 || nowUs_ == durationUs) {
            ReadBackLines();
            char label[16];
            std::snprintf(label, sizeof label, nowUs_ % kHourUs == 0 ? "%6lld" : "%3lld:%02lld",
                          static_cast<long long>(nowUs_ / kHourUs),
                          static_cast<long long>(nowUs_ % kHourUs / kMinuteUs));
            PrintPeriod(label);
        }
    }

    // The run ends with the link up and polling: faults stop, the operator
    // reconnects if need be, and one more round goes by.
    faultsOn_ = false;
    const std::int64_t endUs = nowUs_;
    const long endRound = round_;
    while (nowUs_ - endUs < kRecoveryUs && !(window_.Link()->IsOpen() && round_ >= endRound + 2))
        Tick();
    const bool upAtEnd = window_.Link()->IsOpen();
    ReadBackLines();
    const long missing = static_cast<long>(snapshots_.size());

    const double design = 1e6 / designReadingUs_;
    const double cleanPace = total_.cleanUs > 0 ? total_.cleanReadings * 1e6 / total_.cleanUs : 0.0;
    const bool paceOk = total_.cleanRounds > 0 && worstCleanRatio_ >= kPaceTarget;
    const bool memoryChecked = firstHourKiB_ >= 0 && lastHourKiB_ >= 0 && durationUs >= 2 * kHourUs;
    const long growthKiB = lastHourKiB_ - firstHourKiB_;
    const bool memoryOk = !memoryChecked || growthKiB <= kMemoryToleranceKiB;
    const bool linesOk = malformed_ == 0 && misattributed_ == 0 && missing == 0 &&
                         extraLines_ == 0 && linesRead_ == loggedTicks_ && loggedTicks_ > 0;
    const bool linkOk = upAtEnd && unreportedLosses_ == 0 && stalls_ == 0 && driverErrors_ == 0;

    long requests = 0;
    for (int a = qvr::kFirstAddress; a < qvr::kFirstAddress + qvr::kSensorCount; ++a)
        requests += static_cast<long>(bus_.RequestsReceived(static_cast<std::uint8_t>(a)));
    std::printf("\nsummary after %.1f simulated hours (%.0f s more to end on a link up), "
                "%.0f s of wall time\n",
                endUs / 3600e6, (nowUs_ - endUs) / 1e6, wall_.elapsed() / 1000.0);
    std::printf("  requests %ld, readings %ld, replies with a fault %ld; faults armed:", requests,
                Readings(), repliesWithFault_);
    for (int k = 0; k < kKinds; ++k)
        std::printf(" %s %ld", kKindNames[k], injected_[k]);
    std::printf("\n  link lost %ld times, unreported %ld; Connect clicks %ld; stalls %ld; "
                "link %s at the end\n",
                linkLosses_, unreportedLosses_, clicks_, stalls_, upAtEnd ? "up" : "DOWN");
    std::printf("  pace on %ld clean rounds of %ld: %.3f readings/s = %.4f x design %.3f "
                "(worst hour %.4f, target %.2f)\n",
                total_.cleanRounds, total_.rounds, cleanPace, cleanPace / design, design,
                worstCleanRatio_, kPaceTarget);
    if (memoryChecked)
        std::printf(
            "  memory: hour 1 %ld KiB, last hour %ld KiB, growth %ld KiB (limit %ld); "
            "chart points +%ld, %ld KiB of point data\n",
            firstHourKiB_, lastHourKiB_, growthKiB, kMemoryToleranceKiB,
            lastHourPoints_ - firstHourPoints_,
            static_cast<long>((lastHourPoints_ - firstHourPoints_) * sizeof(QCPGraphData) / 1024));
    else
        std::printf("  memory: not compared (needs two simulated hours)\n");
    std::printf("  log: %ld lines for %ld save ticks that logged; malformed %ld, misattributed "
                "%ld, missing %ld, extra %ld; lines holding a never-read sensor's reset 0: %ld\n",
                linesRead_, loggedTicks_, malformed_, misattributed_, missing, extraLines_,
                resetZeroLines_);
    std::printf("  checks: pace %s, memory %s, log lines %s, link %s\n", paceOk ? "ok" : "FAILED",
                memoryChecked ? (memoryOk ? "ok" : "FAILED") : "n/a", linesOk ? "ok" : "FAILED",
                linkOk ? "ok" : "FAILED");
    std::fflush(stdout);
    return paceOk && memoryOk && linesOk && linkOk ? 0 : 1;
}

// One receive tick's worth of simulated time: the operator, then the window's
// timers that are due, in the order UsbTimer, TimeoutTimer, SaveTimer.
void TSoak::Tick()
{
    nowUs_ += kTickUs;
    Operator();
    if (window_.UsbTimer()->isActive()) {
        window_.UsbTimerTimer();
        AfterHandler(true);
    }
    if (timeoutStartUs_ >= 0 && nowUs_ - timeoutStartUs_ >= kTimeoutUs) {
        window_.TimeoutTimerTimer();
        AfterHandler(true);
    }
    if (window_.Link()->IsOpen() && window_.Form().UpdateData->isChecked() &&
        nowUs_ - lastRequestUs_ > kStallUs) {
        ++stalls_;
        lastRequestUs_ = nowUs_;
    }
    if (nowUs_ % kSaveUs == 0)
        SaveTick();
    if (nowUs_ % kEventsUs == 0)
        QCoreApplication::sendPostedEvents();
    if (nowUs_ % kReadBackUs == 0)
        ReadBackLines();
}

// After a handler: did it send a request, and what became of TimeoutTimer?
// The window starts TimeoutTimer (unless running) with each read request.
// The receive tick and the time-out stop it first, within the same call, so
// a request they send starts it afresh although isActive() never shows it
// stopped. A click that brings the link up sends a request too, but a timer
// still running keeps its start.
void TSoak::AfterHandler(bool stopsBeforeSending)
{
    const std::uint64_t writes = bus_.CallCount(Call::Write);
    const std::uint64_t sent = writes - writesSeen_;
    writesSeen_ = writes;
    if (sent > 1)
        ++driverErrors_; // one handler, one request
    if (!window_.TimeoutTimer()->isActive())
        timeoutStartUs_ = -1;
    else if (timeoutStartUs_ < 0 || (sent > 0 && stopsBeforeSending))
        timeoutStartUs_ = nowUs_;
    if (sent > 0)
        OnRequest();
    pending_.reset();
    WatchLink();
}

void TSoak::OnRequest()
{
    lastRequestUs_ = nowUs_;
    const int index = window_.Measurement().PolledIndex();
    if (index == 0)
        StartRound();
    if (dirtyNext_) {
        MarkDirty();
        dirtyNext_ = false;
    }
    if (!pending_) {
        MarkDirty(); // the write failed: no reply was decided
    } else if (pending_->address != qvr::kFirstAddress + index) {
        ++driverErrors_;
    } else {
        if (pending_->fault != Fault::None) {
            ++repliesWithFault_;
            MarkDirty();
            dirtyNext_ = true;
        }
        if (pending_->value) {
            std::deque<TSent> &sent = sent_[index];
            sent.push_back({round_, *pending_->value});
            while (sent.front().round < round_ - 1)
                sent.pop_front();
        }
    }
    if (unplugWithNext_) {
        bus_.Unplug();
        unplugWithNext_ = false;
        replugAtUs_ = nowUs_ + Uniform(200'000, 2'000'000);
        MarkDirty();
    }
    RollFault();
}

// Whether the next request meets a fault, and which.
void TSoak::RollFault()
{
    if (!faultsOn_ || std::uniform_real_distribution<double>(0, 1)(random_) >= kFaultShare)
        return;
    const int kind = static_cast<int>(random_() % kKinds);
    ++injected_[kind];
    switch (static_cast<Kind>(kind)) {
    case Kind::CallFailure:
        bus_.FailNextCall(kFailingCalls[random_() % std::size(kFailingCalls)]);
        break;
    case Kind::Unplug:
        unplugWithNext_ = true;
        break;
    default:
        bus_.InjectFault(kReplyFaults[kind]);
        break;
    }
}

void TSoak::StartRound()
{
    const long readings = Readings();
    if (roundStartUs_ >= 0) {
        const long inRound = readings - roundStartReadings_;
        for (TPeriod *p : {&period_, &total_}) {
            ++p->rounds;
            if (!roundDirty_) {
                ++p->cleanRounds;
                p->cleanReadings += inRound;
                p->cleanUs += nowUs_ - roundStartUs_;
            }
        }
    }
    ++round_;
    roundStartUs_ = nowUs_;
    roundStartReadings_ = readings;
    roundDirty_ = false;
}

// The operator: plugs the adapter back in, and clicks Connect while the
// window shows the link lost, again after a while if the connect failed.
void TSoak::Operator()
{
    if (replugAtUs_ >= 0 && nowUs_ >= replugAtUs_) {
        bus_.Plug();
        replugAtUs_ = -1;
    }
    if (clickAtUs_ >= 0 && nowUs_ >= clickAtUs_) {
        ++clicks_;
        window_.ConnectButtonClick();
        AfterHandler(false);
        clickAtUs_ = window_.Link()->IsOpen() ? -1 : nowUs_ + Uniform(500'000, 2'000'000);
    }
}

// After every handler: a link the handler took down is one the operator
// will reconnect.
void TSoak::WatchLink()
{
    const bool up = window_.Link()->IsOpen();
    if (linkWasUp_ && !up) {
        ++linkLosses_;
        MarkDirty();
        // The operator reacts to what the window shows; a loss it does not
        // show is counted, and clicked away all the same.
        if (window_.PanelText(1) != qvr::text::kLinkLost)
            ++unreportedLosses_;
        clickAtUs_ = nowUs_ + Uniform(500'000, 2'000'000);
    }
    linkWasUp_ = up;
    if (!up)
        MarkDirty();
}

// SaveTimer: a line is due whenever logging is on, polling is on and the
// link is up; the model's readings then are what the line must carry.
void TSoak::SaveTick()
{
    if (window_.Form().SaveData->isChecked() && window_.Form().UpdateData->isChecked() &&
        window_.Link()->IsOpen()) {
        TSnapshot snapshot{window_.Measurement().SensorReading(), false, false};
        snapshot.attributed = Attributed(snapshot.readings, snapshot.resetZero);
        snapshots_.push_back(snapshot);
        ++loggedTicks_;
    }
    window_.SaveTimerTimer();
}

// Every reading is a value its sensor sent in this round or the one before,
// or kNoReading. The one exception is the 0 that the display set-up puts in
// the entry of a sensor that has not been read yet.
bool TSoak::Attributed(const qvr::TReadings &readings, bool &resetZero) const
{
    for (int i = 0; i < qvr::kSensorCount; ++i) {
        const std::uint32_t value = readings[i];
        if (value == qvr::kNoReading)
            continue;
        bool found = false;
        for (const TSent &s : sent_[i])
            found = found || (s.round >= round_ - 1 && s.value == value);
        if (found)
            continue;
        if (value == 0 && window_.Series(i)->dataCount() == 0) {
            resetZero = true;
            continue;
        }
        return false;
    }
    return true;
}

void TSoak::ReadBackLines()
{
    QFile file(logPath_);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(logOffset_))
        return;
    const QByteArray data = file.readAll();
    qsizetype start = 0;
    for (qsizetype end; (end = data.indexOf("\r\n", start)) >= 0; start = end + 2)
        CheckLine(
            std::string_view(data.constData() + start, static_cast<std::size_t>(end - start)));
    logOffset_ += start;
}

void TSoak::CheckLine(std::string_view line)
{
    ++linesRead_;
    if (snapshots_.empty()) {
        ++extraLines_;
        return;
    }
    const TSnapshot snapshot = snapshots_.front();
    snapshots_.pop_front();
    const qvr::soak::TLineVerdict verdict =
        qvr::soak::CheckLogLine(line, snapshot.readings, qvr::kSensorCount, ',');
    bool bad = true;
    if (verdict == qvr::soak::TLineVerdict::Malformed)
        ++malformed_;
    else if (verdict == qvr::soak::TLineVerdict::Misattributed || !snapshot.attributed)
        ++misattributed_;
    else
        bad = false;
    if (snapshot.resetZero)
        ++resetZeroLines_;
    if (bad && shownBadLines_++ < 5) {
        std::fprintf(stderr, "bad log line %ld (%s):\n  %.*s\n  model:", linesRead_,
                     verdict == qvr::soak::TLineVerdict::Malformed ? "malformed" : "misattributed",
                     static_cast<int>(line.size()), line.data());
        for (const std::uint32_t r : snapshot.readings)
            std::fprintf(stderr, " %u", r);
        std::fprintf(stderr, "\n");
    }
}

// Readings the window has taken, from every sensor address.
long TSoak::Readings() const
{
    return static_cast<long>(window_.Measurement().ReadingsTaken());
}

long TSoak::ChartPoints() const
{
    long n = 0;
    for (int i = 0; i < qvr::kSensorCount; ++i)
        n += window_.Series(i)->dataCount();
    return n;
}

void TSoak::PrintPeriod(const char *label)
{
    const long readings = Readings();
    const double seconds = (nowUs_ - period_.startUs) / 1e6;
    const double rate = (readings - period_.readings) / seconds;
    const double clean = period_.cleanUs > 0 ? period_.cleanReadings * 1e6 / period_.cleanUs : 0;
    const double ratio = clean * designReadingUs_ / 1e6;
    if (period_.cleanRounds > 0)
        worstCleanRatio_ = std::min(worstCleanRatio_, ratio);
    const long kib = ResidentKiB();
    const long points = ChartPoints();
    if (nowUs_ % kHourUs == 0) {
        if (firstHourKiB_ < 0) {
            firstHourKiB_ = kib;
            firstHourPoints_ = points;
        }
        lastHourKiB_ = kib;
        lastHourPoints_ = points;
    }
    std::printf("%s  %5.2f  %10.3f  %.3f  %6ld/%-6ld  %9ld  %9ld  %10d  %9ld  %6ld  %6.0f\n", label,
                rate, clean, ratio, period_.cleanRounds, period_.rounds, kib, points,
                window_.Form().UartLog->blockCount(), linesRead_, linkLosses_,
                wall_.elapsed() / 1000.0);
    std::fflush(stdout);
    period_ = TPeriod{};
    period_.startUs = nowUs_;
    period_.readings = readings;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    std::int64_t durationUs = kHourUs;
    std::uint32_t seed = 7;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--minutes") == 0 && hasValue)
            durationUs = std::max(1L, std::atol(argv[++i])) * kMinuteUs;
        else if (std::strcmp(argv[i], "--seed") == 0 && hasValue)
            seed = static_cast<std::uint32_t>(std::atol(argv[++i]));
        else if (argv[i][0] != '-')
            durationUs = std::max(1L, std::atol(argv[i])) * kHourUs;
        else {
            std::fprintf(stderr, "usage: soak [hours] [--minutes N] [--seed N]\n");
            return 2;
        }
    }

    // Regional settings with a year-month-day short date (the log writes its
    // hyphens as colons) and a decimal comma.
    qvr::SetRegionalSettings("sv_SE.UTF-8");
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "soak: no temporary folder\n");
        return 2;
    }
    TSoak soak(dir.path(), seed);
    return soak.Run(durationUs);
}
