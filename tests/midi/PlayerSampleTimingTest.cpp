// The player driving the built-in synthesizer, listened to: FluidSynth
// renders into memory in step with the test's timer, whose ticks come late
// by varying fractions of a millisecond, and the onsets in the rendered sound
// are compared with the song's own times.
#include <gtest/gtest.h>

#include "BuiltinSynthEngine.h"
#include "PlayerTestDevices.h"
#include "PlayerTestSongs.h"
#include "midi/cmpMidiPlayer.h"
#include "midi/cmpTrackOutputs.h"
#include "support/ManualTimerService.h"
#include "platform/devices/MidiDeviceFluidSynth.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

using namespace vozaro;
using namespace vozaro::midi;
using platform::FluidSynthEngine;

namespace {

// One device: the engine under test, shared by every port opened on it.
class EngineDevices final : public platform::MidiDeviceSet {
public:
    explicit EngineDevices(FluidSynthEngine& engine) : engine_(engine) {}
    int deviceCount() override { return 1; }
    std::string deviceName(int) override { return "engine"; }
    std::unique_ptr<platform::MidiOutputDevice> openDevice(int, std::string&) override {
        return std::make_unique<Handle>(engine_);
    }

private:
    class Handle final : public platform::MidiOutputDevice {
    public:
        explicit Handle(FluidSynthEngine& engine) : engine_(engine) {}
        void sendShortMessage(std::uint32_t message) noexcept override { engine_.sendShortMessage(message); }
        void sendShortMessageAt(std::uint32_t message, std::uint64_t dueUs) noexcept override {
            engine_.sendShortMessageAt(message, dueUs);
        }
        std::int64_t latencyUs() const noexcept override { return engine_.latencyUs(); }
        void reset() noexcept override { engine_.reset(); }
        void waitForSystemExclusive(int) noexcept override {}

    private:
        FluidSynthEngine& engine_;
    };
    FluidSynthEngine& engine_;
};

constexpr std::uint8_t kDrums = 9;
constexpr std::uint8_t kClaves = 75;
constexpr std::uint16_t kPpqn = 480;

// A claves hit, 20 ticks long, at each tick; 500 ms per quarter until
// tempoTick, then 300 ms per quarter.  Returns the song times of the hits in
// microseconds as the player counts song time: whole milliseconds up to
// each tempo change.
struct ClavesSong {
    std::unique_ptr<TMidiData> song;
    std::vector<std::int64_t> hitUs;
};

ClavesSong clavesSong(const std::vector<std::uint32_t>& ticks, std::uint32_t tempoTick) {
    test::TrackBuilder map;
    map.tempo(0, 500000).tempo(tempoTick, 300000).end();
    test::TrackBuilder hits;
    std::uint32_t last = 0;
    ClavesSong result;
    for (std::uint32_t tick : ticks) {
        hits.event(tick - last, {0x90 | kDrums, kClaves, 110}).event(20, {0x80 | kDrums, kClaves, 0});
        last = tick + 20;
        const std::int64_t us = tick <= tempoTick
                                    ? std::int64_t{tick} * 500000 / kPpqn
                                    : std::int64_t{tempoTick} * 500 / kPpqn * 1000 +
                                          std::int64_t{tick - tempoTick} * 300000 / kPpqn;
        result.hitUs.push_back(us);
    }
    hits.end(100);
    result.song = test::loadSong(kPpqn, {map, hits});
    return result;
}

class PlayerSampleTimingTest : public test::BuiltinSynthEngineTest {
protected:
    void SetUp() override {
        BuiltinSynthEngineTest::SetUp();
        if (!engine)
            return;
        devices = std::make_unique<platform::ScopedMidiDevices>(std::make_shared<EngineDevices>(*engine));
        engine->anchorRenderClock(timers.nowUs());
    }
    void TearDown() override {
        if (!engine)
            return;
        player.reset();
        if (outputs)
            test::closeWithoutWaiting(*outputs);
    }

    void start(TMidiData& song, std::int32_t percent) {
        outputs = std::make_unique<TTrackOutputs>();
        outputs->setMidiData(&song);
        outputs->setActive(true);
        player = std::make_unique<TMidiPlayer>(timers);
        player->setTempoPercent(percent);
        player->setTrackOutputs(outputs.get());
        player->Rewind();
        startUs = timers.nowUs();
        player->setPlay(true);
    }

    // Moves the clock on ms milliseconds, each tick late by a random
    // fraction of a millisecond, rendering the sound in step.
    void run(std::uint32_t ms) {
        for (std::uint32_t i = 0; i < ms; ++i) {
            timers.setLatenessUs(static_cast<std::uint32_t>(lateness(random)));
            timers.advance(1);
            renderUntil(timers.nowUs());
        }
    }

    void renderUntil(std::uint64_t us) {
        const std::int64_t frame = static_cast<std::int64_t>(us) * engine->sampleRate() / 1'000'000;
        const std::int64_t frames = frame - engine->framesRendered();
        if (frames <= 0)
            return;
        const std::size_t at = sound.size();
        sound.resize(at + 2 * static_cast<std::size_t>(frames));
        engine->render(sound.data() + at, static_cast<int>(frames));
    }

    platform::ManualTimerService timers;
    std::unique_ptr<platform::ScopedMidiDevices> devices;
    std::unique_ptr<TTrackOutputs> outputs;
    std::unique_ptr<TMidiPlayer> player;
    std::uint64_t startUs = 0;
    std::vector<std::int16_t> sound;  // interleaved stereo from clock 0
    std::mt19937 random{24};
    std::uniform_int_distribution<int> lateness{0, 950};
};

}  // namespace

