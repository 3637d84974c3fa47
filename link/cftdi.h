// CFtdi: the single transport object. It opens the adapter chosen by its
// description, configures the line (57600 8N1, no flow control), writes
// frames, and after every library call whose result it keeps decides whether
// the link is up or down. It records what happened as events; what follows
// from them (the receive tick, the first request, the texts) is the caller's
// business.
#pragma once

#include "d2xx.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvr {

// What happened to the link, in the order it happened; the layer above acts
// on it and words it.
enum class TLinkEvent {
    NoAdapters,         // the count found no adapter: nothing was opened
    DeviceDetailFailed, // a detail query failed; the open was still tried
    OpenFailed,         // opening or configuring failed: nothing is left open
    Up,                 // opened and configured
    Lost,               // a call failed while up: the adapter is closed
    Closed,             // closed on request
};

class CFtdi {
public:
    explicit CFtdi(ID2xx &library);

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

    // The events since the last call, oldest first.
    std::vector<TLinkEvent> TakeEvents();

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
    // Brings the link down after a failed call, or up after a successful one.
    void CheckStatus();
    // Closing steps shared by Close and a lost link: adapter closed, handle
    // emptied, IsOpen cleared.
    void Shutdown();

    ID2xx &lib_;
    std::vector<TLinkEvent> events_;
    FtStatus status_ = FT_OK;
    FtHandle handle_ = kNoHandle;
    std::uint32_t deviceCount_ = 0;
    bool isOpen_ = false;
    std::string description_;
};

} // namespace qvr
