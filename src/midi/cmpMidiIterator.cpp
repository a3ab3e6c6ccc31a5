#include "midi/cmpMidiIterator.h"

#include <algorithm>

namespace vozaro::midi {

namespace {

constexpr std::uint8_t kMetaStatus = 0xFF;
constexpr std::uint8_t kMetaTempo = 0x51;
constexpr std::uint8_t kMetaTimeSignature = 0x58;

}  // namespace

// --- TMidiPosition -------------------------------------------------------------

TMidiPosition::TMidiPosition() { TMidiPosition::Reset(); }

void TMidiPosition::Assign(const TMidiPosition& other) {
    midiData_ = other.midiData_;
    position_ = other.position_;
    time_ = other.time_;
    ppqn_ = other.ppqn_;
    tempo_ = other.tempo_;
    tempoTick_ = other.tempoTick_;
    tempoTime_ = other.tempoTime_;
    numerator_ = other.numerator_;
    denominator_ = other.denominator_;
    signatureTick_ = other.signatureTick_;
    signatureBar_ = other.signatureBar_;
    ticksPerBeat_ = other.ticksPerBeat_;
    ticksPerBar_ = other.ticksPerBar_;
    bar_ = other.bar_;
    beat_ = other.beat_;
    tick_ = other.tick_;
    mapIndex_ = other.mapIndex_;
}

void TMidiPosition::setMidiData(TMidiData* midiData) {
    if (midiData == midiData_)
        return;
    midiData_ = midiData;
    Refresh();
}

void TMidiPosition::Load(TMidiData* midiData) {
    midiData_ = midiData;
    Reset();
}

void TMidiPosition::Refresh() {
    std::int64_t position = position_;
    Reset();
    SetPosition(position);
}

void TMidiPosition::Reset() {
    position_ = 0;
    time_ = 0;
    ppqn_ = midiData_ != nullptr && midiData_->PPQN() != 0 ? midiData_->PPQN() : kDefaultPPQN;
    tempo_ = kDefaultTempo;
    tempoTick_ = 0;
    tempoTime_ = 0;
    numerator_ = 4;
    denominator_ = 2;
    signatureTick_ = 0;
    signatureBar_ = 0;
    bar_ = 0;
    beat_ = 0;
    tick_ = 0;
    mapIndex_ = 0;
    UpdateBeatLength();
}

void TMidiPosition::UpdateBeatLength() {
    std::int64_t beat = ppqn_;
    if (denominator_ > 2)
        beat = denominator_ - 2 >= 31 ? 0 : beat >> (denominator_ - 2);
    else if (denominator_ < 2)
        beat <<= 2 - denominator_;
    ticksPerBeat_ = static_cast<std::int32_t>(std::max<std::int64_t>(beat, 1));
    ticksPerBar_ = ticksPerBeat_ * numerator_;  // at most 65535 * 4 * 255
}

const TMidiTrackStream* TMidiPosition::mapTrack() const noexcept {
    return midiData_ != nullptr ? midiData_->Tracks(0) : nullptr;
}

TMidiPosition::MapEvent TMidiPosition::readMapEvent(const TMidiTrackStream& track,
                                                    const TTrackEvent& event,
                                                    std::int32_t& tempo,
                                                    std::int32_t& numerator,
                                                    std::int32_t& denominator) const noexcept {
    if (event.Message.Status != kMetaStatus)
        return MapEvent::None;
    const std::uint8_t* data = track.payload(&event);
    if (data == nullptr || event.Length < 1)
        return MapEvent::None;
    if (data[0] == kMetaTempo && event.Length >= 4) {
        std::int32_t micros = (data[1] << 16) | (data[2] << 8) | data[3];
        tempo = std::max(micros / 1000, 1);
        return MapEvent::Tempo;
    }
    if (data[0] == kMetaTimeSignature && event.Length >= 3) {
        numerator = std::max<std::int32_t>(data[1], 1);
        denominator = data[2];
        return MapEvent::Signature;
    }
    return MapEvent::None;
}

void TMidiPosition::passTempo(std::int64_t eventTick, std::int32_t tempo) noexcept {
    tempoTime_ += (eventTick - tempoTick_) * tempo_ / ppqn_;
    tempoTick_ = eventTick;
    tempo_ = tempo;
}

void TMidiPosition::passSignature(std::int64_t eventTick, std::int32_t numerator,
                                  std::int32_t denominator) noexcept {
    std::int64_t span = eventTick - signatureTick_;
    // An incomplete bar before the new signature counts as a whole bar.
    signatureBar_ += span / ticksPerBar_ + (span % ticksPerBar_ > 0 ? 1 : 0);
    signatureTick_ = eventTick;
    numerator_ = numerator;
    denominator_ = denominator;
    UpdateBeatLength();
}

void TMidiPosition::setMusicalPosition(std::int64_t rel) noexcept {
    position_ = signatureTick_ + rel;
    std::int64_t beats = rel / ticksPerBeat_;
    tick_ = rel % ticksPerBeat_;
    bar_ = beats / numerator_ + signatureBar_;
    beat_ = beats % numerator_;
}

std::int64_t TMidiPosition::timeAtPosition() const noexcept {
    return tempoTime_ + (position_ - tempoTick_) * tempo_ / ppqn_;
}

std::int64_t TMidiPosition::ticksAfterTempoTick(std::int64_t ms) const noexcept {
    return (ms - tempoTime_) * ppqn_ / tempo_;
}

std::int64_t TMidiPosition::barBeatTickRel(std::int64_t bar, std::int64_t beat,
                                           std::int64_t tick) const noexcept {
    return (bar - signatureBar_) * ticksPerBar_ + beat * ticksPerBeat_ + tick;
}

std::int64_t TMidiPosition::songMicrosAt(TTempoCursor& cursor, std::int64_t tick) const noexcept {
    if (const TMidiTrackStream* track = mapTrack()) {
        while (cursor.mapIndex < track->EventCount()) {
            const TTrackEvent& event = *track->Event(cursor.mapIndex);
            if (event.Time >= tick)
                break;  // a change at the tick itself does not move it
            ++cursor.mapIndex;
            std::int32_t tempo = 0, numerator = 0, denominator = 0;
            if (readMapEvent(*track, event, tempo, numerator, denominator) == MapEvent::Tempo) {
                // As passTempo counts it, so the two times agree.
                cursor.tempoTime += (event.Time - cursor.tempoTick) * cursor.tempo / ppqn_;
                cursor.tempoTick = event.Time;
                cursor.tempo = tempo;
            }
        }
    }
    return cursor.tempoTime * 1000 + (tick - cursor.tempoTick) * cursor.tempo * 1000 / ppqn_;
}

template <typename Target>
void TMidiPosition::walkMap(Target target) noexcept {
    const TMidiTrackStream* track = mapTrack();
    if (track == nullptr)
        return;
    // Records at exactly the target are passed.
    while (mapIndex_ < track->EventCount()) {
        const TTrackEvent& event = *track->Event(mapIndex_);
        if (target() < event.Time)
            break;
        ++mapIndex_;
        std::int32_t tempo = 0, numerator = 0, denominator = 0;
        switch (readMapEvent(*track, event, tempo, numerator, denominator)) {
        case MapEvent::Tempo:
            passTempo(event.Time, tempo);
            break;
        case MapEvent::Signature:
            passSignature(event.Time, numerator, denominator);
            break;
        case MapEvent::None:
            break;
        }
    }
}

void TMidiPosition::SetPosition(std::int64_t ticks) {
    if (ticks < position_)
        Reset();
    if (ticks >= signatureTick_) {
        walkMap([ticks] { return ticks; });
        setMusicalPosition(ticks - signatureTick_);
        time_ = timeAtPosition();
    }
    PositionChanged();
}

void TMidiPosition::SetTime(std::int64_t ms) {
    if (ms < time_)
        Reset();
    time_ = ms;  // kept exactly, not recomputed from the ticks
    if (midiData_ != nullptr) {
        walkMap([this] { return tempoTick_ + ticksAfterTempoTick(time_); });
        setMusicalPosition(tempoTick_ + ticksAfterTempoTick(time_) - signatureTick_);
    }
    PositionChanged();
}

void TMidiPosition::SetBarBeatTick(std::int64_t bar, std::int64_t beat, std::int64_t tick) {
    bool earlier = bar != bar_ ? bar < bar_ : beat != beat_ ? beat < beat_ : tick < tick_;
    if (earlier)
        Reset();
    if (barBeatTickRel(bar, beat, tick) < 0)
        return;
    walkMap([&] { return signatureTick_ + barBeatTickRel(bar, beat, tick); });
    setMusicalPosition(barBeatTickRel(bar, beat, tick));
    time_ = timeAtPosition();
    PositionChanged();
}

// --- TMidiIterator -------------------------------------------------------------

void TMidiIterator::setTrackOutputs(TTrackOutputs* trackOutputs) {
    trackOutputs_ = trackOutputs;
    if (trackOutputs_ != nullptr) {
        trackOutputs_->Rewind();
        trackOutputs_->SendPatches();
    }
}

void TMidiIterator::Advance(std::int64_t ms) {
    // Cleared also when a port or an OnEvent handler throws, so that a later
    // seek still leaves notes unsent.
    struct PlayingScope {
        bool& playing;
        explicit PlayingScope(bool& p) : playing(p) { playing = true; }
        ~PlayingScope() { playing = false; }
    } scope(playing_);
    SetTime(Time() + ms);
}

void TMidiIterator::Advance(std::int64_t ms, const TSongClock& clock) {
    struct ClockScope {
        const TSongClock*& clock;
        ClockScope(const TSongClock*& c, const TSongClock& value) : clock(c) { clock = &value; }
        ~ClockScope() { clock = nullptr; }
    } scope(clock_, clock);
    advanceStart_ = tempoCursor();
    Advance(ms);
}

void TMidiIterator::setChannelVolume(std::int32_t channel, std::int32_t percent) noexcept {
    volumeChannel_.store(channel >= 0 && channel < 16 ? channel : -1);
    volumePercent_.store(std::clamp(percent, 0, 100));
}

std::uint8_t TMidiIterator::scaleVolume(std::uint8_t v) const noexcept {
    return static_cast<std::uint8_t>((v * volumePercent_.load() + 50) / 100);
}

std::uint8_t TMidiIterator::ScaledVolume() const noexcept {
    const std::int32_t song = songVolume_.load();
    return scaleVolume(song >= 0 ? static_cast<std::uint8_t>(song) : kDefaultVolume);
}

void TMidiIterator::Reset() {
    TMidiPosition::Reset();
    songVolume_.store(-1);
    atEnd_ = true;
    if (trackOutputs_ == nullptr)
        return;
    trackOutputs_->Rewind();
    trackOutputs_->SendPatches();
    for (std::int32_t i = 0; i < trackOutputs_->Count(); ++i) {
        if (trackOutputs_->Outputs(i)->Track()->EventCount() > 0) {
            atEnd_ = false;
            break;
        }
    }
}

void TMidiIterator::PositionChanged() {
    atEnd_ = true;
    if (trackOutputs_ == nullptr)
        return;
    const std::int64_t position = Position();
    const std::int32_t count = trackOutputs_->Count();
    const TSongClock* clock = playing_ && clock_ != nullptr && clock_->speedPercent > 0 ? clock_ : nullptr;
    // No status byte is 0xB0 | 0x100: nothing is scaled without a channel.
    const std::int32_t channel = volumeChannel_.load();
    const int volumeChannel = channel >= 0 ? channel : 0x100;
    for (std::int32_t i = 0; i < count; ++i) {
        TTrackOutput& output = *trackOutputs_->Outputs(i);
        const TMidiTrackStream& track = *output.Track();
        const std::int32_t eventCount = track.EventCount();
        TTempoCursor cursor = advanceStart_;
        std::int32_t j = output.NextEvent();
        for (; j < eventCount; ++j) {
            const TTrackEvent& event = *track.Event(j);
            if (event.Time >= position)
                break;
            const std::uint8_t status = event.Message.Status;
            if (status >= 0xF0)
                continue;  // system exclusive and meta events never reach a port
            if (!playing_ && (status & 0xF0) <= 0x90)
                continue;  // a seek leaves notes unsent
            // Field by field: the user-interface thread may be rewriting the
            // note number (a key change) while this runs, so that byte is
            // read atomically and the record is never copied whole.
            TEventData message{status, event.Message.loadData1(), event.Message.Data2, 0, 0};
            if (status == (0xB0 | volumeChannel) && message.Data1 == 7) {
                songVolume_.store(message.Data2);
                message.Data2 = scaleVolume(message.Data2);
            }
            if (clock != nullptr) {
                // How long ago, on the clock, the song passed the event.
                const std::int64_t ago = (clock->songUs - songMicrosAt(cursor, event.Time)) * 100 / clock->speedPercent;
                output.Port()->SendEventAt(message, clock->clockUs - static_cast<std::uint64_t>(ago));
            } else {
                output.Port()->SendEvent(message);
            }
            if (trackOutputs_->OnEvent)
                trackOutputs_->OnEvent(this, i, message);
        }
        output.setNextEvent(j);
        if (j < eventCount)
            atEnd_ = false;
    }
}

}  // namespace vozaro::midi