// Every hit starts in the block that holds its song time, mapped to the
// clock at the player's speed, plus the synthesizer's fixed latency: at
// 50, 100 and 200 % and on both sides of a tempo change, whatever the ticks'
// lateness.
TEST_F(PlayerSampleTimingTest, EveryHitStartsOnItsDueSampleAtEverySpeed) {
    std::vector<std::uint32_t> ticks;
    std::mt19937 spacing(7);
    for (std::uint32_t tick = 240; ticks.size() < 24; tick += 400 + spacing() % 317)
        ticks.push_back(tick);
    const std::uint32_t tempoTick = ticks[12] - 77;
    for (std::int32_t percent : {50, 100, 200}) {
        SCOPED_TRACE(percent);
        ClavesSong claves = clavesSong(ticks, tempoTick);
        sound.clear();
        start(*claves.song, percent);
        const std::int64_t endUs = claves.hitUs.back() * 100 / percent;
        run(static_cast<std::uint32_t>(endUs / 1000 + 600));

        const std::int64_t rate = engine->sampleRate();
        const std::int64_t firstFrame = engine->framesRendered() - static_cast<std::int64_t>(sound.size() / 2);
        std::vector<std::int64_t> heard = test::onsets(sound, 2000, rate / 40);
        ASSERT_EQ(heard.size(), claves.hitUs.size());
        std::int64_t earliest = 1 << 30, latest = -(1 << 30);
        for (std::size_t i = 0; i < heard.size(); ++i) {
            const std::int64_t dueUs = static_cast<std::int64_t>(startUs) + claves.hitUs[i] * 100 / percent +
                                       FluidSynthEngine::kLatencyUs;
            const std::int64_t offset = firstFrame + heard[i] - dueUs * rate / 1'000'000;
            earliest = std::min(earliest, offset);
            latest = std::max(latest, offset);
        }
        // Half a block early at most (a message applies at the nearer block
        // start); the attack of the sample may take a little longer.
        EXPECT_GE(earliest, -FluidSynthEngine::kBlockFrames / 2);
        EXPECT_LE(latest, rate / 200);
        EXPECT_LE(latest - earliest, FluidSynthEngine::kBlockFrames) << earliest << " .. " << latest;
        player->Stop();
        player.reset();
        test::closeWithoutWaiting(*outputs);
        outputs.reset();
        run(1500);  // the reverb dies away
    }
}

// A stop or a key change while a note-on waits in the synthesizer for its
// sample: the note never starts, nor any other in the old key; without either
// it starts on time.
TEST_F(PlayerSampleTimingTest, StopAndKeyChangeDropWhatWaitsForItsSample) {
    enum class Action { None, Stop, KeyChange };
    constexpr std::uint8_t kKey = 60;
    constexpr std::int32_t kShift = 5;
    auto song = [] {
        test::TrackBuilder map;
        map.tempo(0, 500000).end();
        test::TrackBuilder piano;
        piano.event(0, {0xC0, 0}).note(kPpqn, 0, kKey, kPpqn).note(kPpqn, 0, kKey, kPpqn).end();
        return test::loadSong(kPpqn, {map, piano});
    };
    for (Action action : {Action::None, Action::Stop, Action::KeyChange}) {
        SCOPED_TRACE(static_cast<int>(action));
        auto original = song();
        auto played = song();
        start(*played, 100);
        // The first note is due at 500 ms; the tick at 504 ms hands it over.
        run(504);
        ASSERT_EQ(engine->voicesOnKey(0, kKey), 0);
        ASSERT_GT(engine->waitingMessages(), 0);
        if (action == Action::Stop)
            player->Stop();
        if (action == Action::KeyChange)
            player->transpose(*original, *played, kShift);
        int oldKey = 0, newKey = 0;
        for (int ms = 0; ms < 1600; ms += 2) {
            run(2);
            oldKey = std::max(oldKey, engine->voicesOnKey(0, kKey));
            newKey = std::max(newKey, engine->voicesOnKey(0, kKey + kShift));
        }
        switch (action) {
        case Action::None:
            EXPECT_GT(oldKey, 0);
            EXPECT_EQ(newKey, 0);
            break;
        case Action::Stop:
            EXPECT_EQ(oldKey, 0);
            EXPECT_EQ(newKey, 0);
            EXPECT_EQ(engine->activeVoices(), 0);
            break;
        case Action::KeyChange:
            EXPECT_EQ(oldKey, 0);
            EXPECT_GT(newKey, 0);  // the second note, in the new key
            break;
        }
        player.reset();
        test::closeWithoutWaiting(*outputs);
        outputs.reset();
        run(1500);
    }
}

// The lyric display follows the sound: the song time less the fixed latency
// at the speed played, never below 0; the song time itself is unchanged.
TEST_F(PlayerSampleTimingTest, DisplayTimeTrailsTheSongTimeByTheLatency) {
    for (std::int32_t percent : {50, 100, 200}) {
        SCOPED_TRACE(percent);
        ClavesSong claves = clavesSong({480, 4800}, 9600);
        timers.setLatenessUs(0);  // ticks on time: whole milliseconds of song
        start(*claves.song, percent);
        EXPECT_EQ(player->OutputLatencyUs(), FluidSynthEngine::kLatencyUs);
        timers.advance(4);
        EXPECT_EQ(player->DisplayTime(), 0);
        timers.advance(996);
        const std::int64_t lag = FluidSynthEngine::kLatencyUs / 1000 * percent / 100;
        EXPECT_EQ(player->Time(), 1000 * percent / 100);
        EXPECT_EQ(player->DisplayTime(), player->Time() - lag);
        player.reset();
        test::closeWithoutWaiting(*outputs);
        outputs.reset();
    }
}
