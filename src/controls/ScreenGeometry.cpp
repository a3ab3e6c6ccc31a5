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

void centreOnScreen(QWidget& window) {
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    const QSize frame = window.frameGeometry().size();
    window.move(area.x() + centredOffset(area.width(), frame.width()),
                area.y() + centredOffset(area.height(), frame.height()));
}
