// The song-data dialog: performer and title of one catalogue entry.
#pragma once

#include <QDialog>

class TformMusica : public QDialog {
    Q_OBJECT
public:
    explicit TformMusica(QWidget* parent = nullptr);
    ~TformMusica() override;
};

// The window of the running program (null while there is none).
extern TformMusica* formMusica;
