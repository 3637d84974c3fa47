// Start-up and shut-down of the main window, and the settings file between
// them.
#include "Main.h"
#include "texts.h"

void TFMain::FormCreate()
{
    // Adapter listing: the first is the one to open.
    for (const std::string &description : session_.ListAdapters())
        form_.UsbBox->addItem(QString::fromStdString(description));

    // From here on an error ends start-up: it is shown by the caller and the
    // remaining steps are skipped.
    qvr::TReconnectSettings reconnect;
    settingsForm_->Show(qvr::LoadSettings(configPath_, &reconnect));
    settingsLoaded_ = true;
    session_.SetReconnect(reconnect.Enabled);
    reconnectTimer_->setInterval(reconnect.IntervalMs);
    SetupSensorDisplay(form_.SensorCnt->currentIndex() + 1);
    // The link comes up here, before polling is switched on: the first read
    // request goes out when UpdateData is ticked below.
    if (form_.auto_connect->isChecked())
        ConnectButtonClick();
    form_.SaveData->setChecked(form_.AutoSaveData->isChecked());
    form_.UpdateData->setChecked(form_.AutoUpdateData->isChecked());
    ChartTypeChange();
    setWindowTitle(qvr::text::kWindowTitle);
    form_.PageControl1->setCurrentWidget(form_.TabSheet1);
}

void TFMain::FormClose()
{
    // A file that could not be read at start is never written: the controls
    // hold fallbacks, not the operator's settings, which a passing error
    // (a permission, a device in the file's place) only hid.
    if (!settingsLoaded_)
        return;
    qvr::SaveSettings(configPath_, settingsForm_->Shown());
}
