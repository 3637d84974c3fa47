// Start-up and shut-down of the main window, and the settings file between
// them.
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

    // From here on an error ends start-up: it is shown by the caller and the
    // remaining steps are skipped.
    ShowSettings(qvr::LoadSettings(ConfigPath));
    settingsLoaded_ = true;
    SetupSensorDisplay(SensorCnt->currentIndex() + 1);
    // The link comes up here, before polling is switched on: the first read
    // request goes out when UpdateData is ticked below.
    if (auto_connect->isChecked())
        ConnectButtonClick();
    SaveData->setChecked(AutoSaveData->isChecked());
    UpdateData->setChecked(AutoUpdateData->isChecked());
    ChartTypeChange();
    setWindowTitle(QStringLiteral("QVR-1 PC  wersja: ") + QStringLiteral("1.02"));
    PageControl1->setCurrentWidget(TabSheet1);
}

void TFMain::FormClose()
{
    // A file that could not be read at start is never written: the controls
    // hold fallbacks, not the operator's settings, which a passing error
    // (a permission, a device in the file's place) only hid.
    if (!settingsLoaded_)
        return;
    qvr::SaveSettings(ConfigPath, ShownSettings());
}

void TFMain::ShowSettings(const qvr::TSettings &s)
{
    // Setting a list's index runs none of its handlers; the display set-up
    // that depends on it is run by FormCreate.
    AutoSaveData->setChecked(s.AutoSave);
    AutoUpdateData->setChecked(s.Update);
    auto_connect->setChecked(s.AutoConnect);
    save_data->setChecked(s.SaveDate);
    save_time->setChecked(s.SaveTime);
    save_raw->setChecked(s.SaveRaw);
    save_percent->setChecked(s.SavePercent);
    save_coeff->setChecked(s.SaveCoeff);
    FileName->setText(s.SaveFile);
    SensorCnt->setCurrentIndex(s.SensorCount);
    SaveFreq->setCurrentIndex(s.SaveFreq);
    ChartType->setCurrentIndex(s.ChartType);
    Coeff->setText(s.Coeff);
}

qvr::TSettings TFMain::ShownSettings() const
{
    qvr::TSettings s;
    s.AutoSave = AutoSaveData->isChecked();
    s.Update = AutoUpdateData->isChecked();
    s.AutoConnect = auto_connect->isChecked();
    s.SaveDate = save_data->isChecked();
    s.SaveTime = save_time->isChecked();
    s.SaveRaw = save_raw->isChecked();
    s.SavePercent = save_percent->isChecked();
    s.SaveCoeff = save_coeff->isChecked();
    s.SaveFile = FileName->text();
    s.SensorCount = SensorCnt->currentIndex();
    s.SaveFreq = SaveFreq->currentIndex();
    s.ChartType = ChartType->currentIndex();
    s.Coeff = Coeff->text();
    return s;
}
