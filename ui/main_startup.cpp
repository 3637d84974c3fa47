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
    ShowSettings(qvr::LoadSettings(configPath_));
    settingsLoaded_ = true;
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
    qvr::SaveSettings(configPath_, ShownSettings());
}

void TFMain::ShowSettings(const qvr::TSettings &s)
{
    // Setting a list's index runs none of its handlers; the display set-up
    // that depends on it is run by FormCreate.
    form_.AutoSaveData->setChecked(s.AutoSave);
    form_.AutoUpdateData->setChecked(s.Update);
    form_.auto_connect->setChecked(s.AutoConnect);
    form_.save_data->setChecked(s.SaveDate);
    form_.save_time->setChecked(s.SaveTime);
    form_.save_raw->setChecked(s.SaveRaw);
    form_.save_percent->setChecked(s.SavePercent);
    form_.save_coeff->setChecked(s.SaveCoeff);
    form_.FileName->setText(s.SaveFile);
    form_.SensorCnt->setCurrentIndex(s.SensorCount);
    form_.SaveFreq->setCurrentIndex(s.SaveFreq);
    form_.ChartType->setCurrentIndex(s.ChartType);
    form_.Coeff->setText(s.Coeff);
}

qvr::TSettings TFMain::ShownSettings() const
{
    qvr::TSettings s;
    s.AutoSave = form_.AutoSaveData->isChecked();
    s.Update = form_.AutoUpdateData->isChecked();
    s.AutoConnect = form_.auto_connect->isChecked();
    s.SaveDate = form_.save_data->isChecked();
    s.SaveTime = form_.save_time->isChecked();
    s.SaveRaw = form_.save_raw->isChecked();
    s.SavePercent = form_.save_percent->isChecked();
    s.SaveCoeff = form_.save_coeff->isChecked();
    s.SaveFile = form_.FileName->text();
    s.SensorCount = form_.SensorCnt->currentIndex();
    s.SaveFreq = form_.SaveFreq->currentIndex();
    s.ChartType = form_.ChartType->currentIndex();
    s.Coeff = form_.Coeff->text();
    return s;
}
