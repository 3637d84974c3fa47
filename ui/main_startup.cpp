// Start-up and shut-down of the main window.
#include "Main.h"

void TFMain::FormCreate()
{
    Ftdi = std::make_unique<qvr::CFtdi>(library_, static_cast<qvr::ILinkView &>(*this));

    // Adapter listing: at most six, the first is the one to open. An error
    // here ends the listing silently; start-up goes on.
    constexpr std::uint32_t kMaxAdapters = 6;
    try {
        for (const std::string &description : Ftdi->ListDescriptions(kMaxAdapters))
            UsbBox->addItem(QString::fromStdString(description));
        if (UsbBox->count() > 0)
            Ftdi->SetDescription(UsbBox->item(0)->text().toStdString());
    } catch (...) {
    }

    SetupSensorDisplay(SensorCnt->currentIndex() + 1);
    ChartTypeChange();
}

void TFMain::FormClose() {}
