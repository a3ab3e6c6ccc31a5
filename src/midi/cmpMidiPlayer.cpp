#include "midi/cmpMidiPlayer.h"

#include <algorithm>
#include <thread>

namespace vozaro::midi {

std::atomic<int> TMidiPlayer::tickInProgress_{0};

namespace {
// The player whose OnStop this thread is raising from a tick.  A player
// destroyed by that very handler clears it, so that it neither waits for
// itself nor is touched after the handler returns.
thread_local const TMidiPlayer* raisingStopHere = nullptr;
}  // namespace

TMidiPlayer::TMidiPlayer(platform::TimerService& timers)
    : timers_(timers),
      minPeriod_(timers.minPeriod()),
      timerPeriod_(minPeriod_),
      savedPriorityClass_(timers.priorityClass()) {}

TMidiPlayer::~TMidiPlayer() {
    // A stop raised on the timer thread may still be inside its handler.
    if (raisingStopHere == this)
        raisingStopHere = nullptr;
    else
        waitForStopHandler();
    Lock lock(mutex_);
    destroying_ = true;
    Stop();
}

void TMidiPlayer::waitForStopHandler() const noexcept {
    while (raisingStop_.load())
        std::this_thread::yield();
}

void TMidiPlayer::clearStopHandler() {
    Lock lock(mutex_);  // a tick reads OnStop only under the lock
    waitForStopHandler();  // the handler itself runs without it
    OnStop = nullptr;
}

// --- properties ----------------------------------------------------------------

void TMidiPlayer::setPlay(bool value) { writeRunning(psPlaying, value); }

void TMidiPlayer::setFastForward(bool value) { writeRunning(psFastForward, value); }

void TMidiPlayer::writeRunning(TPlayerState mode, bool value) {
    Lock lock(mutex_);
    TPlayerState state = State();
    if (state == psStopped) {
        if (value)
            Start(mode);
    } else if (state == mode) {
        if (!value)
            Stop();
    } else {
        // Paused or in the other running mode: switch, whatever was written.
        switchTo(mode);
    }
}

void TMidiPlayer::setPaused(bool value) {
    Lock lock(mutex_);
    TPlayerState state = State();
    if (value) {
        if (state == psPlaying || state == psFastForward)
            SetState(psPaused);
    } else if (state == psPaused) {
        switchTo(Speed() == kFastForwardSpeed ? psFastForward : psPlaying);
    }
}

void TMidiPlayer::setPosition(std::int64_t ticks) {
    Lock lock(mutex_);
    // Held at paused so that no tick moves the position during the seek.
    TPlayerState remembered = State();
    if (remembered == psPlaying || remembered == psFastForward)
        state_.store(psPaused);
    if (trackOutputs_ != nullptr) {
        trackOutputs_->AllNotesOff();
        if (ticks < iterator_.Position())
            trackOutputs_->ResetControllers();
    }
    iterator_.SetPosition(ticks);
    // Going back reset the controllers: a song without a volume of its own
    // on the melody channel gets its scaled default again.
    sendMelodyVolume(false);
    if (State() == psPaused)
        state_.store(remembered);
    publishPosition();
}

void TMidiPlayer::setMelodyVolume(std::int32_t channel, std::int32_t percent) {
    Lock lock(mutex_);
    const std::int32_t oldChannel = iterator_.VolumeChannel();
    const std::int32_t oldPercent = iterator_.VolumePercent();
    iterator_.setChannelVolume(channel, percent);
    if (iterator_.VolumeChannel() != oldChannel || iterator_.VolumePercent() != oldPercent)
        sendMelodyVolume(true);
}

void TMidiPlayer::sendMelodyVolume(bool always) noexcept {
    const std::int32_t channel = iterator_.VolumeChannel();
    if (channel < 0 || (!always && iterator_.VolumePercent() == 100))
        return;
    if (trackOutputs_ == nullptr || !trackOutputs_->Active() || trackOutputs_->Count() == 0)
        return;
    const TEventData message{static_cast<std::uint8_t>(0xB0 | channel), 7, iterator_.ScaledVolume(), 0, 0};
    trackOutputs_->Outputs(0)->Port()->SendEvent(message);
}

void TMidiPlayer::setTimerPeriod(std::int32_t ms) {
    if (ms != timerPeriod_)
        timerPeriod_ = std::max(ms, minPeriod_);
}

void TMidiPlayer::setTrackOutputs(TTrackOutputs* trackOutputs) {
    Lock lock(mutex_);
    if (trackOutputs == trackOutputs_)
        return;
    rewindLocked();
    trackOutputs_ = trackOutputs;
    iterator_.setTrackOutputs(trackOutputs);
    updateMidiDataLocked();
}

// --- operations ------------------------------------------------------------------

void TMidiPlayer::Stop() {
    Lock lock(mutex_);
    stopWork();
    SetState(psStopped);
}

void TMidiPlayer::Rewind() {
    Lock lock(mutex_);
    rewindLocked();
}

void TMidiPlayer::rewindLocked() {
    Stop();
    iterator_.SetBarBeatTick(0, 0, 0);
    publishPosition();
}

void TMidiPlayer::UpdateMidiData() {
    Lock lock(mutex_);
    updateMidiDataLocked();
}

void TMidiPlayer::updateMidiDataLocked() {
    Stop();
    TMidiData* song = trackOutputs_ != nullptr && trackOutputs_->Active()
                          ? trackOutputs_->MidiData()
                          : nullptr;
    // The same song object may hold a song loaded since: it is read afresh.
    // Walking it to the old position would send its controllers and pitch
    // bends from there before the rewind that follows, and the song would
    // open out of tune.
    iterator_.Load(song);
    publishPosition();
}

void TMidiPlayer::AllNotesOff() {
    Lock lock(mutex_);
    if (trackOutputs_ != nullptr)
        trackOutputs_->AllNotesOff();
}

void TMidiPlayer::transpose(const TMidiData& original, TMidiData& played, std::int32_t shift) {
    Lock lock(mutex_);  // a tick only tries the lock, so it skips meanwhile
    if (trackOutputs_ != nullptr)
        trackOutputs_->AllNotesOff();
    transposeNotes(original, played, shift);
}

void TMidiPlayer::ResetControllers() {
    Lock lock(mutex_);
    if (trackOutputs_ != nullptr)
        trackOutputs_->ResetControllers();
}

// --- states -----------------------------------------------------------------------

void TMidiPlayer::Start(TPlayerState mode) {
    if (trackOutputs_ == nullptr || !trackOutputs_->Active()) {
        state_.store(psPlaying);
        SetState(psStopped);
        return;
    }
    iterator_.setMidiData(trackOutputs_->MidiData());
    // Bring the outputs in line with the current position.  Away from where
    // the player last stopped, they are rewound and the controllers and
    // programs up to the position sent again; nothing beyond the position is
    // sent first (after a new song, the last stop lies in the previous one).
    std::int64_t current = iterator_.Position();
    state_.store(psPaused);
    if (current != StartPosition())
        iterator_.Reset();
    iterator_.SetPosition(current);
    sendMelodyVolume(false);
    publishPosition();
    speed_.store(speedOf(mode));

    if (!timers_.beginPeriod(timerPeriod_)) {
        SetState(psStopped);
        return;
    }
    periodHeld_ = timerPeriod_;
    if (boostPriority_) {
        savedPriorityClass_ = timers_.priorityClass();
        timers_.setPriorityClass(platform::PriorityClass::Realtime);
    }
    outputLatencyUs_.store(outputLatency());
    lastTickUs_.store(timers_.nowUs());
    stepRemainder_ = 0;
    songUs_ = iterator_.Time() * 1000;
    tickFailed_.store(false);
    timer_ = timers_.startPeriodic(timerResolution_, &TMidiPlayer::TimerTick, this);
    if (timer_ == nullptr) {
        timers_.endPeriod(periodHeld_);
        periodHeld_ = 0;
        timers_.setPriorityClass(savedPriorityClass_);
        SetState(psStopped);
        return;
    }
    SetState(mode);
}

bool TMidiPlayer::stopWork() {
    if (State() == psStopped)
        return false;
    timer_.reset();  // from inside its own tick this returns at once
    if (periodHeld_ != 0) {
        timers_.endPeriod(periodHeld_);
        periodHeld_ = 0;
    }
    if (trackOutputs_ != nullptr)
        trackOutputs_->AllNotesOff();
    timers_.setPriorityClass(savedPriorityClass_);
    startPosition_.store(iterator_.Position());
    return true;
}

void TMidiPlayer::SetState(TPlayerState state) {
    if (state_.exchange(state) == state || destroying_)
        return;
    TNotifyEvent* handler = nullptr;
    switch (state) {
    case psStopped: handler = &OnStop; break;
    case psPaused: handler = &OnPause; break;
    case psPlaying: handler = &OnPlay; break;
    case psFastForward: handler = &OnFastForward; break;
    }
    if (handler != nullptr && *handler)
        (*handler)(this);
}

void TMidiPlayer::switchTo(TPlayerState state) {
    speed_.store(speedOf(state));
    if (State() == psPaused)
        lastTickUs_.store(timers_.nowUs());
    SetState(state);
}

void TMidiPlayer::publishPosition() noexcept {
    position_.store(iterator_.Position());
    time_.store(iterator_.Time());
}

// --- the timer thread ------------------------------------------------------------

void TMidiPlayer::TimerTick(void* context) noexcept {
    int idle = 0;
    if (!tickInProgress_.compare_exchange_strong(idle, 1))
        return;  // a tick of some player is in progress
    static_cast<TMidiPlayer*>(context)->tick();
    tickInProgress_.fetch_sub(1);
}

std::int64_t TMidiPlayer::DisplayTime() const noexcept {
    const std::int64_t lag = outputLatencyUs_.load() * std::max(TempoPercent(), 0) * Speed() / 100'000;
    return std::max<std::int64_t>(Time() - lag, 0);
}

std::int64_t TMidiPlayer::outputLatency() const noexcept {
    std::int64_t latency = 0;
    for (std::int32_t i = 0; trackOutputs_ != nullptr && i < trackOutputs_->Count(); ++i)
        latency = std::max(latency, trackOutputs_->Outputs(i)->Port()->LatencyUs());
    return latency;
}

std::int64_t TMidiPlayer::scaledStep(std::uint64_t elapsed) noexcept {
    std::int64_t percent = TempoPercent();
    if (percent <= 0) {
        stepRemainder_ = 0;
        return 0;
    }
    // The fraction dropped here is carried to the next tick.
    std::int64_t scaled = static_cast<std::int64_t>(elapsed) * percent + stepRemainder_;
    stepRemainder_ = scaled % 100;
    return scaled / 100;
}

void TMidiPlayer::tick() noexcept {
    try {
        Lock lock(mutex_, std::try_to_lock);
        if (!lock.owns_lock())
            return;  // the user-interface thread is seeking or changing state
        const std::uint64_t now = timers_.nowUs();
        const std::uint64_t elapsed = now - lastTickUs_.exchange(now);
        TPlayerState state = State();
        if (state != psPlaying && state != psFastForward)
            return;  // paused: the time passes without the song
        // The song time in microseconds, taken again from the iterator when
        // a seek moved it meanwhile.
        if (songUs_ / 1000 != iterator_.Time())
            songUs_ = iterator_.Time() * 1000;
        songUs_ += scaledStep(elapsed) * Speed();
        const TSongClock clock{now, songUs_, static_cast<std::int64_t>(TempoPercent()) * Speed()};
        iterator_.Advance(songUs_ / 1000 - iterator_.Time(), clock);
        publishPosition();
        if (!iterator_.AtEnd() || !StopAtEnd() || !stopWork())
            return;
        if (destroying_ || !OnStop) {
            state_.store(psStopped);
            return;
        }
        raisingStop_.store(true);
        state_.store(psStopped);
    } catch (...) {
        tickFailed_.store(true);
        return;
    }
    // The lock is let go, so the handler may hand the stop over to the
    // user-interface thread, which may then deactivate the outputs or start
    // another song.  The handler is called where it is stored: a copy would
    // allocate as soon as it captures more than a pointer or two.  The
    // destructor waits until raisingStop_ is cleared, so the handler's
    // storage outlives this call.
    raisingStopHere = this;
    bool failed = false;
    try {
        OnStop(this);
    } catch (...) {
        failed = true;
    }
    if (raisingStopHere != this)
        return;  // destroyed by its own handler
    raisingStopHere = nullptr;
    if (failed)
        tickFailed_.store(true);
    raisingStop_.store(false);
}

}  // namespace vozaro::midi
