// TTrackOutputs routes every track of a song to a logical output port of its
// own: one TTrackOutput per track, each with a TMidiOutputPort on the device
// DefaultOutputPort.  The iterator (cmpMidiIterator) dispatches through it.
//
// Threads: built, rebuilt and destroyed on the user-interface thread while no
// player plays it.  While one plays, the player's timer thread sends through
// the ports and raises OnEvent; the ports serialise their own operations, so
// AllNotesOff and ResetControllers may come from the user-interface thread
// meanwhile.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "midi/cmpMidiData.h"
#include "midi/cmpMidiOutput.h"

namespace vozaro::midi {

class TMidiIterator;

// Raised for every event the iterator sends: the iterator, the index of the
// track output (not a device id) and the message as sent.
// thread: the player's timer thread during playback.
using TOnEvent = std::function<void(TMidiIterator* Sender, std::int32_t Port, const TEventData& Data)>;

// One track and its own port.
class TTrackOutput {
public:
    explicit TTrackOutput(TMidiTrackStream* track);
    ~TTrackOutput();
    TTrackOutput(const TTrackOutput&) = delete;
    TTrackOutput& operator=(const TTrackOutput&) = delete;

    TMidiTrackStream* Track() const noexcept { return track_; }
    TMidiOutputPort* Port() const noexcept { return port_.get(); }
    // Index of the track's first record not yet dispatched.
    std::int32_t NextEvent() const noexcept { return nextEvent_; }
    void setNextEvent(std::int32_t index) noexcept { nextEvent_ = index; }

private:
    TMidiTrackStream* track_;
    std::unique_ptr<TMidiOutputPort> port_;
    std::int32_t nextEvent_ = 0;
};

class TTrackOutputs {
public:
    TTrackOutputs();
    ~TTrackOutputs();
    TTrackOutputs(const TTrackOutputs&) = delete;
    TTrackOutputs& operator=(const TTrackOutputs&) = delete;

    // Device id every output is built with; takes effect the next time the
    // outputs are built.
    std::int32_t DefaultOutputPort() const noexcept { return defaultOutputPort_; }
    void setDefaultOutputPort(std::int32_t portId) noexcept { defaultOutputPort_ = portId; }

    TMidiData* MidiData() const noexcept { return midiData_; }
    // A different song: the outputs are rebuilt for it when they were active.
    void setMidiData(TMidiData* midiData);

    // true: one output per track of MidiData, each port opened.  A device that
    // cannot be opened throws EMidiOutputPort; the outputs stay active, those
    // built so far remain (the failing one with an inactive port) and the
    // later tracks get none until the outputs are rebuilt.  false: every
    // output is destroyed; its port silences its notes, resets the
    // controllers and closes the device with the last port.
    bool Active() const noexcept { return active_; }
    void setActive(bool value);

    std::int32_t Count() const noexcept { return static_cast<std::int32_t>(outputs_.size()); }
    // The output at index, or nullptr outside 0 .. Count - 1.
    TTrackOutput* Outputs(std::int32_t index) const noexcept {
        if (index < 0 || index >= Count())
            return nullptr;
        return outputs_[static_cast<std::size_t>(index)].get();
    }

    void AllNotesOff();
    void ResetControllers();
    // Every output back to its track's first record.
    void Rewind() noexcept;
    // Every port gets its track's first program on its track's first channel.
    void SendPatches();

    TOnEvent OnEvent;

private:
    std::int32_t defaultOutputPort_ = 0;
    TMidiData* midiData_ = nullptr;
    bool active_ = false;
    std::vector<std::unique_ptr<TTrackOutput>> outputs_;
};

}  // namespace vozaro::midi
