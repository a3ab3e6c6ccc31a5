// The melody's own volume heard through the stage on the virtual sound
// server, on the built-in synthesizer: a short song whose melody (a flute on
// F#5, a note under each syllable) and accompaniment (strings on C3, held)
// lie far apart in pitch is played with "VolumeMelodia" at 100 and at 0, and
// the speakers' monitor is measured at both pitches.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <numbers>

#include "sound/SoundServer.h"
#include "sound/SpeakerRecording.h"
#include "sound/StageOnSoundServer.h"
#include "sound/WaveFixture.h"
#include "stage/KaraokeSongs.h"
#include "stage/vozaro_main.h"

using namespace vozaro::test;
namespace fx = vozaro::midi::fixtures;

namespace {

// F#5 lies between the 5th and 6th harmonics of C3 (654 and 785 Hz).
constexpr int kMelodyNote = 78;
constexpr int kAccompanimentNote = 48;

double hertz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

// The energy of a recording within 3 % of `pitch`, in dB: Goertzel filters
// 4 Hz apart over Hann-windowed quarter seconds, summed.
double energyNear(const std::vector<std::int16_t>& samples, double pitch) {
    const std::size_t frame = kRate / 4;
    double energy = 1e-12;
    for (std::size_t from = 0; from + frame <= samples.size(); from += frame)
        for (double f = pitch * 0.97; f <= pitch * 1.03; f += 4) {
            const double c = 2 * std::cos(2 * std::numbers::pi * f / kRate);
            double s1 = 0, s2 = 0;
            for (std::size_t i = 0; i < frame; ++i) {
                const double hann = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(frame));
                const double s0 = hann * samples[from + i] / 32768.0 + c * s1 - s2;
                s2 = s1;
                s1 = s0;
            }
            energy += s1 * s1 + s2 * s2 - c * s1 * s2;
        }
    return 10 * std::log10(energy);
}

class MelodyVolumeSound : public StageOnSoundServer {
protected:
    void SetUp() override {
        makeStage();
        if (IsSkipped() || HasFatalFailure())
            return;
        settings.autoNextSwitch = false;
        settings.DarNota = false;  // no announcement between the takes
        stage->config.settings = [this] { return &settings; };
        // Four syllables 400 ms apart from 200 ms, each on a flute note of
        // 380 ms (channel 2); strings hold one note from the start to 1.8 s
        // (channel 3).
        std::vector<std::pair<int, std::string>> syllables;
        fx::Bytes melody = fx::vlq(0) + fx::Bytes{0xC1, 73};
        int at = 0;
        for (int k = 0; k < 4; ++k) {
            const int ms = 200 + 400 * k;
            syllables.emplace_back(ms, "la");
            melody = melody + fx::vlq(ms - at) + fx::Bytes{0x91, kMelodyNote, 100} + fx::vlq(380) +
                     fx::Bytes{0x81, kMelodyNote, 0};
            at = ms + 380;
        }
        const fx::Bytes accompaniment = fx::vlq(0) + fx::Bytes{0xC2, 48} + fx::vlq(0) +
                                        fx::Bytes{0x92, kAccompanimentNote, 100} + fx::vlq(1800) +
                                        fx::Bytes{0x82, kAccompanimentNote, 0};
        numero = catalogueEntry("Grupo", "Melodia", "melodia.kar");
        fx::writeFile((vozaro::catalogue::songsFolder() / "melodia.kar").string(),
                      song({lyricTrack(syllables), melody, accompaniment}));
    }

    // The song played through the stage with the melody's volume given as the
    // window of more options gives it; what the speakers played.
    std::vector<std::int16_t> play(int melodyVolume) {
        settings.VolumeMelodia = melodyVolume;
        stage->optionsChanged();
        SpeakerRecording recording;
        EXPECT_TRUE(recording.waitUntilRunning()) << "parec records nothing from speakers.monitor";
        stage->playNow(numero);
        EXPECT_TRUE(stage->MidiPlayer.Play());
        EXPECT_EQ(stage->MidiPlayer.MelodyChannel(), 1);
        EXPECT_TRUE(waitFor([&] { return !stage->MidiPlayer.Play(); }, 10000));
        waitFor([] { return false; }, 500);  // the reverb dies away
        return recording.stop();
    }

    TKaraokeSettings settings;
    std::int32_t numero = 0;
};

}  // namespace

TEST_F(MelodyVolumeSound, TheMelodyAtZeroIsSilencedWhileTheAccompanimentPlaysOn) {
    struct Heard {
        double melody, accompaniment;
    };
    Heard heard[2];
    const int volumes[2] = {100, 0};
    for (int k = 0; k < 2; ++k) {
        const std::vector<std::int16_t> samples = play(volumes[k]);
        ASSERT_GT(samples.size(), static_cast<std::size_t>(kRate * 2)) << "parec recorded too little";
        heard[k] = {energyNear(samples, hertz(kMelodyNote)), energyNear(samples, hertz(kAccompanimentNote))};
        // VOZARO_RECORDINGS=folder keeps the recordings to listen to.
        if (const char* keep = std::getenv("VOZARO_RECORDINGS"))
            writeFile(std::string(keep) + "/melodia-" + std::to_string(volumes[k]) + ".wav", waveBytes(samples, kRate));
        const std::string figures = "melody " + std::to_string(heard[k].melody) + " dB, accompaniment " +
                                    std::to_string(heard[k].accompaniment) + " dB";
        RecordProperty("VolumeMelodia " + std::to_string(volumes[k]), figures);
        std::cout << "VolumeMelodia " << volumes[k] << ": " << figures << "\n";
    }
    EXPECT_GT(heard[0].melody, heard[0].accompaniment) << "the melody is heard at 100";
    EXPECT_LT(heard[1].melody, heard[0].melody - 30) << "the melody is gone at 0";
    EXPECT_NEAR(heard[1].accompaniment, heard[0].accompaniment, 3) << "the accompaniment plays on";
    EXPECT_TRUE(messages.messages().empty());
}
