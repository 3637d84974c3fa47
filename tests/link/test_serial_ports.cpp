// The serial-port adapter library: the listing rules, the configured ports
// asked for at every listing, refusals, and end to end over a pseudo-terminal
// whose other end is a libmodbus RTU server (slave 50) reading and writing
// the master side.
#include "bench/modbus_peer.h"
#include "link/cftdi.h"
#include "link/codec.h"
#include "link/serial_ports.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <pty.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

using namespace qvr;
using qvr::test::TModbusPeer;
using Bytes = std::vector<std::uint8_t>;

namespace {

TPortRecord Usb(std::string description, std::string name, std::uint16_t vendor,
                std::uint16_t product = 0x6001, std::string serial = {})
{
    TPortRecord r;
    r.Description = std::move(description);
    r.PortName = name;
    r.Location = "/dev/" + name;
    r.SerialNumber = std::move(serial);
    r.HasVendorId = true;
    r.VendorId = vendor;
    r.ProductId = product;
    return r;
}

std::vector<std::string> Descriptions(const std::vector<TListedPort> &list)
{
    std::vector<std::string> out;
    for (const TListedPort &p : list)
        out.push_back(p.Description);
    return out;
}

// ---- listing rules ----

TEST(OrderPorts, UsbOnlyFtdiFirstInTheOrderFound)
{
    const TPortRecord builtIn{"", "ttyS0", "/dev/ttyS0", "", false, 0, 0};
    const auto list = OrderPorts({Usb("USB-Serial Controller", "ttyUSB0", 0x067B), builtIn,
                                  Usb("FT232R USB UART", "ttyUSB1", 0x0403, 0x6001, "A50285BI"),
                                  Usb("USB2.0-Serial", "ttyUSB2", 0x1A86, 0x7523),
                                  Usb("TTL232R-3V3", "ttyUSB3", 0x0403, 0x6015)},
                                 {});
    EXPECT_EQ(Descriptions(list),
              (std::vector<std::string>{"FT232R USB UART", "TTL232R-3V3", "USB-Serial Controller",
                                        "USB2.0-Serial"}));
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].Location, "/dev/ttyUSB1");
    EXPECT_EQ(list[0].SerialNumber, "A50285BI");
    EXPECT_EQ(list[0].Id, 0x04036001u);
    EXPECT_EQ(list[3].Id, 0x1A867523u);
}

TEST(OrderPorts, EqualDescriptionsGetThePortName)
{
    const auto list = OrderPorts({Usb("FT232R USB UART", "ttyUSB0", 0x0403),
                                  Usb("USB-Serial Controller", "ttyUSB1", 0x067B),
                                  Usb("FT232R USB UART", "ttyUSB2", 0x0403)},
                                 {"/dev/ttyS4"});
    EXPECT_EQ(Descriptions(list),
              (std::vector<std::string>{"FT232R USB UART (ttyUSB0)", "FT232R USB UART (ttyUSB2)",
                                        "USB-Serial Controller", "/dev/ttyS4"}));
    EXPECT_EQ(list[1].Location, "/dev/ttyUSB2");
}

TEST(OrderPorts, ConfiguredPortsFollowOnceEachUnderTheirPath)
{
    const auto list =
        OrderPorts({Usb("", "ttyACM0", 0x2341)}, {"/dev/pts/7", "ttyUSB3", "/dev/pts/7", ""});
    EXPECT_EQ(Descriptions(list), (std::vector<std::string>{"ttyACM0", "/dev/pts/7", "ttyUSB3"}));
    EXPECT_EQ(list[1].Location, "/dev/pts/7");
    EXPECT_EQ(list[2].Location, "ttyUSB3");
    EXPECT_EQ(list[2].Id, 0u);
}

