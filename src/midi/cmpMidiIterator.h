// TMidiPosition keeps a song position at once in ticks, in milliseconds and as
// bar, beat and tick, walking the tempo map (the tempo and time-signature
// meta events of track 0) forward only: every move to an earlier place starts
// again from Reset.  TMidiIterator is a position tied to a TTrackOutputs that
// sends, whenever it moves, every event that has become due in any track.
//
// Positions and times are kept and computed in 64 bits, so no product wraps
// on long songs with a fine resolution.  Songs that would make a conversion
// divide by zero are read with safe values instead: a division of 0 ticks per
// quarter note as 180, a tempo under 1 ms per quarter note as 1 ms, a
// time-signature numerator of 0 as 1 and a beat shorter than one tick as one
// tick.  Tempo and time-signature events too short to hold their data are
// passed over without effect.
//
// Threads: a bare TMidiPosition belongs to one thread.  A player's iterator
// is moved by the player's timer thread and by seeks on the user-interface
// thread, never both at once (the player serialises them).
#pragma once

#include <atomic>
#include <cstdint>

#include "midi/cmpMidiData.h"
#include "midi/cmpTrackOutputs.h"

namespace vozaro::midi {

class TMidiPosition {
public:
    // Ticks per quarter note without a song, and in place of a division of 0.
    static constexpr std::int32_t kDefaultPPQN = 180;
    // Milliseconds per quarter note until the song's first tempo event.
    static constexpr std::int32_t kDefaultTempo = 600;

    TMidiPosition();
    virtual ~TMidiPosition() = default;
    TMidiPosition(const TMidiPosition&) = delete;
    TMidiPosition& operator=(const TMidiPosition&) = delete;

    // Copies the song and every field of the position (not what a derived
    // class adds).
    void Assign(const TMidiPosition& other);

    TMidiData* MidiData() const noexcept { return midiData_; }
    // A different song: Reset, then back to the same tick position in it.
    void setMidiData(TMidiData* midiData);
    // The same, for the song object already set whose contents may have been
    // loaded anew (its division and tempo map are read again).
    void Refresh();
    // A song (a different one or the same object loaded anew) taken from tick
    // 0: Reset only, nothing of it is walked, so nothing beyond its start is
    // sent by an iterator.
    void Load(TMidiData* midiData);

    // Back to tick 0 with the default tempo (600 ms per quarter) and 4/4.
    virtual void Reset();

    // Moves to a tick position, a time in milliseconds or a musical position
    // (bar and beat from 0); an earlier target starts again from Reset.
    // SetTime keeps the time exactly as given.  SetBarBeatTick before the
    // last time signature passed does nothing (not even PositionChanged).
    void SetPosition(std::int64_t ticks);
    void SetTime(std::int64_t ms);
    void SetBarBeatTick(std::int64_t bar, std::int64_t beat, std::int64_t tick);

    // TicksPerBeat and TicksPerBar from PPQN, Numerator and Denominator.
    void UpdateBeatLength();

    std::int64_t Position() const noexcept { return position_; }
    std::int64_t Time() const noexcept { return time_; }
    std::int64_t Bar() const noexcept { return bar_; }
    std::int64_t Beat() const noexcept { return beat_; }
    std::int64_t Tick() const noexcept { return tick_; }
    std::int32_t PPQN() const noexcept { return ppqn_; }
    std::int32_t Tempo() const noexcept { return tempo_; }
    std::int64_t TempoTick() const noexcept { return tempoTick_; }
    std::int64_t TempoTime() const noexcept { return tempoTime_; }
    std::int32_t Numerator() const noexcept { return numerator_; }
    std::int32_t Denominator() const noexcept { return denominator_; }
    std::int64_t SignatureTick() const noexcept { return signatureTick_; }
    std::int64_t SignatureBar() const noexcept { return signatureBar_; }
    std::int32_t TicksPerBeat() const noexcept { return ticksPerBeat_; }
    std::int32_t TicksPerBar() const noexcept { return ticksPerBar_; }
    std::int32_t MapIndex() const noexcept { return mapIndex_; }

protected:
    // Called after every move; does nothing here.
    virtual void PositionChanged() {}

