// The receive side of the link: bytes fetched on every 20 ms tick into a
// 64-byte buffer; a frame ends on the second consecutive tick without bytes.
#pragma once

#include "link/codec.h"

#include <array>
#include <cstdint>
#include <optional>

namespace qvr {

class CFtdi;

class TReceiver {
public:
    // Past 64 bytes each new byte replaces the last one.
    void AppendRxByte(std::uint8_t b);

    // One receive tick while the link is up: fetches the bytes the adapter
    // reports waiting. Returns the frame when the line has fallen silent for
    // the second tick in a row. A tick that takes the link down (a failed
    // status call or read) returns nothing and keeps the partial frame.
    std::optional<TDecodedFrame> Tick(CFtdi &link);

    const std::array<std::uint8_t, kRxBufferSize> &RxBuffer() const { return rxBuffer_; }
    std::uint8_t RxCount() const { return rxCount_; }
    std::int32_t SilenceTicks() const { return silenceTicks_; }

private:
    std::array<std::uint8_t, kRxBufferSize> rxBuffer_{};
    std::uint8_t rxCount_ = 0;
    // Bytes of the frame in all, also those that did not fit.
    std::size_t received_ = 0;
    // Empty ticks still to wait before the buffered frame is processed.
    std::int32_t silenceTicks_ = 0;
};

} // namespace qvr
