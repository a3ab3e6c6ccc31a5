// The system's sound player: a worker thread reads the file with libsndfile,
// then plays it through an RtAudio output stream on the default output device
// and closes the stream when the sound has run out.  Playing another file,
// stop(), or destroying the player cuts the current sound off.
#include "platform/devices/SoundPlayer.h"

#include "platform/devices/AlsaMessages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <rtaudio/RtAudio.h>
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <optional>
#include <thread>

namespace vozaro::platform {

namespace {

constexpr int kMaxChannels = 2;
// Frames read at a time: a header that lies about its length costs nothing.
constexpr sf_count_t kReadFrames = 4096;
// How long a destroyed player waits for its worker before leaving it.
constexpr auto kWorkerGrace = std::chrono::milliseconds(500);

bool isWaveFormat(int format) {
    const int type = format & SF_FORMAT_TYPEMASK;
    return type == SF_FORMAT_WAV || type == SF_FORMAT_WAVEX || type == SF_FORMAT_RF64;
}

// The file at path opened for reading when it is a regular file, else -1.
// Opening does not wait for a writer (a FIFO) or a device.
int openRegularFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads at most `frames` frames, folding the channels into sound.channels.
void readFrames(SNDFILE* file, int fileChannels, sf_count_t frames, WaveSound& sound) {
    std::vector<float> block(static_cast<std::size_t>(kReadFrames * fileChannels));
    for (sf_count_t done = 0; done < frames;) {
        const sf_count_t read = sf_readf_float(file, block.data(), std::min(kReadFrames, frames - done));
        if (read <= 0)
            break;
        const std::size_t first = sound.samples.size();
        sound.samples.resize(first + static_cast<std::size_t>(read * sound.channels), 0.0f);
        for (sf_count_t f = 0; f < read; ++f)
            for (int c = 0; c < fileChannels; ++c)
                sound.samples[first + static_cast<std::size_t>(f * sound.channels + c % sound.channels)] +=
                    block[static_cast<std::size_t>(f * fileChannels + c)];
        done += read;
    }
}

}  // namespace

WaveSound readWaveForPlaying(const std::string& path) {
    WaveSound sound;
    const int fd = openRegularFile(path);
    if (fd < 0)
        return sound;
    SF_INFO info{};
    SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);  // closes fd, also on failure
    if (file == nullptr)
        return sound;
    if (isWaveFormat(info.format) && info.channels > 0 && info.samplerate > 0 && info.frames > 0) {
        sound.channels = std::min(info.channels, kMaxChannels);
        sound.rate = info.samplerate;
        const sf_count_t frames = std::min<sf_count_t>(info.frames, sf_count_t{kMaxSoundSeconds} * info.samplerate);
        try {
            readFrames(file, info.channels, frames, sound);
        } catch (const std::bad_alloc&) {
            sound.samples.clear();
        }
        if (sound.empty())
            sound = WaveSound();
    }
    sf_close(file);
    return sound;
}

bool isPlayableWave(const std::string& path) { return !readWaveForPlaying(path).empty(); }

namespace {

// What the player and its worker share; the worker keeps it alive for as
// long as it runs, also after the player has gone.
struct Mailbox {
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<std::string> next;  // the file to play next
    bool quit = false;
    bool finished = false;  // the worker has returned
    std::atomic<bool> cut{false};
};

// thread: the worker.
void work(const std::shared_ptr<Mailbox>& mailbox, const std::shared_ptr<SoundOutput>& output) noexcept {
    for (;;) {
        std::string path;
        {
            std::unique_lock lock(mailbox->mutex);
            mailbox->changed.wait(lock, [&] { return mailbox->quit || mailbox->next; });
            if (mailbox->quit)
                break;
            path = std::move(*mailbox->next);
            mailbox->next.reset();
            mailbox->cut.store(false);
        }
        try {
            const WaveSound sound = readWaveForPlaying(path);
            if (!sound.empty() && !mailbox->cut.load())
                output->play(sound, mailbox->cut);
        } catch (...) {
            // Out of memory while reading: the sound is skipped.
        }
    }
    std::lock_guard lock(mailbox->mutex);
    mailbox->finished = true;
    mailbox->changed.notify_all();
}

class WorkerSoundPlayer final : public SoundPlayer {
public:
    explicit WorkerSoundPlayer(std::shared_ptr<SoundOutput> output)
        : mailbox_(std::make_shared<Mailbox>()),
          worker_([mailbox = mailbox_, output = std::move(output)] { work(mailbox, output); }) {}

