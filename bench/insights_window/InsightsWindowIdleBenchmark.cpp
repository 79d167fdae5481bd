// What the open Insights window costs while nothing changes, over a fixed stretch of real time:
// the process's CPU time as a share of one core, the timer wake-ups of the whole process, and
// those of Qt's animation framework (its unified timer and driver), per second.
//   BM_IdleWindow/0  the report, nothing moving
//   BM_IdleWindow/1  the collecting card, its ambient background playing
//   BM_IdleWindow/2  the window closed (the launcher alone)
// Run it on the session's display for on-screen figures:
//   QT_QPA_PLATFORM=xcb scripts/with-session.sh build/bench/insights_window/insights_window_idle_bench

#include "InsightsWindowTestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <ctime>

using namespace quillby;
using namespace quillby::test;

namespace {

constexpr double kDay = 86400;
constexpr int kStretchMs = 5000;

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Counts timer events as they are delivered, all of them and the animation framework's.
class TimerCounter : public QObject {
public:
    int all = 0;
    int animation = 0;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Timer && watched->objectName() != QStringLiteral("uncounted")) {
            ++all;
            const char *name = watched->metaObject()->className();
            if (qstrcmp(name, "QUnifiedTimer") == 0 || qstrcmp(name, "QDefaultAnimationDriver") == 0 ||
                qstrcmp(name, "QAnimationTimer") == 0) {
                ++animation;
            }
        }
        return false;
    }
};

// Runs the event loop, sleeping while there is nothing to do, for `ms`. The timer that ends the
// stretch is not counted.
void runFor(int ms, QObject *counter = nullptr)
{
    QEventLoop loop;
    QTimer end;
    end.setSingleShot(true);
    end.setTimerType(Qt::PreciseTimer);
    if (counter) {
        end.setObjectName(QStringLiteral("uncounted"));
    }
    QObject::connect(&end, &QTimer::timeout, &loop, &QEventLoop::quit);
    end.start(ms);
    loop.exec();
}

void BM_IdleWindow(benchmark::State &state)
{
    const int scene = static_cast<int>(state.range(0));
    InsightsHarness h;
    const std::string scope = h.signIn();
    const Date now = h.clock->now();
    const bool report = scene != 1;
    auto &account = h.store->seed(scope, waveReadings(now - (report ? 20 : 1.5) * kDay, now), true);
    account.configuration.collectionStartedAt = now - (report ? 20 : 1.5) * kDay;
    if (report) {
        account.configuration.insightsUnlockedAt = now - kDay;
    }
    InsightsLauncher launcher(h.coordinator.get(), h.configurationManager.get(), [] {}, h.services());
    launcher.show();
    if (!InsightsHarness::settle(*launcher.view())) {
        state.SkipWithError("the window did not settle");
        return;
    }
    if (scene == 2) {
        launcher.window()->close();
    }
    // Let fades, the first paints and the window manager settle.
    runFor(1500);
    TimerCounter counter;
    qApp->installEventFilter(&counter);
    for (auto _ : state) {
        const double cpu = processCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        runFor(kStretchMs, &counter);
        const double seconds = static_cast<double>(wall.elapsed()) / 1000.0;
        state.SetIterationTime(seconds);
        state.counters["cpu_percent"] = (processCpuSeconds() - cpu) / seconds * 100.0;
        state.counters["timer_wakeups_per_s"] = counter.all / seconds;
        state.counters["animation_wakeups_per_s"] = counter.animation / seconds;
    }
    qApp->removeEventFilter(&counter);
}

BENCHMARK(BM_IdleWindow)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
