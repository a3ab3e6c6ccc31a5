#include "controls/ScreenGeometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

void coverScreen(QWidget& window) {
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (screen)
        window.setGeometry(screen->geometry());
    window.setWindowState(window.windowState() | Qt::WindowFullScreen);
}
