#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

namespace quillby {

// The decorative panel of the onboarding, terms and feedback windows and of the Insights
// collecting view: a flat background, four large blurred colour glows and, optionally, an
// animated glucose line that drifts to the left and fades out towards the right. No
// interaction; hidden from accessibility. It animates only while visible, with the line shown
// and motion not reduced, redrawing at most every kFrameIntervalMs.
class AmbientBackgroundView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFrameIntervalMs = 8;   // 1/120 s, rounded down to whole milliseconds
    static constexpr double kGlowBlurRadius = 80;

    struct Options {
        std::optional<int> width;   // fixed width; none: the width the layout offers
        QColor backgroundColor = Qt::white;
        double gradientOpacity = 1.0;
        bool showsGlucoseLine = true;
    };

    explicit AmbientBackgroundView(Options options, QWidget *parent = nullptr);
    ~AmbientBackgroundView() override;

    const Options &options() const { return options_; }
    // The user asked for less motion: the line is drawn still, with phase 0.
    void setReduceMotion(bool reduce);
    bool reduceMotion() const { return reduceMotion_; }
    bool isAnimating() const { return timer_.isActive(); }

    // Seconds since 2001-01-01 00:00 UTC for each frame (default: the system clock). Tests fix it.
    void setPhaseSource(std::function<double()> source);

    // The line's points for a canvas of width w and height h at phase t (seconds).
    static std::vector<QPointF> waveLinePoints(double width, double height, double phase);
    // The opacity factor of gradient stop j (0...9) of the line's fade.
    static double fadeAtStop(int j, double width);

    // Draws one frame into `painter` for a canvas of the given size (nothing for zero size).
    void paintFrame(QPainter &painter, const QSizeF &size, double phase);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateTimer();
    const QImage &glowLayer(const QSize &size, qreal devicePixelRatio);

    Options options_;
    bool reduceMotion_ = false;
    QTimer timer_;
    std::function<double()> phaseSource_;
    QImage glowCache_;
    QSize glowCacheSize_;
    qreal glowCacheRatio_ = 0;
};

} // namespace quillby
