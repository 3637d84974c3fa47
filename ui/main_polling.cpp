// The polling cycle: one read request outstanding, the next sent as soon as
// the previous one is answered or timed out.
#include "Main.h"

#include <QTimer>

void TFMain::PollNextSensor()
{
    const std::optional<std::uint8_t> address = model_.PollNextSensor(
        Ftdi && Ftdi->IsOpen(), UpdateData->isChecked(), SensorCnt->currentIndex());
    if (!address)
        return;
    EnableTimer(TimeoutTimer);
    SendFrame(*address, qvr::kReadHoldingRegisters, 0, 1, 0);
}

void TFMain::TimeoutTimerTimer()
{
    TimeoutTimer->stop();
    model_.TimedOut();
    PollNextSensor();
}

void TFMain::UpdateDataClick()
{
    PollNextSensor();
}
