// The display the program runs on.
#pragma once

namespace vozaro::platform {

// Bits per pixel of the primary screen (0 when there is no screen).  Needs
// the application object.
int displayDepth();

// True when a display of this depth shows more than 256 colours.
bool displayShowsEnoughColours(int bitsPerPixel);

// Makes displayDepth() report a depth of the test's choice for its lifetime.
class ScopedDisplayDepth {
public:
    explicit ScopedDisplayDepth(int bitsPerPixel);
    ~ScopedDisplayDepth();
    ScopedDisplayDepth(const ScopedDisplayDepth&) = delete;
    ScopedDisplayDepth& operator=(const ScopedDisplayDepth&) = delete;

private:
    int previous_;
};

}  // namespace vozaro::platform
