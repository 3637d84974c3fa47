// A libmodbus RTU master on a terminal path, for the peer's tests.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <modbus/modbus.h>
#include <string>
#include <vector>

namespace qvr::test {

class TModbusMaster {
public:
    TModbusMaster(const std::string &path, int timeoutMs)
    {
        ctx_ = modbus_new_rtu(path.c_str(), 57600, 'N', 8, 1);
        if (ctx_ != nullptr && modbus_connect(ctx_) != 0) {
            modbus_free(ctx_);
            ctx_ = nullptr;
        }
        if (ctx_ != nullptr)
            modbus_set_response_timeout(ctx_, 0, timeoutMs * 1000);
    }
    ~TModbusMaster()
    {
        if (ctx_ != nullptr) {
            modbus_close(ctx_);
            modbus_free(ctx_);
        }
    }
    TModbusMaster(const TModbusMaster &) = delete;
    TModbusMaster &operator=(const TModbusMaster &) = delete;

    modbus_t *get() { return ctx_; }

    // Register `reg` of `address`: the value, or -errno.
    long Read(int address, int reg = 0)
    {
        std::uint16_t value = 0;
        modbus_set_slave(ctx_, address);
        return modbus_read_registers(ctx_, reg, 1, &value) == 1 ? value : -errno;
    }
    // The value written (as echoed), or -errno.
    long Write(int address, int reg, std::uint16_t value)
    {
        modbus_set_slave(ctx_, address);
        return modbus_write_register(ctx_, reg, value) == 1 ? value : -errno;
    }

    // The reply to a request given without its CRC (libmodbus adds it): its
    // bytes, CRC included; empty when none came.
    std::vector<std::uint8_t> Raw(const std::vector<std::uint8_t> &request)
    {
        modbus_set_slave(ctx_, request[0]);
        if (modbus_send_raw_request(ctx_, request.data(), static_cast<int>(request.size())) <= 0)
            return {};
        std::uint8_t reply[MODBUS_RTU_MAX_ADU_LENGTH];
        const int n = modbus_receive_confirmation(ctx_, reply);
        return n > 0 ? std::vector<std::uint8_t>(reply, reply + n) : std::vector<std::uint8_t>();
    }

private:
    modbus_t *ctx_ = nullptr;
};

using TestClock = std::chrono::steady_clock;

inline long MicrosecondsSince(TestClock::time_point start)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(TestClock::now() - start).count());
}

// A read at 57600 baud, 11 bit times a byte: request 8 bytes, reply 7, plus
// the default 1 ms turnaround.
constexpr long kReadWireTimeUs = 15 * 11 * 1000000 / 57600 + 1000;

} // namespace qvr::test