TEST(OrderPorts, LongDescriptionsAreCutWholeCharactersAndStayDistinct)
{
    // 31 two-byte letters and an 'x': the cut at 63 bytes falls inside the 32nd letter.
    std::string text;
    for (int i = 0; i < 31; ++i)
        text += "ł";
    text += "ąx";
    const auto single = OrderPorts({Usb(text, "ttyUSB0", 0x0403)}, {});
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(single[0].Description, text.substr(0, 62));

    const auto twins =
        OrderPorts({Usb(text, "ttyUSB0", 0x0403), Usb(text + "y", "ttyUSB1", 0x0403)}, {});
    ASSERT_EQ(twins.size(), 2u);
    for (const TListedPort &p : twins)
        EXPECT_LE(p.Description.size(), kDescriptionSize);
    EXPECT_EQ(twins[0].Description, text.substr(0, 52) + " (ttyUSB0)");
    EXPECT_EQ(twins[1].Description, text.substr(0, 52) + " (ttyUSB1)");
}

// Whole UTF-8 characters only: a cut inside one would not survive the trip.
bool WholeUtf8(const std::string &text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size())).toUtf8().toStdString() == text;
}

struct TListingRow {
    const char *name;
    std::vector<TPortRecord> found;
    std::vector<std::string> configured;
    std::vector<std::string> descriptions;
    std::vector<std::string> locations;
};

TEST(OrderPorts, TextsEqualAfterTheCutStillListDistinct)
{
    const TListingRow rows[] = {
        {"by-id paths differing after byte 63",
         {},
         {"/dev/serial/by-id/usb-Acme_Sensor_Bus_RS485_Bridge_Controller_0A1B-if00-port0",
          "/dev/serial/by-id/usb-Acme_Sensor_Bus_RS485_Bridge_Controller_0A1C-if00-port0"},
         {"/dev/serial/by-id/usb-Acme_Sensor_Bus_RS485_Bridge_Controller_0",
          "/dev/serial/by-id/usb-Acme_Sensor_Bus_RS485_Bridge_Controll (2)"},
         {"/dev/serial/by-id/usb-Acme_Sensor_Bus_RS485_Bridge_Controller_0A1B-if00-port0",
          "/dev/serial/by-id/usb-Acme_Sensor_Bus_RS485_Bridge_Controller_0A1C-if00-port0"}},
        {"paths named like generated descriptions",
         {Usb("USB Serial", "ttyUSB0", 0x0403), Usb("USB Serial", "ttyUSB1", 0x0403)},
         {"USB Serial (ttyUSB1)", "USB Serial (ttyUSB1) (2)"},
         {"USB Serial (ttyUSB0)", "USB Serial (ttyUSB1)", "USB Serial (ttyUSB1) (3)",
          "USB Serial (ttyUSB1) (2)"},
         {"/dev/ttyUSB0", "/dev/ttyUSB1", "USB Serial (ttyUSB1)", "USB Serial (ttyUSB1) (2)"}},
        {"long USB twins and a path like the second's text",
         {Usb("Acme Sensor Bus RS485 Bridge Controller, galvanically isolated v2", "ttyUSB0",
              0x0403),
          Usb("Acme Sensor Bus RS485 Bridge Controller, galvanically isolated v2", "ttyUSB1",
              0x0403)},
         {"Acme Sensor Bus RS485 Bridge Controller, galvanically (ttyUSB1)"},
         {"Acme Sensor Bus RS485 Bridge Controller, galvanically (ttyUSB0)",
          "Acme Sensor Bus RS485 Bridge Controller, galvanically (ttyUSB1)",
          "Acme Sensor Bus RS485 Bridge Controller, galvanically (ttyU (2)"},
         {"/dev/ttyUSB0", "/dev/ttyUSB1",
          "Acme Sensor Bus RS485 Bridge Controller, galvanically (ttyUSB1)"}},
        {"two-byte letters at both cuts",
         {},
         {"/dev/serial/by-id/usb-żżżżżżżżżżżżżżżżżżżżż-0",
          "/dev/serial/by-id/usb-żżżżżżżżżżżżżżżżżżżżż-1"},
         {"/dev/serial/by-id/usb-żżżżżżżżżżżżżżżżżżżż",
          "/dev/serial/by-id/usb-żżżżżżżżżżżżżżżżżż (2)"},
         {"/dev/serial/by-id/usb-żżżżżżżżżżżżżżżżżżżżż-0",
          "/dev/serial/by-id/usb-żżżżżżżżżżżżżżżżżżżżż-1"}},
    };
    for (const TListingRow &row : rows) {
        SCOPED_TRACE(row.name);
        const auto list = OrderPorts(row.found, row.configured);
        EXPECT_EQ(Descriptions(list), row.descriptions);
        std::vector<std::string> locations;
        for (const TListedPort &p : list) {
            SCOPED_TRACE(p.Description);
            EXPECT_LE(p.Description.size(), kDescriptionSize);
            EXPECT_TRUE(WholeUtf8(p.Description));
            const auto same = std::count_if(list.begin(), list.end(), [&](const TListedPort &q) {
                return q.Description == p.Description;
            });
            EXPECT_EQ(same, 1);
            locations.push_back(p.Location);
        }
        EXPECT_EQ(locations, row.locations);
    }
}

