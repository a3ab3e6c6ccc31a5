// The status window: a small always-on-top window that shows what a long
// operation is doing while that operation keeps running on the user-interface
// thread (the start-up catalogue check, the noise measurement, printing).
//
// The operation creates it, sets lStatus's text and Progress's maximum and
// position, shows it (not modally), lets pending events be processed after
// each step so that it repaints, and finally closes and destroys it.  The
// window has no behaviour of its own.
#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QWidget>

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
