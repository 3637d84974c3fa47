// Modbus RTU frame codec: request building, CRC-16, decoding of a received
// frame, and the hex bytes of the traffic log. No widget, no I/O.
#pragma once

#include "link/modbus.h"

#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>

namespace qvr {

constexpr std::size_t kRxBufferSize = 64;
constexpr std::size_t kMaxRequestSize = 8;

// Modbus RTU CRC-16 (init 0xFFFF, reflected 0xA001), table driven. On the
// wire the low byte goes first.
std::uint16_t Crc16(const std::uint8_t *data, std::size_t length);

// Builds a request into `out` (room for kMaxRequestSize bytes) and returns its
// length. Function 3: w1 = start register, w2 = count. Function 6: w1 =
// register, w3 = value. Function 0x60: fixed 00 FF 00 00. Other codes carry
// no fields.
std::size_t BuildRequest(std::uint8_t *out, std::uint8_t address, std::uint8_t function,
                         std::uint16_t w1, std::uint16_t w2, std::uint16_t w3);

// A received frame after decoding. It carries only bytes that this frame
// brought: nothing is left over from an earlier frame.
struct TDecodedFrame {
    // The bytes as received (the RX line), FrameLength of them; past 64 bytes
    // the last one is replaced by each new byte.
    std::array<std::uint8_t, kRxBufferSize> Bytes{};
    std::uint8_t FrameLength = 0;
    // 0 for a good frame; -1 for fewer than 5 bytes, a bad CRC or more than 64
    // bytes received; the exception code (as signed 8-bit) of a 5-byte frame.
    std::int8_t Result = -1;
    // Filled for every frame that passes the CRC check.
    std::uint8_t RxAddress = 0;
    std::uint8_t RxFunction = 0;
    std::uint8_t RxByteCount = 0;
    // The bytes between the third byte and the CRC; DataLength of them.
    std::array<std::uint8_t, kRxBufferSize> RxData{};
    std::uint8_t DataLength = 0;

    bool Good() const { return Result == 0; }
};

// Decodes `count` received bytes (at most kRxBufferSize are kept); `received`
// is how many arrived in all, so that a frame whose middle was dropped never
// passes as good.
TDecodedFrame DecodeFrame(const std::uint8_t *bytes, std::size_t count, std::size_t received);

// `prefix` followed by the bytes as two upper-case hex digits, each followed
// by a space: the traffic log's lines.
QString HexLine(const char *prefix, const std::uint8_t *frame, std::size_t length);

} // namespace qvr
