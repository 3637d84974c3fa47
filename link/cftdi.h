// CFtdi: the single transport object. It opens the adapter chosen by its
// description, configures the line (57600 8N1, no flow control), writes
// frames, and after every library call whose result it keeps decides whether
// the link is up or down. It tells its view what happened; what follows from
// it (the receive tick, the first request) is the view's business.
#pragma once

#include "d2xx.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvr {

// What the transport shows and reports. The main window implements it; tests
// use a recording fake.
class ILinkView {
public:
    virtual ~ILinkView() = default;
    virtual void SetPanelText(int panel, const QString &text) = 0;
    virtual void SetConnectCaption(const QString &caption) = 0;
    // The link has come up (its texts are shown). Called once Open is done
    // with the adapter, never from inside another call of the transport.
    virtual void LinkUp() = 0;
    // The link has gone down: lost after a failed call, or closed.
    virtual void LinkDown() = 0;
};

class CFtdi {
public:
    CFtdi(ID2xx &library, ILinkView &view);

    // Counts, inspects, opens by Description and configures; the link comes up
    // only once all of that succeeded. A failure leaves nothing open.
    void Open();
    void Close();
    void Write(const std::uint8_t *data, std::uint32_t count);

    // The receive tick's two library calls; neither reaches the adapter while
    // the link is down, and a failure of either takes the link down.
    // QueueStatus gives the bytes waiting (0 after a failed call); ReadByte
    // gives one byte, or nothing when the read failed or brought no byte.
    std::uint32_t QueueStatus();
    std::optional<std::uint8_t> ReadByte();

    // Device listing at window creation: at most `maxCount` descriptions.
    std::vector<std::string> ListDescriptions(std::uint32_t maxCount);

    // Set while the link is up.
    bool IsOpen() const { return isOpen_; }
    // The result of the last library call whose result is kept (0 = success).
    FtStatus Status() const { return status_; }
    FtHandle Handle() const { return handle_; }
    std::uint32_t DeviceCount() const { return deviceCount_; }
    // The adapter Open opens.
    const std::string &Description() const { return description_; }
    void SetDescription(const std::string &description) { description_ = description; }

private:
    // Brings the link down after a failed call, or up after a successful one;
    // returns whether it has just come up.
    bool CheckStatus();
    // Closing steps shared by Close and a lost link: the view told, adapter
    // closed, handle emptied, IsOpen cleared.
    void Shutdown();

    ID2xx &lib_;
    ILinkView &view_;
    FtStatus status_ = FT_OK;
    FtHandle handle_ = kNoHandle;
    DeviceDetails details_;
    std::uint32_t deviceCount_ = 0;
    bool isOpen_ = false;
    std::string description_;
};

} // namespace qvr
