// Playing a sound file without waiting for it (the score announcement's
// fanfare): the call decodes nothing itself and returns at once; the sound
// goes out on the system's default output.  A new sound cuts off the one
// still playing.  A file that is missing, empty, unreadable or not a wave
// file is skipped without a word: a sound is never worth a failure.
//
// Threads: play() from the user-interface thread; the decoding and the
// output run on threads of the back end.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vozaro::platform {

class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    // Starts playing the wave file at path (file-system encoding) and
    // returns at once.
    virtual void play(const std::string& path) = 0;
};

// The player the windows use: the system's unless a test installed another.
SoundPlayer& soundPlayer();
// Installs a player (nullptr: the system's again); returns the previous one.
std::shared_ptr<SoundPlayer> installSoundPlayer(std::shared_ptr<SoundPlayer> player);

// libsndfile decodes, RtAudio plays on the default output.
std::unique_ptr<SoundPlayer> createSystemSoundPlayer();

// Whether path is a wave file libsndfile can read with at least one frame:
// what the system player accepts.
bool isPlayableWave(const std::string& path);

// The test double: remembers every path it was asked to play.
class RecordingSoundPlayer final : public SoundPlayer {
public:
    void play(const std::string& path) override {
        std::lock_guard lock(mutex_);
        played_.push_back(path);
    }
    std::vector<std::string> played() const {
        std::lock_guard lock(mutex_);
        return played_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> played_;
};

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
