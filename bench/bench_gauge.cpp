// Gauge painting cost: one window gauge, and the row of sixteen refreshed after a poll round.
#include "ui/cgauges.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWindow>
#include <benchmark/benchmark.h>

namespace {

const int kLeft[16] = {16, 41, 67, 93, 119, 144, 170, 196, 222, 247, 273, 299, 325, 350, 376, 402};

void ConfigureAsWindowGauge(TCGauge &g)
{
    g.SetKind(TCGauge::gkVerticalBar);
    g.setFont(QFont("Tahoma", 8));
    g.SetFontOrientation(900);
}

bool WaitExposed(QWidget &w)
{
    QElapsedTimer t;
    t.start();
    while (!(w.windowHandle() && w.windowHandle()->isExposed()) && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::processEvents();
    return w.windowHandle() && w.windowHandle()->isExposed();
}

// The group box of the main window with its sixteen gauges, shown.
struct GaugeRow {
    QWidget box;
    TCGauge *gauges[16];

    GaugeRow()
    {
        box.resize(443, 480);
        for (int i = 0; i < 16; ++i) {
            gauges[i] = new TCGauge(&box);
            ConfigureAsWindowGauge(*gauges[i]);
            gauges[i]->setGeometry(kLeft[i], 20, 20, 440);
        }
        box.show();
        WaitExposed(box);
    }
};

void BM_RenderOne(benchmark::State &state)
{
    TCGauge g;
    ConfigureAsWindowGauge(g);
    g.resize(20, 440);
    g.SetProgress(57);
    for (auto _ : state)
        benchmark::DoNotOptimize(g.Render());
}
BENCHMARK(BM_RenderOne);

void BM_RepaintOneShown(benchmark::State &state)
{
    GaugeRow row;
    TCGauge &g = *row.gauges[0];
    g.SetProgress(57);
    if (!row.box.windowHandle()->isExposed())
        state.SkipWithError("window not exposed");
    const int before = g.PaintCount();
    for (auto _ : state)
        g.repaint();
    state.counters["paints_per_iter"] =
        static_cast<double>(g.PaintCount() - before) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_RepaintOneShown);

// A refresh of all sixteen with new values, each percentage different from the last.
void BM_RefreshSixteen(benchmark::State &state)
{
    GaugeRow row;
    if (!row.box.windowHandle()->isExposed())
        state.SkipWithError("window not exposed");
    int before = 0;
    for (TCGauge *g : row.gauges)
        before += g->PaintCount();
    int round = 0;
    for (auto _ : state) {
        ++round;
        for (int k = 0; k < 16; ++k)
            row.gauges[k]->SetProgress((round * 3 + k * 5) % 101);
    }
    int after = 0;
    for (TCGauge *g : row.gauges)
        after += g->PaintCount();
    state.counters["paints_per_iter"] =
        static_cast<double>(after - before) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_RefreshSixteen);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