// ---- the library without a port ----

// Every call on `handle` must fail and leave its outputs alone.
void ExpectRefused(ID2xx &lib, FtHandle handle)
{
    std::uint32_t rx = 77, tx = 77, ev = 77, done = 77;
    std::uint8_t buf[4] = {0xA5, 0xA5, 0xA5, 0xA5};
    const std::uint8_t frame[] = {0x32, 0x03, 0x00, 0x00, 0x00, 0x01, 0x81, 0xC9};
    EXPECT_NE(lib.GetStatus(handle, &rx, &tx, &ev), FT_OK);
    EXPECT_NE(lib.Read(handle, buf, sizeof buf, &done), FT_OK);
    EXPECT_EQ(done, 77u);
    EXPECT_EQ(buf[0], 0xA5);
    EXPECT_NE(lib.Write(handle, frame, sizeof frame, &done), FT_OK);
    EXPECT_EQ(done, 77u);
    EXPECT_EQ(rx + tx + ev, 3 * 77u);
    EXPECT_NE(lib.SetBaudRate(handle, 57600), FT_OK);
    EXPECT_NE(lib.SetDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE), FT_OK);
    EXPECT_NE(lib.SetFlowControl(handle, FT_FLOW_NONE, 0, 0), FT_OK);
    EXPECT_NE(lib.Purge(handle, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
    EXPECT_NE(lib.Close(handle), FT_OK);
}

class SerialLibraryListing : public ::testing::Test {
protected:
    TSerialPortLibrary::PortList Configured()
    {
        return [this] { return configured_; };
    }

    std::vector<std::string> configured_{"/nonexistent/ttyA", "/nonexistent/ttyB",
                                         "/nonexistent/ttyC", "/nonexistent/ttyD",
                                         "/nonexistent/ttyE", "/nonexistent/ttyF"};
    std::vector<TPortRecord> found_{Usb("USB-Serial Controller", "ttyUSB0", 0x067B),
                                    Usb("FT232R USB UART", "ttyUSB9", 0x0403, 0x6001, "FT1")};
};

TEST_F(SerialLibraryListing, AtMostMaxCountOfAllAndDetailsOfEach)
{
    TSerialPortLibrary lib(Configured(), [this] { return found_; });
    std::vector<std::string> names{"stale"};
    std::uint32_t count = 0;
    ASSERT_EQ(lib.ListDevices(names, &count, 6), FT_OK);
    EXPECT_EQ(count, 8u);
    EXPECT_EQ(names, (std::vector<std::string>{"FT232R USB UART", "USB-Serial Controller",
                                               "/nonexistent/ttyA", "/nonexistent/ttyB",
                                               "/nonexistent/ttyC", "/nonexistent/ttyD"}));

    ASSERT_EQ(lib.CreateDeviceInfoList(&count), FT_OK);
    EXPECT_EQ(count, 8u);
    DeviceDetails d;
    FtHandle h = 99;
    ASSERT_EQ(lib.GetDeviceInfoDetail(0, d, &h), FT_OK);
    EXPECT_EQ(d.Description, "FT232R USB UART");
    EXPECT_EQ(d.SerialNumber, "FT1");
    EXPECT_EQ(d.ID, 0x04036001u);
    EXPECT_EQ(h, kNoHandle); // not open
    ASSERT_EQ(lib.GetDeviceInfoDetail(7, d, &h), FT_OK);
    EXPECT_EQ(d.Description, "/nonexistent/ttyF");

    d.Description = "untouched";
    EXPECT_NE(lib.GetDeviceInfoDetail(8, d, &h), FT_OK);
    EXPECT_EQ(d.Description, "untouched");
}

TEST_F(SerialLibraryListing, OpenFailsWithoutAHandle)
{
    TSerialPortLibrary lib(Configured(), [this] { return found_; });
    for (const std::string description :
         {"No such adapter", "", "/nonexistent/ttyA", "FT232R USB UART", "FT232R USB UAR"}) {
        SCOPED_TRACE(description);
        FtHandle h = 99;
        EXPECT_NE(lib.OpenEx(description, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
        EXPECT_EQ(h, kNoHandle);
    }
}

TEST_F(SerialLibraryListing, CallsWithoutAnOpenAdapterFail)
{
    TSerialPortLibrary lib(Configured(), [this] { return found_; });
    ExpectRefused(lib, kNoHandle);
    ExpectRefused(lib, 1);
    ExpectRefused(lib, 12345);
}

// The configured ports are asked for at every listing and open, so that an
// edit of their source takes effect at the next one.
TEST_F(SerialLibraryListing, ConfiguredPortsAreAskedForEachTime)
{
    int asked = 0;
    TSerialPortLibrary lib(
        [&] {
            ++asked;
            return configured_;
        },
        [] { return std::vector<TPortRecord>{}; });
    std::vector<std::string> names;
    std::uint32_t count = 0;
    ASSERT_EQ(lib.ListDevices(names, &count, 8), FT_OK);
    EXPECT_EQ(count, 6u);

    configured_ = {"/nonexistent/ttyZ"};
    ASSERT_EQ(lib.ListDevices(names, &count, 8), FT_OK);
    EXPECT_EQ(names, std::vector<std::string>{"/nonexistent/ttyZ"});

    configured_.clear();
    ASSERT_EQ(lib.CreateDeviceInfoList(&count), FT_OK);
    EXPECT_EQ(count, 0u);
    configured_ = {"/nonexistent/ttyY"};
    FtHandle h = 99;
    EXPECT_EQ(lib.OpenEx("/nonexistent/ttyZ", FT_OPEN_BY_DESCRIPTION, &h), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(asked, 4);
}

// ---- end to end over a pseudo-terminal ----

using LinkEvents = std::vector<TLinkEvent>;

class SerialLibraryPty : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(peer_.Ready());
        ASSERT_TRUE(dir_.isValid());
        configured_ = {peer_.Path()};
    }

    TSerialPortLibrary::PortList Configured()
    {
        return [this] { return configured_; };
    }

    // Opens the pseudo-terminal by its description and configures it as the
    // program does.
    FtHandle OpenConfigured(TSerialPortLibrary &lib)
    {
        FtHandle h = kNoHandle;
        EXPECT_EQ(lib.OpenEx(peer_.Path(), FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
        if (h == kNoHandle)
            return h;
        EXPECT_EQ(lib.SetBaudRate(h, 57600), FT_OK);
        EXPECT_EQ(lib.SetDataCharacteristics(h, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE), FT_OK);
        EXPECT_EQ(lib.SetFlowControl(h, FT_FLOW_NONE, 0, 0), FT_OK);
        EXPECT_EQ(lib.Purge(h, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
        return h;
    }

    // Polls the queue status as the receive tick does (with or without the
    // event loop running in between) and reads what waits, until `expected`
    // bytes came or two seconds passed; then checks that nothing follows.
    Bytes Exchange(TSerialPortLibrary &lib, FtHandle h, const Bytes &request, std::size_t expected)
    {
        std::uint32_t done = 0;
        EXPECT_EQ(lib.Write(h, request.data(), std::uint32_t(request.size()), &done), FT_OK);
        EXPECT_EQ(done, request.size());
        Bytes reply;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        std::uint32_t rx = 0, tx = 0, ev = 0;
        while (reply.size() < expected && std::chrono::steady_clock::now() < deadline) {
            if (GetParam())
                QCoreApplication::processEvents();
            if (lib.GetStatus(h, &rx, &tx, &ev) != FT_OK) {
                ADD_FAILURE() << "queue status failed";
                break;
            }
            if (rx == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            Bytes chunk(rx);
            EXPECT_EQ(lib.Read(h, chunk.data(), rx, &done), FT_OK);
            EXPECT_EQ(done, rx); // what the status reported is there to read
            chunk.resize(done);
            reply.insert(reply.end(), chunk.begin(), chunk.end());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        if (GetParam())
            QCoreApplication::processEvents();
        EXPECT_EQ(lib.GetStatus(h, &rx, &tx, &ev), FT_OK);
        EXPECT_EQ(rx, 0u);
        return reply;
    }

    TModbusPeer peer_;
    QTemporaryDir dir_;
    std::vector<std::string> configured_;
};

INSTANTIATE_TEST_SUITE_P(EventLoop, SerialLibraryPty, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "Running" : "Idle"; });

TEST_P(SerialLibraryPty, ListedThroughTheConfigAndOpenedByItsPath)
{
    TSerialPortLibrary lib(Configured());
    std::vector<std::string> names;
    std::uint32_t count = 0;
    ASSERT_EQ(lib.ListDevices(names, &count, 64), FT_OK); // room for every USB adapter here
    EXPECT_EQ(count, names.size());
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.back(), peer_.Path());

    const FtHandle h = OpenConfigured(lib);
    ASSERT_NE(h, kNoHandle);
    DeviceDetails d;
    FtHandle held = kNoHandle;
    ASSERT_EQ(lib.CreateDeviceInfoList(&count), FT_OK);
    ASSERT_EQ(lib.GetDeviceInfoDetail(count - 1, d, &held), FT_OK);
    EXPECT_EQ(d.Description, peer_.Path());
    EXPECT_EQ(held, h);

    FtHandle second = 99;
    EXPECT_NE(lib.OpenEx(peer_.Path(), FT_OPEN_BY_DESCRIPTION, &second), FT_OK);
    EXPECT_EQ(second, kNoHandle);

    // Closed, the handle is dead and the port free to open again.
    EXPECT_EQ(lib.Close(h), FT_OK);
    ExpectRefused(lib, h);
    FtHandle again = kNoHandle;
    EXPECT_EQ(lib.OpenEx(peer_.Path(), FT_OPEN_BY_DESCRIPTION, &again), FT_OK);
    EXPECT_NE(again, kNoHandle);
    EXPECT_NE(again, h);
}

// Two terminals configured under long links that are equal well past the
// cut: each listed description opens its own terminal.
TEST_P(SerialLibraryPty, LinksEqualUpToTheCutOpenTheirOwnTerminal)
{
    TModbusPeer other;
    ASSERT_TRUE(other.Ready());
    const std::string base = QFile::encodeName(dir_.path()).toStdString() +
                             "/usb-Acme_Sensor_Bus_RS485_Bridge_Controller_galvanically_isolated_";
    ASSERT_GT(base.size(), kDescriptionSize);
    const std::string links[] = {base + "0A1B-if00-port0", base + "0A1C-if00-port0"};
    ASSERT_EQ(::symlink(peer_.Path().c_str(), links[0].c_str()), 0);
    ASSERT_EQ(::symlink(other.Path().c_str(), links[1].c_str()), 0);
    configured_ = {links[0], links[1]};

    TSerialPortLibrary lib(Configured(), [] { return std::vector<TPortRecord>{}; });
    std::vector<std::string> names;
    std::uint32_t count = 0;
    ASSERT_EQ(lib.ListDevices(names, &count, 8), FT_OK);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_NE(names[0], names[1]);

    const std::uint16_t values[] = {0x1111, 0x2222};
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_LE(names[i].size(), kDescriptionSize);
        FtHandle h = kNoHandle;
        ASSERT_EQ(lib.OpenEx(names[i], FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
        std::uint8_t request[kMaxRequestSize];
        const Bytes frame(request, request + BuildRequest(request, 50, 6, 10, 0, values[i]));
        EXPECT_EQ(Exchange(lib, h, frame, frame.size()), frame); // written register echoed
    }
    EXPECT_EQ(peer_.Register(10), values[0]);
    EXPECT_EQ(other.Register(10), values[1]);
}

struct TExchangeRow {
    const char *name;
    Bytes request;
    Bytes reply; // libmodbus's answer; CRCs checked against the published algorithm
};

TEST_P(SerialLibraryPty, RequestsAnsweredByLibmodbus)
{
    const TExchangeRow rows[] = {
        {"read 0",
         {0x32, 0x03, 0x00, 0x00, 0x00, 0x01, 0x81, 0xC9},
         {0x32, 0x03, 0x02, 0x01, 0x2C, 0xBC, 0x0D}},
        {"write 10 echoed",
         {0x32, 0x06, 0x00, 0x0A, 0x12, 0x34, 0xA1, 0x7C},
         {0x32, 0x06, 0x00, 0x0A, 0x12, 0x34, 0xA1, 0x7C}},
        {"read 100 refused",
         {0x32, 0x03, 0x00, 0x64, 0x00, 0x01, 0xC0, 0x16},
         {0x32, 0x83, 0x02, 0x30, 0xFE}},
    };
    TSerialPortLibrary lib(Configured());
    const FtHandle h = OpenConfigured(lib);
    ASSERT_NE(h, kNoHandle);
    for (const TExchangeRow &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Exchange(lib, h, row.request, row.reply.size()), row.reply);
    }
    EXPECT_EQ(peer_.Register(10), 0x1234); // libmodbus took the write
}

TEST_P(SerialLibraryPty, HungUpFarEndFailsStatusAndWrite)
{
    TSerialPortLibrary lib(Configured());
    const FtHandle h = OpenConfigured(lib);
    ASSERT_NE(h, kNoHandle);
    std::uint32_t rx = 0, tx = 0, ev = 0, done = 0;
    ASSERT_EQ(lib.GetStatus(h, &rx, &tx, &ev), FT_OK);

    peer_.HangUp();
    if (GetParam())
        QCoreApplication::processEvents();
    EXPECT_NE(lib.GetStatus(h, &rx, &tx, &ev), FT_OK);
    const std::uint8_t frame[] = {0x32, 0x03, 0x00, 0x00, 0x00, 0x01, 0x81, 0xC9};
    EXPECT_NE(lib.Write(h, frame, sizeof frame, &done), FT_OK);
    EXPECT_EQ(lib.Close(h), FT_OK);
}

// The transport on this library: a request built by the codec goes out
// through CFtdi, the reply is taken in by the receive tick's calls and
// decodes; a hung-up far end takes the link down at the next status or write.
TEST_P(SerialLibraryPty, TransportOverThePseudoTerminal)
{
    TSerialPortLibrary lib(Configured());
    CFtdi ftdi(lib);
    const std::vector<std::string> listed = ftdi.ListDescriptions(64);
    ASSERT_NE(std::find(listed.begin(), listed.end(), peer_.Path()), listed.end());
    ftdi.SetDescription(peer_.Path());

    ftdi.Open();
    ASSERT_TRUE(ftdi.IsOpen());
    EXPECT_EQ(ftdi.TakeEvents(), LinkEvents{TLinkEvent::Up});

    std::uint8_t request[kMaxRequestSize];
    const std::size_t length = BuildRequest(request, 50, 3, 0, 1, 0);
    ftdi.Write(request, static_cast<std::uint32_t>(length));
    ASSERT_TRUE(ftdi.IsOpen());
    std::vector<std::uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (bytes.size() < 7 && std::chrono::steady_clock::now() < deadline) {
        if (GetParam())
            QCoreApplication::processEvents();
        const std::uint32_t waiting = ftdi.QueueStatus();
        ASSERT_TRUE(ftdi.IsOpen());
        for (std::uint32_t i = 0; i < waiting; ++i) {
            const std::optional<std::uint8_t> b = ftdi.ReadByte();
            ASSERT_TRUE(b.has_value());
            bytes.push_back(*b);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(bytes.size(), 7u);
    const TDecodedFrame frame = DecodeFrame(bytes.data(), bytes.size(), bytes.size());
    ASSERT_EQ(frame.Result, 0);
    EXPECT_EQ(frame.RxAddress, 50);
    EXPECT_EQ(frame.RxFunction, 3);
    ASSERT_EQ(frame.RxByteCount, 2);
    EXPECT_EQ(frame.RxData[0] << 8 | frame.RxData[1], 0x012C);

    peer_.HangUp();
    EXPECT_EQ(ftdi.QueueStatus(), 0u);
    EXPECT_FALSE(ftdi.IsOpen());
    EXPECT_NE(ftdi.Status(), FT_OK);
    EXPECT_EQ(ftdi.TakeEvents(), LinkEvents{TLinkEvent::Lost});
    EXPECT_EQ(ftdi.Handle(), kNoHandle);
}

TEST_P(SerialLibraryPty, WriteToAHungUpTerminalTakesTheLinkDown)
{
    TSerialPortLibrary lib(Configured());
    CFtdi ftdi(lib);
    ftdi.SetDescription(peer_.Path());
    ftdi.Open();
    ASSERT_TRUE(ftdi.IsOpen());
    ftdi.TakeEvents();

    peer_.HangUp();
    if (GetParam())
        QCoreApplication::processEvents();
    std::uint8_t request[kMaxRequestSize];
    ftdi.Write(request, static_cast<std::uint32_t>(BuildRequest(request, 50, 6, 10, 0, 1)));
    EXPECT_FALSE(ftdi.IsOpen());
    EXPECT_EQ(ftdi.TakeEvents(), LinkEvents{TLinkEvent::Lost});
}

// ---- bytes taken in by the status call, over a bare pseudo-terminal ----

class SerialLibraryFetch : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[128] = {};
        ASSERT_EQ(::openpty(&master_, &slave_, name, nullptr, nullptr), 0);
        path_ = name;
    }
    void TearDown() override
    {
        for (const int fd : {master_, slave_})
            if (fd >= 0)
                ::close(fd);
    }

    // The next `n` bytes of a running sequence into the terminal, once the
    // system's queue of the port holds them all.
    void Send(std::size_t n)
    {
        Bytes bytes;
        for (std::size_t i = 0; i < n; ++i)
            bytes.push_back(std::uint8_t(sent_++ * 7 + 3));
        ASSERT_EQ(::write(master_, bytes.data(), n), ssize_t(n));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (SystemQueue() < int(n) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(SystemQueue(), int(n));
    }
    std::uint8_t Expected() { return std::uint8_t(read_++ * 7 + 3); }
    int SystemQueue() const
    {
        int waiting = -1;
        return ::ioctl(slave_, FIONREAD, &waiting) == 0 ? waiting : -1;
    }
    std::uint32_t Status(TSerialPortLibrary &lib, FtHandle h)
    {
        std::uint32_t rx = 0, tx = 0, ev = 0;
        EXPECT_EQ(lib.GetStatus(h, &rx, &tx, &ev), FT_OK);
        return rx;
    }
    // `n` reads of one byte, as the receive tick does, checked in order.
    void ReadBytes(TSerialPortLibrary &lib, FtHandle h, std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i) {
            std::uint8_t b = 0;
            std::uint32_t done = 0;
            ASSERT_EQ(lib.Read(h, &b, 1, &done), FT_OK);
            ASSERT_EQ(done, 1u) << "byte " << i;
            ASSERT_EQ(b, Expected()) << "byte " << i;
        }
    }

    int master_ = -1, slave_ = -1;
    std::string path_;
    std::size_t sent_ = 0, read_ = 0;
};

struct TFetchRow {
    const char *name;
    std::size_t first, consumed, more;
};

// One status call empties the system's queue; the bytes come out of the
// reads in order, those not read wait for the next tick ahead of new ones.
TEST_F(SerialLibraryFetch, OneStatusCallTakesInAllThatWaits)
{
    const TFetchRow rows[] = {
        {"one byte", 1, 1, 0},
        {"a reply, then another", 7, 7, 7},
        {"more than the receive buffer", 100, 100, 0},
        {"bytes left over stay first", 100, 40, 50},
        {"nearly a full terminal queue", 4000, 1000, 90},
    };
    TSerialPortLibrary lib([this] { return std::vector<std::string>{path_}; },
                           [] { return std::vector<TPortRecord>{}; });
    FtHandle h = kNoHandle;
    ASSERT_EQ(lib.OpenEx(path_, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
    for (const TFetchRow &row : rows) {
        SCOPED_TRACE(row.name);
        Send(row.first);
        EXPECT_EQ(Status(lib, h), row.first);
        EXPECT_EQ(SystemQueue(), 0);
        ReadBytes(lib, h, row.consumed);
        Send(row.more);
        const std::size_t left = row.first - row.consumed + row.more;
        EXPECT_EQ(Status(lib, h), left);
        EXPECT_EQ(SystemQueue(), 0);
        ReadBytes(lib, h, left);
        EXPECT_EQ(Status(lib, h), 0u);
    }
}

TEST_F(SerialLibraryFetch, PurgeAndCloseDropHeldBytesAHangUpStillFails)
{
    TSerialPortLibrary lib([this] { return std::vector<std::string>{path_}; },
                           [] { return std::vector<TPortRecord>{}; });
    FtHandle h = kNoHandle;
    ASSERT_EQ(lib.OpenEx(path_, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
    Send(20);
    ASSERT_EQ(Status(lib, h), 20u);
    ReadBytes(lib, h, 5);
    EXPECT_EQ(lib.Purge(h, FT_PURGE_TX), FT_OK);
    EXPECT_EQ(Status(lib, h), 15u);
    EXPECT_EQ(lib.Purge(h, FT_PURGE_RX), FT_OK);
    EXPECT_EQ(Status(lib, h), 0u);

    Send(10);
    ASSERT_EQ(Status(lib, h), 10u);
    EXPECT_EQ(lib.Close(h), FT_OK);
    ASSERT_EQ(lib.OpenEx(path_, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
    EXPECT_EQ(Status(lib, h), 0u);

    // The far end hangs up while bytes are held: the next tick's status
    // call takes the link down all the same.
    CFtdi ftdi(lib);
    EXPECT_EQ(lib.Close(h), FT_OK);
    ftdi.SetDescription(path_);
    ftdi.Open();
    ASSERT_TRUE(ftdi.IsOpen());
    read_ = sent_;
    Send(30);
    ASSERT_EQ(ftdi.QueueStatus(), 30u);
    ASSERT_EQ(ftdi.ReadByte(), std::optional<std::uint8_t>(Expected()));
    ::close(master_);
    master_ = -1;
    EXPECT_EQ(ftdi.QueueStatus(), 0u);
    EXPECT_FALSE(ftdi.IsOpen());
    EXPECT_EQ(ftdi.TakeEvents(), (LinkEvents{TLinkEvent::Up, TLinkEvent::Lost}));
}

} // namespace
