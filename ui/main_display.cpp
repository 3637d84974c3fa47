// The grid, chart and gauges shaped for the number of active sensors and the chart type.
#include "Main.h"

#include <QPainter>
#include <qcustomplot.h>

void TFMain::SetupSensorDisplay(int count)
{
    SetGridRows(count + 1);
    SetCellText(0, 0, QStringLiteral("Czujnik"));
    SetCellText(1, 0, QStringLiteral("Wartość [RAW] [% zakresu czujnika] [wartość * Coeff]"));
    for (int i = 0; i < qvr::kSensorCount; ++i) {
        SetSeriesActive(i, i < count);
        if (i < count)
            SetCellText(0, i + 1, QStringLiteral("ID [%1]").arg(qvr::kFirstAddress + i));
        gauges_[i]->setVisible(i < count);
    }
    model_.ResetReadings(count);
}

void TFMain::SensorCntChange()
{
    SetupSensorDisplay(SensorCnt->currentIndex() + 1);
}

void TFMain::ChartTypeChange()
{
    switch (ChartType->currentIndex()) {
    case 0:
        Chart1->setVisible(true);
        Chart2->setVisible(false);
        // The points that came while the gauges were shown.
        FollowNewestPoints();
        break;
    case 1:
        Chart1->setVisible(false);
        Chart2->setVisible(true);
        break;
    default:
        break;
    }
}

void TFMain::SensorValueDrawCell(QPainter &canvas, int column, int row, const QRect &rect,
                                 bool /*selected*/)
{
    if (column != 0 || row == 0)
        return;
    QFont font = canvas.font();
    font.setBold(true);
    canvas.setFont(font);
    canvas.fillRect(rect, canvas.brush());
    const QTableWidgetItem *cell = SensorValue->item(row, column);
    canvas.drawText(rect, Qt::AlignLeft | Qt::AlignTop, cell ? cell->text() : QString());
}

void TFMain::SetCellText(int column, int row, const QString &text)
{
    if (row >= SensorValue->rowCount())
        return;
    if (QTableWidgetItem *cell = SensorValue->item(row, column))
        cell->setText(text);
    else
        SensorValue->setItem(row, column, new QTableWidgetItem(text));
}

void TFMain::SetValueText(int index, const QString &text)
{
    const int row = index + 1;
    if (row < SensorValue->rowCount())
        SetCellText(1, row, text);
    else
        parkedValues_[index] = text;
}

void TFMain::SetGridRows(int rows)
{
    // Rows beyond the count keep their value texts for when they come back,
    // as the grid drops the cells of rows it no longer has.
    for (int row = rows; row < SensorValue->rowCount(); ++row)
        if (const QTableWidgetItem *cell = SensorValue->item(row, 1))
            parkedValues_[row - 1] = cell->text();
    const int before = SensorValue->rowCount();
    SensorValue->setRowCount(rows);
    for (int row = std::max(before, 1); row < rows; ++row)
        if (!parkedValues_[row - 1].isNull())
            SetCellText(1, row, parkedValues_[row - 1]);
}
