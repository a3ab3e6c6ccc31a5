#include "platform/devices/AlsaMessages.h"

#include <alsa/asoundlib.h>

#include <mutex>

namespace vozaro::platform {

namespace {
void quietHandler(const char*, int, const char*, int, const char*, ...) {}
}  // namespace

void silenceAlsaMessages() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&quietHandler); });
}

}  // namespace vozaro::platform
