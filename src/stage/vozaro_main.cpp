#include "stage/vozaro_main.h"

TformKaraoke::TformKaraoke(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("Vozaro"));
    setWindowFlags(Qt::FramelessWindowHint);
    setStyleSheet(QStringLiteral("background: black;"));
}
