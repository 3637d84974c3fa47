// The bus: Modbus RTU function codes the program uses and the sensors' addresses.
#pragma once

#include <cstdint>

namespace qvr {

// Read holding registers: a sensor's reading is its register 0.
constexpr std::uint8_t kReadHoldingRegisters = 0x03;
// Write single register: the sensors' parameters.
constexpr std::uint8_t kWriteSingleRegister = 0x06;
// A request with the fixed fields 00 FF 00 00; the window never sends it.
constexpr std::uint8_t kFunction60 = 0x60;
// Bit 7 of the function code marks an exception reply.
constexpr std::uint8_t kExceptionFlag = 0x80;

// Sixteen sensors at the slave addresses 50..65; sensor index i is address 50 + i.
constexpr int kSensorCount = 16;
constexpr std::uint8_t kFirstAddress = 50;
constexpr std::uint8_t kLastAddress = kFirstAddress + kSensorCount - 1;

constexpr bool IsSensorAddress(int address)
{
    return address >= kFirstAddress && address <= kLastAddress;
}

} // namespace qvr
