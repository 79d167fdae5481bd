#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QSize>

#include <array>
#include <cstdint>
#include <vector>

class QPainter;

namespace quillby {

// What the ambient background's frames are made of, kept from one frame to the next so that a
// frame is a copy of the band, the spans the frame before's line covered put back, and a few
// thousand pixel blends, row by row:
// - the still layer (background colour and blurred glows) at device resolution, made once per size;
// - each stroke's faded colour for every device column (the fades are fixed to the canvas);
// - the line's three strokes, drawn ahead of time into strips as coverage. The line's shape drifts
//   left 5 points every 0.625 s, exactly one point of its list, so at each of the ten phase steps
//   within those 0.625 s the line is one endless curve that slides left 5 points every 0.625 s.
//   Each of the ten curves is cut into strips kStripBlocks points of it wide, each drawn when it
//   comes into view and kept while it stays in view: a curve needs a new strip only every
//   kStripBlocks moves, and each piece of it is drawn once. A strip depends on nothing but its
//   place on its curve, so a frame is the same whatever frames came before it.
// Where the strips cannot stand in for the line (a device pixel ratio that moves it by part of a
// pixel, or a canvas so wide that the line's right end shows), the line is stroked as it always was.
class AmbientFrameCache {
public:
    // Frames are drawn for phases on this grid (half a point of drift).
    static constexpr double kPhaseStep = 1.0 / 16;
    static constexpr int kStepsPerPoint = 10;   // phase steps in 0.625 s, one point of the line
    static constexpr int kStripBlocks = 32;      // points of the line (5-point moves) a strip spans

    AmbientFrameCache(QColor backgroundColor, double gradientOpacity);

    // Draws the part of the frame of a `size` canvas inside `region` (canvas coordinates) at the
    // painter's origin, for a device of `devicePixelRatio`, the line at `phase` (rounded down to
    // the phase grid) when `showsGlucoseLine`.
    void draw(QPainter &painter, QSize size, double devicePixelRatio, bool showsGlucoseLine, double phase,
              const QRect &region);

    // The still layer of the last size drawn (device resolution).
    const QImage &background() const { return background_; }

private:
    // A run of a strip's row: strip columns [x, x + length) whose coverage starts at `offset`.
    struct Run {
        std::int32_t x;
        std::int32_t length;
        std::uint32_t offset;
    };
    struct Strip {
        std::int64_t index = 0;   // strip `index` starts at the line's point index * kStripBlocks
        int top = 0;              // band row of the strip's first row (rows above hold none of the line)
        std::vector<std::uint32_t> rowRuns;   // the runs of row y: runs[rowRuns[y]] up to runs[rowRuns[y + 1]]
        std::vector<Run> runs;
        // Per pixel, the coverage of stroke 1 in bits 16-23, stroke 2 in bits 8-15, stroke 3 in bits 0-7.
        std::vector<std::uint32_t> coverage;
    };
    // Device columns [from, to) of band row `row` that a frame's line was blended into.
    struct Span {
        std::int32_t row;
        std::int32_t from;
        std::int32_t to;
    };

    void prepare(QSize size, double devicePixelRatio);
    void renderStrip(Strip &strip, std::int64_t index, int step);
    void composeBand(std::int64_t phaseIndex);

    QColor backgroundColor_;
    double gradientOpacity_;

    QSize size_;
    double devicePixelRatio_ = 0;
    QImage background_;                  // the still layer, device pixels
    QRect band_;                         // device rows the line can reach (full width)
    bool stripsUsable_ = false;
    int blockShift_ = 0;                 // device pixels of one 5-point move
    int visibleColumns_ = 0;             // device columns left of where every fade is 0
    std::array<std::vector<std::uint32_t>, 3> strokeColours_;   // premultiplied, per device column
    int stripWidth_ = 0;                 // device columns of a strip
    std::array<std::vector<Strip>, kStepsPerPoint> strips_;   // per phase step, the strips in view, left to right
    QImage stripCanvas_;                 // where a strip is stroked before its coverage is kept
    QImage bandFrame_;                   // the band of the current frame
    std::vector<Span> drawnSpans_;       // where bandFrame_'s line was blended in, row by row
    std::int64_t bandPhaseIndex_ = -1;
    bool bandValid_ = false;
};

} // namespace quillby
