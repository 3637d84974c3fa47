// The measurement log file.
#include "Main.h"

// Not built yet: wired to their components, doing nothing.
void TFMain::SaveTimerTimer() {}
void TFMain::SpeedButton5Click() {}
