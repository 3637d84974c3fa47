// CFtdi against a scripted adapter library and a recording view.
#include "link/cftdi.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace qvr;

namespace {

using Log = std::vector<std::string>;

// Behaves like a backend: handles it did not hand out (kNoHandle, closed ones)
// make every call fail. A status scripted for a call name overrides the
// outcome of that call's next use.
class FakeD2xx : public ID2xx {
public:
    struct Call {
        std::string text;
        bool handleOpen; // false: the call named no open adapter
        FtStatus status;
    };

    std::uint32_t devices = 1;
    int failDetailAt = -1;
    bool openGivesNoHandle = false;
    std::vector<std::string> listing{"Adapter A"};
    std::map<std::string, std::deque<FtStatus>> script;
    // What a scripted failing OpenEx leaves in the handle.
    FtHandle junkOnFailedOpen = 0xBAD;
    std::uint32_t rxQueue = 0;
    std::uint8_t nextByte = 0;

    std::vector<Call> calls;
    std::set<FtHandle> open;
    std::vector<std::uint8_t> written;

    Log Names() const
    {
        Log names;
        for (const Call &c : calls)
            names.push_back(c.text);
        return names;
    }
    // Calls that named no open adapter and still reported success.
    int SucceededWithoutAdapter() const
    {
        return static_cast<int>(std::count_if(calls.begin(), calls.end(), [](const Call &c) {
            return !c.handleOpen && c.status == FT_OK;
        }));
    }
    void Fail(const std::string &name, FtStatus status = FT_IO_ERROR)
    {
        script[name].push_back(status);
    }

    FtStatus ListDevices(std::vector<std::string> &descriptions, std::uint32_t *count,
                         std::uint32_t) override
    {
        descriptions = listing; // ignores the limit on purpose
        *count = static_cast<std::uint32_t>(listing.size());
        return Record("ListDevices", true, Scripted("ListDevices", FT_OK));
    }
    FtStatus CreateDeviceInfoList(std::uint32_t *count) override
    {
        *count = devices;
        return Record("CreateDeviceInfoList", true, FT_OK);
    }
    FtStatus GetDeviceInfoDetail(std::uint32_t index, DeviceDetails &details,
                                 FtHandle *handle) override
    {
        details.Description = "Adapter " + std::to_string(index);
        *handle = 0x77; // as if another process had it open
        const FtStatus status =
            static_cast<int>(index) == failDetailAt ? FT_DEVICE_NOT_FOUND : FT_OK;
        return Record("GetDeviceInfoDetail " + std::to_string(index), true, status);
    }
    FtStatus OpenEx(const std::string &description, std::uint32_t flags, FtHandle *handle) override
    {
        const std::string text = "OpenEx " + description + " " + std::to_string(flags);
        const FtStatus status = Scripted("OpenEx", FT_OK);
        if (status != FT_OK) {
            *handle = junkOnFailedOpen;
        } else if (openGivesNoHandle) {
            *handle = kNoHandle;
        } else {
            *handle = ++lastHandle;
            open.insert(*handle);
        }
        calls.push_back({text, true, status});
        return status;
    }
    FtStatus SetBaudRate(FtHandle h, std::uint32_t baud) override
    {
        return OnHandle("SetBaudRate", h, std::to_string(baud));
    }
    FtStatus SetDataCharacteristics(FtHandle h, std::uint8_t bits, std::uint8_t stop,
                                    std::uint8_t parity) override
    {
        return OnHandle("SetDataCharacteristics", h,
                        std::to_string(bits) + " " + std::to_string(stop) + " " +
                            std::to_string(parity));
    }
    FtStatus SetFlowControl(FtHandle h, std::uint16_t flow, std::uint8_t xon,
                            std::uint8_t xoff) override
    {
        return OnHandle("SetFlowControl", h,
                        std::to_string(flow) + " " + std::to_string(xon) + " " +
                            std::to_string(xoff));
    }
    FtStatus Purge(FtHandle h, std::uint32_t mask) override
    {
        return OnHandle("Purge", h, std::to_string(mask));
    }
    FtStatus GetStatus(FtHandle h, std::uint32_t *rx, std::uint32_t *tx,
                       std::uint32_t *events) override
    {
        *rx = rxQueue; // filled even when the call fails
        *tx = 0;
        *events = 0;
        return OnHandle("GetStatus", h, "");
    }
    FtStatus Read(FtHandle h, void *buffer, std::uint32_t toRead, std::uint32_t *got) override
    {
        const FtStatus status = OnHandle("Read", h, std::to_string(toRead));
        if (status == FT_OK && toRead == 1) {
            *static_cast<std::uint8_t *>(buffer) = nextByte;
            *got = 1;
        }
        return status;
    }
    FtStatus Write(FtHandle h, const void *buffer, std::uint32_t n, std::uint32_t *done) override
    {
        const FtStatus status = OnHandle("Write", h, std::to_string(n));
        if (status == FT_OK) {
            const auto *p = static_cast<const std::uint8_t *>(buffer);
            written.insert(written.end(), p, p + n);
            *done = n;
        }
        return status;
    }
    FtStatus Close(FtHandle h) override
    {
        const FtStatus status = OnHandle("Close", h, "");
        if (status == FT_OK)
            open.erase(h);
        return status;
    }

private:
    FtStatus Scripted(const std::string &name, FtStatus otherwise)
    {
        auto it = script.find(name);
        if (it == script.end() || it->second.empty())
            return otherwise;
        const FtStatus status = it->second.front();
        it->second.pop_front();
        return status;
    }
    FtStatus Record(const std::string &text, bool handleOpen, FtStatus status)
    {
        calls.push_back({text, handleOpen, status});
        return status;
    }
    FtStatus OnHandle(const std::string &name, FtHandle h, const std::string &args)
    {
        const bool isOpen = open.count(h) > 0;
        const FtStatus status = Scripted(name, isOpen ? FT_OK : FT_INVALID_HANDLE);
        std::string text = name + (isOpen ? " h" : h == kNoHandle ? " none" : " stale");
        if (!args.empty())
            text += " " + args;
        return Record(text, isOpen, status);
    }

