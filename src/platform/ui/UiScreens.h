// The computer's screens, as the program places full-screen windows on them,
// and news of a screen plugged in or removed.  The program's set follows Qt's
// screens; a test sets its own by hand.
#pragma once

#include <QRect>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QScreen;
class QWidget;

namespace vozaro::platform {

struct ScreenInfo {
    QString name;
    QRect geometry;             // in the desktop's coordinates
    QScreen* screen = nullptr;  // the real screen; null for a test's screens
};

// The same screen: the same real screen, or for a test's screens the same
// name (two real screens may share a name).
bool sameScreen(const ScreenInfo& a, const ScreenInfo& b);

class ScreenSet {
public:
    virtual ~ScreenSet() = default;
    // The screens there are now, the primary one first.
    virtual std::vector<ScreenInfo> screens() = 0;
    // The screen a window is on; an empty name and no screen when none.
    virtual ScreenInfo screenOf(const QWidget& window) = 0;
    // Called once a screen has come, is going (no longer among screens() by
    // then) or has changed its size or place.
    std::function<void()> changed;
};

// The screens of the display the program runs on.  Needs the application
// object.
std::unique_ptr<ScreenSet> makeScreenSet();

}  // namespace vozaro::platform
