// What the Watch pane costs the GUI thread at Auto's shortest period (a send
// every 20 ms): taking one send's values, and one redraw of the plot (at
// most ten a second) over windows from 10 s to an hour of such sends.
#include "ValuePlot.h"
#include "WatchPane.h"

#include <QApplication>

#include <benchmark/benchmark.h>

namespace {

const QStringList titles = {QStringLiteral("temp (°C)"), QStringLiteral("raw")};

void fill(WatchPane &pane, const QDateTime &t0, int sends) {
    for (int i = 0; i < sends; ++i)
        pane.addSample(t0.addMSecs(20LL * i), titles, {25.0 + (i % 7) * 0.5, double(i % 4096)});
}

void BM_AddSample(benchmark::State &state) {
    WatchPane pane;
    pane.resize(1000, 300);
    const QDateTime t0 = QDateTime::currentDateTime();
    fill(pane, t0, 3600 * 50);
    qint64 i = 3600 * 50;
    for (auto _ : state) {
        pane.addSample(t0.addMSecs(20 * i), titles, {25.0, double(i % 4096)});
        ++i;
    }
}
BENCHMARK(BM_AddSample);

void BM_Refresh(benchmark::State &state) {
    const int seconds = int(state.range(0));
    WatchPane pane;
    pane.resize(1000, 300);
    pane.show();
    pane.setWindowSeconds(seconds);
    const QDateTime t0 = QDateTime::currentDateTime();
    fill(pane, t0, seconds * 50);
    // repaint() paints only a widget that is shown.
    if (!pane.valuePlot->isVisible() || pane.valuePlot->plotRect().width() < 500) {
        state.SkipWithError("the plot is not shown at its size");
        return;
    }
    for (auto _ : state) {
        pane.refresh();
        // The plot draws in the paint that follows.
        pane.valuePlot->repaint();
    }
    state.counters["points"] = double(seconds * 50 * titles.size());
}
BENCHMARK(BM_Refresh)->Arg(10)->Arg(60)->Arg(600)->Arg(3600)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
