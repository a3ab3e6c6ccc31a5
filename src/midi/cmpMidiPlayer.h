// TMidiPlayer plays the song routed by a TTrackOutputs in real time.  A
// periodic timer calls it every TimerResolution milliseconds; each call
// measures the real time since the previous one, scales it by TempoPercent and
// by the fast-forward factor, and advances the player's own iterator by that
// much song time, which sends every event that has become due.  At the end of
// the song the player stops by itself (StopAtEnd).
//
// Speed: the scaled step keeps the fraction of a microsecond it drops and
// carries it to the next tick, so song time runs at exactly TempoPercent % of
// real time on average (at 100 % no fraction ever arises).
//
// Timing of each event: a tick sends every event that became due since the
// previous one, each with its own due time on the timer service's
// microsecond clock, worked out from the song time the tick reached.  Devices
// with a sample clock of their own (the built-in synthesizer) play each on
// its sample that fixed latency later; the others send at once.  The lyric
// display reads DisplayTime(), the song time the sound has reached.
//
// Pauses: while paused, ticks do nothing but note the time, and resuming
// notes it again, so a pause is never added to the song time.
//
// Threads.  Ticks run on the timer's thread; everything else is called from
// the user-interface thread.  What both use is atomic or guarded by the
// player's lock: the user-interface thread takes the lock, waiting at most for
// one tick; a tick only tries it and skips its work when it is taken, so the
// timer thread never waits for the user-interface thread.  OnPlay,
// OnFastForward and OnPause are raised on the thread that changed the state;
// OnStop on the user-interface thread when a caller stops the player, and on
// the timer thread when the song ends: then the timer is already killed and
// the notes silenced, and the player touches nothing of its own after raising
// it, so the handler may hand it to the user-interface thread, which may then
// deactivate the outputs, change the song or destroy the player (the
// destructor waits for such a handler to return).  The handler is called in
// place, not copied, so raising it allocates nothing; handlers run on the
// timer thread must only hand the stop over (post it) and must not destroy
// the player themselves.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "midi/cmpMidiIterator.h"
#include "midi/cmpTrackOutputs.h"
#include "platform/PeriodicTimer.h"

namespace vozaro::midi {

enum TPlayerState : int { psStopped = 0, psPaused = 2, psPlaying = 3, psFastForward = 4 };

class TMidiPlayer;
using TNotifyEvent = std::function<void(TMidiPlayer* Sender)>;

class TMidiPlayer {
public:
    static constexpr std::int32_t kFastForwardSpeed = 4;

    explicit TMidiPlayer(platform::TimerService& timers = platform::systemTimerService());
    ~TMidiPlayer();
    TMidiPlayer(const TMidiPlayer&) = delete;
    TMidiPlayer& operator=(const TMidiPlayer&) = delete;

    // The state properties: each reads true exactly in its state; writing
    // starts, switches or stops the player.  A paused player resumes through
    // Play := true, FastForward := true or Paused := false (at the speed it
    // had).
    bool Play() const noexcept { return State() == psPlaying; }
    void setPlay(bool value);
    bool FastForward() const noexcept { return State() == psFastForward; }
    void setFastForward(bool value);
    bool Paused() const noexcept { return State() == psPaused; }
    void setPaused(bool value);

    // Song position in ticks; writing it seeks: sounding notes are silenced,
    // controllers reset when going back, and the controller and program
    // changes on the way are sent.  A stopped player stays stopped.
    std::int64_t Position() const noexcept { return position_.load(); }
    void setPosition(std::int64_t ticks);
    // Song time in milliseconds.  Any thread.
    std::int64_t Time() const noexcept { return time_.load(); }
    // The song time being heard: Time() less the fixed latency of the
    // outputs (as song time at the current speed), never below 0.  What the
    // lyric display follows.  Any thread.
    std::int64_t DisplayTime() const noexcept;
    // The largest fixed latency of the outputs' devices, noted at the start.
    std::int64_t OutputLatencyUs() const noexcept { return outputLatencyUs_.load(); }

    // Timer resolution asked of the system while playing; never below its
    // minimum period.
    std::int32_t TimerPeriod() const noexcept { return timerPeriod_; }
    void setTimerPeriod(std::int32_t ms);
    // Interval of the periodic timer in milliseconds (from the next start).
    std::int32_t TimerResolution() const noexcept { return timerResolution_; }
    void setTimerResolution(std::int32_t ms) { timerResolution_ = ms; }

    TTrackOutputs* TrackOutputs() const noexcept { return trackOutputs_; }
    // Different outputs: rewind, then play these from their start.
    void setTrackOutputs(TTrackOutputs* trackOutputs);

    // Run the timer at the real-time priority class while playing.
    bool BoostPriority() const noexcept { return boostPriority_; }
    void setBoostPriority(bool value) { boostPriority_ = value; }

    // Speed in percent; read at every tick.  Any thread.  Values below 0
    // play as 0 (standing still).
    std::int32_t TempoPercent() const noexcept { return tempoPercent_.load(); }
    void setTempoPercent(std::int32_t percent) noexcept { tempoPercent_.store(percent); }

