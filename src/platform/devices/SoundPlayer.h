// Playing a sound file without waiting for it (the score announcement's
// fanfare): the call decodes nothing itself and returns at once; the sound
// goes out on the system's default output.  A new sound cuts off the one
// still playing, and so does stop().  A file that is missing, empty,
// unreadable, not a wave file or not a regular file at all (a FIFO, a folder,
// a device) is skipped without a word: a sound is never worth a failure.  A
// sound plays for at most kMaxSoundSeconds.
//
// Threads: play() and stop() from the user-interface thread; they never wait
// for the thread that reads and plays the sound, which may be held up by the
// file or the sound server.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vozaro::platform {

// The longest a sound plays; the rest of a longer file is left out.
inline constexpr int kMaxSoundSeconds = 10;

class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    // Starts playing the wave file at path (file-system encoding) and
    // returns at once.
    virtual void play(const std::string& path) = 0;
    // Cuts off the sound still playing, if any, and returns at once.
    virtual void stop() {}
};

// The player the windows use: the system's unless a test installed another.
SoundPlayer& soundPlayer();
// Installs a player (nullptr: the system's again); returns the previous one.
std::shared_ptr<SoundPlayer> installSoundPlayer(std::shared_ptr<SoundPlayer> player);

// A wave file decoded for playing: interleaved samples of one or two
// channels (more are folded into the first two), at most kMaxSoundSeconds.
struct WaveSound {
    std::vector<float> samples;
    int channels = 0;
    int rate = 0;  // frames per second, as the file declares it
    bool empty() const { return samples.empty(); }
    double seconds() const {
        return empty() ? 0.0 : static_cast<double>(samples.size()) / channels / rate;
    }
};

// Reads the wave file at path for playing; empty when there is nothing to
// play.  Anything but a regular file is refused without being opened for
// reading, so a FIFO or a device never blocks the caller.
WaveSound readWaveForPlaying(const std::string& path);

// Whether path is a wave file the system player accepts: a regular file
// libsndfile reads as a wave file with at least one frame.
bool isPlayableWave(const std::string& path);

// Where a player's sounds go.  play() sounds one decoded sound to its end, or
// until cut becomes true, and may block meanwhile (an output device that
// hangs).  thread: the player's worker.
class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    virtual void play(const WaveSound& sound, const std::atomic<bool>& cut) noexcept = 0;
};

// A player whose worker thread reads each file and hands it to output.  The
// worker is told, never waited for: destroying the player gives it a moment
// to finish and otherwise leaves it to end on its own.
std::unique_ptr<SoundPlayer> createSoundPlayer(std::shared_ptr<SoundOutput> output);

// libsndfile decodes, RtAudio plays on the default output.
std::unique_ptr<SoundPlayer> createSystemSoundPlayer();

// Installs a player for a scope.
class ScopedSoundPlayer {
public:
    explicit ScopedSoundPlayer(std::shared_ptr<SoundPlayer> player)
        : previous_(installSoundPlayer(std::move(player))) {}
    ~ScopedSoundPlayer() { installSoundPlayer(std::move(previous_)); }
    ScopedSoundPlayer(const ScopedSoundPlayer&) = delete;
    ScopedSoundPlayer& operator=(const ScopedSoundPlayer&) = delete;

private:
    std::shared_ptr<SoundPlayer> previous_;
};

}  // namespace vozaro::platform
