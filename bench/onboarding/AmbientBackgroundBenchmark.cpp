// The ambient background animates at up to 120 frames a second while the onboarding, terms or
// feedback window is open: one frame (the cached still layer and the three strokes of the line) must stay far below the 8.3 ms a frame may take. The glow layer is made once per size.

#include "onboarding/AmbientBackgroundView.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

namespace {

using quillby::AmbientBackgroundView;

// One animation frame of the 400 x 600 panel into an image of its size.
void BM_Frame(benchmark::State &state)
{
    const QImage background = AmbientBackgroundView::backgroundLayer(400, 600, Qt::white, 1.0);
    QImage canvas(400, 600, QImage::Format_ARGB32_Premultiplied);
    double phase = 0;
    for (auto _ : state) {
        QPainter painter(&canvas);
        AmbientBackgroundView::drawFrame(painter, 400, 600, background, true, phase);
        phase += 1.0 / 120;
        benchmark::DoNotOptimize(canvas.constBits());
    }
}
BENCHMARK(BM_Frame)->Unit(benchmark::kMicrosecond);

// The still layer (background and blurred glows), made when the panel first shows or changes
// size.
void BM_BackgroundLayer(benchmark::State &state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(AmbientBackgroundView::backgroundLayer(400, 600, Qt::white, 1.0));
    }
}
BENCHMARK(BM_BackgroundLayer)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
