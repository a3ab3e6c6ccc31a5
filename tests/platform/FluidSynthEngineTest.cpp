// The built-in synthesizer, listened to: FluidSynth renders into memory with
// no audio output, and the tests measure what it rendered.
#include <gtest/gtest.h>

#include "BuiltinSynthEngine.h"
#include "platform/devices/MidiDeviceFluidSynth.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

using namespace vozaro::platform;

namespace {

class FluidSynthEngineTest : public vozaro::test::BuiltinSynthEngineTest {
protected:
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

    // How long the SoundFont's claves, started on a block boundary, takes to
    // rise above threshold; -1 when it never does.
    double clavesAttackUs(int threshold) {
        const std::int64_t rate = engine->sampleRate();
        std::vector<std::int16_t> one(2 * static_cast<std::size_t>(rate / 5));
        engine->render(one.data(),
                       static_cast<int>(-engine->framesRendered() & (FluidSynthEngine::kBlockFrames - 1)));
        engine->sendShortMessage(packShortMessage(0x99, 75, 110));
        engine->render(one.data(), static_cast<int>(one.size() / 2));
        const std::vector<std::int64_t> attack = vozaro::test::onsets(one, threshold, 0);
        engine->discard(1.5);
        return attack.empty() ? -1.0 : static_cast<double>(attack.front()) * 1e6 / static_cast<double>(rate);
    }

    void send(std::uint8_t status, std::uint8_t data1, std::uint8_t data2 = 0) {
        engine->sendShortMessage(packShortMessage(status, data1, data2));
    }
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

namespace {

// A sound server's stream, scripted: frame f is heard at heardUs(f) on its
// own clock, which it reports before each period except when `unknown` says
// it cannot.  It keeps what is written, waits to take the first period until
// the test opens it, and fails once it holds `capacity` frames, which ends
// the engine's writer.
struct ScriptedServer {
    std::function<std::uint64_t(std::int64_t frame)> heardUs;
    std::function<bool(int period)> unknown;
    std::int64_t capacity = 0;

    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    bool full = false;
    std::vector<std::int16_t> sound;
    int periods = 0;
    int resumes = 0;

    void openUp() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
    bool waitUntilFull() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), [this] { return full; });
    }
};

class ScriptedStream final : public PlaybackStream {
public:
    explicit ScriptedStream(std::shared_ptr<ScriptedServer> server) : server_(std::move(server)) {}

    std::optional<std::uint64_t> nextFrameHeardUs() noexcept override {
        std::lock_guard lock(server_->mutex);
        if (server_->unknown && server_->unknown(server_->periods))
            return std::nullopt;
        return server_->heardUs(static_cast<std::int64_t>(server_->sound.size() / 2));
    }

    bool write(const float* stereo, int frames) noexcept override {
        std::unique_lock lock(server_->mutex);
        server_->changed.wait(lock, [this] { return server_->open; });
        for (int i = 0; i < 2 * frames; ++i)
            server_->sound.push_back(static_cast<std::int16_t>(std::clamp(stereo[i], -1.0f, 1.0f) * 32767));
        ++server_->periods;
        server_->full = static_cast<std::int64_t>(server_->sound.size() / 2) >= server_->capacity;
        server_->changed.notify_all();
        return !server_->full;
    }

    bool resume() noexcept override {
        std::lock_guard lock(server_->mutex);
        ++server_->resumes;
        return true;
    }

private:
    std::shared_ptr<ScriptedServer> server_;
};

}  // namespace

