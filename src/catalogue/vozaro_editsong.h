// The song-data dialog: performer and title of one catalogue entry, confirmed
// or cancelled.  Used when a song is added and by "Dados da Música".
//
// The caller fills eInterprete, eMusica and lMusica and runs the dialog
// modally (platform::execModal).  OK (bOkClick) stores the trimmed texts into
// RegistroAtual's Interprete and Musica; cancel changes nothing.
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
struct TRegistroAlbum;

class TformMusica : public QDialog {
    Q_OBJECT
public:
    explicit TformMusica(QWidget* parent = nullptr);
    ~TformMusica() override;

    // Fills the fields from an entry (Windows-1252 texts).
    void fillFrom(const TRegistroAlbum& entry);

    QLabel* lMusica;
    QLineEdit* eInterprete;
    QLineEdit* eMusica;
    QPushButton* bOk;
    QPushButton* bCancel;
    // Shown, below the buttons, while more files of one "Adicionar Música"
    // wait after this one: checked with OK, they go in under the names taken
    // from their files, without this dialog.
    QCheckBox* cbDemais;

    // Shows or hides cbDemais (unchecked), growing the dialog to hold it.
    void showOthersBox(bool shown);

public slots:
    void bOkClick();

protected:
    void showEvent(QShowEvent* event) override;
};

// The window of the running program (null while there is none).
extern TformMusica* formMusica;
