// Song notes written by hand for the melody tests.
#pragma once

#include <cstdint>

#include "karaoke/Melody.h"

namespace vozaro::test {

// A note of `channel` (0 to 15) from `start` to `end` ms.
inline stage::SongNote n(std::int32_t start, std::int32_t end, int channel, int note) {
    return {start, end, static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(note)};
}

}  // namespace vozaro::test
