#include "platform/devices/MixerDevice.h"

namespace vozaro::platform {

namespace {
std::shared_ptr<MixerSystem>& installedSystem() {
    static std::shared_ptr<MixerSystem> system;
    return system;
}

MixerSystem& currentSystem() {
    if (installedSystem()) return *installedSystem();
    static const std::shared_ptr<MixerSystem> alsa = createAlsaMixerSystem();
    return *alsa;
}
}  // namespace

int mixerDeviceCount() { return currentSystem().deviceCount(); }

int openMixerDevice(int id, QObject* window, MixerNotify notify, std::unique_ptr<MixerDevice>& device) {
    return currentSystem().open(id, window, std::move(notify), device);
}

std::shared_ptr<MixerSystem> installMixerSystem(std::shared_ptr<MixerSystem> system) {
    std::shared_ptr<MixerSystem> previous = std::move(installedSystem());
    installedSystem() = std::move(system);
    return previous;
}

}  // namespace vozaro::platform