// Through a sound server's stream, every claves hit is heard at its due time
// plus the engine's latency, within three quarters of a block, by the
// server's own account of when each period is heard: also when its clock
// runs off the nominal rate, when it played silence and so hears everything
// after later, and when it cannot say for most periods.  The latency then
// holds the server's buffer.  How long the SoundFont's claves takes to rise
// above the threshold is measured first, on a block boundary, so that neither
// the SoundFont installed nor the machine's speed moves what is expected.
TEST_F(FluidSynthEngineTest, ThroughAServerStreamEachNoteIsHeardWhenDue) {
    constexpr std::uint64_t kStartUs = 5'000'000'000;
    constexpr int kThreshold = 2000;
    const std::int64_t rate = engine->sampleRate();
    const double usPerFrame = 1e6 / static_cast<double>(rate);
    const double blockUs = FluidSynthEngine::kBlockFrames * usPerFrame;

    const double attackUs = clavesAttackUs(kThreshold);
    ASSERT_GT(attackUs, 0);
    struct Case {
        const char* name;
        double clockRatio;           // the server's microseconds per nominal one
        std::int64_t silenceFrame;   // from this frame on ...
        std::int64_t silenceUs;      // ... everything is heard this much later
        int unknownOf4;              // periods after each of every four the server cannot say
    };
    const Case cases[] = {
        {"steady", 1.0, 0, 0, 0},
        {"clock 0.2 % fast", 0.998, 0, 0, 0},
        {"clock 0.2 % slow", 1.002, 0, 0, 0},
        {"30 ms of silence after 1 s", 1.0, rate, 30'000, 0},
        {"silence and a fast clock, mostly unsaid", 0.998, rate, 12'000, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto server = std::make_shared<ScriptedServer>();
        server->heardUs = [&c, usPerFrame](std::int64_t frame) {
            const double silence = frame >= c.silenceFrame ? static_cast<double>(c.silenceUs) : 0.0;
            return kStartUs + static_cast<std::uint64_t>(frame * usPerFrame * c.clockRatio + silence);
        };
        server->unknown = [&c](int period) { return period % 4 >= 4 - c.unknownOf4; };
        server->capacity = 2 * rate;
        engine->startAudio(std::make_unique<ScriptedStream>(server));
        EXPECT_TRUE(engine->audioRunning());
        const std::int64_t latencyUs = engine->latencyUs();
        EXPECT_GT(latencyUs, FluidSynthEngine::kLatencyUs + FluidSynthEngine::kServerPeriods * 5'000);

        std::vector<std::uint64_t> heardAt;
        for (std::uint64_t us = kStartUs + 150'000; us < kStartUs + 1'800'000; us += 127'000)
            heardAt.push_back(us);
        for (std::uint64_t us : heardAt) {
            engine->sendShortMessageAt(packShortMessage(0x99, 75, 110), us - latencyUs);
            engine->sendShortMessageAt(packShortMessage(0x89, 75, 0), us + 20'000 - latencyUs);
        }
        server->openUp();
        ASSERT_TRUE(server->waitUntilFull());
        engine->stopAudio();
        EXPECT_FALSE(engine->audioRunning());
        EXPECT_EQ(engine->latencyUs(), FluidSynthEngine::kLatencyUs);

        engine->discard(1.5);
        const std::vector<std::int64_t> found = vozaro::test::onsets(server->sound, kThreshold, rate / 40);
        EXPECT_EQ(found.size(), heardAt.size());
        for (std::size_t i = 0; i < std::min(found.size(), heardAt.size()); ++i) {
            // A message applies at the block start nearer its frame; the
            // reverb of the hit before may lift a slow attack over the
            // threshold a little sooner.
            const double error =
                static_cast<double>(server->heardUs(found[i])) - static_cast<double>(heardAt[i]) - attackUs;
            EXPECT_GE(error, -0.75 * blockUs) << "hit " << i;
            EXPECT_LE(error, 0.75 * blockUs) << "hit " << i;
        }
    }
}

// The sound server goes away after 1 s and answers again at the third try:
// the writer waits kReconnectMs before every try, and the song goes on in
// the new stream at its place.  What came due meanwhile took effect (a
// program, a channel's volume down to nothing), except the note-on, which
// is not heard late.
TEST_F(FluidSynthEngineTest, AStreamThatFailsIsOpenedAgainAndTheSongGoesOnAtItsPlace) {
    constexpr std::uint64_t kStartUs = 5'000'000'000;
    const std::uint64_t kBackUs = kStartUs + 2'600'000;  // the new stream's first frame is heard then
    const double attackUs = clavesAttackUs(2000);
    ASSERT_GT(attackUs, 0);
    const std::int64_t rate = engine->sampleRate();
    const double usPerFrame = 1e6 / static_cast<double>(rate);
    auto makeServer = [&](std::uint64_t startUs, double seconds) {
        auto server = std::make_shared<ScriptedServer>();
        server->heardUs = [startUs, usPerFrame](std::int64_t frame) {
            return startUs + static_cast<std::uint64_t>(static_cast<double>(frame) * usPerFrame);
        };
        server->capacity = static_cast<std::int64_t>(seconds * static_cast<double>(rate));
        return server;
    };
    // The first stream takes its first period only once the song has been
    // sent, so the writer cannot run ahead of the song, however fast.
    const auto first = makeServer(kStartUs, 1.0);
    const auto second = makeServer(kBackUs, 1.5);
    second->openUp();
    std::vector<int> waits;
    int tries = 0;
    auto reopen = [&](std::string& why) -> std::unique_ptr<PlaybackStream> {
        if (++tries < 3) {
            why = "Connection refused";
            return nullptr;
        }
        return std::make_unique<ScriptedStream>(second);
    };
    auto wait = [&](int ms) {
        waits.push_back(ms);
        return tries < 3;  // after the second stream, no more
    };
    engine->startAudio(std::make_unique<ScriptedStream>(first), reopen, wait);
    const std::int64_t latencyUs = engine->latencyUs();
    auto at = [&](std::uint64_t heardUs, std::uint8_t status, std::uint8_t data1, std::uint8_t data2 = 0) {
        engine->sendShortMessageAt(packShortMessage(status, data1, data2), heardUs - latencyUs);
    };
    const std::uint64_t claves1 = kStartUs + 300'000, claves2 = kBackUs + 400'000;
    at(claves1, 0x99, 75, 110);
    at(kStartUs + 1'400'000, 0xC1, 56);      // while nothing is heard: a program ...
    at(kStartUs + 1'500'000, 0xB2, 7, 0);    // ... a channel silenced ...
    at(kStartUs + 1'800'000, 0x99, 75, 110);  // ... and a note-on due
    at(claves2, 0x99, 75, 110);
    at(kBackUs + 900'000, 0x92, 60, 110);    // on the silenced channel
    first->openUp();
    ASSERT_TRUE(second->waitUntilFull());
    engine->stopAudio();

    EXPECT_EQ(tries, 3);
    EXPECT_EQ(waits, std::vector<int>(4, FluidSynthEngine::kReconnectMs));
    EXPECT_EQ(engine->program(1), 56);
    const double blockUs = FluidSynthEngine::kBlockFrames * usPerFrame;
    struct Heard {
        const char* name;
        const ScriptedServer& server;
        std::uint64_t hitUs;
    };
    for (const Heard& heard : {Heard{"before", *first, claves1}, Heard{"after", *second, claves2}}) {
        SCOPED_TRACE(heard.name);
        const std::vector<std::int64_t> found = vozaro::test::onsets(heard.server.sound, 2000, rate / 40);
        ASSERT_EQ(found.size(), 1u);
        const double error =
            static_cast<double>(heard.server.heardUs(found[0])) - static_cast<double>(heard.hitUs) - attackUs;
        EXPECT_GE(error, -0.75 * blockUs);
        EXPECT_LE(error, 0.75 * blockUs);
    }
}

// Idle and silent for 2 s, the writer stops writing: the server plays
// silence at no cost to the program.  When a song opens the engine again,
// the server drops what it held, so the song is heard at once, and the
// writer goes on.
TEST_F(FluidSynthEngineTest, AnIdleEngineStopsWritingUntilASongOpensIt) {
    const std::int64_t rate = engine->sampleRate();
    auto server = std::make_shared<ScriptedServer>();
    server->heardUs = [rate](std::int64_t frame) { return 1'000'000 + static_cast<std::uint64_t>(frame * 1'000'000 / rate); };
    server->capacity = 4 * rate;
    engine->setIdle(true);
    server->openUp();
    engine->startAudio(std::make_unique<ScriptedStream>(server));
    auto periods = [&] {
        std::lock_guard lock(server->mutex);
        return std::pair{server->periods, server->resumes};
    };
    for (int i = 0; i < 300 && periods().first * FluidSynthEngine::kOutputPeriodFrames < 2 * rate; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto [idlePeriods, idleResumes] = periods();
    EXPECT_LT(idlePeriods * FluidSynthEngine::kOutputPeriodFrames, 3 * rate);
    EXPECT_EQ(idleResumes, 0);
    EXPECT_TRUE(engine->audioRunning());

    engine->setIdle(false);
    ASSERT_TRUE(server->waitUntilFull());
    EXPECT_EQ(periods().second, 1);
    engine->stopAudio();
}
