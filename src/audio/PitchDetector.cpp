#include "audio/PitchDetector.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>

namespace vozaro::audio {

bool HeardPitch::heard() const {
    return note > 0 && confidence >= PitchDetector::kMinimumConfidence;
}

struct PitchDetector::Aubio {
    aubio_pitch_t* pitch = nullptr;
    fvec_t* in = nullptr;
    fvec_t* out = nullptr;
    ~Aubio() {
        if (pitch)
            del_aubio_pitch(pitch);
        if (in)
            del_fvec(in);
        if (out)
            del_fvec(out);
    }
};

PitchDetector::PitchDetector(int sampleRate, int hop)
    : sampleRate_(std::max(sampleRate, 1000)), hop_(std::clamp(hop, 1, kWindow)) {
    rebuild();
}

PitchDetector::~PitchDetector() = default;

void PitchDetector::rebuild() {
    auto made = std::make_unique<Aubio>();
    made->pitch = new_aubio_pitch("yinfast", kWindow, static_cast<uint_t>(hop_), static_cast<uint_t>(sampleRate_));
    made->in = new_fvec(static_cast<uint_t>(hop_));
    made->out = new_fvec(1);
    if (made->pitch) {
        aubio_pitch_set_unit(made->pitch, "midi");
        // Loudness is judged against the noise level elsewhere; here every
        // window is analysed.
        aubio_pitch_set_silence(made->pitch, -100);
    }
    aubio_ = std::move(made);
    filled_ = 0;
    last_ = HeardPitch{};
}

void PitchDetector::reset() { rebuild(); }

const HeardPitch& PitchDetector::feed(const std::int16_t* samples, std::size_t count) {
    if (!aubio_->pitch || !aubio_->in || !aubio_->out || samples == nullptr)
        return last_;
    smpl_t* in = aubio_->in->data;
    for (std::size_t i = 0; i < count; ++i) {
        in[filled_++] = static_cast<smpl_t>(samples[i]) / static_cast<smpl_t>(32768);
        if (filled_ < static_cast<std::size_t>(hop_))
            continue;
        filled_ = 0;
        aubio_pitch_do(aubio_->pitch, aubio_->in, aubio_->out);
        const double note = aubio_->out->data[0];
        last_.note = std::isfinite(note) && note > 0 ? note : 0;
        const double confidence = aubio_pitch_get_confidence(aubio_->pitch);
        last_.confidence = std::isfinite(confidence) ? std::clamp(confidence, 0.0, 1.0) : 0;
    }
    return last_;
}

}  // namespace vozaro::audio
