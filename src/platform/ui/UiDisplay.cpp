#include "platform/ui/UiDisplay.h"

#include <QGuiApplication>
#include <QScreen>

namespace vozaro::platform {

namespace {
int depthOverride = 0;  // 0: ask the screen
}

int displayDepth() {
    if (depthOverride > 0)
        return depthOverride;
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->depth() : 0;
}

bool displayShowsEnoughColours(int bitsPerPixel) {
    // 2^bits colours; there is no palette to ask below 16 colours here, so
    // anything up to 8 bits (256 colours) is too few.
    return bitsPerPixel > 8;
}

ScopedDisplayDepth::ScopedDisplayDepth(int bitsPerPixel) : previous_(depthOverride) {
    depthOverride = bitsPerPixel;
}

ScopedDisplayDepth::~ScopedDisplayDepth() { depthOverride = previous_; }

}  // namespace vozaro::platform
