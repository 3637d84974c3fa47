// Replies that decoded cleanly: read replies and echoes of parameter writes.
#include "Main.h"
#include "measure/derived.h"
#include "measure/parameters.h"

#include <QTimer>
#include <qcustomplot.h>

void TFMain::HandleReply(const qvr::TDecodedFrame &frame)
{
    if (frame.RxFunction == qvr::kReadHoldingRegisters)
        ReadReply(frame);
    else if (frame.RxFunction == qvr::kWriteSingleRegister)
        WriteReply(frame);
}

void TFMain::ReadReply(const qvr::TDecodedFrame &frame)
{
    const std::optional<qvr::TReadOutcome> reading =
        model_.ReadReply(frame.RxAddress, frame.RxData.data(), frame.DataLength);
    if (!reading)
        return; // too short to carry a register: the time-out moves the cycle on
    if (reading->AnswersRequest)
        TimeoutTimer->stop();
    if (reading->Index >= 0) {
        AddChartPoint(reading->Index, reading->X, reading->Raw);
        SetValueText(reading->Index, qvr::GridText(reading->Raw, Coeff->text()));
        if (ChartType->currentIndex() == 0)
            FollowNewestPoints();
        else if (ChartType->currentIndex() == 1)
            RefreshGauges();
    }
    if (reading->AnswersRequest)
        PollNextSensor();
}

void TFMain::WriteReply(const qvr::TDecodedFrame &frame)
{
    if (frame.DataLength < qvr::kWriteEchoDataLength)
        return; // not a whole echo
    if (const std::optional<QString> text = qvr::text::WriteConfirmation(frame.RxData[0]))
        SetPanelText(2, *text);
    AppendLogLine(qvr::text::kParameterWritten, qvr::text::kErrorColor);
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
    const QCPRange before = Chart1->xAxis->range();
    if (const std::optional<qvr::TAxisRange> range =
            model_.BottomAxis(SensorCnt->currentIndex() + 1))
        Chart1->xAxis->setRange(range->Lower, range->Upper);
    else
        Chart1->xAxis->rescale(true);
    // A chart nobody sees (its page not shown, or the gauges shown instead)
    // is drawn when it is shown again.
    if (!Chart1->isVisible())
        return;
    // Within a round the axis stands still: only the series' layer is drawn
    // anew, and the grid, the axes with their labels and the legend are
    // taken from their layers' buffers. A moved axis redraws everything.
    if (Chart1->xAxis->range() == before)
        Chart1->layer(QStringLiteral("main"))->replot();
    else
        Chart1->replot(QCustomPlot::rpQueuedReplot);
}

void TFMain::RefreshGauges()
{
    for (int i = 0; i < qvr::kSensorCount; ++i)
        gauges_[i]->SetProgress(qvr::GaugeValue(model_.SensorReading()[i]));
}
