#include "midi/cmpTrackOutputs.h"

namespace vozaro::midi {

TTrackOutput::TTrackOutput(TMidiTrackStream* track)
    : track_(track), port_(std::make_unique<TMidiOutputPort>()) {}

TTrackOutput::~TTrackOutput() = default;

TTrackOutputs::TTrackOutputs() = default;

TTrackOutputs::~TTrackOutputs() { setActive(false); }

void TTrackOutputs::setMidiData(TMidiData* midiData) {
    if (midiData == midiData_)
        return;
    bool wasActive = active_;
    setActive(false);
    midiData_ = midiData;
    setActive(wasActive);
}

void TTrackOutputs::setActive(bool value) {
    if (value == active_)
        return;
    active_ = value;
    if (!value) {
        outputs_.clear();
        return;
    }
    const std::int32_t tracks = midiData_ != nullptr ? midiData_->TrackCount() : 0;
    outputs_.reserve(static_cast<std::size_t>(tracks));
    for (std::int32_t i = 0; i < tracks; ++i) {
        outputs_.push_back(std::make_unique<TTrackOutput>(midiData_->Tracks(i)));
        TMidiOutputPort& port = *outputs_.back()->Port();
        port.setPortId(defaultOutputPort_);
        port.setActive(true);  // "Unable to open port" reaches the caller
    }
}

void TTrackOutputs::AllNotesOff() {
    for (const auto& output : outputs_)
        output->Port()->AllNotesOff();
}

void TTrackOutputs::ResetControllers() {
    for (const auto& output : outputs_)
        output->Port()->ResetControllers();
}

void TTrackOutputs::Rewind() noexcept {
    for (const auto& output : outputs_)
        output->setNextEvent(0);
}

void TTrackOutputs::SendPatches() {
    for (const auto& output : outputs_)
        output->Port()->SetPatch(output->Track()->FirstProgram(), output->Track()->FirstChannel());
}

}  // namespace vozaro::midi
