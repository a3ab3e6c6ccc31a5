#include "audio/AudioIO.h"

#include <new>

namespace vozaro::audio {

using platform::CaptureMessage;
using platform::kCaptureOk;
using platform::WaveHeader;

std::int32_t bufferPeak(const std::int16_t* samples, std::size_t count) {
    if (count == 0) return 0;
    std::int32_t lo = samples[0];
    std::int32_t hi = samples[0];
    for (std::size_t i = 1; i < count; ++i) {
        if (samples[i] < lo) lo = samples[i];
        if (samples[i] > hi) hi = samples[i];
    }
    return hi >= -lo ? hi : -lo;
}

// ---------------------------------------------------------------------------
// TAudioIO

TAudioIO::TAudioIO(QObject* parent) : QObject(parent) {
    WaveFmt_.formatTag = 1;
    WaveFmt_.bitsPerSample = 16;
    WaveFmt_.channels = 1;
    WaveFmt_.samplesPerSec = 22050;
    WaveFmt_.cbSize = 0;
    RecalcFormat();
    AllocHeaders();
    AllocBuffers();
}

TAudioIO::~TAudioIO() {
    FreeBuffers();
    FreeHeaders();
}

void TAudioIO::RecalcFormat() {
    WaveFmt_.blockAlign = static_cast<std::uint16_t>((WaveFmt_.bitsPerSample / 8) * WaveFmt_.channels);
    WaveFmt_.avgBytesPerSec = WaveFmt_.blockAlign * WaveFmt_.samplesPerSec;
    BufferSize_ = RequestedBufferSize_ - (RequestedBufferSize_ % WaveFmt_.blockAlign);
}

void TAudioIO::setBufferSize(std::int32_t bytes) {
    if (deviceOpen()) return;
    RequestedBufferSize_ = bytes < 512 ? 512 : bytes;
    RecalcFormat();
    FreeBuffers();
    AllocBuffers();
}

void TAudioIO::setNumBuffers(std::int32_t count) {
    if (deviceOpen()) return;
    FreeBuffers();
    NumBuffers_ = count < 2 ? 2 : (count > kSlots ? kSlots : count);
    AllocBuffers();
}

void TAudioIO::setFrameRate(std::int32_t hertz) {
    if (deviceOpen()) return;
    WaveFmt_.samplesPerSec = static_cast<std::uint32_t>(hertz);
    RecalcFormat();
}

void TAudioIO::setStereo(bool stereo) {
    if (deviceOpen()) return;
    WaveFmt_.channels = stereo ? 2 : 1;
    RecalcFormat();
    // A new block alignment can change the rounded size the buffers have.
    FreeBuffers();
    AllocBuffers();
}

void TAudioIO::setQuantization(std::uint16_t bits) {
    if (deviceOpen()) return;
    WaveFmt_.bitsPerSample = bits <= 8 ? 8 : 16;
    RecalcFormat();
    FreeBuffers();
    AllocBuffers();
}

bool TAudioIO::AllocBuffers() {
    for (int i = 0; i < NumBuffers_; ++i) {
        char* data = new (std::nothrow) char[static_cast<std::size_t>(BufferSize_)];
        if (!data) {
            FreeBuffers();
            LastError_ = "Error allocating wave buffer memory";
            return false;
        }
        Ring_[i].data.reset(data);
        if (Ring_[i].header) Ring_[i].header->data = data;
    }
    return true;
}

void TAudioIO::FreeBuffers() {
    for (Slot& slot : Ring_) {
        if (slot.header) slot.header->data = nullptr;
        slot.data.reset();
    }
}

bool TAudioIO::AllocHeaders() {
    for (Slot& slot : Ring_) {
        auto* header = new (std::nothrow) WaveHeader{};
        if (!header) {
            FreeHeaders();
            LastError_ = "Error allocating wave header memory";
            return false;
        }
        slot.header.reset(header);
    }
    return true;
}

void TAudioIO::FreeHeaders() {
    for (Slot& slot : Ring_) slot.header.reset();
}

void TAudioIO::StopNow() {
    Running_ = false;
    Accepting_ = false;
}

void TAudioIO::StopWhenDrained() { Accepting_ = false; }

// ---------------------------------------------------------------------------
// TCallBackWinIn

TCallBackWinIn::TCallBackWinIn(TAudioIn* input, QObject* parent) : QObject(parent), Input_(input) {}

void TCallBackWinIn::handle(CaptureMessage message, WaveHeader* header) {
    TAudioIn* input = Input_.data();
    switch (message) {
    case CaptureMessage::Open:
        if (input && input->OnStart) input->OnStart(input);
        break;
    case CaptureMessage::Close:
        if (input && input->OnStop) input->OnStop(input);
        // The device has said its last word to this object.
        deleteLater();
        break;
    case CaptureMessage::Data:
        // Buffers a closed device returns (during StopNow) are ignored, also
        // when the input has been opened again meanwhile.
        if (input && input->IsOpen_ && input->CallBackWin_ == this) input->BufferReturned(header);
        break;
    }
}

// ---------------------------------------------------------------------------
// TAudioIn

TAudioIn::TAudioIn(QObject* parent) : TAudioIO(parent) {}

TAudioIn::~TAudioIn() {
    // The device must not go on writing into buffers that are about to go.
    StopNow();
}

void TAudioIn::StartCapture(TAudioIn* input) {
    if (OpenDevice(input ? input : this)) BeginRecording();
}

std::string TAudioIn::DeviceText(int code) const {
    return Device_ ? Device_->errorText(code) : platform::captureErrorText(code);
}

bool TAudioIn::OpenDevice(TAudioIn* input) {
    if (IsOpen_) {
        LastError_ = "Wave Input device is already open";
        return false;
    }
    NextBuffer_ = 0;
    for (int i = 0; i < NumBuffers_; ++i) {
        if (!Ring_[i].header || !Ring_[i].data) {
            // The buffers could not be allocated; that failure's text stays.
            if (LastError_.empty()) LastError_ = "Error allocating wave buffer memory";
            return false;
        }
    }
    auto* window = new TCallBackWinIn(input, this);
    Device_ = platform::createCaptureDevice();
    const int opened = Device_->open(
        WaveDevice_, WaveFmt_, window,
        [window](CaptureMessage message, WaveHeader* header) { window->handle(message, header); });
    if (opened != kCaptureOk) {
        LastError_ = DeviceText(opened).substr(0, 256);
        Device_.reset();
        delete window;
        return false;
    }
    CallBackWin_ = window;
    IsOpen_ = true;
    for (int i = 0; i < NumBuffers_; ++i) {
        WaveHeader& header = *Ring_[i].header;
        header = WaveHeader{};
        header.data = Ring_[i].data.get();
        header.bufferLength = static_cast<std::uint32_t>(BufferSize_);
    }
    for (int i = 0; i < NumBuffers_; ++i) {
        const int prepared = Device_->prepareHeader(*Ring_[i].header);
        if (prepared != kCaptureOk) {
            LastError_ = DeviceText(prepared).substr(0, 256);
            CloseDevice();
            return false;
        }
    }
    QueuedCount_ = 0;
    ReturnedCount_ = 0;
    AcceptedCount_ = 0;
    Accepting_ = true;
    Running_ = true;
    return true;
}

bool TAudioIn::BeginRecording() {
    const int started = Device_->start();
    if (started != kCaptureOk) {
        const std::string text = DeviceText(started);
        CloseDevice();
        LastError_ = "Error starting wave record: " + text;
        return false;
    }
    Running_ = true;
    for (int i = 0; i < NumBuffers_; ++i) {
        if (!QueueNextBuffer()) {
            CloseDevice();
            return false;
        }
    }
    return true;
}

bool TAudioIn::QueueNextBuffer() {
    WaveHeader& header = *Ring_[NextBuffer_].header;
    header.flags = platform::kWhdrPrepared;
    const int added = Device_ ? Device_->addBuffer(header) : platform::kCaptureNotOpen;
    if (added != kCaptureOk) {
        LastError_ = DeviceText(added).substr(0, 256);
        StopWhenDrained();
        return false;
    }
    NextBuffer_ = (NextBuffer_ + 1) % NumBuffers_;
    ++QueuedCount_;
    return true;
}

int TAudioIn::SlotOf(const WaveHeader* header) const {
    for (int i = 0; i < NumBuffers_; ++i)
        if (Ring_[i].header.get() == header) return i;
    return -1;
}

void TAudioIn::BufferReturned(WaveHeader* header) {
    ++ReturnedCount_;
    --QueuedCount_;
    Running_ = QueuedCount_ > 0;
    // The returned buffer is the oldest queued one.  Without declined buffers
    // that is slot NextBuffer; after a decline the ring is one buffer short
    // and NextBuffer points at the free slot, so the data delivered is that
    // of the buffer that actually came back.
    int slot = SlotOf(header);
    if (slot < 0) slot = NextBuffer_;
    const bool keep = DeliverBuffer(Ring_[slot].data.get(), BufferSize_);
    if (!IsOpen_) return;  // the handler stopped the input
    if (keep) QueueNextBuffer();
    if (!Running_) {
        Accepting_ = false;
        CloseDevice();
    }
}

bool TAudioIn::DeliverBuffer(void* data, std::int32_t length) {
    if (!Accepting_) return false;
    bool keep = true;
    if (OnBufferFilled) keep = OnBufferFilled(data, length);
    if (keep) ++AcceptedCount_;
    return keep;
}

void TAudioIn::StopNow() {
    if (!IsOpen_) return;
    Running_ = false;
    Accepting_ = false;
    Device_->reset();
    CloseDevice();
}

void TAudioIn::StopWhenDrained() {
    if (IsOpen_) Accepting_ = false;
}

void TAudioIn::CloseDevice() {
    Running_ = false;
    if (Device_) {
        for (int i = 0; i < NumBuffers_; ++i) Device_->unprepareHeader(*Ring_[i].header);
        Device_->reset();
        Device_->close();
        Device_.reset();
    }
    IsOpen_ = false;
    CallBackWin_ = nullptr;
}

}  // namespace vozaro::audio
