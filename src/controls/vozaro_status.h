// The status window: a small always-on-top window that shows what a long
// operation is doing while that operation keeps running on the user-interface
// thread (the start-up catalogue check, the noise measurement, printing).
//
// The operation creates it, sets lStatus's text and Progress's maximum and
// position, shows it (not modally), lets pending events be processed after
// each step so that it repaints, and finally closes and destroys it.  The
// window has no behaviour of its own.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QWidget>

#include <cstdint>
#include <functional>

class TformStatus : public QWidget {
    Q_OBJECT
public:
    explicit TformStatus(QWidget* parent = nullptr);

    QLabel* lStatus;
    QProgressBar* Progress;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
};

// Moves a status window's bar through a long operation of many small steps
// without letting the repaints cost more than the steps: the bar is set and
// pending events processed (the window repaints) at the first step, at most
// every kRepaintMs after it, and at the last step.
class StatusProgress {
public:
    static constexpr std::int64_t kRepaintMs = 50;
    // The clock in milliseconds; by default a monotonic clock started here.
    using Clock = std::function<std::int64_t()>;

    explicit StatusProgress(TformStatus& status, Clock clock = {});

    // Position of step `position` of `last` (the bar's maximum).
    void step(int position);
    // Times the window was given a repaint.
    int repaints() const noexcept { return repaints_; }

private:
    TformStatus& status_;
    Clock clock_;
    QElapsedTimer elapsed_;
    std::int64_t lastRepaint_ = 0;
    int repaints_ = 0;
};
