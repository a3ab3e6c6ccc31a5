// Sound capture devices (the microphone input), seen the way the wave input
// drives them: open a device with a format and a notification object, hand it
// buffers, start it, and get every filled buffer back, in the order it was
// queued, as a queued event on the notification object's thread.
//
// One CaptureDevice object stands for one open of a device.  All calls are made
// from the thread that owns the notification object (the user-interface
// thread); back ends that record on a thread of their own fill the queued
// buffers there and report back through the event loop.  Audio that arrives
// while no buffer is queued is dropped.  No call allocates while recording.
//
// Results are 0 for success or an error code; errorText() turns a code into
// readable text.
#pragma once

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vozaro::platform {

// PCM format of the recorded data, laid out like the classic wave format
// record.  Samples are little-endian; 8-bit samples are unsigned, 16-bit ones
// signed; stereo frames interleave left and right.
struct WaveFormat {
    std::uint16_t formatTag = 1;  // 1 = PCM, the only tag supported
    std::uint16_t channels = 1;
    std::uint32_t samplesPerSec = 22050;
    std::uint32_t avgBytesPerSec = 44100;
    std::uint16_t blockAlign = 2;
    std::uint16_t bitsPerSample = 16;
    std::uint16_t cbSize = 0;
};

inline constexpr std::uint32_t kWhdrDone = 0x00000001;      // returned by the device
inline constexpr std::uint32_t kWhdrPrepared = 0x00000002;  // registered with the device
inline constexpr std::uint32_t kWhdrInQueue = 0x00000010;   // queued at the device

// One capture buffer as the device sees it.  The memory behind `data` must stay
// put from prepareHeader() until unprepareHeader().
struct WaveHeader {
    char* data = nullptr;
    std::uint32_t bufferLength = 0;   // bytes
    std::uint32_t bytesRecorded = 0;  // set by the device when it returns the buffer
    std::uintptr_t user = 0;
    std::uint32_t flags = 0;
};

enum class CaptureMessage { Open, Close, Data };

// Receives the device's reports on the notification object's thread: Open once
// the device is open, Data with the header of every returned buffer, Close once
// it is closed.
using CaptureHandler = std::function<void(CaptureMessage, WaveHeader*)>;

// Error codes.
inline constexpr int kCaptureOk = 0;
inline constexpr int kCaptureError = 1;           // back-end failure, see errorText
inline constexpr int kCaptureBadDeviceId = 2;
inline constexpr int kCaptureNotOpen = 5;
inline constexpr int kCaptureNoDriver = 6;
inline constexpr int kCaptureNoMemory = 7;
inline constexpr int kCaptureInvalidParam = 11;
inline constexpr int kCaptureBadFormat = 32;
inline constexpr int kCaptureStillRecording = 33;
inline constexpr int kCaptureUnprepared = 34;

class CaptureDevice {
public:
    virtual ~CaptureDevice() = default;

    // Opens device `device` (-1 is the system's default input).  Reports go to
    // `handler`, posted to the thread of `window`; reports still pending for a
    // window that has gone are dropped.  Open is reported once it succeeded.
    virtual int open(int device, const WaveFormat& format, QObject* window,
                     CaptureHandler handler) = 0;
    virtual int prepareHeader(WaveHeader& header) = 0;
    virtual int unprepareHeader(WaveHeader& header) = 0;
    // Queues a prepared buffer; buffers are filled and returned in queue order.
    virtual int addBuffer(WaveHeader& header) = 0;
    virtual int start() = 0;
    // Stops recording and returns every queued buffer (each reported as Data).
    virtual int reset() = 0;
    // Closes the device (Close is reported); buffers must have been returned.
    virtual int close() = 0;
    // Readable text for a code this device returned.
    virtual std::string errorText(int code) const = 0;
};

// PCM, mono or stereo, 8 or 16 bits, a rate, and a block alignment that fits.
bool isRecordableFormat(const WaveFormat& format);

// Readable text for the codes above that need no back-end detail.
std::string captureErrorText(int code);

// Creates the capture devices the wave inputs use: by default the system's
// (RtAudio); tests install a double.  Returns the previous factory; an empty
// factory restores the default.  User-interface thread.
using CaptureDeviceFactory = std::function<std::unique_ptr<CaptureDevice>()>;
CaptureDeviceFactory setCaptureDeviceFactory(CaptureDeviceFactory factory);
std::unique_ptr<CaptureDevice> createCaptureDevice();

// The system's capture devices, through RtAudio.
std::unique_ptr<CaptureDevice> createRtAudioCaptureDevice();

}  // namespace vozaro::platform