    FtHandle lastHandle = 0x100;
};

class FakeView : public ILinkView {
public:
    Log events;
    std::function<void()> onPoll;

    void SetPanelText(int panel, const QString &text) override
    {
        events.push_back("panel" + std::to_string(panel) + " " + text.toStdString());
    }
    void SetConnectCaption(const QString &caption) override
    {
        events.push_back("caption " + caption.toStdString());
    }
    void LinkUp() override
    {
        events.push_back("link up");
        if (onPoll)
            onPoll();
    }
    void LinkDown() override { events.push_back("link down"); }
    bool Shows(const std::string &event) const
    {
        return std::find(events.begin(), events.end(), event) != events.end();
    }
};

// Exact texts, spelled out here on their own.
const std::string kUpEvents[] = {"panel0 Połączenie zostało nawiązane poprwanie",
                                 "panel1 Polączony", "link up"};
const Log kLinkUp(std::begin(kUpEvents), std::end(kUpEvents));
const std::string kLinkLost = "panel1 Rozłączony";
const std::string kClosed = "panel1 Rozłaczony";

class CFtdiTest : public ::testing::Test {
protected:
    CFtdiTest() { ftdi.SetDescription("Adapter A"); }

    void OpenAndForget()
    {
        ftdi.Open();
        ASSERT_TRUE(ftdi.IsOpen());
        lib.calls.clear();
        view.events.clear();
    }

