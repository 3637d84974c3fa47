// The grid, chart and gauges: shaped for the number of active sensors and the
// chart type, and showing each reading.
#include "Main.h"
#include "measure/derived.h"
#include "texts.h"

#include <QPainter>
#include <qcustomplot.h>

void TFMain::SetupSensorDisplay(int count)
{
    SetGridRows(count + 1);
    SetCellText(0, 0, qvr::text::kSensorHeader);
    SetCellText(1, 0, qvr::text::kValueHeader);
    for (int i = 0; i < qvr::kSensorCount; ++i) {
        SetSeriesActive(i, i < count);
        if (i < count)
            SetCellText(0, i + 1, qvr::text::SensorRowTitle(qvr::kFirstAddress + i));
        gauges_[i]->setVisible(i < count);
    }
    session_.ResetReadings(count);
}

void TFMain::SensorCntChange()
{
    SetupSensorDisplay(form_.SensorCnt->currentIndex() + 1);
}

void TFMain::ChartTypeChange()
{
    switch (form_.ChartType->currentIndex()) {
    case 0:
        form_.Chart1->setVisible(true);
        form_.Chart2->setVisible(false);
        // The points that came while the gauges were shown.
        FollowNewestPoints();
        break;
    case 1:
        form_.Chart1->setVisible(false);
        form_.Chart2->setVisible(true);
        break;
    default:
        break;
    }
}

void TFMain::ShowReading(int index, std::uint64_t x, std::uint32_t raw)
{
    AddChartPoint(index, x, raw);
    SetValueText(index, qvr::GridText(raw, form_.Coeff->text()));
    if (form_.ChartType->currentIndex() == 0)
        FollowNewestPoints();
    else if (form_.ChartType->currentIndex() == 1)
        RefreshGauges();
}

void TFMain::AddChartPoint(int index, std::uint64_t x, std::uint32_t raw)
{
    QCPGraph *series = series_[index];
    const double key = static_cast<double>(x);
    // One point per series and round: a second reading in the same round (a
    // late reply next to the answer) replaces the first rather than drawing
    // a vertical stroke.
    QCPGraphDataContainer &data = *series->data();
    if (!data.isEmpty() && (data.end() - 1)->key == key) {
        (data.end() - 1)->value = static_cast<double>(raw);
        return;
    }
    series->addData(key, static_cast<double>(raw));
    // Only the newest points stay, so that memory stays flat over weeks.
    const int size = series->data()->size();
    if (size > kSeriesMaxPoints)
        series->data()->removeBefore(series->data()->at(size - kSeriesMaxPoints)->key);
}

void TFMain::FollowNewestPoints()
{
    QCustomPlot *chart = form_.Chart1;
    const QCPRange before = chart->xAxis->range();
    if (const std::optional<qvr::TAxisRange> range =
            Measurement().BottomAxis(form_.SensorCnt->currentIndex() + 1))
        chart->xAxis->setRange(range->Lower, range->Upper);
    else
        chart->xAxis->rescale(true);
    // A chart nobody sees (its page not shown, or the gauges shown instead)
    // is drawn when it is shown again.
    if (!chart->isVisible())
        return;
    // Within a round the axis stands still: only the series' layer is drawn
    // anew, and the grid, the axes with their labels and the legend are
    // taken from their layers' buffers. A moved axis redraws everything.
    if (chart->xAxis->range() == before)
        chart->layer(QStringLiteral("main"))->replot();
    else
        chart->replot(QCustomPlot::rpQueuedReplot);
}

void TFMain::RefreshGauges()
{
    for (int i = 0; i < qvr::kSensorCount; ++i)
        gauges_[i]->SetProgress(qvr::GaugeValue(Measurement().SensorReading()[i]));
}

void TFMain::SensorValueDrawCell(QPainter &canvas, int column, int row, const QRect &rect)
{
    if (column != 0 || row == 0)
        return;
    QFont font = canvas.font();
    font.setBold(true);
    canvas.setFont(font);
    canvas.fillRect(rect, canvas.brush());
    const QTableWidgetItem *cell = form_.SensorValue->item(row, column);
    canvas.drawText(rect, Qt::AlignLeft | Qt::AlignTop, cell ? cell->text() : QString());
}

void TFMain::SetCellText(int column, int row, const QString &text)
{
    QTableWidget *grid = form_.SensorValue;
    if (row >= grid->rowCount())
        return;
    if (QTableWidgetItem *cell = grid->item(row, column))
        cell->setText(text);
    else
        grid->setItem(row, column, new QTableWidgetItem(text));
}

void TFMain::SetValueText(int index, const QString &text)
{
    const int row = index + 1;
    if (row < form_.SensorValue->rowCount())
        SetCellText(1, row, text);
    else
        parkedValues_[index] = text;
}

void TFMain::SetGridRows(int rows)
{
    // Rows beyond the count keep their value texts for when they come back,
    // as the grid drops the cells of rows it no longer has.
    QTableWidget *grid = form_.SensorValue;
    for (int row = rows; row < grid->rowCount(); ++row)
        if (const QTableWidgetItem *cell = grid->item(row, 1))
            parkedValues_[row - 1] = cell->text();
    const int before = grid->rowCount();
    grid->setRowCount(rows);
    for (int row = std::max(before, 1); row < rows; ++row)
        if (!parkedValues_[row - 1].isNull())
            SetCellText(1, row, parkedValues_[row - 1]);
}
