// The adapter library over real serial ports (Qt Serial Port): the USB serial
// adapters the system has, FTDI ones first, then every configured port (the
// program's come from the section [Adapters] of config.ini). Queue status and reads never block and
// need no running event loop, so the 20 ms receive tick can call them; a write
// waits at most 200 ms for room in the system's queue.
//
// The queue status call takes in every byte the system holds for the port (up
// to kRxFetchSize in all) with one read and reports what the library holds;
// reads then hand those bytes out without a system call, so fetching a reply
// byte by byte costs one read per tick, not one per byte.
#pragma once

#include "d2xx.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QSerialPort;

namespace qvr {

// One serial port as the system reports it.
struct TPortRecord {
    std::string Description; // UTF-8
    std::string PortName;    // short name, e.g. "ttyUSB1"
    std::string Location;    // what to open, e.g. "/dev/ttyUSB1"
    std::string SerialNumber;
    bool HasVendorId = false; // USB adapters only
    std::uint16_t VendorId = 0;
    std::uint16_t ProductId = 0;
};

// One entry of the adapter list: its unique description and where it lives.
struct TListedPort {
    std::string Description; // at most kDescriptionSize bytes
    std::string Location;
    std::string SerialNumber;
    std::uint32_t Id = 0; // vendor id << 16 | product id; 0 for configured ports
};

constexpr std::uint16_t kFtdiVendorId = 0x0403;

// Most bytes the library holds per open port, taken in by one status call.
constexpr std::size_t kRxFetchSize = 4096;

// The adapter list: USB ports only (those with a vendor id), FTDI first, each
// group in the order found; then the configured ports (path = description),
// a path named twice listed once. An empty description becomes the port name.
//
// Every description in the list is distinct, at most kDescriptionSize bytes
// and whole UTF-8 characters, so opening by description reaches exactly the
// entry listed. The text is cut to kDescriptionSize bytes; where two cut texts
// are equal, each gets " (port name)", its text cut shorter so that the suffix
// fits (a configured port's name is its path; when " (name)" alone exceeds the
// limit the cut name stands instead). If a text is then still held by an
// earlier entry, the later one gets " (n)" in the same way, with the smallest
// n >= 2 that gives a text no other entry chose. A text that was unique stays
// as it is; the result depends only on the ports and their order.
std::vector<TListedPort> OrderPorts(const std::vector<TPortRecord> &found,
                                    const std::vector<std::string> &configured);

class TSerialPortLibrary : public ID2xx {
public:
    using Enumerator = std::function<std::vector<TPortRecord>()>;
    using PortList = std::function<std::vector<std::string>()>;

    // `configured` names the ports to list after the USB adapters; it is
    // asked afresh at every listing and open, so an edit of its source takes
    // effect at the next one. It must not block. `enumerate` lists the
    // system's ports; by default QSerialPortInfo.
    explicit TSerialPortLibrary(PortList configured, Enumerator enumerate = {});
    ~TSerialPortLibrary() override;

    TSerialPortLibrary(const TSerialPortLibrary &) = delete;
    TSerialPortLibrary &operator=(const TSerialPortLibrary &) = delete;

    // The system's serial ports through QSerialPortInfo.
    static std::vector<TPortRecord> SystemPorts();

    FtStatus ListDevices(std::vector<std::string> &descriptions, std::uint32_t *count,
                         std::uint32_t maxCount) override;
    FtStatus CreateDeviceInfoList(std::uint32_t *count) override;
    FtStatus GetDeviceInfoDetail(std::uint32_t index, DeviceDetails &details,
                                 FtHandle *handle) override;
    FtStatus OpenEx(const std::string &description, std::uint32_t flags, FtHandle *handle) override;
    FtStatus SetBaudRate(FtHandle handle, std::uint32_t baud) override;
    FtStatus SetDataCharacteristics(FtHandle handle, std::uint8_t wordLength, std::uint8_t stopBits,
                                    std::uint8_t parity) override;
    FtStatus SetFlowControl(FtHandle handle, std::uint16_t flow, std::uint8_t xon,
                            std::uint8_t xoff) override;
    FtStatus Purge(FtHandle handle, std::uint32_t mask) override;
    FtStatus GetStatus(FtHandle handle, std::uint32_t *rxQueue, std::uint32_t *txQueue,
                       std::uint32_t *eventStatus) override;
    FtStatus Read(FtHandle handle, void *buffer, std::uint32_t toRead,
                  std::uint32_t *bytesRead) override;
    FtStatus Write(FtHandle handle, const void *buffer, std::uint32_t toWrite,
                   std::uint32_t *bytesWritten) override;
    FtStatus Close(FtHandle handle) override;

private:
    struct TOpenPort {
        std::unique_ptr<QSerialPort> Port;
        std::string Location;
        // Received bytes taken in by GetStatus, not yet read: Rx[RxHead..].
        std::vector<char> Rx;
        std::size_t RxHead = 0;
    };

    void Refresh();
    QSerialPort *Find(FtHandle handle);
    TOpenPort *FindOpen(FtHandle handle);
    // Takes in what the port object and the system hold, up to kRxFetchSize
    // bytes held in all, with at most one read. False when the port is gone.
    static bool Fetch(TOpenPort &open);
    // False once the port has vanished: unplugged adapter, hung-up terminal.
    static bool Alive(QSerialPort &port);

    PortList configured_;
    Enumerator enumerate_;
    std::vector<TListedPort> list_;
    std::map<FtHandle, TOpenPort> open_;
    FtHandle nextHandle_ = 1;
};

} // namespace qvr
