// A Modbus RTU peer on a pseudo-terminal: libmodbus serves sensors on the
// master end, the program (or the code under test) opens the slave end by its
// path. One implementation for bench/bus_peer, which serves on its main
// thread, and for the end-to-end tests, which serve on a thread of the peer.
//
// Each served address has holding registers 0..15. Register 0 is the reading:
// a value set by hand, or the sensor's moving signal (sim/sensor_signal.h)
// with a little noise. Registers 1, 2, 3 and 10 take writes (function 6,
// echoed); any other register refuses them (exception 2). Requests for other
// addresses get no reply, as on a shared bus.
//
// A request is gathered from the terminal (eight bytes for functions 3 and 6,
// anything else up to a pause on the line) and handed to libmodbus through a
// socket pair with the address set from its first byte: libmodbus drops a
// frame for another address only after reading it whole. libmodbus checks the
// frame (CRC, length for its function) and answers; the answer goes back onto
// the terminal, paced as on the wire when asked to (a terminal has no baud
// rate).
//
// Given a link path, the peer names its terminal by a symbolic link there;
// after a hang-up it can come back on a new terminal under that link: an
// adapter unplugged and plugged in again.
#pragma once

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <modbus/modbus.h>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace qvr {
class TSensorSignal;
}

namespace qvr::test {

struct TPeerOptions {
    // Served addresses (each with registers of its own), and those of them that
    // take requests but never answer.
    std::vector<int> Addresses = {50};
    std::vector<int> Silent;
    // Register 0 of every address at the start; with Moving, the sensor's
    // signal instead, drawn from Seed with the noise.
    std::uint16_t Register0 = 0x012C;
    bool Moving = false;
    unsigned long Seed = 1;
    std::string Link;
    // With WireTime, a reply is written no earlier than the request and the
    // reply would take on the wire at 57600 baud (11 bit times a byte) plus
    // the turnaround; without, at once.
    bool WireTime = false;
    long TurnaroundUs = 1000;
    // Every LateEvery-th reply comes LateMs after the request instead (paced
    // or not); every BadCrcEvery-th has its CRC broken. 0: never.
    long LateEvery = 0;
    long LateMs = 300;
    long BadCrcEvery = 0;
    // "monotonic ms;address;value" for every reading sent with a good CRC.
    std::string Log;
    // The monotonic time in ms (three decimals) at which the first request
    // began to arrive, written once, whole.
    std::string FirstRequest;
};

struct TPeerCounts {
    std::map<int, std::uint64_t> Requests; // per served address: taken by libmodbus
    std::uint64_t Other = 0;               // frames for addresses not served
    std::uint64_t Refused = 0;             // frames libmodbus did not take
    std::uint64_t Replies = 0;
    std::uint64_t Late = 0;
    std::uint64_t BadCrc = 0;
};

class TModbusPeer {
public:
    static constexpr int kRegisters = 16;

    // Opens the terminal, the link and the log; see Ready() and Error().
    // Nothing is served before Start or Run.
    explicit TModbusPeer(TPeerOptions options);
    // For the tests: `slaves`, register 0 of each at `register0`, served on a
    // thread of the peer from the start.
    explicit TModbusPeer(std::vector<int> slaves = {50}, std::uint16_t register0 = 0x012C,
                         std::string link = {});
    ~TModbusPeer();

    TModbusPeer(const TModbusPeer &) = delete;
    TModbusPeer &operator=(const TModbusPeer &) = delete;

    bool Ready() const { return error_.empty(); }
    // Why the peer could not open: "what: reason".
    const std::string &Error() const { return error_; }
    // What the program opens: the link when there is one.
    const std::string &Path() const { return options_.Link.empty() ? path_ : options_.Link; }

    // Serves on a thread of the peer until HangUp.
    void Start();
    // Serves on the calling thread until Stop, until `untilUs` on the
    // monotonic clock, or until Interrupt; true only after an interrupt.
    bool Run(std::int64_t untilUs = INT64_MAX);
    // Both safe in a signal handler and from any thread.
    void Stop();
    void Interrupt();

    // Stops serving and closes the master side: the terminal hangs up.
    void HangUp();
    // After a hang-up: serves again on a new terminal that the link now
    // names. Registers and counts are kept.
    bool ComeBack();

    // The terminal stops carrying bytes from the program: its writes wait
    // for room until the peer hangs up.
    bool StopOutput();
    // One byte (an address nobody serves) written into the terminal as the
    // program writes: it reaches the peer after all written before.
    bool SendMarker();

    // Bytes read from the terminals so far, and the frames they made.
    long Received() const { return received_; }
    long Frames() const { return frames_; }

    // A holding register of a served address (the first one by default).
    std::uint16_t Register(int index, int slave = -1);
    void SetRegister(int index, std::uint16_t value, int slave = -1);
    // Requests to `slave` that libmodbus took (good CRC, whole frame).
    int Requests(int slave);
    TPeerCounts Counts();
    // "requests 50=N ... other=N refused=N replies=N late=N bad_crc=N"
    std::string Summary();

    // Removes the link while it still names this peer's terminal.
    void RemoveLink();

    static std::int64_t NowUs();

private:
    struct TSlave {
        modbus_mapping_t *Map = nullptr;
        bool Silent = false;
    };

    bool Open();
    bool Fail(const std::string &what);
    bool OpenTerminal();
    modbus_mapping_t *Map(int slave);
    void Serve() { Run(); }
    void Wait(std::int64_t untilUs);
    void DrainWake();
    void ReadAvailable();
    std::vector<std::uint8_t> NextFrame();
    void Answer(const std::vector<std::uint8_t> &frame, std::int64_t arrivedUs);
    void StampFirstRequest(std::int64_t arrivedUs);

    TPeerOptions options_;
    std::string error_;
    std::mt19937 rng_;
    std::unique_ptr<TSensorSignal> signal_; // with Moving
    std::int64_t startUs_ = 0;

    int master_ = -1;
    int slave_ = -1;
    int inner_[2] = {-1, -1}; // libmodbus's end, the peer's end
    int wake_[2] = {-1, -1};  // Stop and Interrupt write here
    std::string path_;
    bool linked_ = false;
    modbus_t *ctx_ = nullptr;
    std::map<int, TSlave> slaves_;
    std::FILE *log_ = nullptr;
    bool firstSeen_ = false;
    std::vector<std::uint8_t> pending_;

    std::mutex mutex_; // registers and counts
    TPeerCounts counts_;
    std::atomic<long> received_{0};
    std::atomic<long> frames_{0};
    std::atomic<bool> stop_{false};
    std::atomic<bool> interrupted_{false};
    std::thread server_;
};

} // namespace qvr::test
