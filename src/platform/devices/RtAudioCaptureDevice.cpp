// The system's capture devices through RtAudio.  RtAudio records on a thread of
// its own; its callback only hands what it recorded to the capture device
// (CaptureStream.h), which copies it into the queued buffers and wakes the
// user-interface thread, and opens the stream again when RtAudio reports it
// failed.  RtAudio's exceptions and error codes are turned into error texts
// here.
#include "platform/devices/AlsaMessages.h"
#include "platform/devices/CaptureDevice.h"
#include "platform/devices/CaptureStream.h"

#include <rtaudio/RtAudio.h>

#include <memory>
#include <optional>
#include <vector>

namespace vozaro::platform {

namespace {

class RtAudioCaptureStream;
// The stream whose recording thread this is: RtAudio reports a failure of
// the stream on that thread, to an error callback that is told nothing else.
thread_local RtAudioCaptureStream* recordingHere = nullptr;

class RtAudioCaptureStream final : public CaptureStream {
public:
    explicit RtAudioCaptureStream(CaptureSink& sink) : sink_(sink) {}
    ~RtAudioCaptureStream() override {
        if (!audio_) return;
        try {
            if (audio_->isStreamRunning()) audio_->abortStream();
            if (audio_->isStreamOpen()) audio_->closeStream();
        } catch (const RtAudioError&) {
        }
    }

    // kCaptureOk, or a code with its text.
    int open(int device, const WaveFormat& format, std::string& text) {
        silenceAlsaMessages();
        try {
            std::unique_ptr<RtAudio> audio = chooseApi();
            if (!audio) return kCaptureNoDriver;
            const std::optional<unsigned> id = findDevice(*audio, device);
            if (!id) return kCaptureBadDeviceId;
            RtAudio::StreamParameters input;
            input.deviceId = *id;
            input.nChannels = format.channels;
            RtAudio::StreamOptions options;
            options.streamName = "Vozaro";
            unsigned frames = 256;
            bytesPerFrame_ = format.blockAlign;
            audio->openStream(nullptr, &input, format.bitsPerSample == 8 ? RTAUDIO_SINT8 : RTAUDIO_SINT16,
                              format.samplesPerSec, &frames, &RtAudioCaptureStream::callback, this, &options,
                              &RtAudioCaptureStream::errorCallback);
            audio_ = std::move(audio);
        } catch (const RtAudioError& error) {
            text = error.getMessage();
            return kCaptureError;
        } catch (const std::exception& error) {
            text = error.what();
            return kCaptureError;
        }
        return kCaptureOk;
    }

    int start(std::string& text) override {
        try {
            if (!audio_->isStreamRunning()) audio_->startStream();
        } catch (const RtAudioError& error) {
            text = error.getMessage();
            return kCaptureError;
        }
        return kCaptureOk;
    }

    void stop() noexcept override {
        try {
            if (audio_->isStreamRunning()) audio_->abortStream();
        } catch (const RtAudioError&) {
            // The stream is unusable either way.
        }
    }

private:
    // The first compiled interface that sees any device, as RtAudio's own
    // choice would be, but asked with its warnings off so that nothing is
    // printed.
    static std::unique_ptr<RtAudio> chooseApi() {
        std::vector<RtAudio::Api> apis;
        RtAudio::getCompiledApi(apis);
        for (RtAudio::Api api : apis) {
            if (api == RtAudio::RTAUDIO_DUMMY) continue;
            auto audio = std::make_unique<RtAudio>(api);
            audio->showWarnings(false);
            if (audio->getDeviceCount() > 0) return audio;
        }
        return nullptr;
    }

    static bool canRecord(const RtAudio::DeviceInfo& info) { return info.probed && info.inputChannels > 0; }

    // Input devices are numbered in RtAudio's order, counting only those that
    // can record; -1 is the system's default input.
    static std::optional<unsigned> findDevice(RtAudio& audio, int device) {
        const unsigned count = audio.getDeviceCount();
        if (device < 0) {
            const unsigned fallback = audio.getDefaultInputDevice();
            std::optional<unsigned> first;
            for (unsigned i = 0; i < count; ++i) {
                const RtAudio::DeviceInfo info = audio.getDeviceInfo(i);
                if (!canRecord(info)) continue;
                if (info.isDefaultInput) return i;
                if (!first) first = i;
            }
            if (fallback < count && canRecord(audio.getDeviceInfo(fallback))) return fallback;
            return first;
        }
        int number = 0;
        for (unsigned i = 0; i < count; ++i) {
            if (!canRecord(audio.getDeviceInfo(i))) continue;
            if (number++ == device) return i;
        }
        return std::nullopt;
    }

    // thread: RtAudio's recording thread.
    static int callback(void*, void* input, unsigned frames, double, RtAudioStreamStatus, void* user) noexcept {
        auto* self = static_cast<RtAudioCaptureStream*>(user);
        recordingHere = self;
        if (input) self->sink_.captured(input, std::size_t{frames} * self->bytesPerFrame_);
        return 0;
    }

    // RtAudio reports a stream that fails on its recording thread, and then
    // goes on calling back as fast as it can without recording anything (a
    // sound server that went away): the stream is lost.  Reports from other
    // threads come with an exception or an error code as well.
    static void errorCallback(RtAudioError::Type, const std::string&) {
        if (recordingHere) recordingHere->sink_.lost();
    }

    CaptureSink& sink_;
    std::unique_ptr<RtAudio> audio_;
    unsigned bytesPerFrame_ = 2;
};

std::unique_ptr<CaptureStream> openRtAudioCaptureStream(int device, const WaveFormat& format, CaptureSink& sink,
                                                        int& code, std::string& text) {
    auto stream = std::make_unique<RtAudioCaptureStream>(sink);
    code = stream->open(device, format, text);
    if (code != kCaptureOk) return nullptr;
    return stream;
}

}  // namespace

std::unique_ptr<CaptureDevice> createRtAudioCaptureDevice() {
    return createStreamCaptureDevice(openRtAudioCaptureStream);
}

}  // namespace vozaro::platform
