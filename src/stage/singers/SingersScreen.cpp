#include "stage/singers/SingersScreen.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScreen>

#include "controls/WindowLook.h"
#include "stage/canvas/KaraokeStage.h"

namespace vozaro::stage {

SingersScreen::SingersScreen(const QImage& canvas, const platform::ScreenInfo& screen)
    : canvas_(canvas), screen_(screen) {
    setObjectName(QStringLiteral("TelaCantores"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_QuitOnClose, false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::BlankCursor);
    setWindowTitle(QStringLiteral("Vozaro"));
    paintBlack(*this);
    if (screen.screen)
        setScreen(screen.screen);
    setGeometry(screen.geometry);
    view_.setScreenSize(screen.geometry.size(), canvas_);
}

void SingersScreen::canvasChanged(const QRect& canvasRect) {
    view_.changed(canvasRect);
    // A stage of another size is shown anew as a whole.
    if (canvas_.size() != view_.canvasSize())
        QWidget::update();
    else
        QWidget::update(view_.toScreen(canvasRect));
}

const QImage& SingersScreen::picture() {
    view_.update(canvas_);
    return view_.picture();
}

void SingersScreen::paintEvent(QPaintEvent* event) {
    if (size() != view_.screenSize())
        view_.setScreenSize(size(), canvas_);
    const QImage& shown = picture();
    QPainter painter(this);
    for (const QRect& part : event->region())
        painter.drawImage(part.topLeft(), shown, part);
}

SingersScreens::SingersScreens(QWidget& window, KaraokeStage& stage) : stageWindow_(window), stage_(stage) {}

SingersScreens::~SingersScreens() {
    if (screens_)
        screens_->changed = nullptr;
}

void SingersScreens::setScreens(std::unique_ptr<platform::ScreenSet> screens) {
    screens_ = std::move(screens);
    if (screens_)
        screens_->changed = [this] { follow(); };
    follow();
}

void SingersScreens::apply(bool on) {
    on_ = on;
    if (on_ && !screens_) {
        setScreens(platform::makeScreenSet());
        return;
    }
    follow();
}

int SingersScreens::singersScreen(const std::vector<platform::ScreenInfo>& screens,
                                  const platform::ScreenInfo& stageScreen) {
    // A stage on no known screen counts as on the first.
    const platform::ScreenInfo& stage =
        stageScreen.name.isEmpty() && !stageScreen.screen && !screens.empty() ? screens.front() : stageScreen;
    for (std::size_t i = 0; i < screens.size(); ++i)
        if (!platform::sameScreen(screens[i], stage))
            return static_cast<int>(i);
    return -1;
}

void SingersScreens::closeWindow() {
    if (!window_)
        return;
    // Hidden at once; deleted once the event being handled (a screen going,
    // say) is done with it.
    window_->hide();
    window_.release()->deleteLater();
}

void SingersScreens::follow() {
    if (!on_ || !screens_) {
        closeWindow();
        return;
    }
    const std::vector<platform::ScreenInfo> screens = screens_->screens();
    const int index = singersScreen(screens, screens_->screenOf(stageWindow_));
    if (index < 0) {
        closeWindow();
        return;
    }
    const platform::ScreenInfo& screen = screens[static_cast<std::size_t>(index)];
    if (window_ && platform::sameScreen(window_->screenInfo(), screen) &&
        window_->screenInfo().geometry == screen.geometry)
        return;
    closeWindow();
    window_ = std::make_unique<SingersScreen>(stage_.canvas(), screen);
    // Without a window manager only the geometry places it; a test's screen
    // has no real screen to fill.
    if (screen.screen)
        window_->setWindowState(Qt::WindowFullScreen);
    window_->show();
}

void SingersScreens::canvasChanged(const QRect& canvasRect) {
    if (window_)
        window_->canvasChanged(canvasRect);
}

}  // namespace vozaro::stage
