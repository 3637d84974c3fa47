// Window-level costs that run on every poll: an empty receive tick, and
// appending a line to the traffic log when it is empty and at its bound.
#include "sim/simbus.h"
#include "ui/Main.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {

std::int64_t gNowUs = 0;

struct Rig {
    qvr::TSimulatedBus bus{[] { return gNowUs; }};
    TFMain window{bus};
    Rig()
    {
        window.FormCreate();
        window.UsbTimer->stop();
        window.SaveTimer->stop();
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

void BM_AppendLogLineEmptyLog(benchmark::State &state)
{
    Rig rig;
    int lines = 0;
    for (auto _ : state) {
        rig.window.AppendLogLine(kLine, qvr::kTxColor);
        if (++lines == 1000) {
            state.PauseTiming();
            rig.window.UartLog->clear();
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
    rig.window.UartLog->setMaximumBlockCount(bound);
    for (int i = 0; i < bound; ++i)
        rig.window.AppendLogLine(kLine, qvr::kTxColor);
    for (auto _ : state)
        rig.window.AppendLogLine(kLine, qvr::kRxColor);
    state.counters["lines"] = rig.window.UartLog->blockCount();
}
// The program's bound, and others to show the cost does not grow with it.
BENCHMARK(BM_AppendLogLineAtBound)->Arg(2000)->Arg(20000)->Arg(TFMain::kUartLogMaxLines);

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
