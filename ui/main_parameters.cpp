// Writes of sensor parameters from the configuration page: one write request
// per click, to the sensor chosen in SensAdr.
#include "Main.h"
#include "measure/parameters.h"
#include "texts.h"

void TFMain::WriteEditParameter(QLineEdit *edit, std::uint16_t reg)
{
    const std::optional<int> value = qvr::ParameterValue(edit->text());
    if (!value) {
        QPalette palette = edit->palette();
        palette.setColor(QPalette::Base, qvr::text::kEditErrorColour);
        edit->setPalette(palette);
        return;
    }
    // The edit shows the value that is sent.
    edit->setText(QString::number(*value));
    WriteParameter(reg, *value);
}

void TFMain::WriteParameter(std::uint16_t reg, int value)
{
    session_.WriteParameter(
        static_cast<std::uint8_t>(qvr::kFirstAddress + form_.SensAdr->currentIndex()), reg,
        static_cast<std::uint16_t>(value), show_);
}

// A click in an edit gives it back its own colour.
void TFMain::OnOffEditClick()
{
    form_.OnOffEdit->setPalette(QPalette());
}

void TFMain::OnMinEditClick()
{
    form_.OnMinEdit->setPalette(QPalette());
}

void TFMain::OnMaxEditClick()
{
    form_.OnMaxEdit->setPalette(QPalette());
}

// OC_ON_OFF.
void TFMain::SpeedButton1Click()
{
    WriteEditParameter(form_.OnOffEdit, qvr::kRegisterOnOff);
}

// OC_ON_MIN.
void TFMain::SpeedButton2Click()
{
    WriteEditParameter(form_.OnMinEdit, qvr::kRegisterOnMin);
}

// OC_MODE: the item index itself, the empty fourth item included.
void TFMain::SpeedButton3Click()
{
    WriteParameter(qvr::kRegisterMode, form_.ModeBox->currentIndex());
}

// OC_ON_MAX.
void TFMain::SpeedButton4Click()
{
    WriteEditParameter(form_.OnMaxEdit, qvr::kRegisterOnMax);
}
