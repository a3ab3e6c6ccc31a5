// Screens a test sets by hand, in place of the display's.
#pragma once

#include <vector>

#include "platform/ui/UiScreens.h"

namespace vozaro::platform {

// Every window counts as on `stageScreen`.
class FakeScreenSet final : public ScreenSet {
public:
    std::vector<ScreenInfo> list;
    QString stageScreen;
    std::vector<ScreenInfo> screens() override { return list; }
    ScreenInfo screenOf(const QWidget&) override {
        for (const ScreenInfo& screen : list)
            if (screen.name == stageScreen)
                return screen;
        return {};
    }
    // Replaces the screens and tells of it.
    void set(std::vector<ScreenInfo> screens) {
        list = std::move(screens);
        if (changed)
            changed();
    }
};

}  // namespace vozaro::platform
