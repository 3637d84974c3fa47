// CFtdi: the single transport object. It opens the adapter chosen by its
// description, configures the line (57600 8N1, no flow control), writes
// frames, and after every library call whose result it keeps decides whether
// the link is up or down (CheckStatus).
#pragma once

#include "d2xx.h"

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace qvr {

// What the transport shows and drives in the window. The main window
// implements it; tests use a recording fake.
class ILinkView {
public:
    virtual ~ILinkView() = default;
    virtual void SetPanelText(int panel, const QString &text) = 0;
    virtual void SetConnectCaption(const QString &caption) = 0;
    virtual void SetUsbTimerEnabled(bool enabled) = 0;
    virtual void PollNextSensor() = 0;
};

class CFtdi {
public:
    CFtdi(ID2xx &library, ILinkView &view);

    // Counts, inspects, opens by Description and configures; the link comes up
    // only once all of that succeeded. A failure leaves nothing open.
    void Open();
    void Close();
    void Write(const std::uint8_t *data, std::uint32_t count);
    void CheckStatus();

    // The receive tick's two library calls; neither reaches the adapter while
    // the link is down. QueueStatus stores its result in Status and runs
    // CheckStatus; after a failed call RxQueue is 0. ReadByte fetches one byte
    // into RxByte.
    void QueueStatus();
    void ReadByte();

    // Device listing at window creation: at most `maxCount` descriptions.
    std::vector<std::string> ListDescriptions(std::uint32_t maxCount);

    FtStatus Status = FT_OK;
    FtHandle Handle = kNoHandle;
    DeviceDetails Details;
    std::uint32_t DeviceCount = 0;
    bool IsOpen = false;
    std::uint32_t RxQueue = 0;
    std::uint32_t TxQueue = 0;
    std::uint32_t BytesRead = 0;
    std::uint32_t BytesWritten = 0;
    std::uint32_t EventStatus = 0;
    std::uint8_t RxByte = 0;
    std::string Description;

private:
    // Closing steps shared by Close and a lost link: timer off, adapter
    // closed, handle emptied, IsOpen cleared.
    void Shutdown();

    ID2xx &lib_;
    ILinkView &view_;
};

} // namespace qvr