    FakeD2xx lib;
    FakeView view;
    CFtdi ftdi{lib, view};
};

TEST_F(CFtdiTest, OpenConfiguresTheLineThenBringsTheLinkUp)
{
    lib.devices = 2;
    ftdi.Open();
    EXPECT_EQ(lib.Names(),
              (Log{"CreateDeviceInfoList", "GetDeviceInfoDetail 0", "GetDeviceInfoDetail 1",
                   "OpenEx Adapter A 2", "SetBaudRate h 57600", "SetDataCharacteristics h 8 0 0",
                   "SetFlowControl h 0 0 0", "Purge h 3"}));
    EXPECT_EQ(view.events, kLinkUp);
    EXPECT_TRUE(ftdi.IsOpen());
    EXPECT_EQ(ftdi.Status(), FT_OK);
    EXPECT_EQ(ftdi.DeviceCount(), 2u);
    EXPECT_EQ(lib.open, std::set<FtHandle>{ftdi.Handle()});
}

TEST_F(CFtdiTest, OpenWhileUpChangesNothing)
{
    OpenAndForget();
    const FtHandle handle = ftdi.Handle();
    ftdi.Open();
    EXPECT_TRUE(lib.calls.empty());
    EXPECT_TRUE(view.events.empty());
    EXPECT_TRUE(ftdi.IsOpen());
    EXPECT_EQ(ftdi.Handle(), handle);
}

TEST_F(CFtdiTest, NoAdapterOnlyResetsTheCaption)
{
    lib.devices = 0;
    ftdi.Open();
    EXPECT_EQ(lib.Names(), Log{"CreateDeviceInfoList"});
    EXPECT_EQ(view.events, Log{"caption Połącz"});
    EXPECT_FALSE(ftdi.IsOpen());
    EXPECT_EQ(ftdi.Status(), FT_DEVICE_NOT_FOUND);
}

TEST_F(CFtdiTest, FailingDetailQueryStopsTheInspectionButNotTheOpen)
{
    lib.devices = 4;
    lib.failDetailAt = 1;
    ftdi.Open();
    EXPECT_EQ(lib.Names(),
              (Log{"CreateDeviceInfoList", "GetDeviceInfoDetail 0", "GetDeviceInfoDetail 1",
                   "OpenEx Adapter A 2", "SetBaudRate h 57600", "SetDataCharacteristics h 8 0 0",
                   "SetFlowControl h 0 0 0", "Purge h 3"}));
    Log expected{"panel0 Nie znaleziono urządzeń USB"};
    expected.insert(expected.end(), kLinkUp.begin(), kLinkUp.end());
    EXPECT_EQ(view.events, expected);
    EXPECT_TRUE(ftdi.IsOpen());
}

// One failing call of the open-and-configure sequence; the adapter library
// behaves like a backend otherwise (calls after a failed open name no adapter).
class OpenFailure : public CFtdiTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(OpenFailure, LeavesTheLinkDownAndNothingOpen)
{
    lib.Fail(GetParam());
    ftdi.Open();
    EXPECT_FALSE(ftdi.IsOpen());
    EXPECT_NE(ftdi.Status(), FT_OK);
    EXPECT_EQ(ftdi.Handle(), kNoHandle);
    EXPECT_TRUE(lib.open.empty()) << "an adapter was left open";
    EXPECT_EQ(lib.SucceededWithoutAdapter(), 0);
    EXPECT_EQ(view.events, Log{kLinkLost});
}

INSTANTIATE_TEST_SUITE_P(Calls, OpenFailure,
                         ::testing::Values("OpenEx", "SetBaudRate", "SetDataCharacteristics",
                                           "SetFlowControl", "Purge"));

TEST_F(CFtdiTest, FailedOpenGivesLaterCallsNoHandle)
{
    lib.Fail("OpenEx");
    ftdi.Open();
    const Log names = lib.Names();
    const auto open = std::find(names.begin(), names.end(), "OpenEx Adapter A 2");
    ASSERT_NE(open, names.end());
    // Neither the junk a failed open wrote nor the detail query's handle is used.
    EXPECT_EQ(Log(open + 1, names.end()),
              (Log{"SetBaudRate none 57600", "SetDataCharacteristics none 8 0 0",
                   "SetFlowControl none 0 0 0", "Purge none 3"}));
}

// A library that answers success for calls naming no adapter must not make a
// failed open look like a connection.
TEST_F(CFtdiTest, FailedOpenStaysFailedWhenLaterCallsClaimSuccess)
{
    lib.Fail("OpenEx");
    for (const char *name : {"SetBaudRate", "SetDataCharacteristics", "SetFlowControl", "Purge"})
        lib.script[name].push_back(FT_OK);
    ftdi.Open();
    EXPECT_FALSE(ftdi.IsOpen());
    EXPECT_NE(ftdi.Status(), FT_OK);
    EXPECT_EQ(view.events, Log{kLinkLost});
}

TEST_F(CFtdiTest, OpenThatReportsSuccessWithoutAHandleFails)
{
    lib.openGivesNoHandle = true;
    for (const char *name : {"SetBaudRate", "SetDataCharacteristics", "SetFlowControl", "Purge"})
        lib.script[name].push_back(FT_OK);
    ftdi.Open();
    EXPECT_FALSE(ftdi.IsOpen());
    EXPECT_NE(ftdi.Status(), FT_OK);
    EXPECT_EQ(view.events, Log{kLinkLost});
}

TEST_F(CFtdiTest, OpenAgainAfterAFailureConnects)
{
    lib.Fail("SetBaudRate");
    ftdi.Open();
    ASSERT_FALSE(ftdi.IsOpen());
    view.events.clear();
    ftdi.Open();
    EXPECT_TRUE(ftdi.IsOpen());
    EXPECT_EQ(view.events, kLinkUp);
    EXPECT_EQ(lib.open.size(), 1u);
}

TEST_F(CFtdiTest, WriteWhileUpReachesTheAdapter)
{
    OpenAndForget();
    const std::uint8_t frame[] = {0x32, 0x03, 0x00, 0x00, 0x00, 0x01, 0x81, 0xC9};
    ftdi.Write(frame, sizeof frame);
    EXPECT_EQ(lib.Names(), Log{"Write h 8"});
    EXPECT_EQ(lib.written, std::vector<std::uint8_t>(std::begin(frame), std::end(frame)));
    EXPECT_TRUE(view.events.empty());
    EXPECT_TRUE(ftdi.IsOpen());
}

TEST_F(CFtdiTest, FailedWriteTakesTheLinkDown)
{
    OpenAndForget();
    lib.Fail("Write");
    const std::uint8_t frame[] = {1, 2, 3};
    ftdi.Write(frame, sizeof frame);
    EXPECT_EQ(lib.Names(), (Log{"Write h 3", "Close h"}));
    EXPECT_EQ(view.events, (Log{kLinkLost, "link down"}));
    EXPECT_FALSE(ftdi.IsOpen());
    EXPECT_EQ(ftdi.Handle(), kNoHandle);
    EXPECT_TRUE(lib.open.empty());
}

TEST_F(CFtdiTest, WriteWhileDownDoesNothing)
{
    const std::uint8_t frame[] = {1, 2, 3};
    ftdi.Write(frame, sizeof frame);
    EXPECT_TRUE(lib.calls.empty());
    EXPECT_TRUE(view.events.empty());
}

TEST_F(CFtdiTest, CloseWhileUpAndWhileDown)
{
    OpenAndForget();
    ftdi.Close();
    EXPECT_EQ(lib.Names(), Log{"Close h"});
    EXPECT_EQ(view.events, (Log{"link down", kClosed}));
    EXPECT_FALSE(ftdi.IsOpen());
    EXPECT_EQ(ftdi.Handle(), kNoHandle);
    EXPECT_TRUE(lib.open.empty());

    lib.calls.clear();
    view.events.clear();
    ftdi.Close();
    EXPECT_TRUE(lib.calls.empty());
    EXPECT_TRUE(view.events.empty());
}

// The first poll request, sent when the view hears that the link is up,
// fails: the link ends down and nothing more is shown.
TEST_F(CFtdiTest, FailedWriteFromThePollInsideLinkUp)
{
    view.onPoll = [this] {
        const std::uint8_t frame[] = {0x32, 0x03, 0x00, 0x00, 0x00, 0x01, 0x81, 0xC9};
        ftdi.Write(frame, sizeof frame);
    };
    lib.Fail("Write");
    ftdi.Open();
    Log expected = kLinkUp;
    expected.push_back(kLinkLost);
    expected.push_back("link down");
    EXPECT_EQ(view.events, expected);
    EXPECT_FALSE(ftdi.IsOpen());
    EXPECT_TRUE(lib.open.empty());
    EXPECT_EQ(lib.Names().back(), "Close h");
}

TEST_F(CFtdiTest, QueueStatus)
{
    OpenAndForget();
    lib.rxQueue = 5;
    EXPECT_EQ(ftdi.QueueStatus(), 5u);
    EXPECT_TRUE(ftdi.IsOpen());

    lib.Fail("GetStatus");
    EXPECT_EQ(ftdi.QueueStatus(), 0u) << "a failed status call reports no bytes";
    EXPECT_FALSE(ftdi.IsOpen());
    EXPECT_EQ(view.events, (Log{kLinkLost, "link down"}));

    lib.calls.clear();
    EXPECT_EQ(ftdi.QueueStatus(), 0u);
    EXPECT_TRUE(lib.calls.empty());
}

TEST_F(CFtdiTest, ReadByteOnlyWhileUp)
{
    lib.nextByte = 0x5A;
    EXPECT_EQ(ftdi.ReadByte(), std::nullopt);
    EXPECT_TRUE(lib.calls.empty());

    OpenAndForget();
    EXPECT_EQ(ftdi.ReadByte(), 0x5A);
    EXPECT_EQ(lib.Names(), Log{"Read h 1"});
}

// The port vanished between the status call and the read: no byte is made
// up, and the link goes down as after a failed status call.
TEST_F(CFtdiTest, FailedReadGivesNoByteAndTakesTheLinkDown)
{
    OpenAndForget();
    lib.nextByte = 0x0D;
    lib.Fail("Read");
    EXPECT_EQ(ftdi.ReadByte(), std::nullopt);
    EXPECT_FALSE(ftdi.IsOpen());
    EXPECT_EQ(view.events, (Log{kLinkLost, "link down"}));
    EXPECT_TRUE(lib.open.empty());
}

TEST_F(CFtdiTest, ListDescriptionsKeepsAtMostTheLimit)
{
    lib.listing = {"A", "B", "C", "D", "E", "F", "G", "H"};
    EXPECT_EQ(ftdi.ListDescriptions(6), (std::vector<std::string>{"A", "B", "C", "D", "E", "F"}));
    EXPECT_EQ(ftdi.Status(), FT_OK);
    lib.listing = {"A"};
    lib.Fail("ListDevices", FT_OTHER_ERROR);
    EXPECT_EQ(ftdi.ListDescriptions(6), std::vector<std::string>{"A"});
    EXPECT_EQ(ftdi.Status(), FT_OTHER_ERROR);
}

} // namespace
