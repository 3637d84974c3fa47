// The receive path through the bus session, as the window runs it: bytes
// arrive over receive ticks through CFtdi into the receiver, which frames them
// by silence; the session decodes each frame, stores good read replies in the
// measurement model, polls and times out, and reports all of it as events.
// This target plays the window around the session: it makes the calls the
// window's buttons and timers make, keeps the two timers by the events as the
// window does, and checks every event against the bytes the scripted adapter
// delivered and wrote and against the model. The value texts are built from
// each reading and the log line from the readings the input leaves (any state
// the readings pass through is also the end of a shorter input).
//
// Input: locale, bits (log fields 0..4, polling on 5), sensor count index
// (byte % 17 - 1), coefficient length (byte % 12) and text, then operations:
// a byte whose top three bits name it and whose low five bits are its n.
//   0 n+1 bytes arrive        1 a frame with a good CRC arrives: address,
//   2 n % 4 + 1 receive ticks   function and n data bytes follow
//   3 the next read request (polling ticked)
//   4 the reply time-out, when its timer runs
//   5 n < 24: the next status call, read or write (n % 3) fails; else the next
//     connect fails at its count, detail query, open or configuration (n % 4)
//   6 n odd, or the link down: the connect button; else the adapter chosen
//     again (none chosen when n & 2), which closes the link and reconnects
//   7 n < 17: another sensor count (n - 1); n < 24: polling switched on when n
//     is odd, off when even; else a parameter write (register n % 4: on/off,
//     min, max, mode) to the address in the next byte, the value in the two
//     after it
// The session starts as the window's: adapters listed, readings reset for the
// sensor count, connected with polling still off.
#include "fuzz_common.h"
#include "link/codec.h"
#include "measure/parameters.h"
#include "session/session.h"

#include <deque>
#include <vector>

using namespace qvr;
using namespace qvr::fuzz;

namespace {

using Kind = TSessionEvent::Kind;

// The pause before each write; the adapter's write takes it.
class TPause : public IPause {
public:
    int Pending = 0;

    void Pause(int milliseconds) override
    {
        FUZZ_REQUIRE(milliseconds == kPauseBeforeWriteMs && Pending == 0);
        ++Pending;
    }
};

// One adapter. Bytes queued by the input are read one by one; a purge drops
// them; one call can be made to fail. The calls of a link that is up must
// reach it with the open handle, each write right after its pause.
class TAdapter : public ID2xx {
public:
    enum TCall { kGetStatus, kRead, kWrite, kCount, kDetail, kOpen, kConfigure, kNone };

    explicit TAdapter(TPause &pause) : pause_(pause) {}

    std::deque<std::uint8_t> Incoming;
    // Bytes handed to the receiver since its last frame.
    std::vector<std::uint8_t> Delivered;
    std::size_t DeliveredThisTick = 0;
    TCall FailNext = kNone;
    // The failures that happened, oldest first, until taken.
    std::vector<TCall> Failed;
    // The writes not yet reported as sent.
    std::vector<std::vector<std::uint8_t>> Written;
    bool LastWriteFailed = false;

