// The settings between a form and TSettings: each key of the settings schema
// is shown by the form's control of the schema's object name.
#pragma once

#include "storage/settings.h"

class QWidget;

namespace qvr {

// Puts every setting into its control. A list's index is set without running
// its handlers (they answer `activated`, which setting the index does not
// emit); the display set-up that depends on it is the caller's. Throws
// std::logic_error when the form lacks a control of the schema.
void ShowSettings(QWidget &form, const TSettings &settings);

// The settings as the form's controls show them.
TSettings ShownSettings(const QWidget &form);

} // namespace qvr