    ~WorkerSoundPlayer() override {
        std::unique_lock lock(mailbox_->mutex);
        mailbox_->quit = true;
        mailbox_->next.reset();
        mailbox_->cut.store(true);
        mailbox_->changed.notify_all();
        if (mailbox_->changed.wait_for(lock, kWorkerGrace, [this] { return mailbox_->finished; })) {
            lock.unlock();
            worker_.join();
        } else {
            worker_.detach();  // held up by its file or output; it ends on its own
        }
    }

    void play(const std::string& path) override {
        std::lock_guard lock(mailbox_->mutex);
        mailbox_->next = path;
        mailbox_->cut.store(true);
        mailbox_->changed.notify_all();
    }

    void stop() override {
        std::lock_guard lock(mailbox_->mutex);
        mailbox_->next.reset();
        mailbox_->cut.store(true);
    }

private:
    std::shared_ptr<Mailbox> mailbox_;
    std::thread worker_;
};

// The default output device through RtAudio.
class RtAudioSoundOutput final : public SoundOutput {
public:
    void play(const WaveSound& sound, const std::atomic<bool>& cut) noexcept override {
        try {
            silenceAlsaMessages();
            std::unique_ptr<RtAudio> audio = openOutput();
            if (!audio)
                return;
            Playback playback{&sound, 0, &cut};
            RtAudio::StreamParameters output;
            output.deviceId = audio->getDefaultOutputDevice();
            output.nChannels = static_cast<unsigned>(sound.channels);
            RtAudio::StreamOptions options;
            options.streamName = "Vozaro";
            unsigned frames = 512;
            audio->openStream(&output, nullptr, RTAUDIO_FLOAT32, static_cast<unsigned>(sound.rate), &frames,
                              &RtAudioSoundOutput::callback, &playback, &options,
                              &RtAudioSoundOutput::errorCallback);
            audio->startStream();
            // Whatever the output makes of an odd rate, the sound ends in time.
            const auto deadline = std::chrono::steady_clock::now() +
                                  std::chrono::milliseconds(static_cast<int>(sound.seconds() * 1000) + 500);
            while (audio->isStreamRunning() && !cut.load() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (audio->isStreamRunning())
                audio->abortStream();
            audio->closeStream();
        } catch (...) {
            // No output device, or one that failed: the sound is skipped.
        }
    }

private:
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
        const WaveSound* sound;
        std::size_t next;  // the next sample to hand out
        const std::atomic<bool>* cut;
    };

    // thread: RtAudio's output thread.  Returns 1 (drain and stop) once the
    // sound has been handed out.
    static int callback(void* out, void*, unsigned frames, double, RtAudioStreamStatus, void* user) noexcept {
        auto* playback = static_cast<Playback*>(user);
        auto* target = static_cast<float*>(out);
        const std::vector<float>& samples = playback->sound->samples;
        const std::size_t wanted = std::size_t{frames} * static_cast<std::size_t>(playback->sound->channels);
        const std::size_t count = std::min(wanted, samples.size() - playback->next);
        std::copy_n(samples.data() + playback->next, count, target);
        std::fill(target + count, target + wanted, 0.0f);
        playback->next += count;
        return playback->next >= samples.size() || playback->cut->load() ? 1 : 0;
    }

    static void errorCallback(RtAudioError::Type, const std::string&) {}
};

std::mutex installedMutex;
std::shared_ptr<SoundPlayer> installed;

}  // namespace

std::unique_ptr<SoundPlayer> createSoundPlayer(std::shared_ptr<SoundOutput> output) {
    return std::make_unique<WorkerSoundPlayer>(std::move(output));
}

std::unique_ptr<SoundPlayer> createSystemSoundPlayer() {
    return createSoundPlayer(std::make_shared<RtAudioSoundOutput>());
}

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
