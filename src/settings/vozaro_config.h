// The configuration window.  It owns the live settings of the run, read from
// the store when the window is created (the last of the program's windows)
// and saved at once, so that after the first run every value is stored.
//
// The live record `Settings` follows the controls as they change, so the
// stage sees a choice at once, also when the window is then cancelled; only
// the derived values (darkening level, auto-next switch, the stage's MIDI
// device and the floor of its level bar) wait for ApplySettings.
//
// The window also owns the program's one mixer and knows which of its lines
// are the master, MIDI and microphone lines; the stage uses them through it.
// While shown, it loops the test song "config.mid" on the chosen MIDI device
// and shows the microphone level.
//
// thread: user-interface thread, except MidiPlayerStop (see there).
#pragma once

#include <QDialog>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "stores/vozaro_uteis.h"

class PictureBox;
class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class Slider;

namespace vozaro::audio {
class TAudioIn;
class TAudioMixer;
}  // namespace vozaro::audio
namespace vozaro::midi {
class TMidiData;
class TMidiPlayer;
class TTrackOutputs;
}  // namespace vozaro::midi
namespace vozaro::platform {
class WindowTimer;
}

// What the configuration window needs of the stage.  The program's link
// (configStageLinkOfProgram) reaches the stage window; tests may put fakes in.
// Every member may be called while there is no stage.
struct ConfigStageLink {
    // Stops the stage's song without starting the next request.
    std::function<void()> stopPlayer;
    // The stage plays on MIDI output device `port` from now on; throws when
    // the device cannot be opened (the stage then keeps the device it had).
    std::function<void(int port)> switchMidiDevice;
    // The stage's accompaniment slider shows the MIDI line's volume, without
    // writing it back to the mixer.
    std::function<void(int volume)> showMidiVolume;
    // The floor of the stage's microphone level bar: the noise level.
    std::function<void(int noiseLevel)> setLevelFloor;
};
ConfigStageLink configStageLinkOfProgram();

class TformConfig : public QDialog {
    Q_OBJECT
public:
    // Recording sources 0 .. kSavedSources - 1 have their state saved at start.
    static constexpr int kSavedSources = 51;

    explicit TformConfig(QWidget* parent = nullptr);
    ~TformConfig() override;

    TKaraokeSettings Settings;

    // Controls.
    PictureBox* Logo = nullptr;
    QPushButton* bMaisOpcoes = nullptr;  // the window of more options
    QLabel* Label12 = nullptr;
    QListWidget* ListBox = nullptr;
    QCheckBox* cbAutoNext = nullptr;
    QLabel* Label3 = nullptr;
    QCheckBox* cbAjuda = nullptr;
    QCheckBox* cbNota = nullptr;
    QCheckBox* cbAfinacao = nullptr;  // pitch scoring; enabled while scoring is on
    QComboBox* comboDark = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    Slider* MicVolume = nullptr;
    QCheckBox* cbMicMudo = nullptr;
    Slider* MidiVolume = nullptr;
    QCheckBox* cbMidiMudo = nullptr;
    Slider* Volume = nullptr;
    QCheckBox* cbMudo = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label1 = nullptr;
    Slider* MicSlider = nullptr;
    QProgressBar* MicProgress = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* bOk = nullptr;
    QPushButton* bCancel = nullptr;
    QCheckBox* cbCelular = nullptr;  // "Pedidos pelo celular": the guests' web page
    QCheckBox* cbTelaCantores = nullptr;  // "Tela para os cantores": the second screen

    // Components.
    vozaro::audio::TAudioIn* AudioIn = nullptr;
    vozaro::audio::TAudioMixer* Mixer = nullptr;  // the program's one mixer
    std::unique_ptr<vozaro::midi::TMidiData> MidiData;
    std::unique_ptr<vozaro::midi::TTrackOutputs> TrackOutputs;
    std::unique_ptr<vozaro::midi::TMidiPlayer> MidiPlayer;
    std::unique_ptr<vozaro::platform::WindowTimer> timerDelay;

    // Connection indexes of destination 0; -1 is the destination itself.
    // MidiLine and MicLine stay -1 when the card has no such source: then
    // their controls are disabled and nothing is ever written to them.
    std::int32_t MidiLine = -1;
    std::int32_t MasterLine = -1;
    std::int32_t MicLine = -1;
    bool Calibrating = false;
    bool IgnoreMixerEvents = false;
    bool QuietMuteChange = false;
    // The state of the recording sources, and the microphone's playback
    // mute, as found when the program started; the stage gives them back
    // when it closes (RestoreMixerState).
    std::array<std::int32_t, kSavedSources> SavedRecordingStates{};
    bool SavedMicMute = false;
    // 1 while the window stops the test player itself (the player's mark).
    std::atomic<int> MidiPlayerTag{0};

    ConfigStageLink stage = configStageLinkOfProgram();

    // Stores the live settings and applies them to the stage; false, with
    // its message shown and nothing stored, when the chosen MIDI device
    // cannot be opened.
    bool ApplySettings();
    // The window's last showing ended with the settings saved.
    bool saved() const { return saved_; }
    void FindMixerLines();
    // Makes the microphone the only recording source; with `save`, first
    // notes every source's state in SavedRecordingStates.
    void SelectMicrophoneForRecording(bool save);
    // Gives the recording sources and the microphone's playback mute back
    // the state they had at start (the stage's closing).
    void RestoreMixerState();
    void FillMidiDeviceList();

public slots:
    void ListBoxClick();
    void MixerControlChange();
    void VolumeChange();
    void MidiVolumeChange();
    void MicVolumeChange();
    void cbMudoClick();
    void cbMidiMudoClick();
    void cbMicMudoClick();
    void Button1Click();
    void bOkClick();
    void timerDelayTimer();

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void createControls();
    void FormCreate();
    void FormShow();
    void FormClose();
    bool AudioInBufferFilled(void* data, std::int32_t size);
    // thread: the test player's timer thread at the end of the song, or the
    // user-interface thread when the window stops the player.
    void MidiPlayerStop();
    // The end of the test song, on the user-interface thread: the song starts
    // again, at the earliest a second after its previous start (`waited`:
    // that second has passed).
    void restartTestSong(bool waited);
    void startTestSong();
    // Reads one line of destination 0 into its slider and box.
    void mirrorLine(std::int32_t line, bool present, Slider* slider, QCheckBox* box);
    void writeLineVolume(std::int32_t line, bool present, int value, QCheckBox* box);
    void writeLineMute(std::int32_t line, bool present, QCheckBox* box);
    bool micLinePresent() const { return micPresent_; }
    // The microphone line is there and has a mute.
    bool micLineMutable();

    bool midiPresent_ = false;
    bool micPresent_ = false;
    bool mirroring_ = false;
    bool testRunning_ = false;
    bool saved_ = false;
    std::unique_ptr<vozaro::platform::WindowTimer> loopDelay_;
    // The end of the test song, noted on the player's timer thread; the stop
    // watch looks for it every 10 ms while the window is shown.
    std::atomic<bool> stopPosted_{false};
    std::unique_ptr<vozaro::platform::WindowTimer> stopWatch_;
};

// The configuration window of the running program (null while there is none).
extern TformConfig* formConfig;
