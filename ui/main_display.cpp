// The grid, chart and gauges shaped for the number of active sensors and the chart type.
#include "Main.h"

// Not built yet: wired to their components, doing nothing.
void TFMain::SensorValueDrawCell(QPainter &, int, int, const QRect &, bool) {}
void TFMain::ChartTypeChange() {}
void TFMain::SensorCntChange() {}
