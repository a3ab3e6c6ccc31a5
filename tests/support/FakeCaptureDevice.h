// A capture device for tests: it "records" a WAV file or a generated signal
// into the queued buffers, without any sound hardware.
//
// By default it fills every queued buffer as soon as the event loop runs after
// the buffer was queued and the device started (one posted event per round),
// so a test drives the capture by processing events; with a pace it fills one
// round per pace interval instead, like a real device.  With automatic filling
// off, the test calls fill() itself.  Failures of each device call can be
// scripted.  Everything runs on the user-interface thread.
#pragma once

#include "platform/devices/CaptureDevice.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vozaro::platform {

class FakeCaptureDevice;

// What the test sets up and observes; shared by every device the factory of a
// ScopedFakeCapture creates.
class FakeCaptureControl {
public:
    // The signal, as mono 16-bit samples at the rate of the open format.  It is
    // rendered into the buffers in the open format (stereo repeats each sample
    // on both channels, 8-bit keeps the top byte).  After its end the device
    // records silence, or starts the signal over when `loop`.
    void setSamples(std::vector<std::int16_t> samples, bool loop = false);
    // A sine of `amplitude` (0..32767) and `hertz` at `rate`, `seconds` long.
    void setSine(double hertz, std::int16_t amplitude, int rate, double seconds, bool loop = true);
    // Reads a WAV (any format libsndfile reads; channels mixed down to mono, no
    // resampling).  False, with the library's text in `error`, when it cannot.
    bool loadWav(const std::string& path, std::string* error = nullptr);
    // Samples the device has rendered so far (position in the signal).
    std::size_t position() const { return position_; }
    void rewind() { position_ = 0; }

    // Scripted failures: a non-zero code makes the call fail with it.
    int openResult = kCaptureOk;
    int prepareResult = kCaptureOk;
    int startResult = kCaptureOk;
    int addResult = kCaptureOk;
    int addFailsAfter = -1;  // with addResult set: that many adds succeed first

    // Filling.
    bool autoFill = true;
    int paceMs = 0;  // 0: fill as soon as the event loop runs
    // Fills up to `buffers` queued buffers of the open device now and reports
    // them; returns how many were filled.
    int fill(int buffers = 1);

    // Observations.
    int opens = 0;
    int closes = 0;
    int resets = 0;
    int adds = 0;
    int lastDevice = 0;
    WaveFormat lastFormat;
    bool isOpen() const { return current_ != nullptr; }
    bool isStarted() const;
    std::size_t queued() const;

private:
    friend class FakeCaptureDevice;
    void render(char* target, std::uint32_t bytes, const WaveFormat& format);

    std::vector<std::int16_t> samples_;
    bool loop_ = false;
    std::size_t position_ = 0;
    FakeCaptureDevice* current_ = nullptr;
};

// Installs a factory creating fake devices for its lifetime (the previous
// factory comes back afterwards).
class ScopedFakeCapture {
public:
    ScopedFakeCapture();
    ~ScopedFakeCapture();
    ScopedFakeCapture(const ScopedFakeCapture&) = delete;
    ScopedFakeCapture& operator=(const ScopedFakeCapture&) = delete;

    FakeCaptureControl& control() { return *control_; }

private:
    std::shared_ptr<FakeCaptureControl> control_;
    CaptureDeviceFactory previous_;
};

std::unique_ptr<CaptureDevice> createFakeCaptureDevice(std::shared_ptr<FakeCaptureControl> control);

}  // namespace vozaro::platform
