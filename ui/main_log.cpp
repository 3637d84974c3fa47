// The measurement log file.
#include "Main.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

void TFMain::SaveTimerTimer()
{
    // Logging runs while it is switched on, the link is up and polling is on;
    // otherwise nothing is opened or created.
    if (!SaveData->isChecked())
        return;
    if (!Ftdi || !Ftdi->IsOpen())
        return;
    if (!UpdateData->isChecked())
        return;
    const QByteArray line =
        qvr::BuildLogLine(LogFields(), QDateTime::currentDateTime(), SensorCnt->currentIndex(),
                          model_.SensorReading(), Coeff->text());
    // A line that cannot be opened, written or closed is reported the same
    // way; the next tick tries again.
    if (!qvr::AppendToLog(FileName->text(), line))
        SetPanelText(2, QStringLiteral("Błąd zapisu do pliku"));
}

void TFMain::SpeedButton5Click()
{
    // The file cannot be changed while it is being written.
    if (SaveData->isChecked()) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Zapis do pliku"),
                        QStringLiteral("Plik jest aktualnie uzywany"), QMessageBox::Ok, this);
        box.exec();
        return;
    }
    if (SaveDialog->exec() != QDialog::Accepted || SaveDialog->selectedFiles().isEmpty())
        return;
    const QString path = QDir::toNativeSeparators(SaveDialog->selectedFiles().constFirst());
    // The name goes into config.ini as one line: a line break in it would
    // add lines of its own there.
    if (!qvr::IsStorableLogPath(path)) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("QVR 1 - PC"),
                        QStringLiteral("Nazwa pliku zawiera znaki sterujące (np. koniec "
                                       "wiersza). Wybierz plik o innej nazwie."),
                        QMessageBox::Ok, this);
        box.exec();
        return;
    }
    FileName->setText(path);
    // A failure here is not reported: the next tick that logs reports it.
    qvr::CreateIfMissing(path);
}

qvr::TLogFields TFMain::LogFields() const
{
    qvr::TLogFields fields;
    fields.Date = save_data->isChecked();
    fields.Time = save_time->isChecked();
    fields.Raw = save_raw->isChecked();
    fields.Percent = save_percent->isChecked();
    fields.Scaled = save_coeff->isChecked();
    return fields;
}
