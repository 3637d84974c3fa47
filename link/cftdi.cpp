// The transport: every library result that is kept goes through CheckStatus,
// which alone brings the link up or takes it down. Whenever no adapter is
// open, Handle is kNoHandle, so a stray call reaches nothing and fails.
#include "link/cftdi.h"

namespace qvr {

namespace {

const QString kConnectCaption = QStringLiteral("Połącz");
const QString kNoDevicesText = QStringLiteral("Nie znaleziono urządzeń USB");
const QString kConnectedOkText = QStringLiteral("Połączenie zostało nawiązane poprwanie");
const QString kLinkUpText = QStringLiteral("Polączony");
const QString kLinkLostText = QStringLiteral("Rozłączony");
const QString kClosedText = QStringLiteral("Rozłaczony");

constexpr std::uint32_t kBaudRate = 57600;

} // namespace

CFtdi::CFtdi(ID2xx &library, ILinkView &view) : lib_(library), view_(view) {}

void CFtdi::Open()
{
    if (IsOpen)
        return;

    DeviceCount = 0; // a count call that fails to fill it means no adapter
    lib_.CreateDeviceInfoList(&DeviceCount);
    Status = DeviceCount > 0 ? FT_OK : FT_DEVICE_NOT_FOUND;
    if (DeviceCount == 0) {
        CheckStatus(); // down with a failure: nothing to show
        view_.SetConnectCaption(kConnectCaption);
        return;
    }

    // The link stays down until the adapter is open and configured.
    for (std::uint32_t i = 0; i < DeviceCount; ++i) {
        if (lib_.GetDeviceInfoDetail(i, Details, &Handle) != FT_OK) {
            view_.SetPanelText(0, kNoDevicesText);
            break;
        }
    }

    // Each result replaces Status, but a failure anywhere in the sequence is
    // kept: a later call that happens to succeed must not hide it.
    FtStatus failure = FT_OK;
    auto step = [&](FtStatus result) {
        Status = result;
        if (result != FT_OK)
            failure = result;
    };
    step(lib_.OpenEx(Description, FT_OPEN_BY_DESCRIPTION, &Handle));
    if (Status != FT_OK)
        Handle = kNoHandle; // neither junk from the open nor the detail query's handle
    else if (Handle == kNoHandle)
        step(FT_INVALID_HANDLE);
    step(lib_.SetBaudRate(Handle, kBaudRate));
    step(lib_.SetDataCharacteristics(Handle, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE));
    step(lib_.SetFlowControl(Handle, FT_FLOW_NONE, 0, 0));
    step(lib_.Purge(Handle, FT_PURGE_RX | FT_PURGE_TX));
    if (failure != FT_OK) {
        Status = failure;
        if (Handle != kNoHandle)
            lib_.Close(Handle);
        Handle = kNoHandle;
        view_.SetPanelText(1, kLinkLostText);
    }
    CheckStatus();
}

void CFtdi::Close()
{
    if (!IsOpen)
        return;
    Shutdown();
    view_.SetPanelText(1, kClosedText);
}

void CFtdi::Write(const std::uint8_t *data, std::uint32_t count)
{
    if (!IsOpen)
        return;
    Status = lib_.Write(Handle, data, count, &BytesWritten);
    CheckStatus();
}

void CFtdi::CheckStatus()
{
    if (Status != FT_OK && IsOpen) {
        view_.SetPanelText(1, kLinkLostText);
        Shutdown();
    } else if (Status == FT_OK && !IsOpen) {
        view_.SetPanelText(0, kConnectedOkText);
        view_.SetPanelText(1, kLinkUpText);
        IsOpen = true;
        view_.SetUsbTimerEnabled(true);
        // May write, and a failed write takes the link down again before we return.
        view_.PollNextSensor();
    }
}

void CFtdi::QueueStatus()
{
    if (!IsOpen) {
        RxQueue = 0;
        return;
    }
    Status = lib_.GetStatus(Handle, &RxQueue, &TxQueue, &EventStatus);
    if (Status != FT_OK)
        RxQueue = 0; // nothing is read after a failed status call
    CheckStatus();
}

void CFtdi::ReadByte()
{
    if (!IsOpen)
        return;
    lib_.Read(Handle, &RxByte, 1, &BytesRead);
}

std::vector<std::string> CFtdi::ListDescriptions(std::uint32_t maxCount)
{
    std::vector<std::string> descriptions;
    std::uint32_t count = 0;
    Status = lib_.ListDevices(descriptions, &count, maxCount);
    if (descriptions.size() > maxCount)
        descriptions.resize(maxCount);
    return descriptions;
}

void CFtdi::Shutdown()
{
    view_.SetUsbTimerEnabled(false);
    lib_.Close(Handle);
    Handle = kNoHandle;
    IsOpen = false;
}

} // namespace qvr
