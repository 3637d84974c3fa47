#include "settings_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QWidget>
#include <stdexcept>
#include <string>

namespace qvr {

namespace {

// The form's control of `key`; a control missing from the form is a
// programming error, never something to skip.
template <class Control> Control *ControlOf(const QWidget &form, const TSettingKey &key)
{
    Control *control = form.findChild<Control *>(QLatin1String(key.Control));
    if (control == nullptr)
        throw std::logic_error(std::string("the form has no control ") + key.Control +
                               " for the setting " + key.Key);
    return control;
}

} // namespace

TSettingsForm::TSettingsForm(const QWidget &form)
{
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        const TSettingKey &key = SettingsSchema()[i];
        switch (key.Kind) {
        case TSettingKind::Flag:
            controls_[i] = ControlOf<QCheckBox>(form, key);
            break;
        case TSettingKind::Text:
        case TSettingKind::Real:
            controls_[i] = ControlOf<QLineEdit>(form, key);
            break;
        case TSettingKind::Index:
            controls_[i] = ControlOf<QComboBox>(form, key);
            break;
        }
    }
}

void TSettingsForm::Show(const TSettings &s) const
{
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        const TSettingKey &key = SettingsSchema()[i];
        switch (key.Kind) {
        case TSettingKind::Flag:
            static_cast<QCheckBox *>(controls_[i])->setChecked(s.*key.Flag);
            break;
        case TSettingKind::Text:
        case TSettingKind::Real:
            static_cast<QLineEdit *>(controls_[i])->setText(s.*key.Text);
            break;
        case TSettingKind::Index:
            static_cast<QComboBox *>(controls_[i])->setCurrentIndex(s.*key.Index);
            break;
        }
    }
}

TSettings TSettingsForm::Shown() const
{
    TSettings s;
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        const TSettingKey &key = SettingsSchema()[i];
        switch (key.Kind) {
        case TSettingKind::Flag:
            s.*key.Flag = static_cast<const QCheckBox *>(controls_[i])->isChecked();
            break;
        case TSettingKind::Text:
        case TSettingKind::Real:
            s.*key.Text = static_cast<const QLineEdit *>(controls_[i])->text();
            break;
        case TSettingKind::Index:
            s.*key.Index = static_cast<const QComboBox *>(controls_[i])->currentIndex();
            break;
        }
    }
    return s;
}

} // namespace qvr
