// Renders the tray icon in each state at 16, 22 and 44 pixels, the popup panel with a six-hour
// graph and the right-click menu, from fixed sample readings, to PNG files in a folder:
//   quillby_render_samples <output folder>
// It also writes contact sheets that show every icon on a light and on a dark panel.

#include "core/AppNotifications.h"
#include "core/ConfigurationManager.h"
#include "core/KeychainItemStoring.h"
#include "menubar/GlucoseGraphView.h"
#include "menubar/StatusBarController.h"
#include "menubar/StatusBarIconRenderer.h"
#include "menubar/StatusBarPanel.h"
#include "menubar/StatusBarViewModel.h"

#include "RenderEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QPainter>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimeZone>

#include <cmath>
#include <cstdio>
#include <numbers>

using namespace quillby;

namespace {

class FixedClock final : public Clock {
public:
    explicit FixedClock(Date now) : now_(now) {}
    Date now() const override { return now_; }
    double monotonicNow() const override { return now_; }
    void setNow(Date now) { now_ = now; }

private:
    Date now_;
};

// A keyring item held in memory, so the tool touches no real keyring.
class MemoryItemStore final : public KeychainItemStoring {
public:
    QString service() const override { return QStringLiteral("Quillby"); }
    QString account() const override { return QStringLiteral("configuration"); }
    KeychainItemReadResult read() override
    {
        return bytes_.isEmpty() ? KeychainItemReadResult::missing() : KeychainItemReadResult::found(bytes_);
    }
    std::int32_t write(const QByteArray &bytes) override
    {
        bytes_ = bytes;
        return 0;
    }
    std::int32_t remove() override
    {
        bytes_.clear();
        return 0;
    }

private:
    QByteArray bytes_;
};

constexpr Date kNow = 1'773'331'200.0 - 2 * 3600 + 5 * 60;   // 2026-03-12 14:05 UTC

// Six hours of readings every five minutes: a morning rise, a correction and a gentle fall.
GlucoseReadings sampleReadings(Date now, const std::string &lastTrend)
{
    GlucoseReadings readings;
    for (int i = 72; i >= 0; --i) {
        const double t = static_cast<double>(72 - i) / 72.0;
        const double mgdL = 130 + 70 * std::sin(t * std::numbers::pi * 1.15) + 6 * std::sin(t * 37.0);
        readings.emplace_back(std::round(mgdL), i == 0 ? lastTrend : "Flat", now - i * 300.0 - 60);
    }
    return readings;
}

bool save(const QImage &image, const QString &path)
{
    if (!image.save(path)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

struct IconSample {
    const char *name;
    StatusBarIconContent content;
};

std::vector<IconSample> iconSamples()
{
    return {
        {"normal", {std::nullopt, QStringLiteral("6.8 →"), StatusStyle::normal, StatusIndicator::none, 0}},
        {"normal-mgdl", {std::nullopt, QStringLiteral("123 ↗"), StatusStyle::normal, StatusIndicator::none, 0}},
        {"low", {std::nullopt, QStringLiteral("3.6 ↓↓"), StatusStyle::low, StatusIndicator::none, 0}},
        {"high", {std::nullopt, QStringLiteral("14.2 ↑"), StatusStyle::high, StatusIndicator::none, 0}},
        {"high-mgdl", {std::nullopt, QStringLiteral("288 ↑↑"), StatusStyle::high, StatusIndicator::none, 0}},
        {"stale", {std::nullopt, QStringLiteral("6.8 ?"), StatusStyle::normal, StatusIndicator::warning, 0}},
        {"unavailable", {std::nullopt, QStringLiteral("-- ?"), StatusStyle::normal, StatusIndicator::warning, 0}},
        {"update", {std::nullopt, QStringLiteral("10.5 ↘"), StatusStyle::normal, StatusIndicator::updateAvailable, 0}},
        {"waiting", {StatusBarIconState::waiting, {}, StatusStyle::normal, StatusIndicator::none, 0}},
        {"attention", {StatusBarIconState::attention, {}, StatusStyle::normal, StatusIndicator::none, 0}},
    };
}

// All icons in a row on a panel of the given colour, at the given size, then magnified 4x
// without smoothing so single pixels can be judged.
QImage contactSheet(const std::vector<IconSample> &samples, int size, const QColor &panel)
{
    const int pad = size / 2;
    QImage sheet(pad + static_cast<int>(samples.size()) * (size + pad), size + 2 * pad, QImage::Format_ARGB32);
    sheet.fill(panel);
    QPainter painter(&sheet);
    int x = pad;
    for (const IconSample &sample : samples) {
        painter.drawImage(x, pad, StatusBarIconRenderer::render(sample.content, size));
        x += size + pad;
    }
    painter.end();
    return sheet.scaled(sheet.size() * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

} // namespace

int main(int argc, char **argv)
{
    prepareRenderEnvironment(argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.absolutePath())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    bool ok = true;

    const auto samples = iconSamples();
    for (const IconSample &sample : samples) {
        for (int size : {16, 22, 44}) {
            ok &= save(StatusBarIconRenderer::render(sample.content, size),
                       out.filePath(QStringLiteral("icon-%1-%2.png").arg(QLatin1String(sample.name)).arg(size)));
        }
    }
    for (int size : {16, 22, 24, 44}) {
        ok &= save(contactSheet(samples, size, QColor(246, 245, 244)),
                   out.filePath(QStringLiteral("icons-light-panel-%1.png").arg(size)));
        ok &= save(contactSheet(samples, size, QColor(36, 36, 36)),
                   out.filePath(QStringLiteral("icons-dark-panel-%1.png").arg(size)));
    }

    // The panel and the menu, through the real view model and controller.
    QTemporaryDir settingsFolder;
    auto defaults = std::make_shared<QSettings>(settingsFolder.filePath(QStringLiteral("settings.ini")),
                                                QSettings::IniFormat);
    auto clock = std::make_shared<FixedClock>(kNow);
    auto sleeper = std::make_shared<EventLoopSleeper>();
    AppNotifications notifications;
    ConfigurationManager configuration(std::make_shared<MemoryItemStore>(), defaults,
                                       QLocale(QLocale::English, QLocale::UnitedKingdom), clock, sleeper,
                                       notifications);
    configuration.setHasCompletedOnboarding(true);
    NoUpdateAvailability updates;
    StatusBarController::Options options;
    options.isTrayAvailable = [] { return true; };
    options.formatter = StatusDateFormatter(QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone::utc());
    StatusBarViewModel model(configuration, updates, clock, sleeper,
                             [options](StatusBarViewModel &m) -> std::unique_ptr<StatusItemControlling> {
                                 return std::make_unique<StatusBarController>(m, options);
                             });
    auto &controller = static_cast<StatusBarController &>(model.controller());

    auto renderPanel = [&](const QString &name) {
        controller.rebuildMenu();
        controller.refreshGraph();
        StatusBarPanel *panel = controller.panel();
        panel->adjustSize();
        ok &= save(panel->grab().toImage(), out.filePath(name));
    };
    auto renderMenu = [&](const QString &name) {
        QMenu *menu = controller.menu();
        menu->adjustSize();
        ok &= save(menu->grab().toImage(), out.filePath(name));
    };

    const GlucoseReadings readings = sampleReadings(kNow, "FortyFiveDown");
    model.setActivity(StatusBarActivity::refreshing, kNow);
    model.present(readings.back(), kNow);
    model.refreshStatusItem();
    model.updateGlucoseHistory(readings);
    renderPanel(QStringLiteral("panel-6h.png"));
    renderMenu(QStringLiteral("menu.png"));

    model.setAlertsSnoozedUntil(kNow + 1800);
    model.setNextRetryAt(kNow + 272);
    model.setError(ErrorInfo{"Network error", "Unable to connect to Dexcom servers.",
                             "Check your internet connection and try again."});
    model.setNextRetryAt(kNow + 272);
    renderPanel(QStringLiteral("panel-error-snoozed.png"));
    renderMenu(QStringLiteral("menu-error-snoozed.png"));

    model.setError(std::nullopt);
    clock->setNow(kNow + 1500);
    model.present(readings.back(), clock->now());
    renderPanel(QStringLiteral("panel-stale.png"));

    ok &= save(StatusBarIconRenderer::render(controller.iconContent(), 44),
               out.filePath(QStringLiteral("icon-from-controller-44.png")));
    return ok ? 0 : 1;
}
