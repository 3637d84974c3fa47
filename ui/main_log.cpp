// The measurement log file.
#include "Main.h"
#include "texts.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

void TFMain::SaveTimerTimer()
{
    // Logging runs while it is switched on, the link is up and polling is on;
    // otherwise nothing is opened or created.
    if (!form_.SaveData->isChecked())
        return;
    if (!session_.LinkUp())
        return;
    if (!form_.UpdateData->isChecked())
        return;
    const QByteArray line = qvr::BuildLogLine(
        qvr::LogFieldsOf(settingsForm_->Shown()), QDateTime::currentDateTime(),
        form_.SensorCnt->currentIndex(), Measurement().SensorReading(), form_.Coeff->text());
    // A line that cannot be opened, written or closed is reported the same
    // way; the next tick tries again.
    if (!qvr::AppendToLog(form_.FileName->text(), line))
        SetPanelText(2, qvr::text::kLogWriteError);
}

void TFMain::SpeedButton5Click()
{
    // The file cannot be changed while it is being written.
    if (form_.SaveData->isChecked()) {
        QMessageBox box(QMessageBox::Critical, qvr::text::kLogFileBusyTitle,
                        qvr::text::kLogFileBusy, QMessageBox::Ok, this);
        box.exec();
        return;
    }
    if (saveDialog_->exec() != QDialog::Accepted || saveDialog_->selectedFiles().isEmpty())
        return;
    const QString path = QDir::toNativeSeparators(saveDialog_->selectedFiles().constFirst());
    // The name goes into config.ini as one line: a line break in it would
    // add lines of its own there.
    if (!qvr::IsStorableLogPath(path)) {
        QMessageBox box(QMessageBox::Critical, qvr::text::kApplicationTitle,
                        qvr::text::kControlCharacterInName, QMessageBox::Ok, this);
        box.exec();
        return;
    }
    form_.FileName->setText(path);
    // A failure here is not reported: the next tick that logs reports it.
    qvr::CreateIfMissing(path);
}
