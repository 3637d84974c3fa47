// The receive path as the window drives it: bytes arrive over receive ticks
// through CFtdi into the receiver, which frames them by silence; each frame
// is decoded, good read replies go to the measurement model, which is also
// polled and timed out; the value texts are built from each reading and the
// log line from the readings the input leaves (any state the readings pass
// through is also the end of a shorter input).
//
// Input: locale, bits (log fields 0..4, polling on 5), sensor count index
// (byte % 17 - 1), coefficient length (byte % 12) and text, then operations:
// a byte whose top three bits name it and whose low five bits are its n.
//   0 n+1 bytes arrive        1 a frame with a good CRC arrives: address,
//   2 n % 4 + 1 receive ticks   function and n data bytes follow
//   3 the next read request   4 the reply time-out, then the next request
//   5 the next status call, read or write (n % 3) fails
//   6 connect, or disconnect when n is odd and the link is up
//   7 n < 17: another sensor count (n - 1), else polling switched
#include "fuzz_common.h"
#include "link/cftdi.h"
#include "link/codec.h"
#include "link/receiver.h"
#include "measure/parameters.h"

#include <deque>
#include <vector>

using namespace qvr;
using namespace qvr::fuzz;

namespace {

// One adapter. Bytes queued by the input are read one by one; a purge drops
// them; one call can be made to fail, which takes the link down.
class TAdapter : public ID2xx {
public:
    std::deque<std::uint8_t> Incoming;
    // Bytes handed to the receiver since its last frame.
    std::vector<std::uint8_t> Delivered;
    std::size_t DeliveredThisTick = 0;
    enum TCall { kNone, kGetStatus, kRead, kWrite } FailNext = kNone;

    FtStatus ListDevices(std::vector<std::string> &descriptions, std::uint32_t *count,
                         std::uint32_t) override
    {
        descriptions = {"QVR"};
        *count = 1;
        return FT_OK;
    }
    FtStatus CreateDeviceInfoList(std::uint32_t *count) override
    {
        *count = 1;
        return FT_OK;
    }
    FtStatus GetDeviceInfoDetail(std::uint32_t, DeviceDetails &details, FtHandle *handle) override
    {
        details.Description = "QVR";
        *handle = kNoHandle;
        return FT_OK;
    }
    FtStatus OpenEx(const std::string &, std::uint32_t, FtHandle *handle) override
    {
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
        return Check(h);
    }
    FtStatus Purge(FtHandle h, std::uint32_t) override
    {
        Incoming.clear();
        return Check(h);
    }
    FtStatus GetStatus(FtHandle h, std::uint32_t *rx, std::uint32_t *tx,
                       std::uint32_t *events) override
    {
        *rx = static_cast<std::uint32_t>(Incoming.size());
        *tx = *events = 0;
        return Failing(kGetStatus) ? FT_IO_ERROR : Check(h);
    }
    FtStatus Read(FtHandle h, void *buffer, std::uint32_t n, std::uint32_t *read) override
    {
        *read = 0;
        if (Failing(kRead) || Check(h) != FT_OK)
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
    FtStatus Write(FtHandle h, const void *, std::uint32_t n, std::uint32_t *written) override
    {
        *written = 0;
        if (Failing(kWrite) || Check(h) != FT_OK)
            return FT_IO_ERROR;
        *written = n;
        return FT_OK;
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
        return true;
    }

    FtHandle open_ = kNoHandle;
    FtHandle last_ = kNoHandle;
};

class TQuietView : public ILinkView {
public:
    void SetPanelText(int, const QString &) override {}
    void SetConnectCaption(const QString &) override {}
    void LinkUp() override {}
    void LinkDown() override {}
};

// The window's part: what it sends, and what it does with a frame.
class TWindow {
public:
    TWindow(TAdapter &adapter, TLogFields fields, bool polling, int sensorCountIndex, QString coeff)
        : adapter_(adapter), link_(adapter, view_), fields_(fields), polling_(polling),
          sensorCountIndex_(sensorCountIndex), coeff_(std::move(coeff))
    {
        link_.Open();
        FUZZ_REQUIRE(link_.IsOpen());
    }

