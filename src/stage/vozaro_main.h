// The stage: the program's full-screen main window.
#pragma once

#include <QWidget>

class TformKaraoke : public QWidget {
    Q_OBJECT
public:
    explicit TformKaraoke(QWidget* parent = nullptr);
};
