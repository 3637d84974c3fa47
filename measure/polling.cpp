// The polling cycle: one read request outstanding, the next sent as soon as
// the previous one is answered or timed out.
#include "ui/Main.h"

#include <QTimer>

void TFMain::PollNextSensor()
{
    if (!Ftdi || !Ftdi->IsOpen)
        return;
    if (!UpdateData->isChecked())
        return;
    EnableTimer(TimeoutTimer);
    PolledIndex = static_cast<std::uint8_t>(NextAddress - qvr::kFirstAddress);
    SendFrame(NextAddress, 3, 0, 1, 0);
    NextAddress = qvr::NextPollAddress(NextAddress, SensorCnt->currentIndex());
}

void TFMain::TimeoutTimerTimer()
{
    TimeoutTimer->stop();
    SensorReading[PolledIndex] = qvr::NoReading;
    PollNextSensor();
}

void TFMain::UpdateDataClick()
{
    PollNextSensor();
}
