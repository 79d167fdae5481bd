// The ambient background animates while the onboarding, terms or feedback window or the Insights
// collecting view is open, for as long as it stays open: a frame (the band the line can reach)
// must cost next to nothing. BM_Frame is a frame from the kept layers, as the view draws it;
// BM_FrameStroked the same band with the line stroked afresh, for comparison. The still layer is
// made once per size, the line's strips as they come into view (BM_FirstFrame: the first of both).

#include "widgets/AmbientBackgroundView.h"
#include "widgets/AmbientFrameCache.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

namespace {

using quillby::AmbientBackgroundView;
using quillby::AmbientFrameCache;

constexpr QSize kPanel(400, 600);
// Seconds since 2001 of an afternoon in 2026.
constexpr double kNow = 818000000;

QImage canvasFor(double dpr)
{
    QImage canvas(static_cast<int>(kPanel.width() * dpr), static_cast<int>(kPanel.height() * dpr),
                  QImage::Format_RGB32);
    canvas.setDevicePixelRatio(dpr);
    canvas.fill(Qt::white);
    return canvas;
}

// One animation frame of the 400 x 600 panel after the one before (the line half a point on),
// the band only, as the view repaints it. Argument: device pixel ratio.
void BM_Frame(benchmark::State &state)
{
    const double dpr = static_cast<double>(state.range(0));
    AmbientFrameCache cache(Qt::white, 1.0);
    QImage canvas = canvasFor(dpr);
    const QRect band = AmbientBackgroundView::lineBand(kPanel.width(), kPanel.height());
    double phase = kNow;
    {
        QPainter painter(&canvas);
        cache.draw(painter, kPanel, dpr, true, phase, QRect(QPoint(0, 0), kPanel));
    }
    for (auto _ : state) {
        phase += AmbientFrameCache::kPhaseStep;
        QPainter painter(&canvas);
        painter.setClipRect(band);
        cache.draw(painter, kPanel, dpr, true, phase, band);
        benchmark::DoNotOptimize(canvas.constBits());
    }
}
BENCHMARK(BM_Frame)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

void BM_FrameStroked(benchmark::State &state)
{
    const double dpr = static_cast<double>(state.range(0));
    const QImage background = AmbientBackgroundView::backgroundLayer(kPanel.width(), kPanel.height(), Qt::white, 1.0, dpr)
                                  .convertToFormat(QImage::Format_RGB32);
    QImage canvas = canvasFor(dpr);
    const QRect band = AmbientBackgroundView::lineBand(kPanel.width(), kPanel.height());
    double phase = kNow;
    for (auto _ : state) {
        phase += AmbientFrameCache::kPhaseStep;
        QPainter painter(&canvas);
        painter.setClipRect(band);
        AmbientBackgroundView::drawFrame(painter, kPanel.width(), kPanel.height(), background, true, phase);
        benchmark::DoNotOptimize(canvas.constBits());
    }
}
BENCHMARK(BM_FrameStroked)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// The first frame of a new size: the still layer, the fades and the strips in view.
void BM_FirstFrame(benchmark::State &state)
{
    const double dpr = static_cast<double>(state.range(0));
    QImage canvas = canvasFor(dpr);
    for (auto _ : state) {
        AmbientFrameCache cache(Qt::white, 1.0);
        QPainter painter(&canvas);
        cache.draw(painter, kPanel, dpr, true, kNow, QRect(QPoint(0, 0), kPanel));
        benchmark::DoNotOptimize(canvas.constBits());
    }
}
BENCHMARK(BM_FirstFrame)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

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
