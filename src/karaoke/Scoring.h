// The singer's score without the stage's widgets: the syllables heard and
// missed while a song played become a score from 0 to 10, its text and its
// verdict.
//
// The verdict is decided on the counts themselves (3 × total against 10 ×
// heard, and so on), not on the floating-point score, so that boundaries such
// as 15 of 50 (exactly 3) never fall on the wrong side by a rounding error.
//
// thread: user-interface thread only.
#pragma once

#include <QLocale>
#include <QString>

#include <cstdint>

namespace vozaro::stage {

struct Score {
    double value = 0;  // heard / (heard + missed) × 10
    QString text;      // one decimal, the locale's decimal separator: "9,2"
    QString verdict;
    bool perfect = false;  // every syllable heard (not merely "10,0")
};

// Whether a microphone buffer's peak is a singer rather than noise.
inline bool voicePresent(std::int32_t peak, std::int32_t noiseLevel) { return peak > noiseLevel; }

// The score of a song; heard + missed must be above 0.  The text rounds to
// one decimal as printf's "%0.1f" does (an exact half goes to the even
// digit: 0.25 gives "0,2", 0.75 gives "0,8").
Score scoreOf(std::int32_t heard, std::int32_t missed, const QLocale& locale = QLocale());

}  // namespace vozaro::stage
