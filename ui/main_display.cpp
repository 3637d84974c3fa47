// The grid, chart and gauges: shaped for the number of active sensors and the
// chart type, and showing each reading.
#include "Main.h"
#include "measure/derived.h"
#include "texts.h"

#include <QPainter>

void TFMain::SetupSensorDisplay(int count)
{
    SetGridRows(count + 1);
    SetCellText(0, 0, qvr::text::kSensorHeader);
    SetCellText(1, 0, qvr::text::kValueHeader);
    for (int i = 0; i < qvr::kSensorCount; ++i) {
        chart_->SetSeriesActive(i, i < count);
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
    chart_->AddPoint(index, x, raw);
    SetValueText(index, qvr::GridText(raw, form_.Coeff->text()));
    if (form_.ChartType->currentIndex() == 0)
        FollowNewestPoints();
    else if (form_.ChartType->currentIndex() == 1)
        RefreshGauges();
}

void TFMain::FollowNewestPoints()
{
    chart_->FollowNewestPoints(Measurement().BottomAxis(form_.SensorCnt->currentIndex() + 1));
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
