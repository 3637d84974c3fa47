#include "session/session.h"

#include "measure/parameters.h"

#include <algorithm>

namespace qvr {

namespace {

TSessionEvent LinkEvent(TLinkChange change)
{
    TSessionEvent e;
    e.What = TSessionEvent::Kind::Link;
    e.Link = change;
    return e;
}

TSessionEvent Of(TSessionEvent::Kind what)
{
    TSessionEvent e;
    e.What = what;
    return e;
}

TSessionEvent WithBytes(TSessionEvent::Kind what, const std::uint8_t *bytes, std::size_t length)
{
    TSessionEvent e = Of(what);
    e.Length = static_cast<std::uint8_t>(std::min(length, e.Bytes.size()));
    std::copy(bytes, bytes + e.Length, e.Bytes.begin());
    return e;
}

TLinkChange ChangeOf(TLinkEvent event)
{
    switch (event) {
    case TLinkEvent::NoAdapters:
        return TLinkChange::NoAdapters;
    case TLinkEvent::DeviceDetailFailed:
        return TLinkChange::DetailFailed;
    case TLinkEvent::OpenFailed:
        return TLinkChange::OpenFailed;
    case TLinkEvent::Up:
        return TLinkChange::Up;
    case TLinkEvent::Lost:
        return TLinkChange::Lost;
    case TLinkEvent::Closed:
        break;
    }
    return TLinkChange::Closed;
}

} // namespace

TBusSession::TBusSession(ID2xx &library, IPause &pause) : pause_(pause), link_(library) {}

std::vector<std::string> TBusSession::ListAdapters()
{
    // A failing listing ends it silently; the program starts all the same.
    try {
        std::vector<std::string> descriptions = link_.ListDescriptions(kMaxAdapters);
        if (!descriptions.empty())
            link_.SetDescription(descriptions.front());
        return descriptions;
    } catch (...) {
        return {};
    }
}

void TBusSession::ConnectButton(const TCycleControls &controls, const TEventSink &sink)
{
    // While the link is being tried again, the button (captioned to end the
    // connection since the last try opened something) ends the tries; after
    // a try that found no adapter it is a try of its own.
    if (reconnecting_ && !link_.IsOpen() && !noAdapter_) {
        reconnecting_ = false;
        sink(LinkEvent(TLinkChange::Disconnecting));
        sink(Of(TSessionEvent::Kind::ReconnectStop));
        return;
    }
    if (link_.IsOpen()) {
        sink(LinkEvent(TLinkChange::Disconnecting));
        link_.Close();
        TakeLinkEvents(sink);
        return;
    }
    Connect(controls, sink);
}

void TBusSession::ChooseAdapter(const std::optional<std::string> &description,
                                const TCycleControls &controls, const TEventSink &sink)
{
    if (link_.IsOpen()) {
        sink(LinkEvent(TLinkChange::Switching));
        link_.Close();
        TakeLinkEvents(sink);
    }
    if (description)
        link_.SetDescription(*description);
    if (!link_.IsOpen())
        Connect(controls, sink);
}

void TBusSession::Connect(const TCycleControls &controls, const TEventSink &sink)
{
    sink(LinkEvent(TLinkChange::Connecting));
    noAdapter_ = false;
    link_.Open();
    TakeLinkEvents(sink);
    // The first request goes out as soon as the link is up.
    if (link_.IsOpen())
        PollNextSensor(controls, sink);
}

void TBusSession::ReceiveTick(const TCycleControls &controls, const TEventSink &sink)
{
    const std::optional<TDecodedFrame> frame = receiver_.Tick(link_);
    TakeLinkEvents(sink);
    if (frame)
        Frame(*frame, controls, sink);
}

void TBusSession::Frame(const TDecodedFrame &frame, const TCycleControls &controls,
                        const TEventSink &sink)
{
    sink(WithBytes(TSessionEvent::Kind::FrameReceived, frame.Bytes.data(), frame.FrameLength));
    if (!frame.Good()) {
        TSessionEvent error = Of(TSessionEvent::Kind::FrameError);
        error.Result = frame.Result;
        sink(error);
        return;
    }
    if (frame.RxFunction == kWriteSingleRegister) {
        if (frame.DataLength < kWriteEchoDataLength)
            return; // not a whole echo
        TSessionEvent confirmed = Of(TSessionEvent::Kind::WriteConfirmed);
        confirmed.Register = frame.RxData[0];
        sink(confirmed);
        return;
    }
    if (frame.RxFunction != kReadHoldingRegisters)
        return;
    const std::optional<TReadOutcome> reading =
        model_.ReadReply(frame.RxAddress, frame.RxData.data(), frame.DataLength);
    if (!reading)
        return; // too short to carry a register: the time-out moves the cycle on
    if (reading->AnswersRequest)
        sink(Of(TSessionEvent::Kind::TimeoutStop));
    if (reading->Index >= 0) {
        TSessionEvent stored = Of(TSessionEvent::Kind::Reading);
        stored.Sensor = reading->Index;
        stored.Raw = reading->Raw;
        stored.X = reading->X;
        sink(stored);
    }
    if (reading->AnswersRequest)
        PollNextSensor(controls, sink);
}

void TBusSession::TimedOut(const TCycleControls &controls, const TEventSink &sink)
{
    sink(Of(TSessionEvent::Kind::TimeoutStop));
    model_.TimedOut();
    PollNextSensor(controls, sink);
}

void TBusSession::PollNextSensor(const TCycleControls &controls, const TEventSink &sink)
{
    const std::optional<std::uint8_t> address =
        model_.PollNextSensor(link_.IsOpen(), controls.Polling, controls.SensorCountIndex);
    if (!address)
        return;
    sink(Of(TSessionEvent::Kind::TimeoutStart));
    Send(*address, kReadHoldingRegisters, 0, 1, 0, sink);
}

void TBusSession::WriteParameter(std::uint8_t address, std::uint16_t reg, std::uint16_t value,
                                 const TEventSink &sink)
{
    Send(address, kWriteSingleRegister, reg, 0, value, sink);
}

void TBusSession::SendFrame(std::uint8_t address, std::uint8_t function, std::uint16_t word1,
                            std::uint16_t word2, std::uint16_t word3, const TEventSink &sink)
{
    Send(address, function, word1, word2, word3, sink);
}

void TBusSession::Send(std::uint8_t address, std::uint8_t function, std::uint16_t word1,
                       std::uint16_t word2, std::uint16_t word3, const TEventSink &sink)
{
    std::uint8_t frame[kMaxRequestSize];
    const std::size_t length = BuildRequest(frame, address, function, word1, word2, word3);
    if (link_.IsOpen()) {
        pause_.Pause(kPauseBeforeWriteMs);
        link_.Write(frame, static_cast<std::uint32_t>(length));
        TakeLinkEvents(sink);
    }
    // Logged whether or not it went out.
    sink(WithBytes(TSessionEvent::Kind::FrameSent, frame, length));
}

void TBusSession::TakeLinkEvents(const TEventSink &sink)
{
    for (const TLinkEvent e : link_.TakeEvents()) {
        sink(LinkEvent(ChangeOf(e)));
        if (e == TLinkEvent::NoAdapters)
            noAdapter_ = true;
        if (e == TLinkEvent::Lost && reconnect_ && !reconnecting_) {
            reconnecting_ = true;
            sink(Of(TSessionEvent::Kind::ReconnectStart));
        } else if (e == TLinkEvent::Up && reconnecting_) {
            reconnecting_ = false;
            sink(Of(TSessionEvent::Kind::ReconnectStop));
        }
    }
}

void TBusSession::Reconnect(const TCycleControls &controls, const TEventSink &sink)
{
    if (!reconnecting_)
        return;
    if (link_.IsOpen()) {
        reconnecting_ = false;
        sink(Of(TSessionEvent::Kind::ReconnectStop));
        return;
    }
    Connect(controls, sink);
}

} // namespace qvr
