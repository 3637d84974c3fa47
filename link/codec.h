// Modbus RTU frame codec: request building, CRC-16, the receive buffer with
// its decoding, and the texts of the traffic log. No widget, no I/O.
#pragma once

#include <QColor>
#include <QString>
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

// The frame being received and the fields of the last decoded one.
struct TRxFrame {
    std::uint8_t RxBuffer[kRxBufferSize] = {};
    std::uint8_t RxCount = 0;
    std::uint8_t RxAddress = 0;
    std::uint8_t RxFunction = 0;
    std::uint8_t RxByteCount = 0;
    std::uint8_t RxData[kRxBufferSize] = {};
    std::uint8_t FrameLength = 0;

    // Past 64 bytes each new byte replaces the last one.
    void AppendRxByte(std::uint8_t b);
    // 0 for a good frame, -1 for a short frame or a bad CRC, the exception
    // code (as signed 8-bit) for a 5-byte frame. Always empties the buffer.
    std::int8_t DecodeFrame();
};

// Traffic log lines: bytes as two upper-case hex digits, each followed by a space.
QString TxLine(const std::uint8_t *frame, std::size_t length);
QString RxLine(const std::uint8_t *frame, std::size_t length);
// "Error: " + the result sign-extended to 32 bits, upper-case hex, at least two digits.
QString ErrorLine(std::int8_t result);

inline const QColor kTxColor{109, 178, 49};
inline const QColor kRxColor{24, 142, 214};
inline const QColor kErrorColor{123, 40, 42};

} // namespace qvr
