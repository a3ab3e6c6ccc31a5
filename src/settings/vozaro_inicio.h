// The start/help screen: greets the user when the stage is first shown,
// explains every button of the stage's button bar and can be switched off for
// later runs.  It also holds the program's logo, which other windows copy.
#pragma once

#include <QDialog>

class PictureBox;
class QCheckBox;
class QLabel;
class QPushButton;

class TformInicio : public QDialog {
    Q_OBJECT
public:
    explicit TformInicio(QWidget* parent = nullptr);
    ~TformInicio() override;

    QWidget* panelFundo = nullptr;  // 640 × 480, centred in the window
    PictureBox* Logo = nullptr;     // 197 × 102
    PictureBox* Botoes = nullptr;   // the stage's button bar, 624 × 48
    QCheckBox* cbExibe = nullptr;
    QPushButton* bOk = nullptr;

public slots:
    void bOkClick();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void createControls();
    void FormResize();
};

// The start screen of the running program (null while there is none).
extern TformInicio* formInicio;

// The program's logo as the start screen holds it (its bottom-left pixel's
// colour is its background).
QImage logoPicture();
