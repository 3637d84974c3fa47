#include "link/receiver.h"

#include "link/cftdi.h"

namespace qvr {

void TReceiver::AppendRxByte(std::uint8_t b)
{
    ++received_;
    if (rxCount_ < kRxBufferSize)
        rxBuffer_[rxCount_++] = b;
    else
        rxBuffer_[kRxBufferSize - 1] = b;
}

std::optional<TDecodedFrame> TReceiver::Tick(CFtdi &link)
{
    if (!link.IsOpen())
        return std::nullopt;
    const std::uint32_t waiting = link.QueueStatus();
    bool fetched = false;
    for (std::uint32_t i = 0; i < waiting; ++i) {
        const std::optional<std::uint8_t> b = link.ReadByte();
        if (!b)
            break;
        AppendRxByte(*b);
        fetched = true;
    }
    if (fetched)
        silenceTicks_ = 2;
    if (!link.IsOpen() || fetched || silenceTicks_ == 0 || --silenceTicks_ > 0)
        return std::nullopt;
    const TDecodedFrame frame = DecodeFrame(rxBuffer_.data(), rxCount_, received_);
    rxCount_ = 0;
    received_ = 0;
    return frame;
}

} // namespace qvr