    void Connect(bool close)
    {
        if (close && link_.IsOpen())
            link_.Close();
        else
            link_.Open();
    }
    void SetPolling(bool on) { polling_ = on; }
    void SetSensorCount(int index)
    {
        sensorCountIndex_ = index;
        model_.ResetReadings(index + 1);
        for (int i = 0; i < kSensorCount; ++i)
            FUZZ_REQUIRE(model_.SensorReading()[i] == (i <= index ? 0 : NoReading));
    }

    void PollNextSensor()
    {
        const std::optional<std::uint8_t> address =
            model_.PollNextSensor(link_.IsOpen(), polling_, sensorCountIndex_);
        FUZZ_REQUIRE(IsSensorAddress(model_.NextAddress()));
        if (!address)
            return;
        FUZZ_REQUIRE(IsSensorAddress(*address) && model_.PolledIndex() == *address - kFirstAddress);
        std::uint8_t request[kMaxRequestSize];
        const std::size_t length = BuildRequest(request, *address, kReadHoldingRegisters, 0, 1, 0);
        FUZZ_REQUIRE(length == kMaxRequestSize && Crc16(request, length) == 0);
        link_.Write(request, static_cast<std::uint32_t>(length));
    }

    void TimedOut()
    {
        if (!model_.RequestOutstanding())
            return; // the time-out runs only while a request waits
        const TReadings before = model_.SensorReading();
        const int polled = model_.PolledIndex();
        model_.TimedOut();
        FUZZ_REQUIRE(!model_.RequestOutstanding());
        for (int i = 0; i < kSensorCount; ++i)
            FUZZ_REQUIRE(model_.SensorReading()[i] == (i == polled ? NoReading : before[i]));
        PollNextSensor();
    }

    void Tick()
    {
        const bool upBefore = link_.IsOpen();
        adapter_.DeliveredThisTick = 0;
        const std::optional<TDecodedFrame> frame = receiver_.Tick(link_);
        ++ticks_;
        // A frame ends on the second tick in a row that finds the line silent
        // with the link up.
        bool due = false;
        if (adapter_.DeliveredThisTick > 0)
            silentTicks_ = 0;
        else if (upBefore && link_.IsOpen() && !adapter_.Delivered.empty())
            due = ++silentTicks_ == 2;
        FUZZ_REQUIRE(frame.has_value() == due);
        if (!frame)
            return;
        CheckFrame(*frame, adapter_.Delivered);
        adapter_.Delivered.clear();
        silentTicks_ = 0;
        ProcessFrame(*frame);
    }

    // The log line of the readings as they stand.
    void LogLine()
    {
        const QDateTime now(QDate(2011, 5, 12), QTime(0, 0).addMSecs(ticks_ * 20 % 86400000));
        const QByteArray line =
            BuildLogLine(fields_, now, sensorCountIndex_, model_.SensorReading(), coeff_);
        CheckLogLine(line, fields_, sensorCountIndex_, model_.SensorReading(), coeff_);
    }

private:
    static void CheckFrame(const TDecodedFrame &frame, const std::vector<std::uint8_t> &bytes)
    {
        // The bytes as received, the last one replaced past 64.
        const std::size_t n = std::min(bytes.size(), kRxBufferSize);
        FUZZ_REQUIRE(n >= 1 && frame.FrameLength == n);
        for (std::size_t i = 0; i + 1 < n; ++i)
            FUZZ_REQUIRE(frame.Bytes[i] == bytes[i]);
        FUZZ_REQUIRE(frame.Bytes[n - 1] == bytes.back());

        const bool crcGood = n >= 5 && Crc16(bytes.data(), n) == 0;
        if (!crcGood || bytes.size() > kRxBufferSize) {
            FUZZ_REQUIRE(frame.Result == -1);
            return;
        }
        if (n > 5)
            FUZZ_REQUIRE(frame.Good());
        FUZZ_REQUIRE(frame.RxAddress == bytes[0] && frame.RxFunction == bytes[1] &&
                     frame.RxByteCount == bytes[2] && frame.DataLength == n - 5);
        for (std::size_t i = 0; i < frame.DataLength; ++i)
            FUZZ_REQUIRE(frame.RxData[i] == bytes[3 + i]);
    }

