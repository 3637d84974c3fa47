// Writes of sensor parameters from the configuration page.
#include "Main.h"

// Not built yet: wired to their components, doing nothing.
void TFMain::OnOffEditClick() {}
void TFMain::OnMinEditClick() {}
void TFMain::OnMaxEditClick() {}
void TFMain::SpeedButton1Click() {}
void TFMain::SpeedButton2Click() {}
void TFMain::SpeedButton3Click() {}
void TFMain::SpeedButton4Click() {}
