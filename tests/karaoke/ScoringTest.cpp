// The score, its text and its verdict, and the voice detection of a buffer.
#include "audio/AudioIO.h"
#include "karaoke/Scoring.h"

#include <gtest/gtest.h>

#include <vector>

using vozaro::stage::scoreOf;
using vozaro::stage::voicePresent;

TEST(Scoring, VerdictTableAtItsBoundaries) {
    const QLocale portuguese(QLocale::Portuguese, QLocale::Brazil);
    struct Case {
        int heard, total;
        const char* text;
        const char* verdict;
    };
    const Case cases[] = {
        {45, 50, "9,0", "Você canta muito bem"},
        {46, 50, "9,2", "Parabéns pelo show"},
        {50, 50, "10,0", "Perfeito como um profissional"},
        {15, 50, "3,0", "Você precisa melhorar muito"},
        {0, 50, "0,0", "Você precisa melhorar muito"},
        {16, 50, "3,2", "Pratique mais um pouco"},
        {25, 50, "5,0", "Pratique mais um pouco"},
        {26, 50, "5,2", "Você canta bem"},
        {35, 50, "7,0", "Você canta bem"},
        {36, 50, "7,2", "Você canta muito bem"},
        {249, 250, "10,0", "Parabéns pelo show"},  // prints 10,0 but is not perfect
        {3, 10, "3,0", "Você precisa melhorar muito"},
        {7, 10, "7,0", "Você canta bem"},
        {1, 40, "0,2", "Você precisa melhorar muito"},  // 0.25: an exact half goes to the even digit
        {3, 40, "0,8", "Você precisa melhorar muito"},  // 0.75
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.heard << " of " << c.total);
        const auto score = scoreOf(c.heard, c.total - c.heard, portuguese);
        EXPECT_EQ(score.text, QString::fromUtf8(c.text));
        EXPECT_EQ(score.verdict, QString::fromUtf8(c.verdict));
        EXPECT_EQ(score.perfect, c.heard == c.total);
    }
    EXPECT_EQ(scoreOf(46, 4, QLocale(QLocale::English)).text, "9.2");
}

TEST(Scoring, BufferPeakAgainstTheNoiseLevel) {
    struct Case {
        std::vector<std::int16_t> samples;
        int peak;
        bool voice;  // with noise level 2000
    };
    const Case cases[] = {
        {{-2000, 1999, 0, 500}, 2000, false},  // a peak equal to the noise level is silence
        {{-2001, 1999, 0}, 2001, true},
        {{100, 2001}, 2001, true},
        {{-32768, 5}, 32768, true},
        {{7}, 7, false},
    };
    for (const Case& c : cases) {
        const int peak = vozaro::audio::bufferPeak(c.samples.data(), c.samples.size());
        EXPECT_EQ(peak, c.peak);
        EXPECT_EQ(voicePresent(peak, 2000), c.voice) << peak;
    }
}
