// The settings between a form and TSettings: each key of the settings schema
// is shown by the form's control of the schema's object name.
#pragma once

#include "storage/settings.h"

#include <array>

class QObject;
class QWidget;

namespace qvr {

class TSettingsForm {
public:
    // Finds the control of every key once. Throws std::logic_error when the
    // form lacks a control of the schema.
    explicit TSettingsForm(const QWidget &form);

    // Puts every setting into its control. A list's index is set without
    // running its handlers (they answer `activated`, which setting the index
    // does not emit); the display set-up that depends on it is the caller's.
    void Show(const TSettings &settings) const;
    // The settings as the controls show them.
    TSettings Shown() const;

private:
    std::array<QObject *, kSettingKeys> controls_{};
};

} // namespace qvr
