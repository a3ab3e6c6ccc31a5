#include "platform/devices/CaptureDevice.h"

namespace vozaro::platform {

namespace {
CaptureDeviceFactory& installedFactory() {
    static CaptureDeviceFactory factory;
    return factory;
}
}  // namespace

bool isRecordableFormat(const WaveFormat& format) {
    return format.formatTag == 1 && (format.channels == 1 || format.channels == 2) &&
           (format.bitsPerSample == 8 || format.bitsPerSample == 16) && format.samplesPerSec != 0 &&
           format.blockAlign == format.channels * (format.bitsPerSample / 8);
}

std::string captureErrorText(int code) {
    switch (code) {
    case kCaptureOk: return "The operation completed successfully.";
    case kCaptureError: return "Unspecified error in the capture device.";
    case kCaptureBadDeviceId: return "The specified capture device does not exist.";
    case kCaptureNotOpen: return "The capture device is not open.";
    case kCaptureNoDriver: return "No sound capture driver is available.";
    case kCaptureNoMemory: return "Not enough memory for the capture device.";
    case kCaptureInvalidParam: return "An invalid parameter was passed to the capture device.";
    case kCaptureBadFormat: return "The capture device does not support this wave format.";
    case kCaptureStillRecording: return "The buffer is still queued at the capture device.";
    case kCaptureUnprepared: return "The buffer has not been prepared for the capture device.";
    default: return "Unknown capture device error " + std::to_string(code) + ".";
    }
}

CaptureDeviceFactory setCaptureDeviceFactory(CaptureDeviceFactory factory) {
    CaptureDeviceFactory previous = std::move(installedFactory());
    installedFactory() = std::move(factory);
    return previous;
}

std::unique_ptr<CaptureDevice> createCaptureDevice() {
    if (const auto& factory = installedFactory()) return factory();
    return createRtAudioCaptureDevice();
}

}  // namespace vozaro::platform