    FtStatus ListDevices(std::vector<std::string> &descriptions, std::uint32_t *count,
                         std::uint32_t) override
    {
        descriptions = {"QVR"};
        *count = 1;
        return FT_OK;
    }
    FtStatus CreateDeviceInfoList(std::uint32_t *count) override
    {
        *count = Failing(kCount) ? 0 : 1;
        return FT_OK;
    }
    FtStatus GetDeviceInfoDetail(std::uint32_t, DeviceDetails &details, FtHandle *handle) override
    {
        if (Failing(kDetail))
            return FT_IO_ERROR;
        details.Description = "QVR";
        *handle = kNoHandle;
        return FT_OK;
    }
    FtStatus OpenEx(const std::string &description, std::uint32_t, FtHandle *handle) override
    {
        FUZZ_REQUIRE(description == "QVR"); // the adapter listed, or chosen
        if (Failing(kOpen))
            return FT_DEVICE_NOT_OPENED;
        *handle = open_ = ++last_;
        return FT_OK;
    }
    FtStatus SetBaudRate(FtHandle h, std::uint32_t) override { return Check(h); }
    FtStatus SetDataCharacteristics(FtHandle h, std::uint8_t, std::uint8_t, std::uint8_t) override
    {
        return Check(h);
    }
    FtStatus SetFlowControl(FtHandle h, std::uint16_t, std::uint8_t, std::uint8_t) override
    {
        return Failing(kConfigure) ? FT_IO_ERROR : Check(h);
    }
    FtStatus Purge(FtHandle h, std::uint32_t) override
    {
        if (Check(h) != FT_OK)
            return FT_INVALID_HANDLE;
        Incoming.clear();
        return FT_OK;
    }
    FtStatus GetStatus(FtHandle h, std::uint32_t *rx, std::uint32_t *tx,
                       std::uint32_t *events) override
    {
        FUZZ_REQUIRE(Check(h) == FT_OK);
        *rx = static_cast<std::uint32_t>(Incoming.size());
        *tx = *events = 0;
        return Failing(kGetStatus) ? FT_IO_ERROR : FT_OK;
    }
    FtStatus Read(FtHandle h, void *buffer, std::uint32_t n, std::uint32_t *read) override
    {
        FUZZ_REQUIRE(Check(h) == FT_OK);
        *read = 0;
        if (Failing(kRead))
            return FT_IO_ERROR;
        auto *out = static_cast<std::uint8_t *>(buffer);
        while (*read < n && !Incoming.empty()) {
            out[(*read)++] = Incoming.front();
            Delivered.push_back(Incoming.front());
            ++DeliveredThisTick;
            Incoming.pop_front();
        }
        return FT_OK;
    }
    FtStatus Write(FtHandle h, const void *buffer, std::uint32_t n, std::uint32_t *written) override
    {
        FUZZ_REQUIRE(Check(h) == FT_OK && pause_.Pending == 1);
        pause_.Pending = 0;
        const auto *bytes = static_cast<const std::uint8_t *>(buffer);
        Written.emplace_back(bytes, bytes + n);
        LastWriteFailed = Failing(kWrite);
        *written = LastWriteFailed ? 0 : n;
        return LastWriteFailed ? FT_IO_ERROR : FT_OK;
    }
    FtStatus Close(FtHandle h) override
    {
        const FtStatus status = Check(h);
        open_ = kNoHandle;
        return status;
    }

private:
    FtStatus Check(FtHandle h) const
    {
        return h != kNoHandle && h == open_ ? FT_OK : FT_INVALID_HANDLE;
    }
    bool Failing(TCall call)
    {
        if (FailNext != call)
            return false;
        FailNext = kNone;
        Failed.push_back(call);
        return true;
    }

    TPause &pause_;
    FtHandle open_ = kNoHandle;
    FtHandle last_ = kNoHandle;
};

// A received frame as the decoder's contract describes it: the bytes kept
// (the last one replaced past 64), and for a frame that passes the CRC check
// its fields.
struct TExpectedFrame {
    std::vector<std::uint8_t> Kept;
    std::int8_t Result = -1;
    std::uint8_t Address = 0;
    std::uint8_t Function = 0;
    std::vector<std::uint8_t> Data; // between the third byte and the CRC

    explicit TExpectedFrame(const std::vector<std::uint8_t> &bytes)
    {
        const std::size_t n = std::min(bytes.size(), kRxBufferSize);
        FUZZ_REQUIRE(n >= 1);
        Kept.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        Kept.back() = bytes.back();
        if (n < 5 || bytes.size() > kRxBufferSize || Crc16(Kept.data(), n) != 0)
            return;
        Result = n == 5 ? static_cast<std::int8_t>(Kept[2]) : 0;
        Address = Kept[0];
        Function = Kept[1];
        Data.assign(Kept.begin() + 3, Kept.end() - 2);
    }
    bool Good() const { return Result == 0; }
    // A read reply that stores a reading: from a sensor, with a register.
    bool Reading() const
    {
        return Good() && Function == kReadHoldingRegisters && Data.size() >= 2 &&
               IsSensorAddress(Address);
    }
    bool WriteEcho() const
    {
        return Good() && Function == kWriteSingleRegister && Data.size() >= kWriteEchoDataLength;
    }
};

// A parameter write the input asks for.
struct TWrite {
    std::uint8_t Address = 0;
    std::uint16_t Register = 0;
    std::uint16_t Value = 0;
};

// The session, driven as the window drives it, with every event checked.
class TCheckedSession {
public:
    enum class TOp { Connect, Tick, TimedOut, Poll, Write };

