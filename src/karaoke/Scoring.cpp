#include "karaoke/Scoring.h"

#include <cstdio>

namespace vozaro::stage {

Score scoreOf(std::int32_t heard, std::int32_t missed, const QLocale& locale) {
    Score score;
    const std::int64_t total = std::int64_t{heard} + missed;
    if (total <= 0 || heard < 0 || missed < 0)
        return score;
    score.value = static_cast<double>(heard) / static_cast<double>(total) * 10.0;
    char text[32];
    std::snprintf(text, sizeof text, "%0.1f", score.value);
    score.text = QString::fromLatin1(text).replace(QLatin1Char('.'), locale.decimalPoint());

    // s <= limit  <=>  10 * heard <= limit * total
    const std::int64_t tenTimesHeard = 10 * std::int64_t{heard};
    auto atMost = [&](std::int64_t limit) { return tenTimesHeard <= limit * total; };
    score.perfect = heard == total;
    if (atMost(3))
        score.verdict = QStringLiteral("Você precisa melhorar muito");
    else if (atMost(5))
        score.verdict = QStringLiteral("Pratique mais um pouco");
    else if (atMost(7))
        score.verdict = QStringLiteral("Você canta bem");
    else if (atMost(9))
        score.verdict = QStringLiteral("Você canta muito bem");
    else if (!score.perfect)
        score.verdict = QStringLiteral("Parabéns pelo show");
    else
        score.verdict = QStringLiteral("Perfeito como um profissional");
    return score;
}

}  // namespace vozaro::stage
