// alsa-lib prints its own failures (a missing card, an unknown PCM) to
// standard error; the program reports failures its own way instead.
#pragma once

namespace vozaro::platform {

// Installs a silent error handler in alsa-lib, once; any thread.
void silenceAlsaMessages();

}  // namespace vozaro::platform
