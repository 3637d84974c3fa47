// The simulated sensor bus on a hand-driven clock: listing and handles, wire
// timing, the sensors' register map, and every fault.
#include "sim/simbus.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <set>
#include <tuple>

using namespace qvr;

namespace {
const char *CallText(TSimulatedBus::Call call)
{
    static const char *const kNames[] = {"ListDevices",
                                         "CreateDeviceInfoList",
                                         "GetDeviceInfoDetail",
                                         "OpenEx",
                                         "SetBaudRate",
                                         "SetDataCharacteristics",
                                         "SetFlowControl",
                                         "Purge",
                                         "GetStatus",
                                         "Read",
                                         "Write",
                                         "Close"};
    return kNames[static_cast<int>(call)];
}
} // namespace

namespace qvr {
// Parameter text in test listings.
void PrintTo(TSimulatedBus::Call call, std::ostream *os)
{
    *os << CallText(call);
}
} // namespace qvr

namespace {

using Bytes = std::vector<std::uint8_t>;
using Fault = TSimulatedBus::Fault;
using Call = TSimulatedBus::Call;

const char *const kSimDescription = "QVR-1 simulated sensor bus";
// 10 bits a byte at 57600 baud.
constexpr double kByteUs = 10.0 * 1e6 / 57600.0;

// Bitwise Modbus CRC-16, kept apart from the codec's table-driven one.
std::uint16_t RefCrc(const std::uint8_t *data, std::size_t n)
{
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

Bytes WithCrc(Bytes frame)
{
    const std::uint16_t crc = RefCrc(frame.data(), frame.size());
    frame.push_back(crc & 0xFF);
    frame.push_back(crc >> 8);
    return frame;
}

bool CrcOk(const Bytes &f)
{
    return f.size() >= 4 && WithCrc(Bytes(f.begin(), f.end() - 2)) == f;
}

Bytes Request(std::uint8_t address, std::uint8_t function, std::uint16_t w1, std::uint16_t w2)
{
    return WithCrc({address, function, std::uint8_t(w1 >> 8), std::uint8_t(w1 & 0xFF),
                    std::uint8_t(w2 >> 8), std::uint8_t(w2 & 0xFF)});
}

Bytes Poll(std::uint8_t address)
{
    return Request(address, 3, 0, 1);
}

TEST(SimBusReference, TestCrcMatchesPublishedCheckValues)
{
    EXPECT_EQ(Poll(50), (Bytes{0x32, 0x03, 0x00, 0x00, 0x00, 0x01, 0x81, 0xC9}));
    EXPECT_EQ(Poll(1), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
}

class SimBus : public ::testing::Test {
protected:
    std::int64_t now = 5'000'000;
    TSimulatedBus bus{[this] { return now; }, 7};
    FtHandle h = kNoHandle;

    void SetUp() override
    {
        ASSERT_EQ(bus.OpenEx(kSimDescription, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
        bus.SetSpikeRate(0);
    }
    void Send(const Bytes &frame)
    {
        std::uint32_t written = 0;
        ASSERT_EQ(bus.Write(h, frame.data(), std::uint32_t(frame.size()), &written), FT_OK);
        ASSERT_EQ(written, frame.size());
    }
    std::uint32_t Visible()
    {
        std::uint32_t rx = 99, tx = 99, ev = 99;
        EXPECT_EQ(bus.GetStatus(h, &rx, &tx, &ev), FT_OK);
        return rx;
    }
    Bytes ReadAll()
    {
        Bytes out(Visible());
        std::uint32_t got = 0;
        EXPECT_EQ(bus.Read(h, out.data(), std::uint32_t(out.size()), &got), FT_OK);
        out.resize(got);
        return out;
    }
    Bytes Exchange(const Bytes &request, std::int64_t waitUs = 300'000)
    {
        Send(request);
        now += waitUs;
        return ReadAll();
    }
    // Receives as the program does: a tick every 20 ms fetches what waits; the
    // second empty tick in a row ends the frame.
    std::vector<Bytes> TickFrames(std::int64_t firstTickUs, int ticks)
    {
        std::vector<Bytes> frames;
        Bytes frame;
        int silence = 0;
        now += firstTickUs;
        for (int i = 0; i < ticks; ++i, now += 20'000) {
            const Bytes got = ReadAll();
            if (!got.empty()) {
                frame.insert(frame.end(), got.begin(), got.end());
                silence = 2;
            } else if (silence > 0 && --silence == 0) {
                frames.push_back(frame);
                frame.clear();
            }
        }
        return frames;
    }
};

TEST(SimBusAdapter, ListsOneAdapterAndOpensOnlyByItsDescription)
{
    std::int64_t now = 0;
    TSimulatedBus bus([&] { return now; });
    std::vector<std::string> descriptions;
    std::uint32_t count = 0;
    ASSERT_EQ(bus.ListDevices(descriptions, &count, 6), FT_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(descriptions, std::vector<std::string>{kSimDescription});
    ASSERT_EQ(bus.CreateDeviceInfoList(&count), FT_OK);
    EXPECT_EQ(count, 1u);
    DeviceDetails details;
    FtHandle h = 77;
    ASSERT_EQ(bus.GetDeviceInfoDetail(0, details, &h), FT_OK);
    EXPECT_EQ(details.Description, kSimDescription);
    EXPECT_EQ(h, kNoHandle);
    EXPECT_NE(bus.GetDeviceInfoDetail(1, details, &h), FT_OK);

    for (const char *other : {"", "QVR-1 simulated", "USB Serial Converter"}) {
        h = 77;
        EXPECT_NE(bus.OpenEx(other, FT_OPEN_BY_DESCRIPTION, &h), FT_OK) << other;
        EXPECT_EQ(h, kNoHandle);
    }
    ASSERT_EQ(bus.OpenEx(kSimDescription, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
    EXPECT_NE(h, kNoHandle);
    FtHandle second = 77;
    EXPECT_NE(bus.OpenEx(kSimDescription, FT_OPEN_BY_DESCRIPTION, &second), FT_OK);
    EXPECT_EQ(second, kNoHandle);
    EXPECT_EQ(bus.Close(h), FT_OK);
    EXPECT_NE(bus.Close(h), FT_OK);

    // Another description: listed, and the only one it opens by.
    bus.SetDescription("Magistrala");
    ASSERT_EQ(bus.ListDevices(descriptions, &count, 6), FT_OK);
    EXPECT_EQ(descriptions, std::vector<std::string>{"Magistrala"});
    EXPECT_NE(bus.OpenEx(kSimDescription, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
    ASSERT_EQ(bus.OpenEx("Magistrala", FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
    EXPECT_EQ(bus.Close(h), FT_OK);
}

TEST_F(SimBus, CallsWithoutAValidHandleFailAndTouchNothing)
{
    const FtHandle stale = h;
    Send(Poll(50));
    now += 10'000;
    ASSERT_EQ(bus.Close(h), FT_OK);
    ASSERT_EQ(bus.OpenEx(kSimDescription, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
    ASSERT_NE(h, stale);
    EXPECT_EQ(Visible(), 0u); // closing dropped the reply
    ASSERT_EQ(bus.SetBaudRate(h, 57600), FT_OK);
    Send(Poll(50));
    now += 10'000; // its reply waits to be read
    bus.FailNextCall(Call::GetStatus, FT_OTHER_ERROR);

    const Bytes poll = Poll(51);
    for (FtHandle bad : {kNoHandle, stale}) {
        SCOPED_TRACE(bad);
        std::uint32_t rx = 99, tx = 99, ev = 99, n = 99;
        std::uint8_t byte = 0xEE;
        EXPECT_NE(bus.SetBaudRate(bad, 9600), FT_OK);
        EXPECT_NE(bus.SetDataCharacteristics(bad, 7, 2, 2), FT_OK);
        EXPECT_NE(bus.SetFlowControl(bad, 0x100, 0x11, 0x13), FT_OK);
        EXPECT_NE(bus.Purge(bad, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
        EXPECT_NE(bus.GetStatus(bad, &rx, &tx, &ev), FT_OK);
        EXPECT_NE(bus.Read(bad, &byte, 1, &n), FT_OK);
        EXPECT_NE(bus.Write(bad, poll.data(), std::uint32_t(poll.size()), &n), FT_OK);
        EXPECT_NE(bus.Close(bad), FT_OK);
        EXPECT_EQ(rx + tx + ev + n, 4 * 99u);
        EXPECT_EQ(byte, 0xEE);
    }
    EXPECT_EQ(bus.BaudRate(), 57600u);
    EXPECT_EQ(bus.WordLength(), FT_BITS_8);
    EXPECT_EQ(bus.FlowControl(), FT_FLOW_NONE);
    EXPECT_EQ(bus.LastPurgeMask(), 0u);
    EXPECT_EQ(bus.RequestsReceived(51), 0u);
    EXPECT_TRUE(bus.IsOpen());
    // The armed failure waited for a call with a valid handle; the reply is still there.
    std::uint32_t rx = 0, tx = 0, ev = 0;
    EXPECT_EQ(bus.GetStatus(h, &rx, &tx, &ev), FT_OTHER_ERROR);
    EXPECT_EQ(ReadAll().size(), 7u);
}

TEST_F(SimBus, LineConfigurationIsRecorded)
{
    EXPECT_EQ(bus.SetBaudRate(h, 57600), FT_OK);
    EXPECT_EQ(bus.SetDataCharacteristics(h, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE), FT_OK);
    EXPECT_EQ(bus.SetFlowControl(h, FT_FLOW_NONE, 0, 0), FT_OK);
    EXPECT_EQ(bus.Purge(h, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
    EXPECT_EQ(bus.BaudRate(), 57600u);
    EXPECT_EQ(bus.WordLength(), 8);
    EXPECT_EQ(bus.StopBits(), 0);
    EXPECT_EQ(bus.Parity(), 0);
    EXPECT_EQ(bus.FlowControl(), 0);
    EXPECT_EQ(bus.LastPurgeMask(), 3u);
}

TEST_F(SimBus, ReplyBecomesReadableByteByByteAfterWireTimeAndTurnaround)
{
    EXPECT_EQ(TSimulatedBus::WireTimeUs(1), 173);
    EXPECT_EQ(bus.TurnaroundUs(), 3000);
    const std::int64_t sent = now;
    Send(Poll(50));
    // The request's 8 bytes, the turnaround, then the reply's bytes one by one.
    const double first = 8 * kByteUs + 3000 + kByteUs;
    const double last = 8 * kByteUs + 3000 + 7 * kByteUs;
    const struct {
        double at;
        std::uint32_t visible;
    } points[] = {
        {first - 3, 0}, {first + 3, 1}, {first + kByteUs + 3, 2}, {last - 3, 6}, {last + 3, 7}};
    for (const auto &p : points) {
        now = sent + static_cast<std::int64_t>(p.at);
        EXPECT_EQ(Visible(), p.visible) << "at " << p.at << " us";
    }

    std::uint8_t buffer[16] = {};
    std::uint32_t got = 0;
    ASSERT_EQ(bus.Read(h, buffer, 3, &got), FT_OK);
    ASSERT_EQ(got, 3u);
    ASSERT_EQ(bus.Read(h, buffer + 3, 10, &got), FT_OK);
    ASSERT_EQ(got, 4u);
    EXPECT_EQ(Visible(), 0u);
    const Bytes reply(buffer, buffer + 7);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 3), (Bytes{0x32, 0x03, 0x02}));
    EXPECT_TRUE(CrcOk(reply));
    EXPECT_LE(reply[3] << 8 | reply[4], 1023);
}

TEST_F(SimBus, WritesToConfigurationRegistersAreStoredEchoedAndReadBack)
{
    const std::pair<std::uint16_t, std::uint16_t> writes[] = {
        {1, 512}, {2, 100}, {3, 700}, {10, 2}};
    for (const auto &[reg, value] : writes) {
        SCOPED_TRACE(reg);
        const Bytes request = Request(51, 6, reg, value);
        EXPECT_EQ(Exchange(request), request);
        EXPECT_EQ(bus.StoredRegister(51, reg), value);
        EXPECT_NE(bus.StoredRegister(52, reg), value);
        EXPECT_EQ(Exchange(Request(51, 3, reg, 1)),
                  WithCrc({51, 3, 2, std::uint8_t(value >> 8), std::uint8_t(value & 0xFF)}));
    }
    // Registers 0..3 read together: the reading and three parameters.
    const Bytes block = Exchange(Request(51, 3, 0, 4));
    ASSERT_EQ(block.size(), 13u);
    EXPECT_TRUE(CrcOk(block));
    EXPECT_EQ(Bytes(block.begin() + 5, block.end() - 2),
              (Bytes{0x02, 0x00, 0x00, 100, 0x02, 0xBC}));
}

TEST_F(SimBus, UnsupportedRequestsGetExceptionReplies)
{
    const struct {
        Bytes request;
        std::uint8_t function, code;
    } rows[] = {
        {Request(50, 6, 4, 1), 0x86, 0x02},
        {Request(50, 6, 0, 1), 0x86, 0x02},
        {Request(50, 3, 4, 1), 0x83, 0x02},
        {Request(50, 3, 3, 2), 0x83, 0x02},
        {Request(50, 3, 0, 0), 0x83, 0x03},
        {WithCrc({50, 0x60, 0x00, 0xFF, 0x00, 0x00}), 0xE0, 0x01},
        {Request(50, 4, 0, 1), 0x84, 0x01},
        {Request(50, 0x10, 1, 1), 0x90, 0x01},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.request));
        EXPECT_EQ(Exchange(row.request), WithCrc({50, row.function, row.code}));
    }
}

TEST_F(SimBus, NoAnswerToOtherAddressesBroadcastsOrCorruptFrames)
{
    Bytes badCrc = Poll(50), badData = Poll(50);
    badCrc[7] ^= 0x01;
    badData[3] ^= 0x01;
    const Bytes rows[] = {Poll(49),
                          Poll(66),
                          Poll(0),
                          Request(0, 6, 10, 1),
                          badCrc,
                          badData,
                          Bytes{0x32, 0x03, 0x00}};
    for (const Bytes &request : rows) {
        SCOPED_TRACE(::testing::PrintToString(request));
        EXPECT_TRUE(Exchange(request).empty());
    }
    EXPECT_EQ(bus.RequestsReceived(49), 1u);
    EXPECT_EQ(bus.RequestsReceived(66), 1u);
    EXPECT_EQ(bus.RequestsReceived(0), 2u);
    EXPECT_EQ(bus.RequestsReceived(50), 0u);
    EXPECT_EQ(bus.CorruptRequests(), 3u);
    EXPECT_EQ(bus.StoredRegister(50, 10), 0);
    EXPECT_EQ(bus.LastRequest(), (Bytes{0x32, 0x03, 0x00}));
}

TEST_F(SimBus, PersistentFaultStaysOnItsSensorUntilCleared)
{
    bus.SetSensorFault(52, Fault::Silence);
    for (int round = 0; round < 3; ++round) {
        EXPECT_TRUE(Exchange(Poll(52)).empty());
        EXPECT_EQ(Exchange(Poll(53)).size(), 7u);
    }
    bus.SetSensorFault(52, Fault::None);
    EXPECT_EQ(Exchange(Poll(52)).size(), 7u);
    EXPECT_EQ(bus.RequestsReceived(52), 4u);
    EXPECT_EQ(bus.RepliesSent(), 4u);
}

TEST_F(SimBus, InjectedFaultHitsOnlyTheNextRequestAndOverridesThePersistentOne)
{
    bus.InjectFault(Fault::Silence, 51);
    EXPECT_EQ(Exchange(Poll(50)).size(), 7u);
    EXPECT_TRUE(Exchange(Poll(51)).empty());
    EXPECT_EQ(Exchange(Poll(51)).size(), 7u);

    bus.SetSensorFault(53, Fault::Silence);
    bus.InjectFault(Fault::Exception); // any sensor
    EXPECT_EQ(Exchange(Poll(53)).size(), 5u);
    EXPECT_TRUE(Exchange(Poll(53)).empty());
    bus.ClearFaults();
    EXPECT_EQ(Exchange(Poll(53)).size(), 7u);
}

TEST_F(SimBus, CorruptCrcAndExceptionFaultsShapeTheReply)
{
    bus.InjectFault(Fault::BadCrc);
    const Bytes bad = Exchange(Poll(50));
    ASSERT_EQ(bad.size(), 7u);
    EXPECT_EQ(Bytes(bad.begin(), bad.begin() + 3), (Bytes{0x32, 0x03, 0x02}));
    EXPECT_FALSE(CrcOk(bad));

    bus.InjectFault(Fault::Exception);
    EXPECT_EQ(Exchange(Poll(50)), WithCrc({0x32, 0x83, 0x04}));
    bus.InjectFault(Fault::Exception);
    EXPECT_EQ(Exchange(Request(50, 6, 10, 1)), WithCrc({0x32, 0x86, 0x04}));
    bus.SetFaultExceptionCode(0);
    bus.InjectFault(Fault::Exception);
    EXPECT_EQ(Exchange(Poll(50)), WithCrc({0x32, 0x83, 0x00}));
}

TEST_F(SimBus, GarbageIsOneToTwentyBytesThatNeverPassAsAFrame)
{
    std::set<std::size_t> lengths;
    for (int i = 0; i < 300; ++i) {
        bus.InjectFault(Fault::Garbage, 50);
        const Bytes garbage = Exchange(Poll(50));
        ASSERT_GE(garbage.size(), 1u);
        ASSERT_LE(garbage.size(), 20u);
        if (garbage.size() >= 5) {
            EXPECT_FALSE(CrcOk(garbage)) << ::testing::PrintToString(garbage);
        }
        lengths.insert(garbage.size());
    }
    EXPECT_GT(lengths.size(), 15u);
}

TEST_F(SimBus, SplitReplyReachesTheProgramAsTwoFramesAtAnyTickPhase)
{
    for (std::int64_t phase = 0; phase < 20'000; phase += 1'250) {
        SCOPED_TRACE(phase);
        Send(Poll(50));
        const std::vector<Bytes> whole = TickFrames(phase, 20);
        ASSERT_EQ(whole.size(), 1u);
        EXPECT_EQ(whole[0].size(), 7u);
        EXPECT_TRUE(CrcOk(whole[0]));

        bus.InjectFault(Fault::Split, 50);
        Send(Poll(50));
        const std::vector<Bytes> parts = TickFrames(phase, 20);
        ASSERT_EQ(parts.size(), 2u);
        EXPECT_EQ(parts[0].size(), 3u);
        Bytes joined = parts[0];
        joined.insert(joined.end(), parts[1].begin(), parts[1].end());
        EXPECT_TRUE(CrcOk(joined));
    }
}

TEST_F(SimBus, LateReplyComesAfterTheTimeoutWithoutHoldingUpOthers)
{
    bus.InjectFault(Fault::Late, 50);
    const std::int64_t sent = now;
    Send(Poll(50));
    now = sent + 200'000;
    EXPECT_EQ(Visible(), 0u);
    Send(Poll(51)); // the program's next request after its time-out
    now = sent + 210'000;
    const Bytes other = ReadAll();
    ASSERT_EQ(other.size(), 7u);
    EXPECT_EQ(other[0], 51);
    now = sent + 249'000;
    EXPECT_EQ(Visible(), 0u);
    now = sent + 253'000;
    const Bytes late = ReadAll();
    ASSERT_EQ(late.size(), 7u);
    EXPECT_EQ(late[0], 50);
    EXPECT_TRUE(CrcOk(late));
}

TEST_F(SimBus, ReplyObserverSeesEachAnsweredRequestAsItGoesOnTheWire)
{
    std::vector<std::tuple<int, Fault, Bytes>> seen;
    bus.SetReplyObserver([&](std::uint8_t address, Fault fault, const Bytes &reply) {
        seen.emplace_back(address, fault, reply);
    });
    const Bytes normal = Exchange(Poll(50));
    bus.InjectFault(Fault::Silence);
    EXPECT_TRUE(Exchange(Poll(51)).empty());
    bus.InjectFault(Fault::BadCrc);
    const Bytes bad = Exchange(Poll(52));
    Bytes corrupt = Poll(53);
    corrupt[7] ^= 0x01;
    EXPECT_TRUE(Exchange(corrupt).empty());
    EXPECT_TRUE(Exchange(Poll(66)).empty());

    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], std::make_tuple(50, Fault::None, normal));
    EXPECT_EQ(seen[1], std::make_tuple(51, Fault::Silence, Bytes{}));
    EXPECT_EQ(seen[2], std::make_tuple(52, Fault::BadCrc, bad));
    EXPECT_EQ(bus.RepliesSent(), 2u);
}

TEST_F(SimBus, UnplugKillsTheOpenHandleAndPlugAllowsAFreshOpen)
{
    Send(Poll(50));
    now += 10'000;
    bus.Unplug();
    std::uint32_t rx = 0, tx = 0, ev = 0, n = 0, count = 9;
    std::uint8_t byte = 0;
    const Bytes poll = Poll(50);
    EXPECT_NE(bus.GetStatus(h, &rx, &tx, &ev), FT_OK);
    EXPECT_NE(bus.Read(h, &byte, 1, &n), FT_OK);
    EXPECT_NE(bus.Write(h, poll.data(), 8, &n), FT_OK);
    EXPECT_NE(bus.SetBaudRate(h, 57600), FT_OK);
    std::vector<std::string> descriptions{"stale"};
    EXPECT_EQ(bus.ListDevices(descriptions, &count, 6), FT_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(descriptions.empty());
    FtHandle other = 77;
    EXPECT_NE(bus.OpenEx(kSimDescription, FT_OPEN_BY_DESCRIPTION, &other), FT_OK);
    EXPECT_EQ(other, kNoHandle);

    bus.Plug();
    EXPECT_NE(bus.GetStatus(h, &rx, &tx, &ev), FT_OK);
    EXPECT_EQ(bus.Close(h), FT_OK);
    ASSERT_EQ(bus.OpenEx(kSimDescription, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
    EXPECT_EQ(Visible(), 0u); // the reply was lost with the unplug
    EXPECT_EQ(Exchange(Poll(50)).size(), 7u);
}

class SimBusFailNext : public SimBus, public ::testing::WithParamInterface<Call> {
protected:
    FtStatus Invoke(Call call)
    {
        std::vector<std::string> descriptions;
        std::uint32_t n = 0, rx = 0, tx = 0, ev = 0;
        DeviceDetails details;
        FtHandle detailHandle = kNoHandle;
        std::uint8_t byte = 0;
        const Bytes poll = Poll(50);
        switch (call) {
        case Call::ListDevices:
            return bus.ListDevices(descriptions, &n, 6);
        case Call::CreateDeviceInfoList:
            return bus.CreateDeviceInfoList(&n);
        case Call::GetDeviceInfoDetail:
            return bus.GetDeviceInfoDetail(0, details, &detailHandle);
        case Call::OpenEx:
            bus.Close(h);
            return bus.OpenEx(kSimDescription, FT_OPEN_BY_DESCRIPTION, &h);
        case Call::SetBaudRate:
            return bus.SetBaudRate(h, 57600);
        case Call::SetDataCharacteristics:
            return bus.SetDataCharacteristics(h, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE);
        case Call::SetFlowControl:
            return bus.SetFlowControl(h, FT_FLOW_NONE, 0, 0);
        case Call::Purge:
            return bus.Purge(h, FT_PURGE_RX | FT_PURGE_TX);
        case Call::GetStatus:
            return bus.GetStatus(h, &rx, &tx, &ev);
        case Call::Read:
            return bus.Read(h, &byte, 1, &n);
        case Call::Write:
            return bus.Write(h, poll.data(), std::uint32_t(poll.size()), &n);
        case Call::Close: {
            const FtStatus status = bus.Close(h);
            if (status == FT_OK)
                bus.OpenEx(kSimDescription, FT_OPEN_BY_DESCRIPTION, &h);
            return status;
        }
        }
        return FT_OTHER_ERROR;
    }
};

TEST_P(SimBusFailNext, FailsOnceWithTheArmedStatus)
{
    bus.FailNextCall(GetParam(), FT_OTHER_ERROR);
    EXPECT_EQ(Invoke(GetParam()), FT_OTHER_ERROR);
    EXPECT_EQ(Invoke(GetParam()), FT_OK);
    EXPECT_EQ(bus.CallCount(GetParam()), GetParam() == Call::OpenEx ? 3u : 2u);
    EXPECT_EQ(bus.RequestsReceived(50), GetParam() == Call::Write ? 1u : 0u);
    EXPECT_TRUE(bus.IsOpen());
}

std::string CallName(const ::testing::TestParamInfo<Call> &info)
{
    return CallText(info.param);
}

INSTANTIATE_TEST_SUITE_P(EveryCall, SimBusFailNext,
                         ::testing::Values(Call::ListDevices, Call::CreateDeviceInfoList,
                                           Call::GetDeviceInfoDetail, Call::OpenEx,
                                           Call::SetBaudRate, Call::SetDataCharacteristics,
                                           Call::SetFlowControl, Call::Purge, Call::GetStatus,
                                           Call::Read, Call::Write, Call::Close),
                         CallName);

TEST_F(SimBus, ReadingsMoveSmoothlyOverTheRangeWithRareSpikes)
{
    bus.SetSpikeRate(TSimulatedBus::kDefaultSpikeRate);
    struct Track {
        int min = 1 << 20, max = -1, last = -1, maxStep = 0;
    };
    Track tracks[16];
    int spikes = 0, total = 0;
    // Five minutes, each sensor every 100 ms.
    for (int step = 0; step < 3000; ++step) {
        for (int i = 0; i < 16; ++i) {
            const Bytes reply = Exchange(Poll(std::uint8_t(50 + i)), 6'250);
            ASSERT_EQ(reply.size(), 7u);
            const int value = reply[3] << 8 | reply[4];
            ++total;
            if (value > 1023) {
                ++spikes;
                continue;
            }
            Track &t = tracks[i];
            t.min = std::min(t.min, value);
            t.max = std::max(t.max, value);
            if (t.last >= 0)
                t.maxStep = std::max(t.maxStep, std::abs(value - t.last));
            t.last = value;
        }
    }
    std::set<int> lasts;
    for (const Track &t : tracks) {
        EXPECT_GT(t.max - t.min, 600);
        EXPECT_LT(t.maxStep, 30);
        lasts.insert(t.last);
    }
    EXPECT_GT(lasts.size(), 8u); // each sensor has its own wave
    EXPECT_GT(spikes, 0);
    EXPECT_LT(spikes, total / 100);
}

TEST(SimBusSeed, SameSeedSameTrafficOtherSeedOtherReadings)
{
    const auto run = [](std::uint32_t seed) {
        std::int64_t now = 0;
        TSimulatedBus bus([&] { return now; }, seed);
        FtHandle h = kNoHandle;
        bus.OpenEx(kSimDescription, FT_OPEN_BY_DESCRIPTION, &h);
        Bytes traffic(4096);
        std::uint32_t n = 0, at = 0;
        for (int i = 0; i < 160; ++i) {
            if (i % 10 == 0)
                bus.InjectFault(Fault::Garbage);
            const Bytes poll = Poll(std::uint8_t(50 + i % 16));
            bus.Write(h, poll.data(), 8, &n);
            now += 10'000;
            bus.Read(h, traffic.data() + at, 20, &n);
            at += n;
        }
        traffic.resize(at);
        return traffic;
    };
    EXPECT_EQ(run(11), run(11));
    EXPECT_NE(run(11), run(12));
}

} // namespace
