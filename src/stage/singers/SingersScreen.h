// The singers' screen: when the computer has another screen than the
// stage's, a second full-screen window there shows the stage picture (see
// SingersView) and nothing else: no controls, no mouse pointer, never the
// keyboard focus.  The stage window stays where it is with every control.
//
// SingersScreens opens and closes that window as the setting and the screens
// say, following screens plugged in or removed during the evening.
//
// thread: user-interface thread only.
#pragma once

#include <QWidget>

#include <memory>

#include "platform/ui/UiScreens.h"
#include "stage/singers/SingersView.h"

class KaraokeStage;

namespace vozaro::stage {

class SingersScreen : public QWidget {
    Q_OBJECT
public:
    SingersScreen(const QImage& canvas, const platform::ScreenInfo& screen);

    const platform::ScreenInfo& screenInfo() const { return screen_; }
    // The stage changed a rectangle of its canvas: it is shown at the next
    // repaint.
    void canvasChanged(const QRect& canvasRect);
    // The picture shown, brought up to date first.
    const QImage& picture();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const QImage& canvas_;
    platform::ScreenInfo screen_;
    SingersView view_;
};

class SingersScreens {
public:
    // window: the stage window; stage: the picture it draws on.
    SingersScreens(QWidget& window, KaraokeStage& stage);
    ~SingersScreens();
    SingersScreens(const SingersScreens&) = delete;
    SingersScreens& operator=(const SingersScreens&) = delete;

    // The screens followed (the program's own until a test sets others).
    void setScreens(std::unique_ptr<platform::ScreenSet> screens);
    // Shown or not by the setting, from now on following the screens.
    void apply(bool on);
    // Closed for good (the stage closes).
    void close() { apply(false); }

    void canvasChanged(const QRect& canvasRect);
    // The window on the singers' screen; null while there is none.
    SingersScreen* window() const { return window_.get(); }

    // The screen for the singers among `screens`: the first that is not the
    // stage's (index), -1 when there is none.
    static int singersScreen(const std::vector<platform::ScreenInfo>& screens,
                             const platform::ScreenInfo& stageScreen);

private:
    void follow();
    void closeWindow();

    QWidget& stageWindow_;
    KaraokeStage& stage_;
    std::unique_ptr<platform::ScreenSet> screens_;
    std::unique_ptr<SingersScreen> window_;
    bool on_ = false;
};

}  // namespace vozaro::stage