    TPlayerState State() const noexcept { return state_.load(); }
    // 1 for normal play, kFastForwardSpeed for fast forward.
    std::int32_t Speed() const noexcept { return speed_.load(); }
    // Stop by itself once the song has been played out; true by default.
    bool StopAtEnd() const noexcept { return stopAtEnd_.load(); }
    void setStopAtEnd(bool value) noexcept { stopAtEnd_.store(value); }
    // Tick position at the last stop.
    std::int64_t StartPosition() const noexcept { return startPosition_.load(); }
    std::int32_t MinPeriod() const noexcept { return minPeriod_; }

    // Stops the timer and silences the song; raises OnStop when it played.
    void Stop();
    // Stop, then back to the start of the song.
    void Rewind();
    // Stop, then take the song of the outputs again (after loading a new song
    // or switching the outputs), from tick 0: nothing of it is walked or sent
    // beyond its start, whatever position the previous song had reached.
    void UpdateMidiData();
    void AllNotesOff();
    void ResetControllers();
    // A key change while the song may be playing: silences the sounding
    // notes and rewrites the note numbers (transposeNotes) as one step that
    // no tick can come between, so no note-on of the old key escapes whose
    // note-off would later go out with the new number.
    void transpose(const TMidiData& original, TMidiData& played, std::int32_t shift);

    // The guide melody's own volume: the volume controller (7) of `channel`
    // goes out at `percent` (0 to 100) of what the song sends, and a song
    // that sends none on it gets the default 100 so scaled when it starts
    // (unless percent is 100).  Holds through key and speed changes, seeks
    // and the next song; a change reaches a playing song at once.  Channel
    // -1: no channel is scaled (a song without a melody).  The controller
    // goes out through the first output's port (every output of the
    // program's songs is on the same device).
    void setMelodyVolume(std::int32_t channel, std::int32_t percent);
    std::int32_t MelodyChannel() const noexcept { return iterator_.VolumeChannel(); }
    std::int32_t MelodyVolume() const noexcept { return iterator_.VolumePercent(); }

    // Returns once no tick is inside OnStop any more.  Not from the OnStop
    // handler itself.
    void waitForStopHandler() const noexcept;
    // Removes OnStop safely while the player may be playing: no tick reads
    // it meanwhile, and one inside the handler is let finish first.  Not
    // from the OnStop handler itself.
    void clearStopHandler();

    // A tick caught an exception (from a port or an OnEvent handler) and
    // dropped the rest of its work.  Cleared by the next start.
    bool TickFailed() const noexcept { return tickFailed_.load(); }

    // Ticks of every player in the process in progress (0 or 1); a tick that
    // finds another in progress returns without work.
    static int TickInProgress() noexcept { return tickInProgress_.load(); }

    TNotifyEvent OnStop;
    TNotifyEvent OnPlay;
    TNotifyEvent OnFastForward;
    TNotifyEvent OnPause;

private:
    using Lock = std::unique_lock<std::recursive_mutex>;

    static void TimerTick(void* context) noexcept;
    void tick() noexcept;
    std::int64_t scaledStep(std::uint64_t elapsedUs) noexcept;

    static std::int32_t speedOf(TPlayerState mode) noexcept {
        return mode == psFastForward ? kFastForwardSpeed : 1;
    }
    // Play := value (mode psPlaying) or FastForward := value (psFastForward).
    void writeRunning(TPlayerState mode, bool value);
    void Start(TPlayerState mode);
    // The work of a stop without its event; false when it was stopped.
    bool stopWork();
    void SetState(TPlayerState state);
    // Switches to a running state at its speed; leaving a pause restarts the
    // measurement of elapsed time.
    void switchTo(TPlayerState state);
    void rewindLocked();
    void updateMidiDataLocked();
    void publishPosition() noexcept;
    // Sends the melody channel's volume as it stands; with `always` false
    // only when it is scaled at all.  Under the lock.
    void sendMelodyVolume(bool always) noexcept;
    // The largest fixed latency of the outputs' devices.
    std::int64_t outputLatency() const noexcept;

    platform::TimerService& timers_;
    TMidiIterator iterator_;
    TTrackOutputs* trackOutputs_ = nullptr;
    std::unique_ptr<platform::PeriodicTimer> timer_;
    std::recursive_mutex mutex_;  // the iterator, the timer and the outputs' use

    std::atomic<TPlayerState> state_{psStopped};
    std::atomic<std::int32_t> speed_{1};
    std::atomic<std::int32_t> tempoPercent_{100};
    std::atomic<bool> stopAtEnd_{true};
    std::atomic<std::int64_t> startPosition_{0};
    std::atomic<std::int64_t> position_{0};
    std::atomic<std::int64_t> time_{0};
    std::atomic<std::uint64_t> lastTickUs_{0};
    std::atomic<std::int64_t> outputLatencyUs_{0};
    std::atomic<bool> tickFailed_{false};
    std::atomic<bool> raisingStop_{false};  // a tick is inside OnStop
    std::int64_t stepRemainder_ = 0;  // hundredths of a microsecond, under the lock
    std::int64_t songUs_ = 0;         // the song time in microseconds, under the lock

    std::int32_t minPeriod_;
    std::int32_t timerPeriod_;
    std::int32_t timerResolution_ = 4;
    std::int32_t periodHeld_ = 0;  // resolution asked for at start, 0 when none
    bool boostPriority_ = false;
    platform::PriorityClass savedPriorityClass_;
    bool destroying_ = false;

    static std::atomic<int> tickInProgress_;
};

}  // namespace vozaro::midi
