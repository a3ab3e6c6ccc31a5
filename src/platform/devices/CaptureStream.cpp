#include "platform/devices/CaptureStream.h"

#include "platform/devices/CaptureQueue.h"
#include "platform/WindowTimer.h"

#include <atomic>
#include <utility>

namespace vozaro::platform {

namespace {

class StreamCaptureDevice final : public CaptureDevice, private CaptureSink {
public:
    explicit StreamCaptureDevice(CaptureStreamOpener opener)
        : opener_(std::move(opener)), retry_([this] { reconnect(); }) {
        retry_.setSingleShot(true);
    }
    ~StreamCaptureDevice() override { stream_.reset(); }

    int open(int device, const WaveFormat& format, QObject* window, CaptureHandler handler) override {
        if (open_) return failWith(kCaptureError, "The capture device is already open.");
        if (!isRecordableFormat(format)) return kCaptureBadFormat;
        device_ = device;
        format_ = format;
        flipSign_ = format.bitsPerSample == 8;
        int code = kCaptureError;
        std::string text;
        stream_ = opener_(device, format, *this, code, text);
        if (!stream_) return failWith(code, std::move(text));
        open_ = true;
        queue_.enableWakeups();
        queue_.setWakeupHook([this] { dropLostStream(); });
        queue_.setTarget(window, std::move(handler));
        queue_.post(CaptureMessage::Open);
        return kCaptureOk;
    }

    int prepareHeader(WaveHeader& header) override { return open_ ? queue_.prepare(header) : kCaptureNotOpen; }
    int unprepareHeader(WaveHeader& header) override { return open_ ? queue_.unprepare(header) : kCaptureNotOpen; }

    int addBuffer(WaveHeader& header) override {
        if (!open_) return kCaptureNotOpen;
        if (header.bufferLength % format_.blockAlign != 0) return kCaptureInvalidParam;
        return queue_.add(header);
    }

    int start() override {
        if (!open_) return kCaptureNotOpen;
        if (stream_) {
            std::string text;
            if (const int code = stream_->start(text); code != kCaptureOk) return failWith(code, std::move(text));
        }
        started_ = true;  // a stream being opened again starts when it opens
        return kCaptureOk;
    }

    int reset() override {
        if (!open_) return kCaptureNotOpen;
        started_ = false;
        if (stream_) stream_->stop();
        queue_.returnAll();
        return kCaptureOk;
    }

    int close() override {
        if (!open_) return kCaptureNotOpen;
        if (queue_.queued() != 0) return kCaptureStillRecording;
        retry_.stop();
        stream_.reset();
        open_ = false;
        queue_.post(CaptureMessage::Close);
        return kCaptureOk;
    }

    std::string errorText(int code) const override {
        if (code == kCaptureError && !lastError_.empty()) return lastError_;
        return captureErrorText(code);
    }

private:
    // thread: the stream's.
    void captured(const void* bytes, std::size_t count) noexcept override {
        if (lost_.load(std::memory_order_acquire)) return;
        if (queue_.write(bytes, count, flipSign_)) queue_.wake();
    }
    void lost() noexcept override {
        if (!lost_.exchange(true, std::memory_order_acq_rel)) queue_.wake();
    }

    // User-interface thread, whenever the stream woke it.
    void dropLostStream() {
        if (!stream_ || !lost_.load(std::memory_order_acquire)) return;
        stream_.reset();  // its thread has ended when this returns
        retry_.start(kCaptureReconnectMs);
    }

    void reconnect() {
        lost_.store(false, std::memory_order_release);
        int code = kCaptureError;
        std::string text;
        std::unique_ptr<CaptureStream> stream = opener_(device_, format_, *this, code, text);
        if (stream && started_ && stream->start(text) != kCaptureOk) stream.reset();
        if (!stream) {
            retry_.start(kCaptureReconnectMs);
            return;
        }
        stream_ = std::move(stream);
    }

    int failWith(int code, std::string text) {
        lastError_ = std::move(text);
        return code;
    }

    CaptureStreamOpener opener_;
    std::unique_ptr<CaptureStream> stream_;  // null while lost
    CaptureQueue queue_;
    WindowTimer retry_;
    std::atomic<bool> lost_{false};
    bool open_ = false;
    bool started_ = false;
    bool flipSign_ = false;
    int device_ = -1;
    WaveFormat format_;
    std::string lastError_;
};

}  // namespace

std::unique_ptr<CaptureDevice> createStreamCaptureDevice(CaptureStreamOpener opener) {
    return std::make_unique<StreamCaptureDevice>(std::move(opener));
}

}  // namespace vozaro::platform
