// CFtdi against a scripted adapter library: the calls it makes and the
// link events it records.
#include "link/cftdi.h"
#include "link/fake_library.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <set>
#include <string>
#include <vector>

using namespace qvr;

namespace {

using Log = std::vector<std::string>;
using qvr::test::FakeLibrary;

using Events = std::vector<TLinkEvent>;
const Events kLinkUp{TLinkEvent::Up};

class CFtdiTest : public ::testing::Test {
protected:
    CFtdiTest()
    {
        lib.Adapters = {"Adapter A"};
        ftdi.SetDescription("Adapter A");
    }

    void OpenAndForget()
    {
        ftdi.Open();
        ASSERT_TRUE(ftdi.IsOpen());
        lib.Calls.clear();
        ftdi.TakeEvents();
    }

    FakeLibrary lib;
    CFtdi ftdi{lib};
};

TEST_F(CFtdiTest, OpenConfiguresTheLineThenBringsTheLinkUp)
{
    lib.Adapters = {"Adapter A", "Adapter B"};
    ftdi.Open();
    EXPECT_EQ(lib.Texts(),
              (Log{"CreateDeviceInfoList", "GetDeviceInfoDetail 0", "GetDeviceInfoDetail 1",
                   "OpenEx Adapter A 2", "SetBaudRate h 57600", "SetDataCharacteristics h 8 0 0",
                   "SetFlowControl h 0 0 0", "Purge h 3"}));
    EXPECT_EQ(ftdi.TakeEvents(), kLinkUp);
    EXPECT_TRUE(ftdi.IsOpen());
    EXPECT_EQ(ftdi.Status(), FT_OK);
    EXPECT_EQ(ftdi.DeviceCount(), 2u);
    EXPECT_EQ(lib.OpenHandles, std::set<FtHandle>{ftdi.Handle()});
}

TEST_F(CFtdiTest, OpenWhileUpChangesNothing)
{
    OpenAndForget();
    const FtHandle handle = ftdi.Handle();
    ftdi.Open();
    EXPECT_TRUE(lib.Calls.empty());
    EXPECT_TRUE(ftdi.TakeEvents().empty());
    EXPECT_TRUE(ftdi.IsOpen());
    EXPECT_EQ(ftdi.Handle(), handle);
}

TEST_F(CFtdiTest, NoAdapterOnlyResetsTheCaption)
{
    lib.Adapters.clear();
    ftdi.Open();
    EXPECT_EQ(lib.Texts(), Log{"CreateDeviceInfoList"});
    EXPECT_EQ(ftdi.TakeEvents(), Events{TLinkEvent::NoAdapters});
    EXPECT_FALSE(ftdi.IsOpen());
    EXPECT_EQ(ftdi.Status(), FT_DEVICE_NOT_FOUND);
}

// The count call still counts adapters that no longer answer the detail query.
TEST_F(CFtdiTest, FailingDetailQueryStopsTheInspectionButNotTheOpen)
{
    lib.DeviceCount = 4;
    ftdi.Open();
    EXPECT_EQ(lib.Texts(),
              (Log{"CreateDeviceInfoList", "GetDeviceInfoDetail 0", "GetDeviceInfoDetail 1",
                   "OpenEx Adapter A 2", "SetBaudRate h 57600", "SetDataCharacteristics h 8 0 0",
                   "SetFlowControl h 0 0 0", "Purge h 3"}));
    EXPECT_EQ(ftdi.TakeEvents(), (Events{TLinkEvent::DeviceDetailFailed, TLinkEvent::Up}));
    EXPECT_TRUE(ftdi.IsOpen());
}

// One failing call of the open-and-configure sequence; the adapter library
// behaves like a backend otherwise. What the window then shows is checked with
// the window; here, what reaches the library and what is left open.
struct OpenFailureCase {
    const char *name;
    std::function<void(FakeLibrary &)> arrange;
    Log after; // the calls that follow the open
};

void PrintTo(const OpenFailureCase &c, std::ostream *os)
{
    *os << c.name;
}

class OpenFailure : public CFtdiTest, public ::testing::WithParamInterface<OpenFailureCase> {};

TEST_P(OpenFailure, LeavesTheLinkDownAndNothingOpen)
{
    GetParam().arrange(lib);
    ftdi.Open();
    EXPECT_FALSE(ftdi.IsOpen());
    EXPECT_NE(ftdi.Status(), FT_OK);
    EXPECT_EQ(ftdi.Handle(), kNoHandle);
    EXPECT_TRUE(lib.OpenHandles.empty()) << "an adapter was left open";
    EXPECT_EQ(lib.SucceededWithoutAdapter(), 0);
    EXPECT_EQ(ftdi.TakeEvents(), Events{TLinkEvent::OpenFailed});

    const Log texts = lib.Texts();
    const auto open = std::find(texts.begin(), texts.end(), "OpenEx Adapter A 2");
    ASSERT_NE(open, texts.end());
    EXPECT_EQ(Log(open + 1, texts.end()), GetParam().after);
}

// After a failed open neither the junk it wrote nor the detail query's handle
// is used; after a failed configuration step the opened adapter is closed.
const Log kAfterFailedOpen{"SetBaudRate none 57600", "SetDataCharacteristics none 8 0 0",
                           "SetFlowControl none 0 0 0", "Purge none 3"};
const Log kAfterFailedStep{"SetBaudRate h 57600", "SetDataCharacteristics h 8 0 0",
                           "SetFlowControl h 0 0 0", "Purge h 3", "Close h"};

OpenFailureCase FailingCall(const char *call, const Log &after)
{
    return {call, [call](FakeLibrary &l) { l.FailOnce(call); }, after};
}

INSTANTIATE_TEST_SUITE_P(Calls, OpenFailure,
                         ::testing::Values(FailingCall("OpenEx", kAfterFailedOpen),
                                           OpenFailureCase{
                                               "AdapterGoneSinceTheListing",
                                               [](FakeLibrary &l) { l.Adapters = {"Adapter B"}; },
                                               kAfterFailedOpen},
                                           FailingCall("SetBaudRate", kAfterFailedStep),
                                           FailingCall("SetDataCharacteristics", kAfterFailedStep),
                                           FailingCall("SetFlowControl", kAfterFailedStep),
                                           FailingCall("Purge", kAfterFailedStep)),
                         [](const auto &info) { return std::string(info.param.name); });

// A library that answers success for calls naming no adapter must not make a
// failed open look like a connection.
TEST_F(CFtdiTest, FailedOpenStaysFailedWhenLaterCallsClaimSuccess)
{
    lib.FailOnce("OpenEx");
    for (const char *name : {"SetBaudRate", "SetDataCharacteristics", "SetFlowControl", "Purge"})
        lib.Next[name].push_back(FT_OK);
    ftdi.Open();
    EXPECT_FALSE(ftdi.IsOpen());
    EXPECT_NE(ftdi.Status(), FT_OK);
    EXPECT_EQ(ftdi.TakeEvents(), Events{TLinkEvent::OpenFailed});
}

TEST_F(CFtdiTest, OpenThatReportsSuccessWithoutAHandleFails)
{
    lib.OpenGivesNoHandle = true;
    for (const char *name : {"SetBaudRate", "SetDataCharacteristics", "SetFlowControl", "Purge"})
        lib.Next[name].push_back(FT_OK);
    ftdi.Open();
    EXPECT_FALSE(ftdi.IsOpen());
    EXPECT_NE(ftdi.Status(), FT_OK);
    EXPECT_EQ(ftdi.TakeEvents(), Events{TLinkEvent::OpenFailed});
}

TEST_F(CFtdiTest, OpenAgainAfterAFailureConnects)
{
    lib.FailOnce("SetBaudRate");
    ftdi.Open();
    ASSERT_FALSE(ftdi.IsOpen());
    ftdi.TakeEvents();
    ftdi.Open();
    EXPECT_TRUE(ftdi.IsOpen());
    EXPECT_EQ(ftdi.TakeEvents(), kLinkUp);
    EXPECT_EQ(lib.OpenHandles.size(), 1u);
}

TEST_F(CFtdiTest, WriteWhileUpReachesTheAdapter)
{
    OpenAndForget();
    const std::uint8_t frame[] = {0x32, 0x03, 0x00, 0x00, 0x00, 0x01, 0x81, 0xC9};
    ftdi.Write(frame, sizeof frame);
    EXPECT_EQ(lib.Texts(), Log{"Write h 8"});
    EXPECT_EQ(lib.Written,
              (std::vector<std::vector<std::uint8_t>>{{std::begin(frame), std::end(frame)}}));
    EXPECT_TRUE(ftdi.TakeEvents().empty());
    EXPECT_TRUE(ftdi.IsOpen());
}

TEST_F(CFtdiTest, FailedWriteTakesTheLinkDown)
{
    OpenAndForget();
    lib.FailOnce("Write");
    const std::uint8_t frame[] = {1, 2, 3};
    ftdi.Write(frame, sizeof frame);
    EXPECT_EQ(lib.Texts(), (Log{"Write h 3", "Close h"}));
    EXPECT_EQ(ftdi.TakeEvents(), Events{TLinkEvent::Lost});
    EXPECT_FALSE(ftdi.IsOpen());
    EXPECT_EQ(ftdi.Handle(), kNoHandle);
    EXPECT_TRUE(lib.OpenHandles.empty());
}

TEST_F(CFtdiTest, WriteWhileDownDoesNothing)
{
    const std::uint8_t frame[] = {1, 2, 3};
    ftdi.Write(frame, sizeof frame);
    EXPECT_TRUE(lib.Calls.empty());
    EXPECT_TRUE(ftdi.TakeEvents().empty());
}

TEST_F(CFtdiTest, CloseWhileUpAndWhileDown)
{
    OpenAndForget();
    ftdi.Close();
    EXPECT_EQ(lib.Texts(), Log{"Close h"});
    EXPECT_EQ(ftdi.TakeEvents(), Events{TLinkEvent::Closed});
    EXPECT_FALSE(ftdi.IsOpen());
    EXPECT_EQ(ftdi.Handle(), kNoHandle);
    EXPECT_TRUE(lib.OpenHandles.empty());

    lib.Calls.clear();
    ftdi.TakeEvents();
    ftdi.Close();
    EXPECT_TRUE(lib.Calls.empty());
    EXPECT_TRUE(ftdi.TakeEvents().empty());
}

TEST_F(CFtdiTest, QueueStatus)
{
    OpenAndForget();
    lib.Receive({1, 2, 3, 4, 5});
    EXPECT_EQ(ftdi.QueueStatus(), 5u);
    EXPECT_TRUE(ftdi.IsOpen());

    lib.FailOnce("GetStatus");
    EXPECT_EQ(ftdi.QueueStatus(), 0u) << "a failed status call reports no bytes";
    EXPECT_FALSE(ftdi.IsOpen());
    EXPECT_EQ(ftdi.TakeEvents(), Events{TLinkEvent::Lost});

    lib.Calls.clear();
    EXPECT_EQ(ftdi.QueueStatus(), 0u);
    EXPECT_TRUE(lib.Calls.empty());
}

TEST_F(CFtdiTest, ReadByteOnlyWhileUp)
{
    lib.Receive({0x5A});
    EXPECT_EQ(ftdi.ReadByte(), std::nullopt);
    EXPECT_TRUE(lib.Calls.empty());

    OpenAndForget();
    EXPECT_EQ(ftdi.ReadByte(), 0x5A);
    EXPECT_EQ(lib.Texts(), Log{"Read h 1"});
}

// The port vanished between the status call and the read: no byte is made
// up, and the link goes down as after a failed status call.
TEST_F(CFtdiTest, FailedReadGivesNoByteAndTakesTheLinkDown)
{
    OpenAndForget();
    lib.Receive({0x0D});
    lib.FailOnce("Read");
    EXPECT_EQ(ftdi.ReadByte(), std::nullopt);
    EXPECT_FALSE(ftdi.IsOpen());
    EXPECT_EQ(ftdi.TakeEvents(), Events{TLinkEvent::Lost});
    EXPECT_TRUE(lib.OpenHandles.empty());
}

TEST_F(CFtdiTest, ListDescriptionsKeepsAtMostTheLimit)
{
    lib.Adapters = {"A", "B", "C", "D", "E", "F", "G", "H"};
    EXPECT_EQ(ftdi.ListDescriptions(6), (std::vector<std::string>{"A", "B", "C", "D", "E", "F"}));
    EXPECT_EQ(ftdi.Status(), FT_OK);
    lib.Adapters = {"A"};
    lib.FailOnce("ListDevices", FT_OTHER_ERROR);
    EXPECT_EQ(ftdi.ListDescriptions(6), std::vector<std::string>{"A"});
    EXPECT_EQ(ftdi.Status(), FT_OTHER_ERROR);
}

} // namespace
