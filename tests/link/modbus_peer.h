// An independent Modbus RTU server for end-to-end tests: libmodbus on the
// master side of a pseudo-terminal whose slave side the code under test opens
// by its path. It serves one or more slave addresses, each with holding
// registers 0..15 of its own; register 0 starts at a given value.
//
// libmodbus drops a frame for another address only after reading it whole,
// so each request is first gathered from the terminal (it ends when the line
// falls quiet), the address set from its first byte, and the frame handed to
// libmodbus through a socket pair; libmodbus checks it and answers, and the
// answer goes back onto the terminal.
//
// Given a link path, the peer names its terminal by a symbolic link there,
// and after a hang-up it can come back on a new terminal under that link: an
// adapter unplugged and plugged in again.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <modbus/modbus.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace qvr::test {

class TModbusPeer {
public:
    static constexpr int kRegisters = 16;

    explicit TModbusPeer(std::vector<int> slaves = {50}, std::uint16_t register0 = 0x012C,
                         std::string link = {})
        : link_(std::move(link))
    {
        if (!OpenTerminal())
            return;
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, inner_) != 0)
            return;
        ctx_ = modbus_new_rtu(path_.c_str(), 57600, 'N', 8, 1);
        if (ctx_ == nullptr)
            return;
        modbus_set_socket(ctx_, inner_[0]);      // the RTU layer reads and writes this descriptor
        modbus_set_byte_timeout(ctx_, 0, 20000); // a short frame is given up quickly
        for (const int slave : slaves) {
            modbus_mapping_t *map = modbus_mapping_new(0, 0, kRegisters, 0);
            if (map == nullptr)
                return;
            map->tab_registers[0] = register0;
            maps_[slave] = map;
        }
        if (!maps_.empty())
            server_ = std::thread([this] { Serve(); });
    }

    TModbusPeer(const TModbusPeer &) = delete;
    TModbusPeer &operator=(const TModbusPeer &) = delete;

    ~TModbusPeer()
    {
        HangUp();
        for (const int fd : {slave_, inner_[0], inner_[1]})
            if (fd >= 0)
                ::close(fd);
        for (auto &[slave, map] : maps_)
            modbus_mapping_free(map);
        if (ctx_ != nullptr)
            modbus_free(ctx_);
        if (!link_.empty())
            ::unlink(link_.c_str());
    }

    bool Ready() const { return server_.joinable(); }
    // What the code under test opens: the link when there is one.
    const std::string &Path() const { return link_.empty() ? path_ : link_; }

    // Closes the master side: the terminal hangs up.
    void HangUp()
    {
        stop_ = true;
        if (server_.joinable())
            server_.join();
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

    // After a hang-up: serves again on a new terminal that the link now
    // names. Registers and counts are kept.
    bool ComeBack()
    {
        HangUp();
        if (link_.empty() || !OpenTerminal())
            return false;
        stop_ = false;
        server_ = std::thread([this] { Serve(); });
        return true;
    }

    // The terminal stops carrying bytes from the code under test: its writes
    // wait for room until the peer hangs up.
    bool StopOutput() { return ::tcflow(slave_, TCOOFF) == 0; }

    // One byte (an address nobody serves) written into the terminal as the
    // code under test writes: it reaches the peer after all written before.
    bool SendMarker()
    {
        const std::uint8_t marker = 0;
        return ::write(slave_, &marker, 1) == 1;
    }

    // Bytes read from the terminals so far, and the frames they made (a
    // frame ends when the line falls quiet).
    long Received() const { return received_; }
    long Frames() const { return frames_; }

    // A holding register of a served address (the first one by default).
    std::uint16_t Register(int index, int slave = -1)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return Map(slave)->tab_registers[index];
    }
    void SetRegister(int index, std::uint16_t value, int slave = -1)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Map(slave)->tab_registers[index] = value;
    }

    // Requests to `slave` that libmodbus accepted (good CRC, whole frame).
    int Requests(int slave)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = requests_.find(slave);
        return it == requests_.end() ? 0 : it->second;
    }

private:
    // A new terminal (the slave side kept open as well), named by the link
    // when there is one.
    bool OpenTerminal()
    {
        if (slave_ >= 0)
            ::close(slave_);
        slave_ = -1;
        char name[128] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
            return false;
        path_ = name;
        if (link_.empty())
            return true;
        // Re-pointed in one step: whoever opens the link finds a terminal.
        const std::string next = link_ + ".next";
        ::unlink(next.c_str());
        return ::symlink(name, next.c_str()) == 0 && ::rename(next.c_str(), link_.c_str()) == 0;
    }

    modbus_mapping_t *Map(int slave) { return slave < 0 ? maps_.begin()->second : maps_.at(slave); }

    // Bytes from the terminal until it has been quiet for a few milliseconds.
    std::vector<std::uint8_t> Gather()
    {
        std::vector<std::uint8_t> frame;
        std::uint8_t chunk[MODBUS_RTU_MAX_ADU_LENGTH];
        pollfd p{master_, POLLIN, 0};
        while (::poll(&p, 1, 3) > 0 && (p.revents & POLLIN) != 0) {
            const ssize_t n = ::read(master_, chunk, sizeof chunk);
            if (n <= 0)
                break;
            received_ += n;
            frame.insert(frame.end(), chunk, chunk + n);
        }
        return frame;
    }

    // Whatever waits on `fd`, without blocking.
    static std::vector<std::uint8_t> Drain(int fd)
    {
        std::vector<std::uint8_t> bytes;
        std::uint8_t chunk[MODBUS_RTU_MAX_ADU_LENGTH];
        ssize_t n;
        while ((n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT)) > 0)
            bytes.insert(bytes.end(), chunk, chunk + n);
        return bytes;
    }

    void Answer(const std::vector<std::uint8_t> &frame)
    {
        if (maps_.count(frame[0]) == 0)
            return; // another slave's request: a real slave keeps quiet
        modbus_set_slave(ctx_, frame[0]);
        if (::write(inner_[1], frame.data(), frame.size()) != ssize_t(frame.size()))
            return;
        std::uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH];
        const int length = modbus_receive(ctx_, request);
        Drain(inner_[0]); // bytes past the frame libmodbus took
        if (length <= 0)
            return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++requests_[frame[0]];
            modbus_reply(ctx_, request, length, maps_.at(frame[0]));
        }
        const std::vector<std::uint8_t> reply = Drain(inner_[1]);
        if (!reply.empty() && ::write(master_, reply.data(), reply.size()) < 0)
            return; // the far end is gone; the test sees no reply
    }

    void Serve()
    {
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0 || (p.revents & POLLIN) == 0) {
                if (p.revents != 0) // no reader on the slave side yet
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            const std::vector<std::uint8_t> frame = Gather();
            if (frame.empty())
                continue;
            ++frames_;
            Answer(frame);
        }
    }

    int master_ = -1;
    int slave_ = -1;
    int inner_[2] = {-1, -1}; // libmodbus's end, the peer's end
    std::string path_;
    std::string link_;
    std::atomic<long> received_{0};
    std::atomic<long> frames_{0};
    modbus_t *ctx_ = nullptr;
    std::map<int, modbus_mapping_t *> maps_;
    std::map<int, int> requests_;
    std::mutex mutex_;
    std::atomic<bool> stop_{false};
    std::thread server_;
};

} // namespace qvr::test
