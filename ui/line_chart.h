// The line chart: one series per sensor on a QCustomPlot, the bottom axis
// following the newest polling round, drawn only while it is seen.
#pragma once

#include "measure/model.h"

#include <QBrush>
#include <array>
#include <cstdint>
#include <optional>

class QCPGraph;
class QCustomPlot;

namespace qvr {

class TLineChart {
public:
    // Points each series keeps; older points leave from the left. The bottom
    // axis never shows more than kChartWindow rounds and the chart cannot be
    // scrolled, so older points would only fill memory.
    static constexpr int kSeriesMaxPoints = 1000;

    // Sets up `plot` (axes, layers, the legend below it) with sixteen series,
    // the first active.
    TLineChart(QCustomPlot &plot, const QBrush &background);

    QCPGraph *Series(int index) const { return series_[index]; }
    // An active series is drawn and listed in the legend.
    void SetSeriesActive(int index, bool active);
    bool SeriesActive(int index) const;
    // A reading at polling round `x`. One point per series and round: a second
    // reading in the same round replaces the first.
    void AddPoint(int index, std::uint64_t x, std::uint32_t raw);
    // The bottom axis on `range` (or scaled to the points when there is none),
    // then one redraw when the chart is seen.
    void FollowNewestPoints(const std::optional<TAxisRange> &range);

private:
    QCustomPlot &plot_;
    std::array<QCPGraph *, kSensorCount> series_{};
};

} // namespace qvr