    TCheckedSession(TAdapter &adapter, TPause &pause, TLogFields fields, bool polling,
                    int sensorCountIndex, QString coeff)
        : adapter_(adapter), pause_(pause), session_(adapter, pause), fields_(fields),
          coeff_(std::move(coeff))
    {
        FUZZ_REQUIRE(session_.ListAdapters() == std::vector<std::string>{"QVR"});
        SetSensorCount(sensorCountIndex);
        Call(TOp::Connect, [&] { session_.ConnectButton(controls_, sink_); });
        FUZZ_REQUIRE(session_.LinkUp() && events_.back().Link == TLinkChange::Up);
        controls_.Polling = polling;
    }

    void ConnectButton()
    {
        Call(TOp::Connect, [&] { session_.ConnectButton(controls_, sink_); });
    }
    void ChooseAdapter(bool none)
    {
        Call(TOp::Connect, [&] {
            session_.ChooseAdapter(none ? std::nullopt : std::optional<std::string>("QVR"),
                                   controls_, sink_);
        });
    }
    void PollNextSensor()
    {
        Call(TOp::Poll, [&] { session_.PollNextSensor(controls_, sink_); });
    }
    // The time-out fires only while its timer runs.
    void TimeoutTimer()
    {
        if (timeoutTimer_)
            Call(TOp::TimedOut, [&] { session_.TimedOut(controls_, sink_); });
    }
    void WriteParameter(const TWrite &write)
    {
        write_ = write;
        Call(TOp::Write,
             [&] { session_.WriteParameter(write.Address, write.Register, write.Value, sink_); });
        write_.reset();
    }
    void SetPolling(bool on) { controls_.Polling = on; }
    bool LinkUp() const { return session_.LinkUp(); }

    void SetSensorCount(int index)
    {
        const TMeasurementModel before = session_.Measurement();
        controls_.SensorCountIndex = index;
        session_.ResetReadings(index + 1);
        const TMeasurementModel &model = session_.Measurement();
        for (int i = 0; i < kSensorCount; ++i)
            FUZZ_REQUIRE(model.SensorReading()[i] == (i <= index ? 0 : kNoReading));
        // The cycle resumes where it stopped.
        FUZZ_REQUIRE(model.NextAddress() == before.NextAddress() &&
                     model.PolledIndex() == before.PolledIndex() &&
                     model.RequestOutstanding() == before.RequestOutstanding() &&
                     model.Round() == before.Round());
    }

    void Tick()
    {
        // A frame ends on the second tick in a row that finds the line silent
        // with the link up.
        const bool pending = !adapter_.Delivered.empty();
        adapter_.DeliveredThisTick = 0;
        // Whether fetching the bytes took the link down (a write that fails
        // later, for the request a reply lets go out, does not count).
        bool fetchFailed = false;
        Call(TOp::Tick, [&] {
            session_.ReceiveTick(controls_, sink_);
            for (const TAdapter::TCall call : adapter_.Failed)
                fetchFailed =
                    fetchFailed || call == TAdapter::kGetStatus || call == TAdapter::kRead;
        });
        ++ticks_;
        bool due = false;
        if (adapter_.DeliveredThisTick > 0)
            silentTicks_ = 0;
        else if (upBefore_ && !fetchFailed && pending)
            due = ++silentTicks_ == 2;
        FUZZ_REQUIRE(frame_.has_value() == due);
        if (!upBefore_)
            FUZZ_REQUIRE(events_.empty() && adapter_.DeliveredThisTick == 0);
        if (due)
            silentTicks_ = 0;
    }

