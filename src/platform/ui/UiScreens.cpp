#include "platform/ui/UiScreens.h"

#include <QGuiApplication>
#include <QObject>
#include <QScreen>
#include <QWidget>

namespace vozaro::platform {

namespace {

class QtScreenSet final : public ScreenSet {
public:
    QtScreenSet() {
        auto* app = qGuiApp;
        if (!app)
            return;
        for (QScreen* screen : QGuiApplication::screens())
            watch(screen);
        QObject::connect(app, &QGuiApplication::screenAdded, &context_, [this](QScreen* screen) {
            watch(screen);
            tell();
        });
        // Told before Qt moves the going screen's windows to another screen,
        // while the screen may still be listed: it is left out from here on.
        QObject::connect(app, &QGuiApplication::screenRemoved, &context_, [this](QScreen* screen) {
            leaving_ = screen;
            tell();
            leaving_ = nullptr;
        });
    }

    std::vector<ScreenInfo> screens() override {
        std::vector<ScreenInfo> result;
        if (!qGuiApp)
            return result;
        for (QScreen* screen : QGuiApplication::screens())
            if (screen != leaving_)
                result.push_back({screen->name(), screen->geometry(), screen});
        return result;
    }

    ScreenInfo screenOf(const QWidget& window) override {
        QScreen* screen = window.screen();
        if (!screen || screen == leaving_)
            return {};
        return {screen->name(), screen->geometry(), screen};
    }

private:
    // A screen set to another resolution is followed too.
    void watch(QScreen* screen) {
        QObject::connect(screen, &QScreen::geometryChanged, &context_, [this] { tell(); });
    }
    void tell() {
        if (changed)
            changed();
    }
    QObject context_;  // the connections end with the set
    QScreen* leaving_ = nullptr;
};

}  // namespace

bool sameScreen(const ScreenInfo& a, const ScreenInfo& b) {
    if (a.screen || b.screen)
        return a.screen == b.screen;
    return a.name == b.name;
}

std::unique_ptr<ScreenSet> makeScreenSet() { return std::make_unique<QtScreenSet>(); }

}  // namespace vozaro::platform
