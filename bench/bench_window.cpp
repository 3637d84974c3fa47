// Window-level costs that run on every poll: an empty receive tick, and
// appending a line to the traffic log when it is empty and at its bound.
#include "sim/simbus.h"
#include "ui/Main.h"
#include "ui/texts.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <qcustomplot.h>

namespace {

std::int64_t gNowUs = 0;

// Settings of its own: the [Options] header alone, every automatic option off.
QString SettingsFile()
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config.ini"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write("[Options]\n");
    return path;
}

struct Rig {
    qvr::TSimulatedBus bus{[] { return gNowUs; }};
    TFMain window{bus, SettingsFile()};
    Rig()
    {
        window.FormCreate();
        window.UsbTimer()->stop();
        window.SaveTimer()->stop();
        window.ConnectButtonClick();
    }
};

void BM_EmptyReceiveTick(benchmark::State &state)
{
    Rig rig;
    for (auto _ : state)
        rig.window.UsbTimerTimer();
    state.counters["link up"] = rig.window.Link()->IsOpen();
}
BENCHMARK(BM_EmptyReceiveTick);

const QString kLine = QStringLiteral("TX: 32 03 00 00 00 01 81 C9 ");
const QString kReplyLine = QStringLiteral("RX: 32 03 02 01 2C BC 0D ");

void BM_AppendLogLineEmptyLog(benchmark::State &state)
{
    Rig rig;
    int lines = 0;
    for (auto _ : state) {
        rig.window.AppendLogLine(kLine, qvr::text::kTxColor);
        if (++lines == 1000) {
            state.PauseTiming();
            rig.window.Form().UartLog->clear();
            lines = 0;
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_AppendLogLineEmptyLog);

void BM_AppendLogLineAtBound(benchmark::State &state)
{
    Rig rig;
    const int bound = static_cast<int>(state.range(0));
    rig.window.Form().UartLog->setMaximumBlockCount(bound);
    if (state.range(1))
        rig.window.show();
    // Requests and replies in turn, as polling writes them: lines of two widths.
    for (int i = 0; i < bound; ++i)
        rig.window.AppendLogLine(i % 2 ? kReplyLine : kLine, qvr::text::kTxColor);
    // Now and then a line of another length: garbage on the line, shown whole.
    int i = 0;
    for (auto _ : state) {
        ++i;
        const QString garbage = QStringLiteral("RX: ") + QString(3 * (i * 7919 % 61), 'A');
        rig.window.AppendLogLine(i % 40 == 0 ? garbage : i % 2 ? kReplyLine : kLine, qvr::text::kRxColor);
    }
    state.counters["lines"] = rig.window.Form().UartLog->blockCount();
}
// The program's bound, and others to show the cost does not grow with it;
// the window shown (1), as the operator has it, and never shown (0): a full
// log of a never-shown window lays out its lines several times more slowly
// (measured by hand: 290 against 48 us a line at 50000 lines).
BENCHMARK(BM_AppendLogLineAtBound)
    ->Args({2000, 1})
    ->Args({20000, 1})
    ->Args({TFMain::kUartLogMaxLines, 1})
    ->Args({TFMain::kUartLogMaxLines, 0});

// One read reply end to end, as polling takes it: the receive ticks that take
// the reply in and end its frame, decode, model, grid text, chart point at its
// round, the bottom axis and the redraw, then the next request; in line mode
// with sixteen active series, with empty series and with every series at its
// history bound. CPU time: the 2 ms pause before each request is a sleep.
// One reading: its reply on the wire, then two silent ticks end the frame;
// the next request goes out. Kept out of line so a profiler can count it.
[[gnu::noinline]] void HandleOneReading(Rig &rig)
{
    for (int tick = 0; tick < 3; ++tick) {
        gNowUs += 20000;
        rig.window.UsbTimerTimer();
    }
    QCoreApplication::processEvents(); // the queued redraw
}

// A reading of the measured loop, apart from the warm-up's for a profiler:
// valgrind --tool=callgrind --collect-atstart=no --toggle-collect='*MeasuredReading*'
[[gnu::noinline]] void MeasuredReading(Rig &rig)
{
    HandleOneReading(rig);
}

void BM_ReadReplyEndToEnd(benchmark::State &state)
{
    Rig rig;
    rig.window.Form().SensorCnt->setCurrentIndex(15);
    rig.window.SensorCntChange();
    rig.window.Form().Coeff->setText(QStringLiteral("0,1"));
    rig.window.resize(704, 579);
    rig.window.show();
    // The chart's page (a hidden chart is not redrawn), or the grid's.
    rig.window.Form().PageControl1->setCurrentWidget(state.range(1) ? rig.window.Form().TabSheet2
                                                             : rig.window.Form().TabSheet1);
    const int prefill = static_cast<int>(state.range(0));
    for (int i = 0; i < qvr::kSensorCount; ++i)
        for (int p = 0; p < prefill; ++p)
            rig.window.Series(i)->addData(p - prefill, (p * 37) % 1024);
    // No time-out in between: under a profiler a reading takes longer than
    // the 200 ms of real time the time-out waits.
    rig.window.TimeoutTimer()->setInterval(24 * 3600 * 1000);
    rig.window.Form().UpdateData->setChecked(true); // the first request
    const std::uint64_t before = rig.window.Measurement().ReadingsTaken();
    // Past the first 30 rounds, where the axis scales itself over all points:
    // from then on it shows the newest 30 rounds, as after days of polling.
    for (int i = 0; i < 32 * qvr::kSensorCount; ++i)
        HandleOneReading(rig);
    const int linesBefore = rig.window.Form().UartLog->document()->blockCount();
    for (auto _ : state)
        MeasuredReading(rig);
    state.counters["log lines/reading"] =
        static_cast<double>(rig.window.Form().UartLog->document()->blockCount() - linesBefore) /
        static_cast<double>(state.iterations());
    state.counters["points/series"] = rig.window.Series(0)->data()->size();
    state.counters["readings/iteration"] =
        static_cast<double>(rig.window.Measurement().ReadingsTaken() - before) /
        static_cast<double>(state.iterations() + 32 * qvr::kSensorCount);
}
BENCHMARK(BM_ReadReplyEndToEnd)
    ->MeasureProcessCPUTime()
    ->ArgNames({"points", "chart"})
    ->Args({0, 1})
    ->Args({TFMain::kSeriesMaxPoints, 1})
    ->Args({TFMain::kSeriesMaxPoints, 0})
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