    // The log line of the readings as they stand.
    void LogLine()
    {
        const QDateTime now(QDate(2011, 5, 12), QTime(0, 0).addMSecs(ticks_ * 20 % 86400000));
        const TReadings &readings = session_.Measurement().SensorReading();
        const QByteArray line =
            BuildLogLine(fields_, now, controls_.SensorCountIndex, readings, coeff_);
        CheckLogLine(line, fields_, controls_.SensorCountIndex, readings, coeff_);
    }

private:
    template <class F> void Call(TOp op, F &&call)
    {
        op_ = op;
        before_ = session_.Measurement();
        upBefore_ = session_.LinkUp();
        events_.clear();
        frame_.reset();
        call();
        CheckCall();
    }

    std::size_t Count(Kind what) const
    {
        return static_cast<std::size_t>(
            std::count_if(events_.begin(), events_.end(),
                          [&](const TSessionEvent &e) { return e.What == what; }));
    }
    std::size_t Count(TLinkChange change) const
    {
        return static_cast<std::size_t>(
            std::count_if(events_.begin(), events_.end(), [&](const TSessionEvent &e) {
                return e.What == Kind::Link && e.Link == change;
            }));
    }
    bool Previous(Kind what) const { return !events_.empty() && events_.back().What == what; }

    // Checks that need the moment of the event.
    void Event(const TSessionEvent &e)
    {
        const TMeasurementModel &model = session_.Measurement();
        switch (e.What) {
        case Kind::Link:
            LinkEvent(e.Link);
            break;
        case Kind::FrameSent:
            Sent(e);
            break;
        case Kind::FrameReceived:
            Received(e);
            break;
        case Kind::FrameError:
            FUZZ_REQUIRE(Previous(Kind::FrameReceived) && !frame_->Good() &&
                         e.Result == frame_->Result);
            break;
        case Kind::WriteConfirmed:
            FUZZ_REQUIRE(Previous(Kind::FrameReceived) && frame_->WriteEcho() &&
                         e.Register == frame_->Data[0]);
            break;
        case Kind::Reading: {
            FUZZ_REQUIRE(frame_ && frame_->Reading());
            FUZZ_REQUIRE(e.Sensor >= 0 && e.Sensor < kSensorCount &&
                         e.Sensor == frame_->Address - kFirstAddress);
            FUZZ_REQUIRE(e.Raw ==
                         static_cast<std::uint32_t>(frame_->Data[0] << 8 | frame_->Data[1]));
            FUZZ_REQUIRE(model.SensorReading()[e.Sensor] == e.Raw);
            FUZZ_REQUIRE(e.X == before_.Round() && e.X == model.Round());
            // The reply to the request outstanding stops its time-out first.
            FUZZ_REQUIRE(Previous(Kind::TimeoutStop) == Answers());
            CheckTexts(e.Raw);
            break;
        }
        case Kind::TimeoutStart:
            // A read request: it follows, to the sensor the model polls.
            FUZZ_REQUIRE(session_.LinkUp() && controls_.Polling && model.RequestOutstanding());
            FUZZ_REQUIRE(!readPending_ && pause_.Pending == 0);
            if (op_ == TOp::Tick)
                FUZZ_REQUIRE(Previous(Kind::Reading)); // after the reply that ended the last
            readPending_ = true;
            timeoutTimer_ = true; // not restarted when running
            break;
        case Kind::TimeoutStop:
            FUZZ_REQUIRE(timeoutTimer_);
            timeoutTimer_ = false;
            break;
        case Kind::ReconnectStart:
        case Kind::ReconnectStop:
            FUZZ_REQUIRE(false); // reconnecting by itself is off here
            break;
        }
        events_.push_back(e);
    }