    // The tempo segment a position lies in, to convert later ticks to time.
    struct TTempoCursor {
        std::int32_t mapIndex;
        std::int64_t tempoTick;
        std::int64_t tempoTime;
        std::int32_t tempo;
    };
    TTempoCursor tempoCursor() const noexcept { return {mapIndex_, tempoTick_, tempoTime_, tempo_}; }
    // The song time in microseconds of tick, which lies at or after the
    // cursor's segment; the cursor is moved past the tempo changes before
    // tick, so later ticks of one track are converted in one pass.
    std::int64_t songMicrosAt(TTempoCursor& cursor, std::int64_t tick) const noexcept;

private:
    enum class MapEvent { None, Tempo, Signature };
    // What the tempo-map record at MapIndex is; fills in its values.
    MapEvent readMapEvent(const TMidiTrackStream& track, const TTrackEvent& event,
                          std::int32_t& tempo, std::int32_t& numerator,
                          std::int32_t& denominator) const noexcept;
    const TMidiTrackStream* mapTrack() const noexcept;
    // Passes the tempo-map records of track 0 from MapIndex up to the tick
    // target() gives (asked again after each record).
    template <typename Target>
    void walkMap(Target target) noexcept;
    void passTempo(std::int64_t eventTick, std::int32_t tempo) noexcept;
    void passSignature(std::int64_t eventTick, std::int32_t numerator,
                       std::int32_t denominator) noexcept;
    void setMusicalPosition(std::int64_t rel) noexcept;
    std::int64_t timeAtPosition() const noexcept;
    std::int64_t ticksAfterTempoTick(std::int64_t ms) const noexcept;
    std::int64_t barBeatTickRel(std::int64_t bar, std::int64_t beat,
                                std::int64_t tick) const noexcept;

    TMidiData* midiData_ = nullptr;
    std::int64_t position_ = 0;
    std::int64_t time_ = 0;
    std::int32_t ppqn_ = kDefaultPPQN;
    std::int32_t tempo_ = kDefaultTempo;
    std::int64_t tempoTick_ = 0;
    std::int64_t tempoTime_ = 0;
    std::int32_t numerator_ = 4;
    std::int32_t denominator_ = 2;
    std::int64_t signatureTick_ = 0;
    std::int64_t signatureBar_ = 0;
    std::int32_t ticksPerBeat_ = kDefaultPPQN;
    std::int32_t ticksPerBar_ = 4 * kDefaultPPQN;
    std::int64_t bar_ = 0;
    std::int64_t beat_ = 0;
    std::int64_t tick_ = 0;
    std::int32_t mapIndex_ = 0;
};

// Where the song stands on the player's microsecond clock while Advance
// moves it: at clockUs the song time was songUs microseconds, and the song
// runs at speedPercent % of the clock (speed setting times fast forward).
struct TSongClock {
    std::uint64_t clockUs;
    std::int64_t songUs;
    std::int64_t speedPercent;
};

class TMidiIterator : public TMidiPosition {
public:
    TMidiIterator() = default;

    TTrackOutputs* TrackOutputs() const noexcept { return trackOutputs_; }
    // Stores the outputs; when set, rewinds them and sends their first
    // programs.
    void setTrackOutputs(TTrackOutputs* trackOutputs);

    // Moves the song time on by ms milliseconds as playback does: every
    // channel message that became due is sent, notes included.
    // thread: the player's timer thread while it plays.
    void Advance(std::int64_t ms);
    // The same, and every event goes out with its own due time on the
    // clock: when the song passed its tick (TMidiOutputPort::SendEventAt).
    void Advance(std::int64_t ms, const TSongClock& clock);

    // Every track output has dispatched all of its records.
    bool AtEnd() const noexcept { return atEnd_; }
    // Only while Advance moves the position; seeks leave notes unsent.
    bool Playing() const noexcept { return playing_; }

    // The position reset, then the outputs rewound with their first programs
    // sent again.
    void Reset() override;

    // One channel's volume controller (7) goes out scaled: at percent (0 to
    // 100) of the value the song sends, as it is sent, seeks included; the
    // other channels and controllers go out as stored.  Channel -1: none.
    // Any thread (the player sets it under its lock).
    void setChannelVolume(std::int32_t channel, std::int32_t percent) noexcept;
    std::int32_t VolumeChannel() const noexcept { return volumeChannel_.load(); }
    std::int32_t VolumePercent() const noexcept { return volumePercent_.load(); }
    // What the channel's volume is now as sent: the song's last value since
    // the position was reset (the default 100 while it has sent none),
    // scaled.
    std::uint8_t ScaledVolume() const noexcept;
    // The song's own volume value v on the scaled channel as it goes out.
    std::uint8_t scaleVolume(std::uint8_t v) const noexcept;
    static constexpr std::uint8_t kDefaultVolume = 100;

protected:
    // Sends every record before the new position, track by track.
    void PositionChanged() override;

private:
    TTrackOutputs* trackOutputs_ = nullptr;
    const TSongClock* clock_ = nullptr;  // during Advance with a clock
    TTempoCursor advanceStart_{};        // the tempo segment Advance started in
    bool playing_ = false;
    bool atEnd_ = true;
    std::atomic<std::int32_t> volumeChannel_{-1};
    std::atomic<std::int32_t> volumePercent_{100};
    std::atomic<std::int32_t> songVolume_{-1};  // the song's last value on that channel, -1: none yet
};

}  // namespace vozaro::midi
