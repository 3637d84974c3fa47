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

void ShowSettings(QWidget &form, const TSettings &s)
{
    for (const TSettingKey &key : SettingsSchema()) {
        switch (key.Kind) {
        case TSettingKind::Flag:
            ControlOf<QCheckBox>(form, key)->setChecked(s.*key.Flag);
            break;
        case TSettingKind::Text:
        case TSettingKind::Real:
            ControlOf<QLineEdit>(form, key)->setText(s.*key.Text);
            break;
        case TSettingKind::Index:
            ControlOf<QComboBox>(form, key)->setCurrentIndex(s.*key.Index);
            break;
        }
    }
}

TSettings ShownSettings(const QWidget &form)
{
    TSettings s;
    for (const TSettingKey &key : SettingsSchema()) {
        switch (key.Kind) {
        case TSettingKind::Flag:
            s.*key.Flag = ControlOf<QCheckBox>(form, key)->isChecked();
            break;
        case TSettingKind::Text:
        case TSettingKind::Real:
            s.*key.Text = ControlOf<QLineEdit>(form, key)->text();
            break;
        case TSettingKind::Index:
            s.*key.Index = ControlOf<QComboBox>(form, key)->currentIndex();
            break;
        }
    }
    return s;
}

} // namespace qvr
