// The transport: every library result that is kept goes through CheckStatus,
// which alone brings the link up or takes it down. Whenever no adapter is
// open, the handle is kNoHandle, so a stray call reaches nothing and fails.
#include "link/cftdi.h"

#include <utility>

namespace qvr {

namespace {

constexpr std::uint32_t kBaudRate = 57600;

} // namespace

CFtdi::CFtdi(ID2xx &library) : lib_(library) {}

void CFtdi::Open()
{
    if (isOpen_)
        return;

    deviceCount_ = 0; // a count call that fails to fill it means no adapter
    lib_.CreateDeviceInfoList(&deviceCount_);
    status_ = deviceCount_ > 0 ? FT_OK : FT_DEVICE_NOT_FOUND;
    if (deviceCount_ == 0) {
        events_.push_back(TLinkEvent::NoAdapters);
        return;
    }

    // The link stays down until the adapter is open and configured.
    DeviceDetails details;
    for (std::uint32_t i = 0; i < deviceCount_; ++i) {
        if (lib_.GetDeviceInfoDetail(i, details, &handle_) != FT_OK) {
            events_.push_back(TLinkEvent::DeviceDetailFailed);
            break;
        }
    }

    // Each result replaces the status, but a failure anywhere in the sequence
    // is kept: a later call that happens to succeed must not hide it.
    FtStatus failure = FT_OK;
    auto step = [&](FtStatus result) {
        status_ = result;
        if (result != FT_OK)
            failure = result;
    };
    step(lib_.OpenEx(description_, FT_OPEN_BY_DESCRIPTION, &handle_));
    if (status_ != FT_OK)
        handle_ = kNoHandle; // neither junk from the open nor the detail query's handle
    else if (handle_ == kNoHandle)
        step(FT_INVALID_HANDLE);
    step(lib_.SetBaudRate(handle_, kBaudRate));
    step(lib_.SetDataCharacteristics(handle_, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE));
    step(lib_.SetFlowControl(handle_, FT_FLOW_NONE, 0, 0));
    step(lib_.Purge(handle_, FT_PURGE_RX | FT_PURGE_TX));
    if (failure != FT_OK) {
        status_ = failure;
        if (handle_ != kNoHandle)
            lib_.Close(handle_);
        handle_ = kNoHandle;
        events_.push_back(TLinkEvent::OpenFailed);
    }
    CheckStatus();
}

void CFtdi::Close()
{
    if (!isOpen_)
        return;
    Shutdown();
    events_.push_back(TLinkEvent::Closed);
}

void CFtdi::Write(const std::uint8_t *data, std::uint32_t count)
{
    if (!isOpen_)
        return;
    std::uint32_t written = 0;
    status_ = lib_.Write(handle_, data, count, &written);
    CheckStatus();
}

std::uint32_t CFtdi::QueueStatus()
{
    if (!isOpen_)
        return 0;
    std::uint32_t rxQueue = 0, txQueue = 0, events = 0;
    status_ = lib_.GetStatus(handle_, &rxQueue, &txQueue, &events);
    CheckStatus();
    return status_ == FT_OK ? rxQueue : 0; // nothing is read after a failed call
}

std::optional<std::uint8_t> CFtdi::ReadByte()
{
    if (!isOpen_)
        return std::nullopt;
    std::uint8_t byte = 0;
    std::uint32_t read = 0;
    // A read that fails means the adapter has gone: the link goes down, as
    // after a failed status call, and no byte is made up.
    status_ = lib_.Read(handle_, &byte, 1, &read);
    CheckStatus();
    if (status_ != FT_OK || read != 1)
        return std::nullopt;
    return byte;
}

std::vector<std::string> CFtdi::ListDescriptions(std::uint32_t maxCount)
{
    std::vector<std::string> descriptions;
    std::uint32_t count = 0;
    status_ = lib_.ListDevices(descriptions, &count, maxCount);
    if (descriptions.size() > maxCount)
        descriptions.resize(maxCount);
    return descriptions;
}

void CFtdi::CheckStatus()
{
    if (status_ != FT_OK && isOpen_) {
        Shutdown();
        events_.push_back(TLinkEvent::Lost);
    } else if (status_ == FT_OK && !isOpen_) {
        isOpen_ = true;
        events_.push_back(TLinkEvent::Up);
    }
}

std::vector<TLinkEvent> CFtdi::TakeEvents()
{
    return std::exchange(events_, {});
}

void CFtdi::Shutdown()
{
    lib_.Close(handle_);
    handle_ = kNoHandle;
    isOpen_ = false;
}

} // namespace qvr
