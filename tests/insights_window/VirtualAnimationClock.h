#pragma once

#include <QAnimationDriver>
#include <QCoreApplication>

namespace quillby::test {

// Qt's animations on a clock the test moves: while it is installed, every animation of the
// process advances only in `step`, never with the wall clock.
class VirtualAnimationClock : public QAnimationDriver {
public:
    VirtualAnimationClock()
    {
        // Qt stops its timer for animations on a later event-loop turn: let it, so no time of
        // the wall clock is carried over.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        install();
    }
    ~VirtualAnimationClock() override { uninstall(); }

    qint64 elapsed() const override { return now_ - startedAt_; }

    // Moves the clock on by `ms` and lets running animations take the step. Animations that
    // were started since the last step join first (Qt starts them on a later event-loop turn).
    void step(qint64 ms)
    {
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        now_ += ms;
        if (isRunning()) {
            advance();
        }
    }
    // Steps of `frame` ms until `ms` have passed.
    void run(qint64 ms, qint64 frame = 16)
    {
        for (qint64 done = 0; done < ms; done += frame) {
            step(std::min(frame, ms - done));
        }
    }
    // Animations running (Qt stops its driver when none is).
    bool animating()
    {
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        return isRunning();
    }

protected:
    void start() override
    {
        startedAt_ = now_;
        QAnimationDriver::start();
    }

private:
    qint64 now_ = 0;
    qint64 startedAt_ = 0;
};

} // namespace quillby::test
