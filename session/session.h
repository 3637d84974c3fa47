// The bus session: the transport, the receiver and the measurement model, and
// every decision of the polling cycle between them. Each call is one thing
// that happened (a press of the connect button, a receive tick, the reply
// time-out, ...); what follows from it goes to the caller's sink as events,
// in order and as it happens (a connect attempt is reported before the
// adapter is opened); the window shows them and runs its timers by them. No
// widgets, no texts.
//
// The cycle: one read request outstanding at a time. A request starts the
// reply time-out (200 ms; a running one is not restarted). The receive tick
// (every 20 ms while the link is up) fetches the bytes waiting; a frame ends
// on the second tick in a row without bytes. A reply from the polled sensor
// stops the time-out and sends the next request at once; the time-out sends
// it too. Every request is preceded by a 2 ms pause.
#pragma once

#include "link/cftdi.h"
#include "link/codec.h"
#include "link/receiver.h"
#include "measure/model.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qvr {

// The cycle's timing, for whoever runs the session's timers.
constexpr int kReceiveTickMs = 20;
constexpr int kReplyTimeoutMs = 200;
constexpr int kPauseBeforeWriteMs = 2;

// The pause before each write. The program sleeps; tests and the soak pass
// simulated time.
class IPause {
public:
    virtual ~IPause() = default;
    virtual void Pause(int milliseconds) = 0;
};

// What the link did, as the operator is to see it.
enum class TLinkChange {
    Connecting,    // a connect has begun
    Disconnecting, // the operator ends the connection
    Switching,     // another adapter was chosen while connected: the link closes
    NoAdapters,    // a connect found no adapter
    DetailFailed,  // an adapter's details could not be read (the open is still tried)
    OpenFailed,    // the adapter could not be opened or configured
    Up,            // the link is up: the receive tick runs
    Lost,          // a call failed: the link is down, the receive tick stops
    Closed,        // closed on request: the receive tick stops
};

struct TSessionEvent {
    enum class Kind {
        Link,           // Link
        FrameSent,      // Bytes, Length: a request, logged also when the link was down
        FrameReceived,  // Bytes, Length: a frame as received
        FrameError,     // Result: -1, or the exception code of a 5-byte frame
        Reading,        // Sensor, Raw, X: a reading stored for a sensor
        WriteConfirmed, // Register: the low byte of the register a write echo names
        TimeoutStart,   // start the reply time-out unless it is running
        TimeoutStop,
        ReconnectStart, // the link was lost: try Reconnect every interval
        ReconnectStop,  // the link is up again
    };
    Kind What = Kind::Link;
    TLinkChange Link = TLinkChange::Up;
    std::array<std::uint8_t, kRxBufferSize> Bytes{};
    std::uint8_t Length = 0;
    std::int8_t Result = 0;
    int Sensor = -1;
    std::uint32_t Raw = 0;
    std::uint64_t X = 0;
    std::uint8_t Register = 0;
};
using TSessionEvents = std::vector<TSessionEvent>;
// Takes each event as it happens.
using TEventSink = std::function<void(const TSessionEvent &)>;

// The two controls the cycle reads whenever it may send: whether polling is
// on, and the selected index of the sensor count list (-1: none selected).
struct TCycleControls {
    bool Polling = false;
    int SensorCountIndex = 0;
};

class TBusSession {
public:
    // Adapters listed at most.
    static constexpr std::uint32_t kMaxAdapters = 6;

    TBusSession(ID2xx &library, IPause &pause);

    // The adapters found, at most kMaxAdapters; the first becomes the one to
    // open. A failing listing gives none.
    std::vector<std::string> ListAdapters();

    // The connect button: ends the connection while the link is up (or the
    // reconnect tries while they run, unless the last try found no adapter),
    // else connects to the chosen adapter.
    void ConnectButton(const TCycleControls &controls, const TEventSink &sink);
    // The operator chose an adapter: it becomes the one to open and is
    // connected, closing the link first when it is up.
    void ChooseAdapter(const std::optional<std::string> &description,
                       const TCycleControls &controls, const TEventSink &sink);
    // The receive tick; nothing while the link is down.
    void ReceiveTick(const TCycleControls &controls, const TEventSink &sink);
    // The reply time-out has run out: the polled sensor has no reading.
    void TimedOut(const TCycleControls &controls, const TEventSink &sink);
    // The next read request, when the link is up and polling is on. Called
    // while a request is outstanding (polling switched off and on again), it
    // sends the next at once and the running time-out is not restarted.
    void PollNextSensor(const TCycleControls &controls, const TEventSink &sink);
    // A write of `value` to register `reg` of the sensor at `address`.
    void WriteParameter(std::uint8_t address, std::uint16_t reg, std::uint16_t value,
                        const TEventSink &sink);
    // Any request; logged whether or not the link is up.
    void SendFrame(std::uint8_t address, std::uint8_t function, std::uint16_t word1,
                   std::uint16_t word2, std::uint16_t word3, const TEventSink &sink);
    // Reconnecting by itself: when on, a link lost (never one the operator
    // ended) starts the reconnect tries; each is what a press of the connect
    // button does while the link is down, until the link is up.
    void SetReconnect(bool enabled) { reconnect_ = enabled; }
    void Reconnect(const TCycleControls &controls, const TEventSink &sink);
    // A new sensor count: the first `activeCount` readings become 0, the rest
    // have none.
    void ResetReadings(int activeCount) { model_.ResetReadings(activeCount); }

    bool LinkUp() const { return link_.IsOpen(); }
    const CFtdi &Link() const { return link_; }
    const TReceiver &Receiver() const { return receiver_; }
    const TMeasurementModel &Measurement() const { return model_; }

private:
    void Connect(const TCycleControls &controls, const TEventSink &sink);
    void Send(std::uint8_t address, std::uint8_t function, std::uint16_t word1, std::uint16_t word2,
              std::uint16_t word3, const TEventSink &sink);
    void Frame(const TDecodedFrame &frame, const TCycleControls &controls, const TEventSink &sink);
    // The transport's events since the last call, as link changes.
    void TakeLinkEvents(const TEventSink &sink);

    IPause &pause_;
    bool reconnect_ = false;
    bool reconnecting_ = false;
    // Whether the last connect found no adapter.
    bool noAdapter_ = false;
    CFtdi link_;
    TReceiver receiver_;
    TMeasurementModel model_;
};

} // namespace qvr
