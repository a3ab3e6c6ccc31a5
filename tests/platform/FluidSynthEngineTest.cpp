// The built-in synthesizer, listened to: FluidSynth renders into memory with
// no audio output, and the tests measure what it rendered.
#include <gtest/gtest.h>

#include "BuiltinSynthEngine.h"
#include "platform/MidiDeviceFluidSynth.h"

#include <cmath>
#include <vector>

using namespace vozaro::platform;

namespace {

class FluidSynthEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string skipReason;
        engine = vozaro::test::fullGainEngine(skipReason);
        if (!engine)
            GTEST_SKIP() << skipReason;
    }

    // RMS of the next seconds of sound, full scale 1.
    double listen(double seconds) {
        const int frames = static_cast<int>(seconds * engine->sampleRate());
        std::vector<std::int16_t> samples(2 * static_cast<std::size_t>(frames));
        engine->render(samples.data(), frames);
        double sum = 0;
        for (std::int16_t sample : samples)
            sum += double(sample) * sample;
        return std::sqrt(sum / samples.size()) / 32768.0;
    }

    void send(std::uint8_t status, std::uint8_t data1, std::uint8_t data2 = 0) {
        engine->sendShortMessage(packShortMessage(status, data1, data2));
    }

    std::unique_ptr<FluidSynthEngine> engine;
};

constexpr double kSilence = 1e-4;
constexpr double kSound = 1e-2;

}  // namespace

// Strings hold a note as long as it is on; the reverb rings for about a second
// after the voices stop, so silence is measured after that.
TEST_F(FluidSynthEngineTest, NoteOnSoundsUntilResetSilencesIt) {
    EXPECT_LT(listen(0.2), kSilence);
    send(0xC0, 48);
    send(0x90, 60, 110);
    const double note = listen(0.5);
    EXPECT_GT(note, kSound);
    listen(1.5);
    EXPECT_GT(listen(0.5), note / 2);
    engine->reset();
    listen(1.5);
    EXPECT_LT(listen(0.5), note / 1000);
}

TEST_F(FluidSynthEngineTest, ResetSilencesEveryChannelEvenUnderTheSustainPedal) {
    for (std::uint8_t channel = 0; channel < 16; ++channel) {
        if (channel == 9)
            continue;  // percussion stops by itself
        send(0xB0 | channel, 64, 127);
        send(0xC0 | channel, 48);
        send(0x90 | channel, 64, 100);
        send(0x80 | channel, 64);
    }
    const double held = listen(0.5);
    EXPECT_GT(held, kSound);
    engine->reset();
    listen(1.5);
    EXPECT_LT(listen(0.5), held / 1000);
}

// What was still sounding when the audio output stopped must not be heard
// when it starts again: the synthesizer lets it die away first.
TEST_F(FluidSynthEngineTest, DiscardLetsWhatWasSoundingDieAwayUnheard) {
    send(0xC0, 48);
    send(0x90, 60, 110);
    const double note = listen(0.5);
    engine->reset();
    engine->systemReset();
    engine->discard(2.0);
    EXPECT_LT(listen(0.3), note / 1000);
}

TEST_F(FluidSynthEngineTest, ResetKeepsProgramsAndSystemResetRestoresThem) {
    send(0xC3, 40);
    send(0x93, 69, 100);
    listen(0.1);
    engine->reset();
    EXPECT_EQ(engine->program(3), 40);
    send(0x93, 69, 100);
    EXPECT_GT(listen(0.3), kSound);
    engine->systemReset();
    EXPECT_EQ(engine->program(3), 0);
}

TEST_F(FluidSynthEngineTest, NoteOffAndZeroVelocityNoteOnEndTheNote) {
    send(0xC0, 48);
    send(0x90, 60, 100);
    const double note = listen(0.3);
    EXPECT_GT(note, kSound);
    send(0x90, 60, 0);
    listen(1.5);  // release and reverb tail
    EXPECT_LT(listen(0.3), note / 20);

    send(0x91, 72, 100);
    listen(0.3);
    send(0x81, 72, 64);
    listen(1.5);
    EXPECT_LT(listen(0.3), note / 20);
}

TEST_F(FluidSynthEngineTest, GainScalesTheOutputAndZeroGainIsSilent) {
    send(0xC0, 48);
    send(0x90, 60, 100);
    listen(0.2);
    const double full = listen(0.2);
    engine->setGain(kBuiltinSynthFullGain / 2);
    listen(0.1);
    const double half = listen(0.2);
    EXPECT_NEAR(half / full, 0.5, 0.15);
    engine->setGain(0);
    listen(1.5);
    EXPECT_LT(listen(0.2), kSilence);
    EXPECT_FLOAT_EQ(engine->gain(), 0.0f);
}

TEST_F(FluidSynthEngineTest, SystemMessagesAndMissingSoundFontsAreRefused) {
    send(0xFF, 0);  // a system reset byte means nothing to the synthesizer
    send(0xF0, 0x7E, 0x7F);
    EXPECT_LT(listen(0.2), kSilence);

    std::string why;
    EXPECT_FALSE(FluidSynthEngine::create(VOZARO_TEST_DATA_DIR "/no-such.sf2", why));
    EXPECT_FALSE(why.empty());
}
