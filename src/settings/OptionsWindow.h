// The window of more options: what the configuration window has no room
// for.  It opens from the configuration window and from the stage's
// adjustments panel; opened from the stage, the song plays on.  Every change
// goes into the live settings and the store at once, and is applied at once.
//
// thread: user-interface thread.
#pragma once

#include <QDialog>

#include <functional>

#include "stores/vozaro_uteis.h"

class QCheckBox;
class QLabel;
class QPushButton;
class Slider;

// What the window needs of the others.  The program's link
// (optionsLinkOfProgram) reaches the configuration window's live settings and
// the stage; tests may put their own in.  A member left empty is skipped.
struct OptionsLink {
    // The live settings; null while there is none (the window then works on
    // a copy loaded from the store).
    std::function<TKaraokeSettings*()> settings;
    // An option changed; it is already stored.
    std::function<void()> changed;
    // The window closed.
    std::function<void()> closed;
    // A hint shown under the microphone's sliders; empty: none.
    std::function<QString()> microphoneHint;
};
OptionsLink optionsLinkOfProgram();

class OptionsWindow : public QDialog {
    Q_OBJECT
public:
    explicit OptionsWindow(OptionsLink link, QWidget* parent = nullptr);

    QCheckBox* cbRetornoMic = nullptr;  // "Ouvir o microfone nas caixas"
    Slider* VolumeRetorno = nullptr;
    Slider* EcoRetorno = nullptr;
    QLabel* lRetornoDica = nullptr;
    QCheckBox* cbGuiaAfinacao = nullptr;  // "Mostrar as notas da melodia"
    Slider* VolumeMelodia = nullptr;
    QCheckBox* cbRevezamento = nullptr;  // "Revezar cantores"
    QLabel* lSenha = nullptr;           // "Senha do anfitrião: 123456"
    QPushButton* bNovaSenha = nullptr;
    QPushButton* bFechar = nullptr;

    // The settings the window shows and changes.
    TKaraokeSettings& settings() { return *settings_; }

protected:
    void done(int result) override;

private:
    void createControls();
    void showSettings();
    // Stores the options and tells the link.
    void store();
    void bNovaSenhaClick();

    OptionsLink link_;
    TKaraokeSettings own_;  // without live settings
    TKaraokeSettings* settings_ = nullptr;
};

// Shows the window modally over `parent`, on the program's link.
void showMoreOptions(QWidget* parent);
