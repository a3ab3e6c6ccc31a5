// A QCoreApplication for tests whose components report through queued events,
// and a way to run its event loop until something has happened.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <functional>

namespace vozaro::test {

inline void ensureApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "vozaro-tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

// Processes events until `done` holds; gives up after `limitMs` (a guard
// against a hang, not a timing assertion).  Returns whether `done` held.
inline bool runUntil(const std::function<bool()>& done, int limitMs = 10000) {
    QDeadlineTimer deadline(limitMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Processes the events that are pending now (and those they post), a few rounds.
inline void drainEvents(int rounds = 20) {
    for (int i = 0; i < rounds; ++i) QCoreApplication::processEvents();
}

}  // namespace vozaro::test
