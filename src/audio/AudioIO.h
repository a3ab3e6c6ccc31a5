// Wave input capture: the microphone recorded into a ring of fixed-size PCM
// buffers, each filled buffer handed to the application through an event.
//
// TAudioIO holds the format, the buffer memory and the start/stop events;
// TAudioIn drives a capture device (platform/CaptureDevice.h) with them.  The
// device reports through a notification object (TCallBackWinIn) created at
// every open, so every event, re-queue and state change happens on the
// user-interface thread, in its event loop.  Nothing here throws or shows a
// message: a failure leaves its text in LastError().
#pragma once

#include "platform/devices/CaptureDevice.h"

#include <QObject>
#include <QPointer>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vozaro::audio {

class TAudioIn;

// A notification with only the sender as argument.
using TNotifyEvent = std::function<void(QObject* sender)>;
// The buffer event: the address of the first sample and the buffer's length in
// bytes; returning true sends the buffer back to the device.
using TBufferEvent = std::function<bool(void* data, std::int32_t& size)>;

// The level of one buffer of signed 16-bit samples: the larger of its highest
// sample and the magnitude of its lowest, both starting from the first sample
// (0 to 32768; 0 for an empty buffer).
std::int32_t bufferPeak(const std::int16_t* samples, std::size_t count);

class TAudioIO : public QObject {
public:
    explicit TAudioIO(QObject* parent = nullptr);
    ~TAudioIO() override;

    // Published properties.  Size, count and format can be changed only while
    // the device is closed; a change asked for while it is open is ignored, as
    // the device is writing into the buffers.
    std::int32_t BufferSize() const { return BufferSize_; }
    void setBufferSize(std::int32_t bytes);
    std::int32_t RequestedBufferSize() const { return RequestedBufferSize_; }
    std::int32_t NumBuffers() const { return NumBuffers_; }
    void setNumBuffers(std::int32_t count);
    std::int32_t FrameRate() const { return static_cast<std::int32_t>(WaveFmt_.samplesPerSec); }
    void setFrameRate(std::int32_t hertz);
    bool Stereo() const { return WaveFmt_.channels == 2; }
    void setStereo(bool stereo);
    std::uint16_t Quantization() const { return WaveFmt_.bitsPerSample; }
    void setQuantization(std::uint16_t bits);
    std::int32_t WaveDevice() const { return WaveDevice_; }
    void setWaveDevice(std::int32_t device) { WaveDevice_ = device; }
    const platform::WaveFormat& WaveFormat() const { return WaveFmt_; }

    TNotifyEvent OnStart;
    TNotifyEvent OnStop;

    const std::string& LastError() const { return LastError_; }
    bool Accepting() const { return Accepting_; }
    bool Running() const { return Running_; }
    std::int32_t NextBuffer() const { return NextBuffer_; }
    std::int32_t AcceptedCount() const { return AcceptedCount_; }
    std::int32_t QueuedCount() const { return QueuedCount_; }
    std::int32_t ReturnedCount() const { return ReturnedCount_; }

    virtual void StopNow();
    virtual void StopWhenDrained();

protected:
    struct Slot {
        std::unique_ptr<platform::WaveHeader> header;
        std::unique_ptr<char[]> data;
    };
    static constexpr int kSlots = 4;

    virtual bool deviceOpen() const { return false; }
    void RecalcFormat();
    bool AllocBuffers();
    void FreeBuffers();
    bool AllocHeaders();
    void FreeHeaders();

    std::int32_t BufferSize_ = 0;
    std::int32_t RequestedBufferSize_ = 8192;
    std::int32_t NumBuffers_ = 4;
    platform::WaveFormat WaveFmt_;
    std::int32_t WaveDevice_ = -1;
    std::array<Slot, kSlots> Ring_;
    std::int32_t NextBuffer_ = 0;
    bool Accepting_ = false;
    std::string LastError_;
    bool Running_ = false;
    std::int32_t AcceptedCount_ = 0;
    std::int32_t QueuedCount_ = 0;
    std::int32_t ReturnedCount_ = 0;
};

// The hidden object through which an open device reports to its input.  One is
// created at every open; it lives until the device's close has been reported
// (or the input goes), so reports of a closed device reach the object of that
// device and never act on a device opened later.
class TCallBackWinIn : public QObject {
public:
    TCallBackWinIn(TAudioIn* input, QObject* parent);
    void handle(platform::CaptureMessage message, platform::WaveHeader* header);

private:
    QPointer<TAudioIn> Input_;
};

class TAudioIn : public TAudioIO {
public:
    explicit TAudioIn(QObject* parent = nullptr);
    ~TAudioIn() override;

    bool IsOpen() const { return IsOpen_; }

    // Opens the device and starts recording; a failure leaves LastError set and
    // the device closed.  `input` is the owner's reference to this input (the
    // notification object keeps it to find the input again); nullptr means
    // this input.
    void StartCapture(TAudioIn* input = nullptr);
    void StopNow() override;
    void StopWhenDrained() override;

    TBufferEvent OnBufferFilled;

protected:
    virtual bool DeliverBuffer(void* data, std::int32_t length);
    virtual void CloseDevice();
    virtual bool OpenDevice(TAudioIn* input);
    bool deviceOpen() const override { return IsOpen_; }

private:
    friend class TCallBackWinIn;

    bool BeginRecording();
    bool QueueNextBuffer();
    void BufferReturned(platform::WaveHeader* header);
    int SlotOf(const platform::WaveHeader* header) const;
    std::string DeviceText(int code) const;

    bool IsOpen_ = false;
    TCallBackWinIn* CallBackWin_ = nullptr;
    std::unique_ptr<platform::CaptureDevice> Device_;
};

}  // namespace vozaro::audio
