// The system's sound player: a worker thread decodes the file with
// libsndfile, then plays it through an RtAudio output stream on the default
// output device and closes the stream when the sound has run out.  Playing
// another file, or destroying the player, cuts the current sound off.
#include "platform/SoundPlayer.h"

#include "platform/AlsaMessages.h"

#include <rtaudio/RtAudio.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace vozaro::platform {

namespace {

// Longer sounds are cut here, so that a huge file cannot exhaust memory.
constexpr sf_count_t kMaxSeconds = 60;
constexpr int kMaxChannels = 2;

struct Decoded {
    std::vector<float> samples;  // interleaved
    int channels = 0;
    int rate = 0;
};

bool isWaveFormat(int format) {
    const int type = format & SF_FORMAT_TYPEMASK;
    return type == SF_FORMAT_WAV || type == SF_FORMAT_WAVEX || type == SF_FORMAT_RF64;
}

// Empty samples when the file is not a readable wave file.
Decoded decode(const std::string& path) {
    Decoded sound;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        return sound;
    if (isWaveFormat(info.format) && info.channels > 0 && info.samplerate > 0 && info.frames > 0) {
        const sf_count_t frames = std::min<sf_count_t>(info.frames, kMaxSeconds * info.samplerate);
        std::vector<float> all(static_cast<std::size_t>(frames * info.channels));
        const sf_count_t read = sf_readf_float(file, all.data(), frames);
        if (read > 0) {
            // More than two channels are folded into the first two.
            sound.channels = std::min(info.channels, kMaxChannels);
            sound.rate = info.samplerate;
            sound.samples.assign(static_cast<std::size_t>(read * sound.channels), 0.0f);
            for (sf_count_t f = 0; f < read; ++f)
                for (int c = 0; c < info.channels; ++c)
                    sound.samples[static_cast<std::size_t>(f * sound.channels + c % sound.channels)] +=
                        all[static_cast<std::size_t>(f * info.channels + c)];
        }
    }
    sf_close(file);
    return sound;
}

class SystemSoundPlayer final : public SoundPlayer {
public:
    ~SystemSoundPlayer() override { cutOff(); }

    void play(const std::string& path) override {
        cutOff();
        cancel_.store(false);
        worker_ = std::thread([this, path] { run(path); });
    }

private:
    void cutOff() {
        cancel_.store(true);
        if (worker_.joinable())
            worker_.join();
    }

    // thread: the worker.
    void run(const std::string& path) noexcept {
        try {
            Decoded sound = decode(path);
            if (sound.samples.empty() || cancel_.load())
                return;
            silenceAlsaMessages();
            std::unique_ptr<RtAudio> audio = openOutput();
            if (!audio)
                return;
            Playback playback{&sound, 0, &cancel_};
            RtAudio::StreamParameters output;
            output.deviceId = audio->getDefaultOutputDevice();
            output.nChannels = static_cast<unsigned>(sound.channels);
            RtAudio::StreamOptions options;
            options.streamName = "Vozaro";
            unsigned frames = 512;
            audio->openStream(&output, nullptr, RTAUDIO_FLOAT32, static_cast<unsigned>(sound.rate),
                              &frames, &SystemSoundPlayer::callback, &playback, &options,
                              &SystemSoundPlayer::errorCallback);
            audio->startStream();
            while (audio->isStreamRunning() && !cancel_.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (audio->isStreamRunning())
                audio->abortStream();
            audio->closeStream();
        } catch (...) {
            // No output device, or one that failed: the sound is skipped.
        }
    }

    static std::unique_ptr<RtAudio> openOutput() {
        std::vector<RtAudio::Api> apis;
        RtAudio::getCompiledApi(apis);
        for (RtAudio::Api api : apis) {
            if (api == RtAudio::RTAUDIO_DUMMY)
                continue;
            auto audio = std::make_unique<RtAudio>(api);
            audio->showWarnings(false);
            const unsigned count = audio->getDeviceCount();
            const unsigned device = audio->getDefaultOutputDevice();
            if (device < count && audio->getDeviceInfo(device).outputChannels > 0)
                return audio;
        }
        return nullptr;
    }

    struct Playback {
        const Decoded* sound;
        std::size_t next;  // the next sample to hand out
        const std::atomic<bool>* cancel;
    };

    // thread: RtAudio's output thread.  Returns 1 (drain and stop) once the
    // sound has been handed out.
    static int callback(void* out, void*, unsigned frames, double, RtAudioStreamStatus,
                        void* user) noexcept {
        auto* playback = static_cast<Playback*>(user);
        auto* target = static_cast<float*>(out);
        const std::vector<float>& samples = playback->sound->samples;
        const std::size_t wanted = std::size_t{frames} * static_cast<std::size_t>(playback->sound->channels);
        const std::size_t count = std::min(wanted, samples.size() - playback->next);
        std::copy_n(samples.data() + playback->next, count, target);
        std::fill(target + count, target + wanted, 0.0f);
        playback->next += count;
        return playback->next >= samples.size() || playback->cancel->load() ? 1 : 0;
    }

    static void errorCallback(RtAudioError::Type, const std::string&) {}

    std::thread worker_;
    std::atomic<bool> cancel_{false};
};

std::mutex installedMutex;
std::shared_ptr<SoundPlayer> installed;

}  // namespace

bool isPlayableWave(const std::string& path) { return !decode(path).samples.empty(); }

std::unique_ptr<SoundPlayer> createSystemSoundPlayer() { return std::make_unique<SystemSoundPlayer>(); }

SoundPlayer& soundPlayer() {
    std::lock_guard lock(installedMutex);
    if (!installed)
        installed = createSystemSoundPlayer();
    return *installed;
}

std::shared_ptr<SoundPlayer> installSoundPlayer(std::shared_ptr<SoundPlayer> player) {
    std::lock_guard lock(installedMutex);
    std::shared_ptr<SoundPlayer> previous = std::move(installed);
    installed = std::move(player);
    return previous;
}

}  // namespace vozaro::platform
