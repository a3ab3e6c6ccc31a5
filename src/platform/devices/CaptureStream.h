// Capture devices built on a back end's recording stream, which may be lost
// (the sound server went away) and opened again.
//
// A CaptureStream is one open recording stream of a back end: it records on a
// thread of its own and hands what it records, and its loss, to a
// CaptureSink.  The capture device over it (createStreamCaptureDevice) keeps
// the buffer queue and the reports to the wave input; when its stream is
// lost, it drops it and opens a new one every kCaptureReconnectMs until one
// opens, and recording goes on into the same queued buffers, so the wave
// input only sees a pause.  Nothing is tried in between: a lost stream
// costs nothing while it stays lost.
#pragma once

#include "platform/devices/CaptureDevice.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace vozaro::platform {

inline constexpr int kCaptureReconnectMs = 500;

// What a stream reports to.  thread: the stream's own recording thread;
// neither call allocates or waits.
class CaptureSink {
public:
    // Recorded bytes in the format the stream was opened with (8-bit
    // samples signed, as the back ends deliver them).
    virtual void captured(const void* bytes, std::size_t count) noexcept = 0;
    // The stream failed for good; it delivers nothing more that counts.
    virtual void lost() noexcept = 0;

protected:
    ~CaptureSink() = default;
};

class CaptureStream {
public:
    // Stops and closes the stream; no report reaches the sink after it.
    virtual ~CaptureStream() = default;
    // kCaptureOk, or a code with its text in `text`.
    virtual int start(std::string& text) = 0;
    virtual void stop() noexcept = 0;
};

// Opens a stream of `device` (-1: the default input) in `format`, reporting
// to `sink`; null, with a code and its text, when it cannot.  User-interface
// thread.
using CaptureStreamOpener = std::function<std::unique_ptr<CaptureStream>(
    int device, const WaveFormat& format, CaptureSink& sink, int& code, std::string& text)>;

std::unique_ptr<CaptureDevice> createStreamCaptureDevice(CaptureStreamOpener opener);

}  // namespace vozaro::platform