    void LinkEvent(TLinkChange change)
    {
        switch (change) {
        case TLinkChange::Connecting:
            FUZZ_REQUIRE(!session_.LinkUp() && !linkUp_);
            tickTimer_ = true;
            break;
        case TLinkChange::Disconnecting:
        case TLinkChange::Switching:
            FUZZ_REQUIRE(session_.LinkUp() && linkUp_ && op_ == TOp::Connect);
            break;
        case TLinkChange::NoAdapters:
        case TLinkChange::DetailFailed:
        case TLinkChange::OpenFailed:
            FUZZ_REQUIRE(!linkUp_ && op_ == TOp::Connect);
            break;
        case TLinkChange::Up:
            FUZZ_REQUIRE(!linkUp_ && session_.LinkUp() && op_ == TOp::Connect);
            linkUp_ = tickTimer_ = true;
            break;
        case TLinkChange::Closed:
            FUZZ_REQUIRE(Previous(Kind::Link) &&
                         (events_.back().Link == TLinkChange::Disconnecting ||
                          events_.back().Link == TLinkChange::Switching));
            [[fallthrough]];
        case TLinkChange::Lost:
            FUZZ_REQUIRE(linkUp_ && !session_.LinkUp());
            linkUp_ = tickTimer_ = false;
            break;
        }
    }

    // A request: valid, with a good CRC, written exactly when the link was up.
    void Sent(const TSessionEvent &e)
    {
        FUZZ_REQUIRE(e.Length == kMaxRequestSize && Crc16(e.Bytes.data(), e.Length) == 0);
        auto fields = [&](std::uint8_t address, std::uint8_t function, std::uint16_t w1,
                          std::uint16_t w2) {
            const std::uint8_t expected[] = {address,
                                             function,
                                             static_cast<std::uint8_t>(w1 >> 8),
                                             static_cast<std::uint8_t>(w1 & 0xFF),
                                             static_cast<std::uint8_t>(w2 >> 8),
                                             static_cast<std::uint8_t>(w2 & 0xFF)};
            return std::equal(std::begin(expected), std::end(expected), e.Bytes.begin());
        };
        const bool read = readPending_;
        if (read) {
            const int polled = session_.Measurement().PolledIndex();
            FUZZ_REQUIRE(fields(static_cast<std::uint8_t>(kFirstAddress + polled),
                                kReadHoldingRegisters, 0, 1));
            readPending_ = false;
        } else {
            FUZZ_REQUIRE(write_ && fields(write_->Address, kWriteSingleRegister, write_->Register,
                                          write_->Value));
        }
        if (adapter_.Written.empty()) {
            // Logged only: the link was down, nothing reached the adapter.
            FUZZ_REQUIRE(!read && !session_.LinkUp() && pause_.Pending == 0);
            return;
        }
        FUZZ_REQUIRE(
            adapter_.Written.size() == 1 && adapter_.Written[0].size() == e.Length &&
            std::equal(adapter_.Written[0].begin(), adapter_.Written[0].end(), e.Bytes.begin()));
        FUZZ_REQUIRE(session_.LinkUp() == !adapter_.LastWriteFailed);
        adapter_.Written.clear();
    }

    // The bytes as received since the last frame, the last one replaced past 64.
    void Received(const TSessionEvent &e)
    {
        FUZZ_REQUIRE(op_ == TOp::Tick && events_.empty() && !frame_);
        frame_.emplace(adapter_.Delivered);
        adapter_.Delivered.clear();
        FUZZ_REQUIRE(e.Length == frame_->Kept.size() &&
                     std::equal(frame_->Kept.begin(), frame_->Kept.end(), e.Bytes.begin()));
        FUZZ_REQUIRE(HexLine("RX: ", e.Bytes.data(), e.Length).size() == 4 + 3 * e.Length);
    }

    // Whether this call's frame answers the request outstanding before it.
    bool Answers() const
    {
        return frame_ && frame_->Reading() && before_.RequestOutstanding() &&
               frame_->Address - kFirstAddress == before_.PolledIndex();
    }

