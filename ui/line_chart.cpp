#include "line_chart.h"

#include "texts.h"

#include <qcustomplot.h>

namespace qvr {

TLineChart::TLineChart(QCustomPlot &plot, const QBrush &background) : plot_(plot)
{
    plot_.setNotAntialiasedElements(QCP::aeAll);
    // The series on a layer with a buffer of its own, so that a new point
    // redraws them alone (FollowNewestPoints); everything below and above it
    // keeps its own buffers.
    plot_.layer(QStringLiteral("main"))->setMode(QCPLayer::lmBuffered);
    // Nothing is drawn on the overlay: sharing the buffer of the layers below
    // it spares a full-size blend of the chart on every paint.
    plot_.layer(QStringLiteral("overlay"))->setMode(QCPLayer::lmLogical);
    plot_.setBackground(background);
    plot_.axisRect()->setBackground(Qt::white);
    plot_.yAxis->setRange(-356.6960446693754, 835.4021244430467);
    plot_.xAxis->setRange(0, 1);
    // The chart overhangs the page by 12 pixels on the left and 8 at the top;
    // keep the axis labels inside the visible part.
    plot_.plotLayout()->setMargins(QMargins(12, 8, 4, 0));

    // Legend below the plot, without frame or background.
    QCPLayoutGrid *below = new QCPLayoutGrid;
    plot_.plotLayout()->addElement(1, 0, below);
    plot_.plotLayout()->setRowStretchFactor(1, 0.001);
    below->setMargins(QMargins(0, 0, 0, 4));
    below->addElement(0, 0, plot_.legend);
    QCPLegend *legend = plot_.legend;
    legend->setVisible(true);
    legend->setBrush(Qt::NoBrush);
    legend->setBorderPen(Qt::NoPen);
    legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    legend->setWrap(4);
    legend->setRowSpacing(0);
    legend->setColumnSpacing(4);
    // Short line samples, so that four titles fit side by side.
    legend->setIconSize(QSize(14, 8));
    legend->setIconTextPadding(3);

    for (int i = 0; i < kSensorCount; ++i) {
        QCPGraph *g = plot_.addGraph();
        g->setName(text::SeriesTitle(kFirstAddress + i));
        g->setPen(QPen(text::SeriesColour(i), 1));
        g->setLineStyle(QCPGraph::lsLine);
        g->setScatterStyle(QCPScatterStyle::ssNone);
        g->setAntialiased(false);
        series_[i] = g;
        SetSeriesActive(i, i == 0);
    }
}

void TLineChart::SetSeriesActive(int index, bool active)
{
    series_[index]->setVisible(active);
    // The legend lists the active series in sensor order.
    plot_.legend->clearItems();
    for (QCPGraph *g : series_)
        if (g && g->visible())
            g->addToLegend();
    // The legend's layer changed: a shown chart is drawn whole.
    if (plot_.isVisible())
        plot_.replot(QCustomPlot::rpQueuedReplot);
}

bool TLineChart::SeriesActive(int index) const
{
    return series_[index]->visible();
}

void TLineChart::AddPoint(int index, std::uint64_t x, std::uint32_t raw)
{
    QCPGraph *series = series_[index];
    const double key = static_cast<double>(x);
    // A second reading in the same round (a late reply next to the answer)
    // replaces the first rather than drawing a vertical stroke.
    QCPGraphDataContainer &data = *series->data();
    if (!data.isEmpty() && (data.end() - 1)->key == key) {
        (data.end() - 1)->value = static_cast<double>(raw);
        return;
    }
    series->addData(key, static_cast<double>(raw));
    // Only the newest points stay, so that memory stays flat over weeks.
    const int size = data.size();
    if (size > kSeriesMaxPoints)
        data.removeBefore(data.at(size - kSeriesMaxPoints)->key);
}

void TLineChart::FollowNewestPoints(const std::optional<TAxisRange> &range)
{
    const QCPRange before = plot_.xAxis->range();
    if (range)
        plot_.xAxis->setRange(range->Lower, range->Upper);
    else
        plot_.xAxis->rescale(true);
    // A chart nobody sees (its page not shown, or the gauges shown instead)
    // is drawn when it is shown again.
    if (!plot_.isVisible())
        return;
    // Within a round the axis stands still: only the series' layer is drawn
    // anew, and the grid, the axes with their labels and the legend are
    // taken from their layers' buffers. A moved axis redraws everything.
    if (plot_.xAxis->range() == before)
        plot_.layer(QStringLiteral("main"))->replot();
    else
        plot_.replot(QCustomPlot::rpQueuedReplot);
}

} // namespace qvr
