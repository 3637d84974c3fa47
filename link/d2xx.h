// The adapter library seen by CFtdi: one operation per library call the program
// makes, each returning a status (0 = success, anything else = failure) and
// filling its outputs. Backends: real serial ports, the simulated sensor bus,
// and scripted fakes in tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvr {

using FtStatus = std::int32_t;
using FtHandle = std::uintptr_t;

constexpr FtStatus FT_OK = 0;
constexpr FtStatus FT_INVALID_HANDLE = 1;
constexpr FtStatus FT_DEVICE_NOT_FOUND = 2;
constexpr FtStatus FT_DEVICE_NOT_OPENED = 3;
constexpr FtStatus FT_IO_ERROR = 4;
constexpr FtStatus FT_INVALID_PARAMETER = 6;
constexpr FtStatus FT_OTHER_ERROR = 18;

// No adapter open. A backend never hands this out as a valid handle, and every
// call given it fails without touching anything.
constexpr FtHandle kNoHandle = 0;

// Flag of the open call.
constexpr std::uint32_t FT_OPEN_BY_DESCRIPTION = 2;

// Line settings.
constexpr std::uint8_t FT_BITS_8 = 8;
constexpr std::uint8_t FT_STOP_BITS_1 = 0;
constexpr std::uint8_t FT_PARITY_NONE = 0;
constexpr std::uint16_t FT_FLOW_NONE = 0;
constexpr std::uint32_t FT_PURGE_RX = 1;
constexpr std::uint32_t FT_PURGE_TX = 2;

// Longest description text the listing hands back, terminator excluded.
constexpr std::size_t kDescriptionSize = 63;

struct DeviceDetails {
    std::uint32_t Flags = 0;
    std::uint32_t Type = 0;
    std::uint32_t ID = 0;
    std::uint32_t LocId = 0;
    std::string SerialNumber;
    std::string Description;
};

class ID2xx {
public:
    virtual ~ID2xx() = default;

    // Description texts of the attached adapters, in the library's order;
    // at most `maxCount` of them are returned, `*count` gets the number attached.
    virtual FtStatus ListDevices(std::vector<std::string> &descriptions, std::uint32_t *count,
                                 std::uint32_t maxCount) = 0;
    virtual FtStatus CreateDeviceInfoList(std::uint32_t *count) = 0;
    virtual FtStatus GetDeviceInfoDetail(std::uint32_t index, DeviceDetails &details,
                                         FtHandle *handle) = 0;
    virtual FtStatus OpenEx(const std::string &description, std::uint32_t flags,
                            FtHandle *handle) = 0;
    virtual FtStatus SetBaudRate(FtHandle handle, std::uint32_t baud) = 0;
    virtual FtStatus SetDataCharacteristics(FtHandle handle, std::uint8_t wordLength,
                                            std::uint8_t stopBits, std::uint8_t parity) = 0;
    virtual FtStatus SetFlowControl(FtHandle handle, std::uint16_t flow, std::uint8_t xon,
                                    std::uint8_t xoff) = 0;
    // The last configuration call; the program passes FT_PURGE_RX | FT_PURGE_TX.
    virtual FtStatus Purge(FtHandle handle, std::uint32_t mask) = 0;
    // Bytes waiting to be read, without blocking.
    virtual FtStatus GetStatus(FtHandle handle, std::uint32_t *rxQueue, std::uint32_t *txQueue,
                               std::uint32_t *eventStatus) = 0;
    virtual FtStatus Read(FtHandle handle, void *buffer, std::uint32_t toRead,
                          std::uint32_t *bytesRead) = 0;
    virtual FtStatus Write(FtHandle handle, const void *buffer, std::uint32_t toWrite,
                           std::uint32_t *bytesWritten) = 0;
    virtual FtStatus Close(FtHandle handle) = 0;
};

} // namespace qvr
