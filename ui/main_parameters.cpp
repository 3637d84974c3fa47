// Writes of sensor parameters from the configuration page: one write request
// per click, to the sensor chosen in SensAdr.
#include "Main.h"
#include "measure/parameters.h"

namespace {

const QColor kEditErrorColour(253, 124, 102);

} // namespace

void TFMain::WriteEditParameter(QLineEdit *edit, std::uint16_t reg)
{
    const std::optional<int> value = qvr::ParameterValue(edit->text());
    if (!value) {
        QPalette palette = edit->palette();
        palette.setColor(QPalette::Base, kEditErrorColour);
        edit->setPalette(palette);
        return;
    }
    // The edit shows the value that is sent.
    edit->setText(QString::number(*value));
    WriteParameter(reg, *value);
}

void TFMain::WriteParameter(std::uint16_t reg, int value)
{
    SendFrame(static_cast<std::uint8_t>(qvr::kFirstAddress + SensAdr->currentIndex()),
              qvr::kWriteSingleRegister, reg, 0, static_cast<std::uint16_t>(value));
}

void TFMain::RestoreEditColour(QLineEdit *edit)
{
    edit->setPalette(QPalette());
}

void TFMain::OnOffEditClick()
{
    RestoreEditColour(OnOffEdit);
}

void TFMain::OnMinEditClick()
{
    RestoreEditColour(OnMinEdit);
}

void TFMain::OnMaxEditClick()
{
    RestoreEditColour(OnMaxEdit);
}

// OC_ON_OFF.
void TFMain::SpeedButton1Click()
{
    WriteEditParameter(OnOffEdit, qvr::kRegisterOnOff);
}

// OC_ON_MIN.
void TFMain::SpeedButton2Click()
{
    WriteEditParameter(OnMinEdit, qvr::kRegisterOnMin);
}

// OC_MODE: the item index itself, the empty fourth item included.
void TFMain::SpeedButton3Click()
{
    WriteParameter(qvr::kRegisterMode, ModeBox->currentIndex());
}

// OC_ON_MAX.
void TFMain::SpeedButton4Click()
{
    WriteEditParameter(OnMaxEdit, qvr::kRegisterOnMax);
}
