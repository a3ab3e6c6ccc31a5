// The system's capture devices through RtAudio.  RtAudio records on a thread of
// its own; its callback only copies into the queued buffers (CaptureQueue) and
// wakes the user-interface thread.  RtAudio's exceptions and error codes are
// turned into error texts here.
#include "platform/AlsaMessages.h"
#include "platform/CaptureDevice.h"
#include "platform/CaptureQueue.h"

#include <rtaudio/RtAudio.h>

#include <memory>
#include <optional>
#include <vector>

namespace vozaro::platform {

namespace {

class RtAudioCaptureDevice final : public CaptureDevice {
public:
    ~RtAudioCaptureDevice() override { closeStream(); }

    int open(int device, const WaveFormat& format, QObject* window,
             CaptureHandler handler) override {
        if (audio_) return failWith(kCaptureError, "The capture device is already open.");
        if (!isRecordableFormat(format)) return kCaptureBadFormat;
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
            flipSign_ = format.bitsPerSample == 8;
            bytesPerFrame_ = format.blockAlign;
            audio->openStream(nullptr, &input, flipSign_ ? RTAUDIO_SINT8 : RTAUDIO_SINT16,
                              format.samplesPerSec, &frames, &RtAudioCaptureDevice::callback,
                              this, &options, &RtAudioCaptureDevice::errorCallback);
            audio_ = std::move(audio);
        } catch (const RtAudioError& error) {
            return failWith(kCaptureError, error.getMessage());
        } catch (const std::exception& error) {
            return failWith(kCaptureError, error.what());
        }
        queue_.enableWakeups();
        queue_.setTarget(window, std::move(handler));
        queue_.post(CaptureMessage::Open);
        return kCaptureOk;
    }

    int prepareHeader(WaveHeader& header) override {
        return audio_ ? queue_.prepare(header) : kCaptureNotOpen;
    }

    int unprepareHeader(WaveHeader& header) override {
        return audio_ ? queue_.unprepare(header) : kCaptureNotOpen;
    }

    int addBuffer(WaveHeader& header) override {
        if (!audio_) return kCaptureNotOpen;
        if (header.bufferLength % bytesPerFrame_ != 0) return kCaptureInvalidParam;
        return queue_.add(header);
    }

    int start() override {
        if (!audio_) return kCaptureNotOpen;
        try {
            if (!audio_->isStreamRunning()) audio_->startStream();
        } catch (const RtAudioError& error) {
            return failWith(kCaptureError, error.getMessage());
        }
        return kCaptureOk;
    }

    int reset() override {
        if (!audio_) return kCaptureNotOpen;
        try {
            if (audio_->isStreamRunning()) audio_->abortStream();
        } catch (const RtAudioError&) {
            // The stream is unusable either way; the buffers still come back.
        }
        queue_.returnAll();
        return kCaptureOk;
    }

    int close() override {
        if (!audio_) return kCaptureNotOpen;
        if (queue_.queued() != 0) return kCaptureStillRecording;
        closeStream();
        queue_.post(CaptureMessage::Close);
        return kCaptureOk;
    }

    std::string errorText(int code) const override {
        if (code == kCaptureError && !lastError_.empty()) return lastError_;
        return captureErrorText(code);
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

    void closeStream() {
        if (!audio_) return;
        try {
            if (audio_->isStreamRunning()) audio_->abortStream();
            if (audio_->isStreamOpen()) audio_->closeStream();
        } catch (const RtAudioError&) {
        }
        audio_.reset();
    }

    int failWith(int code, std::string text) {
        lastError_ = std::move(text);
        return code;
    }

    // thread: RtAudio's recording thread.
    static int callback(void*, void* input, unsigned frames, double, RtAudioStreamStatus,
                        void* user) noexcept {
        auto* self = static_cast<RtAudioCaptureDevice*>(user);
        if (input && self->queue_.write(input, std::size_t{frames} * self->bytesPerFrame_,
                                         self->flipSign_))
            self->queue_.wake();
        return 0;
    }

    // RtAudio reports stream failures on its own thread; they surface as
    // buffers that stop coming, which the wave input already copes with.
    static void errorCallback(RtAudioError::Type, const std::string&) {}

    std::unique_ptr<RtAudio> audio_;
    CaptureQueue queue_;
    std::string lastError_;
    bool flipSign_ = false;
    unsigned bytesPerFrame_ = 2;
};

}  // namespace

std::unique_ptr<CaptureDevice> createRtAudioCaptureDevice() {
    return std::make_unique<RtAudioCaptureDevice>();
}

}  // namespace vozaro::platform
