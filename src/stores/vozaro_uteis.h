// The settings store: seven named values kept between runs under the key
// "Software\Lumbra Karaoke", and the live settings record of one run.
//
// Every call goes to the store (nothing is cached).  Reads never fail: a
// missing, unreadable or non-integer value yields the caller's default.
// Writes that fail are dropped silently.  User-interface thread only.
#pragma once

#include <cstdint>
#include <string>

// The key under which the settings are stored.
inline constexpr const char* kSettingsKey = "Software\\Lumbra Karaoke";

int ReadSettingInt(const std::string& name, int defaultValue);
bool ReadSettingBool(const std::string& name, bool defaultValue);  // any non-zero is true
void WriteSettingInt(const std::string& name, int value);
void WriteSettingBool(const std::string& name, bool value);  // stored as 1 or 0

// The live settings of a run, owned by the configuration window.  The stage
// reads it directly; DarkLevel and the auto-next switch are derived and only
// change when the settings are saved.
struct TKaraokeSettings {
    int MIDIPort = -1;        // index in the MIDI output device list; -1: the last device
    bool AutoNext = true;     // start the next request when a song ends
    bool Ajuda = true;        // show the start/help screen when the stage first shows
    int DarkImg = 4;          // darkening step of background pictures, 0..20, 5 % each
    int NoiseLevel = 2000;    // microphone noise level, 0..32768
    bool MicMute = false;     // microphone muted in the playback mixer
    bool DarNota = true;      // score the singers
    // With scoring on: a syllable counts as sung when the singer is heard in
    // tune with the melody (not merely heard), when the song has a melody.
    bool AfinacaoNota = true;
    bool Celular = false;     // guests request songs from their phones (the web server)
    int PortaCelular = 8080;  // the web server's first port; the next 9 are tried too
    bool TelaCantores = true;  // the stage picture on a second screen, for the singers

    // The window of more options; each is stored as soon as it changes.
    bool RetornoMic = false;    // the microphone is heard through the speakers
    int VolumeRetorno = 50;     // its level, 0..100
    int EcoRetorno = 30;        // the amount of echo on it, 0..100
    bool GuiaAfinacao = true;   // the melody's notes drawn on the stage
    int VolumeMelodia = 100;    // the guide melody's volume, 0..100 (100: as the file has it)
    bool Revezamento = false;   // singers take fair turns in the queue
    int SenhaAnfitriao = 0;     // the host's password, 0..999999, shown with six digits

    std::uint8_t DarkLevel = 51;  // amount taken off each colour byte; see darkLevelOf
    bool autoNextSwitch = true;   // what the stage consults when a song ends
};

inline constexpr int kDarkImgSteps = 21;  // 0 %, 5 %, ... 100 %
inline constexpr int kNoiseLevelMax = 32768;
// The web server tries its port and the 9 after it.
inline constexpr int kPhonePortTries = 10;
inline constexpr int kLastPhonePort = 65535 - (kPhonePortTries - 1);

// DarkImg × 12.75 rounded to the nearest integer, halves to the even
// neighbour; a step outside 0..20 counts as the default step 4.
std::uint8_t darkLevelOf(int darkImg);

// The device a stored "MIDIPort" selects among deviceCount devices: the stored
// index when it is in the list, else the last device; -1 with no devices.
int chooseMidiPort(int storedPort, int deviceCount);

// Reads the values with their defaults.  A "DarkImg" outside 0..20 becomes
// the default step; a "NoiseLevel" outside 0..32768 is brought to the nearer
// bound; with the microphone muted, scoring is off; a "PortaCelular" outside
// 1..65526 (where it and the nine after it are ports) becomes 8080.  MIDIPort is left
// as stored (chooseMidiPort fits it to the device list).  The derived values
// are not touched: they follow the next save.
void loadKaraokeSettings(TKaraokeSettings& settings);

// Writes the values in the order "MIDIPort", "AutoNext", "Ajuda", "MicMute",
// "DarNota", "DarkImg", "NoiseLevel", "AfinacaoNota", "Celular",
// "PortaCelular", "TelaCantores", then the more options; then sets the
// derived values.
void saveKaraokeSettings(TKaraokeSettings& settings);

inline constexpr int kOptionPercentMax = 100;
inline constexpr int kHostPasswordLimit = 1000000;  // six digits

// Reads the more options: a percentage outside 0..100 is brought to the
// nearer bound.  A "SenhaAnfitriao" missing or outside six digits is drawn
// anew from the system's random source and stored at once.
void loadMoreOptions(TKaraokeSettings& settings);
// Writes "RetornoMic", "VolumeRetorno", "EcoRetorno", "GuiaAfinacao",
// "VolumeMelodia", "Revezamento" and "SenhaAnfitriao".
void saveMoreOptions(const TKaraokeSettings& settings);
// A new host password, from the system's random source.
int drawHostPassword();
// The password as shown: six digits, leading zeros kept.
std::string hostPasswordText(int password);
