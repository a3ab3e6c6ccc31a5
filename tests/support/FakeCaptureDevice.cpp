#include "support/FakeCaptureDevice.h"

#include "platform/devices/CaptureQueue.h"

#include <QTimer>

#include <sndfile.h>

#include <cmath>
#include <numbers>

namespace vozaro::platform {

class FakeCaptureDevice final : public CaptureDevice {
public:
    explicit FakeCaptureDevice(std::shared_ptr<FakeCaptureControl> control)
        : control_(std::move(control)) {}

    ~FakeCaptureDevice() override {
        if (control_->current_ == this) control_->current_ = nullptr;
    }

    int open(int device, const WaveFormat& format, QObject* window,
             CaptureHandler handler) override {
        if (open_) return kCaptureError;
        if (control_->openResult != kCaptureOk) return control_->openResult;
        if (!isRecordableFormat(format)) return kCaptureBadFormat;
        open_ = true;
        format_ = format;
        window_ = window;
        ++control_->opens;
        control_->lastDevice = device;
        control_->lastFormat = format;
        control_->current_ = this;
        queue_.setTarget(window, std::move(handler));
        queue_.post(CaptureMessage::Open);
        return kCaptureOk;
    }

    int prepareHeader(WaveHeader& header) override {
        if (!open_) return kCaptureNotOpen;
        if (control_->prepareResult != kCaptureOk) return control_->prepareResult;
        return queue_.prepare(header);
    }

    int unprepareHeader(WaveHeader& header) override {
        return open_ ? queue_.unprepare(header) : kCaptureNotOpen;
    }

    int addBuffer(WaveHeader& header) override {
        if (!open_) return kCaptureNotOpen;
        ++control_->adds;
        if (control_->addResult != kCaptureOk &&
            (control_->addFailsAfter < 0 || control_->adds > control_->addFailsAfter))
            return control_->addResult;
        const int result = queue_.add(header);
        if (result == kCaptureOk) scheduleFill();
        return result;
    }

    int start() override {
        if (!open_) return kCaptureNotOpen;
        if (control_->startResult != kCaptureOk) return control_->startResult;
        started_ = true;
        scheduleFill();
        return kCaptureOk;
    }

    int reset() override {
        if (!open_) return kCaptureNotOpen;
        started_ = false;
        ++control_->resets;
        queue_.returnAll();
        return kCaptureOk;
    }

    int close() override {
        if (!open_) return kCaptureNotOpen;
        if (queue_.queued() != 0) return kCaptureStillRecording;
        open_ = false;
        started_ = false;
        ++control_->closes;
        if (control_->current_ == this) control_->current_ = nullptr;
        queue_.post(CaptureMessage::Close);
        return kCaptureOk;
    }

    std::string errorText(int code) const override { return captureErrorText(code); }

    bool started() const { return started_; }
    std::size_t queued() const { return queue_.queued(); }

    int fill(int buffers) {
        int filled = 0;
        std::uint32_t offset = 0;
        while (filled < buffers) {
            WaveHeader* header = queue_.filling(&offset);
            if (!header || header->bufferLength <= offset) break;
            block_.resize(header->bufferLength - offset);
            control_->render(block_.data(), static_cast<std::uint32_t>(block_.size()), format_);
            queue_.write(block_.data(), block_.size());
            ++filled;
        }
        queue_.collect();
        return filled;
    }

private:
    void scheduleFill() {
        if (!control_->autoFill || !started_ || fillPending_ || !window_ || queue_.queued() == 0)
            return;
        fillPending_ = true;
        auto job = [this, alive = std::weak_ptr<int>(alive_)] {
            if (alive.expired()) return;
            fillPending_ = false;
            if (!open_ || !started_ || !control_->autoFill) return;
            fill(static_cast<int>(queue_.queued()));
        };
        if (control_->paceMs > 0)
            QTimer::singleShot(control_->paceMs, window_.data(), job);
        else
            QMetaObject::invokeMethod(window_.data(), job, Qt::QueuedConnection);
    }

    std::shared_ptr<FakeCaptureControl> control_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    CaptureQueue queue_;
    WaveFormat format_;
    QPointer<QObject> window_;
    std::vector<char> block_;
    bool open_ = false;
    bool started_ = false;
    bool fillPending_ = false;
};

void FakeCaptureControl::setSamples(std::vector<std::int16_t> samples, bool loop) {
    samples_ = std::move(samples);
    loop_ = loop;
    position_ = 0;
}

void FakeCaptureControl::setSine(double hertz, std::int16_t amplitude, int rate, double seconds,
                                 bool loop) {
    const auto count = static_cast<std::size_t>(std::max(0.0, seconds * rate));
    std::vector<std::int16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * hertz * i / rate)));
    setSamples(std::move(samples), loop);
}

bool FakeCaptureControl::loadWav(const std::string& path, std::string* error) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        if (error) *error = sf_strerror(nullptr);
        return false;
    }
    std::vector<short> frames(static_cast<std::size_t>(info.frames) * info.channels);
    const sf_count_t got = sf_readf_short(file, frames.data(), info.frames);
    sf_close(file);
    std::vector<std::int16_t> mono(static_cast<std::size_t>(std::max<sf_count_t>(got, 0)));
    for (std::size_t i = 0; i < mono.size(); ++i) {
        long sum = 0;
        for (int c = 0; c < info.channels; ++c) sum += frames[i * info.channels + c];
        mono[i] = static_cast<std::int16_t>(sum / info.channels);
    }
    setSamples(std::move(mono), false);
    return true;
}

int FakeCaptureControl::fill(int buffers) { return current_ ? current_->fill(buffers) : 0; }

bool FakeCaptureControl::isStarted() const { return current_ && current_->started(); }

std::size_t FakeCaptureControl::queued() const { return current_ ? current_->queued() : 0; }

void FakeCaptureControl::render(char* target, std::uint32_t bytes, const WaveFormat& format) {
    const unsigned frameBytes = format.blockAlign ? format.blockAlign : 1;
    for (std::uint32_t at = 0; at + frameBytes <= bytes; at += frameBytes) {
        std::int16_t sample = 0;
        if (position_ >= samples_.size() && loop_ && !samples_.empty()) position_ = 0;
        if (position_ < samples_.size()) sample = samples_[position_];
        ++position_;
        for (unsigned c = 0; c < format.channels; ++c) {
            if (format.bitsPerSample == 8) {
                target[at + c] = static_cast<char>(((sample >> 8) & 0xFF) ^ 0x80);
            } else {
                const auto value = static_cast<std::uint16_t>(sample);
                target[at + 2 * c] = static_cast<char>(value & 0xFF);
                target[at + 2 * c + 1] = static_cast<char>(value >> 8);
            }
        }
    }
}

ScopedFakeCapture::ScopedFakeCapture() : control_(std::make_shared<FakeCaptureControl>()) {
    previous_ = setCaptureDeviceFactory([control = control_] { return createFakeCaptureDevice(control); });
}

ScopedFakeCapture::~ScopedFakeCapture() { setCaptureDeviceFactory(std::move(previous_)); }

std::unique_ptr<CaptureDevice> createFakeCaptureDevice(std::shared_ptr<FakeCaptureControl> control) {
    return std::make_unique<FakeCaptureDevice>(std::move(control));
}

}  // namespace vozaro::platform
