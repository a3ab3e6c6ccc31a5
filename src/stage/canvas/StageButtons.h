// Where the stage's picture buttons sit on its button bar (624 × 46).  The
// bar's artwork is drawn around these rectangles, and the start screen's
// captions point at them.
#pragma once

#include <array>
#include <stdexcept>
#include <string_view>

namespace vozaro::stage {

struct ButtonPlace {
    const char* name;  // the button's member name
    int x, y, width, height;
};

inline constexpr int kBarWidth = 624;
inline constexpr int kBarHeight = 46;

inline constexpr std::array<ButtonPlace, 9> kBarButtons{{
    {"bCreditos", 9, 7, 25, 33},
    {"bPlay", 56, 11, 20, 23},
    {"bStop", 83, 11, 20, 23},
    {"bProxima", 113, 11, 20, 23},
    {"bConfig", 152, 16, 57, 16},
    {"bMusicas", 237, 16, 63, 16},
    {"bPedidos", 331, 16, 65, 16},
    {"bMelodia", 423, 16, 65, 16},
    {"bSair", 572, 16, 37, 16},
}};

// The place of the bar button named `name`; a name not in the table throws
// std::out_of_range (and fails compilation where looked up at compile time).
constexpr const ButtonPlace& barButton(std::string_view name) {
    for (const ButtonPlace& place : kBarButtons)
        if (place.name == name)
            return place;
    throw std::out_of_range("no bar button of that name");
}

}  // namespace vozaro::stage