    void CheckTexts(std::uint32_t raw)
    {
        FUZZ_REQUIRE(!PercentText(raw).isEmpty() && !ScaledText(raw, coeff_).isEmpty());
        const QString grid = GridText(raw, coeff_);
        FUZZ_REQUIRE(grid.startsWith(QStringLiteral("[%1] [").arg(raw)) &&
                     grid.contains(QStringLiteral(" %] [")) && grid.endsWith(u']'));
        const TMeasurementModel &model = session_.Measurement();
        for (const std::uint32_t entry : model.SensorReading()) {
            const int gauge = GaugeValue(entry);
            FUZZ_REQUIRE(gauge >= 0);
            if (entry == kNoReading)
                FUZZ_REQUIRE(gauge == 0);
            else if (entry <= kFullScale)
                FUZZ_REQUIRE(gauge <= 100);
        }
        if (const std::optional<TAxisRange> axis = model.BottomAxis(controls_.SensorCountIndex + 1))
            FUZZ_REQUIRE(axis->Lower >= 0 && axis->Upper - axis->Lower == kChartWindow);
    }

    // What a whole call left: the events it had to give, the link and the
    // timers as the window keeps them, and the model.
    void CheckCall()
    {
        const TMeasurementModel &model = session_.Measurement();
        FUZZ_REQUIRE(linkUp_ == session_.LinkUp() && (tickTimer_ || !linkUp_));
        FUZZ_REQUIRE(timeoutTimer_ == model.RequestOutstanding());
        FUZZ_REQUIRE(!readPending_ && pause_.Pending == 0 && adapter_.Written.empty());
        FUZZ_REQUIRE(IsSensorAddress(model.NextAddress()) && model.PolledIndex() < kSensorCount);
        FUZZ_REQUIRE(model.Round() >= before_.Round());

        // Each failure the adapter gave is reported, and nothing else.
        std::size_t lost = 0, count = 0, detail = 0, open = 0;
        for (const TAdapter::TCall call : adapter_.Failed) {
            if (call <= TAdapter::kWrite)
                ++lost;
            else if (call == TAdapter::kCount)
                ++count;
            else if (call == TAdapter::kDetail)
                ++detail;
            else
                ++open;
        }
        adapter_.Failed.clear();
        FUZZ_REQUIRE(Count(TLinkChange::Lost) == lost && Count(TLinkChange::NoAdapters) == count &&
                     Count(TLinkChange::DetailFailed) == detail &&
                     Count(TLinkChange::OpenFailed) == open);

        // A frame gives what it is: an error, a write confirmation or a reading.
        FUZZ_REQUIRE(Count(Kind::FrameReceived) == (frame_ ? 1u : 0u));
        FUZZ_REQUIRE(Count(Kind::FrameError) == (frame_ && !frame_->Good() ? 1u : 0u));
        FUZZ_REQUIRE(Count(Kind::WriteConfirmed) == (frame_ && frame_->WriteEcho() ? 1u : 0u));
        FUZZ_REQUIRE(Count(Kind::Reading) == (frame_ && frame_->Reading() ? 1u : 0u));

        // Readings change only as reported, and by the time-out.
        TReadings expected = before_.SensorReading();
        for (const TSessionEvent &e : events_)
            if (e.What == Kind::Reading)
                expected[e.Sensor] = e.Raw;
        if (op_ == TOp::TimedOut)
            expected[before_.PolledIndex()] = kNoReading;
        FUZZ_REQUIRE(model.SensorReading() == expected);

        // At most one read request a call, to the address the model named
        // next; the cycle moves on by itself only once the request before
        // has ended (a reply to it or its time-out).
        const std::size_t reads = Count(Kind::TimeoutStart);
        FUZZ_REQUIRE(reads <= 1);
        const bool ended = op_ == TOp::TimedOut || Answers();
        FUZZ_REQUIRE(Count(Kind::TimeoutStop) == (ended ? 1u : 0u));
        if (op_ == TOp::TimedOut)
            FUZZ_REQUIRE(events_.front().What == Kind::TimeoutStop);
        bool due = false;
        switch (op_) {
        case TOp::Connect:
            due = Count(TLinkChange::Up) == 1;
            break;
        case TOp::Tick:
            due = Answers();
            break;
        case TOp::TimedOut:
        case TOp::Poll:
            due = upBefore_;
            break;
        case TOp::Write:
            break;
        }
        FUZZ_REQUIRE(reads == (due && controls_.Polling ? 1u : 0u));
        if (reads == 0) {
            FUZZ_REQUIRE(model.NextAddress() == before_.NextAddress() &&
                         model.PolledIndex() == before_.PolledIndex() &&
                         model.RequestOutstanding() == (!ended && before_.RequestOutstanding()));
        } else {
            FUZZ_REQUIRE(model.PolledIndex() == before_.NextAddress() - kFirstAddress &&
                         model.NextAddress() ==
                             NextPollAddress(before_.NextAddress(), controls_.SensorCountIndex));
        }
    }

