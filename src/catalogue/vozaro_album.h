// The catalogue window: the list of songs, adding, removing, editing and printing.
#pragma once

#include <QDialog>

class TformAlbum : public QDialog {
    Q_OBJECT
public:
    explicit TformAlbum(QWidget* parent = nullptr);
    ~TformAlbum() override;
};

// The window of the running program (null while there is none).
extern TformAlbum* formAlbum;