    void ProcessFrame(const TDecodedFrame &frame)
    {
        FUZZ_REQUIRE(HexLine("RX: ", frame.Bytes.data(), frame.FrameLength).size() ==
                     4 + 3 * frame.FrameLength);
        if (!frame.Good())
            return;
        if (frame.RxFunction == kReadHoldingRegisters)
            ReadReply(frame);
    }

    void ReadReply(const TDecodedFrame &frame)
    {
        const TReadings before = model_.SensorReading();
        const bool outstanding = model_.RequestOutstanding();
        const int polled = model_.PolledIndex();
        const std::optional<TReadOutcome> reading =
            model_.ReadReply(frame.RxAddress, frame.RxData.data(), frame.DataLength);
        FUZZ_REQUIRE(reading.has_value() == (frame.DataLength >= 2));
        if (!reading) {
            FUZZ_REQUIRE(model_.SensorReading() == before);
            return;
        }
        FUZZ_REQUIRE(reading->Raw ==
                     static_cast<std::uint32_t>(frame.RxData[0] << 8 | frame.RxData[1]));
        // Only the entry of a sensor address changes.
        const int index = IsSensorAddress(frame.RxAddress) ? frame.RxAddress - kFirstAddress : -1;
        FUZZ_REQUIRE(reading->Index == index);
        for (int i = 0; i < kSensorCount; ++i)
            FUZZ_REQUIRE(model_.SensorReading()[i] == (i == index ? reading->Raw : before[i]));
        FUZZ_REQUIRE(reading->AnswersRequest == (outstanding && index == polled));
        if (index >= 0)
            CheckTexts(reading->Raw);
        if (reading->AnswersRequest)
            PollNextSensor();
    }

    void CheckTexts(std::uint32_t raw)
    {
        FUZZ_REQUIRE(!PercentText(raw).isEmpty() && !ScaledText(raw, coeff_).isEmpty());
        const QString grid = GridText(raw, coeff_);
        FUZZ_REQUIRE(grid.startsWith(QStringLiteral("[%1] [").arg(raw)) &&
                     grid.contains(QStringLiteral(" %] [")) && grid.endsWith(u']'));
        for (const std::uint32_t entry : model_.SensorReading()) {
            const int gauge = GaugeValue(entry);
            FUZZ_REQUIRE(gauge >= 0);
            if (entry == NoReading)
                FUZZ_REQUIRE(gauge == 0);
            else if (entry <= kFullScale)
                FUZZ_REQUIRE(gauge <= 100);
        }
        if (const std::optional<TAxisRange> axis = model_.BottomAxis(sensorCountIndex_ + 1))
            FUZZ_REQUIRE(axis->Lower >= 0 && axis->Upper - axis->Lower == kChartWindow);
    }

    TAdapter &adapter_;
    TQuietView view_;
    CFtdi link_;
    TReceiver receiver_;
    TMeasurementModel model_;
    TLogFields fields_;
    bool polling_;
    int sensorCountIndex_;
    QString coeff_;
    int silentTicks_ = 0;
    int ticks_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    TInput in(data, size);
    PickRegionalLocale(in.Byte());
    const std::uint8_t bits = in.Byte();
    const TLogFields fields = LogFieldsFrom(bits);
    const int sensorCountIndex = in.Byte() % 17 - 1;
    const QString coeff = QString::fromLatin1(in.Take(in.Byte() % 12));

    TAdapter adapter;
    TWindow window(adapter, fields, (bits & 32) != 0, sensorCountIndex, coeff);
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
                window.Tick();
            break;
        case 3:
            window.PollNextSensor();
            break;
        case 4:
            window.TimedOut();
            break;
        case 5:
            adapter.FailNext = static_cast<TAdapter::TCall>(TAdapter::kGetStatus + n % 3);
            break;
        case 6:
            window.Connect((n & 1) != 0);
            break;
        default:
            if (n < 17)
                window.SetSensorCount(n - 1);
            else
                window.SetPolling((n & 1) != 0);
            break;
        }
    }
    window.LogLine();
    return 0;
}
