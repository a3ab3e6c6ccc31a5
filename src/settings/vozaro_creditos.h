// The credits window: the program's logo and who made it.
#pragma once

#include <QDialog>

class PictureBox;
class QPushButton;

class TformCreditos : public QDialog {
    Q_OBJECT
public:
    explicit TformCreditos(QWidget* parent = nullptr);
    ~TformCreditos() override;

    PictureBox* Logo = nullptr;  // the start screen's logo, drawn transparent
    QPushButton* bOk = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
};

// The credits window of the running program (null while there is none).
extern TformCreditos* formCreditos;