    TAdapter &adapter_;
    TPause &pause_;
    TBusSession session_;
    const TEventSink sink_ = [this](const TSessionEvent &e) { Event(e); };
    TCycleControls controls_;
    TLogFields fields_;
    QString coeff_;
    // Kept by the events, as the window keeps them.
    bool linkUp_ = false;
    bool tickTimer_ = false;
    bool timeoutTimer_ = false;
    int silentTicks_ = 0;
    int ticks_ = 0;
    // The call being made.
    TOp op_ = TOp::Connect;
    TMeasurementModel before_;
    bool upBefore_ = false;
    TSessionEvents events_;
    std::optional<TExpectedFrame> frame_;
    bool readPending_ = false;
    std::optional<TWrite> write_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const std::uint16_t registers[] = {kRegisterOnOff, kRegisterOnMin, kRegisterOnMax,
                                              kRegisterMode};
    TInput in(data, size);
    PickRegionalLocale(in.Byte());
    const std::uint8_t bits = in.Byte();
    const TLogFields fields = LogFieldsFrom(bits);
    const int sensorCountIndex = in.Byte() % 17 - 1;
    const QString coeff = QString::fromLatin1(in.Take(in.Byte() % 12));

    TPause pause;
    TAdapter adapter(pause);
    TCheckedSession session(adapter, pause, fields, (bits & 32) != 0, sensorCountIndex, coeff);
    while (!in.Empty()) {
        const std::uint8_t op = in.Byte();
        const int n = op & 0x1F;
        switch (op >> 5) {
        case 0: {
            const QByteArray bytes = in.Take(static_cast<std::size_t>(n) + 1);
            adapter.Incoming.insert(adapter.Incoming.end(), bytes.begin(), bytes.end());
            break;
        }
        case 1: {
            std::vector<std::uint8_t> frame{in.Byte(), in.Byte()};
            const QByteArray body = in.Take(static_cast<std::size_t>(n));
            frame.insert(frame.end(), body.begin(), body.end());
            const std::uint16_t crc = Crc16(frame.data(), frame.size());
            frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
            frame.push_back(static_cast<std::uint8_t>(crc >> 8));
            adapter.Incoming.insert(adapter.Incoming.end(), frame.begin(), frame.end());
            break;
        }
        case 2:
            for (int i = 0; i <= n % 4; ++i)
                session.Tick();
            break;
        case 3:
            session.PollNextSensor();
            break;
        case 4:
            session.TimeoutTimer();
            break;
        case 5:
            adapter.FailNext = static_cast<TAdapter::TCall>(n < 24 ? TAdapter::kGetStatus + n % 3
                                                                   : TAdapter::kCount + n % 4);
            break;
        case 6:
            if ((n & 1) != 0 || !session.LinkUp())
                session.ConnectButton();
            else
                session.ChooseAdapter((n & 2) != 0);
            break;
        default:
            if (n < 17) {
                session.SetSensorCount(n - 1);
            } else if (n < 24) {
                session.SetPolling((n & 1) != 0);
            } else {
                TWrite write;
                write.Register = registers[n % 4];
                write.Address = in.Byte();
                write.Value = static_cast<std::uint16_t>(in.Number(2));
                session.WriteParameter(write);
            }
            break;
        }
    }
    session.LogLine();
    return 0;
}
