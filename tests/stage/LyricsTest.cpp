// Song loading, the lyric track, the display step and the background
// pictures of the karaoke screen, without a shown window.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <functional>
#include <map>

#include "midi/SmfBytes.h"
#include "midi/PlayerTestDevices.h"
#include "midi/unitMidiGlobals.h"
#include "support/ManualTimerService.h"
#include "support/ScopedManualWindowClock.h"
#include "platform/MessageBox.h"
#include "support/MessageRecorder.h"
#include "platform/SettingsStore.h"
#include "support/MemorySettingsStore.h"
#include "platform/WindowTimer.h"
#include "settings/WindowTestSupport.h"
#include "stage/canvas/KaraokeStage.h"
#include "karaoke/LyricTrack.h"
#include "stage/vozaro_main.h"
#include "stage/KaraokeSongs.h"

namespace fx = vozaro::midi::fixtures;
using fx::Bytes;
using fx::operator+;
using vozaro::platform::ScopedMessageRecorder;
using vozaro::test::lyricTrack;
using vozaro::test::song;
using vozaro::test::textEvent;

namespace {

const QString kDash = QString(QChar(0x2014));
const QString kDashes2 = kDash + " " + kDash;
const QString kDashes3 = kDashes2 + " " + kDash;

std::vector<std::string> lyricsOf(const Bytes& file, std::int32_t* track = nullptr) {
    vozaro::midi::TMidiData data;
    data.loadFromMemory(file.data(), file.size());
    const auto found = vozaro::stage::findLyricTrack(data);
    if (track)
        *track = found.track;
    return found.syllables;
}

using Strings = std::vector<std::string>;

// A song file, the syllables found in it and the track they were found in.
struct LyricCase {
    const char* name;
    Bytes file;
    Strings syllables;
    std::int32_t track;
};

template <std::size_t N>
void expectLyrics(const LyricCase (&cases)[N]) {
    for (const LyricCase& c : cases) {
        std::int32_t track = 0;
        EXPECT_EQ(lyricsOf(c.file, &track), c.syllables) << c.name;
        EXPECT_EQ(track, c.track) << c.name;
    }
}

TEST(LyricTrack, FindsTheSyllablesByTheKaraokeTags) {
    const Bytes note = fx::vlq(0) + Bytes{0x90, 60, 100};
    const LyricCase cases[] = {
        {"tag lines are skipped",
         song({textEvent(0, "Words", 3) + textEvent(0, "@LENGL") + textEvent(0, "@TSong") +
               textEvent(0, "@TArtist") + textEvent(10, "\\Hel") + textEvent(10, "lo ") +
               textEvent(10, "/world")}),
         {"\\Hel", "lo ", "/world"}, 1},
        {"@T at event 1 starts there, a later @L is a tag line",
         song({textEvent(0, "Name", 3) + textEvent(0, "@TTitle") + textEvent(5, "A") +
               textEvent(5, "@LENGL") + textEvent(5, "/B")}),
         {"A", "/B"}, 1},
        {"@T at event 0 does not count, later tags are skipped wherever they stand",
         song({textEvent(0, "@TTitle") + textEvent(5, "A") + textEvent(5, "@LENGL") +
               textEvent(5, "@IInfo") + textEvent(5, "/B")}),
         {"/B"}, 1},
        {"no tag at event 1 and no @L: the next track is tried",
         song({textEvent(0, "x", 3) + textEvent(0, "Hi") + textEvent(5, "lyric", 5),
               note + textEvent(0, "@LENGL") + textEvent(5, "Yes")}),
         {"Yes"}, 2},
        {"event 0 is never examined",
         song({textEvent(0, "@LENGL") + textEvent(5, "lost")}), {}, -1},
        {"a track holding only its end, then the first yielding track wins",
         song({{}, lyricTrack({{10, "one"}}), lyricTrack({{10, "two"}})}), {"one"}, 2},
        {"a start without syllables does not stop the search",
         song({lyricTrack({}) + textEvent(0, "@TOnly tags"), lyricTrack({{10, "two"}})}),
         {"two"}, 2},
        {"a zero byte cuts the text, empty texts count",
         song({lyricTrack({{10, std::string("ab\0cd", 5)}, {20, ""}})}), {"ab", ""}, 1},
        {"any meta type from 1 to 15 is text, others are not",
         song({lyricTrack({{10, "a"}}) + textEvent(5, "b", 0x0F) + textEvent(5, "c", 0x7F)}),
         {"a", "b"}, 1},
    };
    expectLyrics(cases);
    // Lyrics in track 0 of a single-track file are never searched.
    const Bytes single = fx::smf(0, 1, 1000, fx::track(lyricTrack({{10, "a"}}) + fx::endOfTrack()));
    EXPECT_TRUE(lyricsOf(single).empty());
}

// A track of lyric meta events (type 5) only, each at its time in ms, with
// nine plain visible lyrics after them so that the track has enough lyric
// events for the standard lyric-event reading.
Bytes lyricEventTrack(const std::vector<std::pair<int, std::string>>& lyrics, int padding = 9) {
    Bytes events;
    int at = 0;
    for (const auto& [ms, text] : lyrics) {
        events = events + textEvent(static_cast<std::uint32_t>(ms - at), text, 0x05);
        at = ms;
    }
    for (int k = 0; k < padding; ++k)
        events = events + textEvent(100, "p", 0x05);
    return events;
}

TEST(LyricTrack, StandardLyricEventsAreReadWhenNoTrackHasKaraokeTags) {
    const Strings pad(9, "p");
    auto with = [&](Strings head) {
        head.insert(head.end(), pad.begin(), pad.end());
        return head;
    };
    const LyricCase cases[] = {
        {"the first syllable starts a paragraph, a plain text goes on the line",
         song({lyricEventTrack({{10, "Hel"}, {20, "lo "}})}), with({"\\Hel", "lo "}), 1},
        {"a text of only line marks gives no syllable and marks the next",
         song({lyricEventTrack({{10, "a"}, {20, "\r"}, {30, "b"}, {40, "\n"}, {50, "c"},
                                {60, "\r\n"}, {70, "d"}})}),
         with({"\\a", "/b", "\\c", "\\d"}), 1},
        {"a mark at the start marks that syllable, at the end the next",
         song({lyricEventTrack({{10, "a"}, {20, "\rb"}, {30, "c\n"}, {40, "d"}, {50, "\ne\r"},
                                {60, "f"}})}),
         with({"\\a", "/b", "c", "\\d", "\\e", "/f"}), 1},
        {"marks gathered for one syllable combine, a line feed wins",
         song({lyricEventTrack({{10, "a\r"}, {20, "\n"}, {30, "\rb"}, {40, "c\r"}, {50, "\r"},
                                {60, "d"}})}),
         with({"\\a", "\\b", "c", "/d"}), 1},
        {"other control characters are removed, an empty event gives nothing",
         song({lyricEventTrack({{10, "a"}, {20, "\tb\x01" "c"}, {30, "\x02"}, {40, ""}, {50, "d"}})}),
         with({"\\a", "bc", "d"}), 1},
        {"the marks of an event left empty go to the next syllable",
         song({lyricEventTrack({{10, "a"}, {20, "\r\x01"}, {30, "b"}})}), with({"\\a", "/b"}), 1},
        {"@ texts are skipped, a zero byte cuts the text",
         song({lyricEventTrack({{10, "@Ttitle"}, {20, std::string("a\0zz", 4)}, {30, "\rb"}})}),
         with({"\\a", "/b"}), 1},
        {"other text events of the track are ignored",
         song({lyricEventTrack({{10, "a"}}) + textEvent(5, "text", 0x01) + textEvent(5, "mark", 0x06)}),
         with({"\\a"}), 1},
        {"the track with the most lyric events, track 0 included",
         song({lyricEventTrack({{10, "one"}}, 9), lyricEventTrack({{10, "two"}}, 10)}),
         with({"\\two", "p"}), 2},
        {"the first on a tie",
         song({lyricEventTrack({{10, "one"}}), lyricEventTrack({{10, "two"}})}),
         with({"\\one"}), 1},
        {"ten lyric events with visible text are needed",
         song({lyricEventTrack({{10, " "}}, 9)}), {}, -1},
        {"ten with visible text are enough",
         song({lyricEventTrack({{10, "a"}}, 9)}), with({"\\a"}), 1},
        {"karaoke tags win over more lyric events elsewhere",
         song({lyricTrack({{10, "tagged"}}), lyricEventTrack({{10, "plain"}}, 20)}), {"tagged"}, 1},
    };
    expectLyrics(cases);
    // Track 0 of a single-track file is read too, at the events' times.
    const Bytes single = fx::smf(
        0, 1, 1000, fx::track(lyricEventTrack({{10, "\ra"}, {25, "b"}}) + fx::endOfTrack()));
    vozaro::midi::TMidiData data;
    data.loadFromMemory(single.data(), single.size());
    const auto found = vozaro::stage::findLyricTrack(data);
    EXPECT_EQ(found.track, 0);
    ASSERT_EQ(found.ticks.size(), 11u);
    EXPECT_EQ(found.ticks[0], 10);
    EXPECT_EQ(found.ticks[1], 25);
    EXPECT_EQ(found.ticks[2], 125);
}

// Corpus karaoke files whose lyrics are only in standard lyric events (no
// karaoke tags): each is read through the lyric events, with lines.
TEST(LyricTrack, CorpusSongsWithOnlyLyricEventsShowTheirLyrics) {
    const char* const files[] = {
        "msc__Shakira_-_Te_dejo_Madrid.kar",  "msc__Coldplay_The_scientist.kar",
        "msc__A._Lavigne_-_Complicated.kar",  "msc__Shakira_-_Eyes_like_yours.kar",
        "msc__L_Pausini_Surrender.kar",       "drywetmidi__SHAGGY.Angel.mid",
        "drywetmidi__STEVENS.Wild_word_k.mid", "drywetmidi__du_am.mid",
        "drywetmidi__yeu_em_ha_noi.mid",      "drywetmidi__CREEDENCE_C.R.Up_around_the_bend_k.mid",
    };
    const std::string folder = std::string(VOZARO_CORPUS_DIR) + "/files/kar/";
    if (!QFile::exists(QString::fromStdString(folder)))
        GTEST_SKIP() << "corpus not found at " << folder;
    for (const char* name : files) {
        SCOPED_TRACE(name);
        vozaro::midi::TMidiData data;
        data.setFileName(folder + name);
        data.setActive(true);
        const auto found = vozaro::stage::findLyricTrack(data);
        ASSERT_GE(found.track, 0);
        ASSERT_GT(found.syllables.size(), 200u);
        EXPECT_EQ(found.syllables.front().front(), '\\');
        int lines = 0;
        for (std::size_t k = 0; k < found.syllables.size(); ++k) {
            const std::string& text = found.syllables[k];
            ASSERT_FALSE(text.empty());
            lines += text.front() == '/' || text.front() == '\\';
            for (const char c : text) {
                EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F) << k;
            }
            if (k > 0) {
                EXPECT_GE(found.ticks[k], found.ticks[k - 1]) << k;
            }
        }
        // Lines of a few words each, not one line per syllable nor one line in all.
        EXPECT_GT(lines, 10);
        EXPECT_LT(lines, static_cast<int>(found.syllables.size()) / 2);
        EXPECT_TRUE(vozaro::stage::songFileHasLyrics(folder + name));
    }
}

// A karaoke screen of 1280 × 1024 with a temporary folder for its files.
class Lyrics : public ::testing::Test {
protected:
    void SetUp() override {
        testApplication();
        stage.resizeCanvas(QSize(1280, 1024));
        stage.darkLevel = 0;
    }

    QString write(const QString& name, const Bytes& bytes) {
        const QString path = folder.filePath(name);
        fx::writeFile(QFile::encodeName(path).toStdString(), bytes);
        return path;
    }
    bool load(const std::vector<std::pair<int, std::string>>& syllables) {
        return stage.CarregarMusica(write("song.kar", song({lyricTrack(syllables)})));
    }
    // Display steps every 50 ms from `from` up to `to`, calling probe after each.
    void run(std::int64_t from, std::int64_t to,
             const std::function<void(std::int64_t)>& probe = {}) {
        for (std::int64_t now = from; now <= to; now += 50) {
            stage.AtualizarLetra(now);
            if (probe)
                probe(now);
        }
    }
    // Steps at which a state changed, by what it became.
    std::map<std::int64_t, QString> litAt(std::int64_t from, std::int64_t to) {
        std::map<std::int64_t, QString> lit;
        QString last;
        run(from, to, [&](std::int64_t now) {
            if (stage.ContagemAcesa != last && !stage.ContagemAcesa.isEmpty())
                lit[now] = stage.ContagemAcesa;
            last = stage.ContagemAcesa;
        });
        return lit;
    }
    // Whether the canvas shows the clean background inside rect.
    bool clean(const QRect& rect) {
        return stage.canvas().copy(rect) == stage.FundoLimpo.copy(rect);
    }

    QTemporaryDir folder;
    KaraokeStage stage;
};

TEST_F(Lyrics, LoadingReadsTimesThroughTheTempoMapAndFitsTheFont) {
    // 480 ticks per quarter; 500 ms per quarter, then 250 ms from tick 480.
    const Bytes tempo = fx::meta(0, 0x51, {0x07, 0xA1, 0x20}) + fx::meta(480, 0x51, {0x03, 0xD0, 0x90});
    const Bytes lyrics = textEvent(0, "@LPORT") + textEvent(240, "/Can") + textEvent(240, "\xe7\xe3o ") +
                         textEvent(480, "fim");
    const Bytes file = fx::smf(1, 2, 480,
                               fx::track(tempo + fx::endOfTrack()) +
                                   fx::track(textEvent(0, "x", 3) + lyrics + fx::endOfTrack()));
    ScopedMessageRecorder messages;
    ASSERT_TRUE(stage.CarregarMusica(write("canção.kar", file)));
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_EQ(stage.Silabas, (QStringList{"/Can", "ção ", "fim"}));
    EXPECT_EQ(stage.Tempos, (std::vector<std::int32_t>{250, 500, 750}));
    EXPECT_FALSE(stage.MidiData.Active());
    EXPECT_FALSE(stage.OrMidi.Active());
    EXPECT_TRUE(stage.MidiPlayer.StopAtEnd());
    // The display waits for its countdown, due at once (first syllable < 5 s).
    EXPECT_EQ(stage.LinhaAtual, 0);
    EXPECT_EQ(stage.SilabaAtual, -1);
    EXPECT_EQ(stage.UltimaCarregada, -1);
    EXPECT_EQ(stage.TempoContagem, 0);

    // Short lines keep the size that the height allows.
    const QSize sample = stage.textSize("ÁÜÇWAC");
    EXPECT_GE(qRound(0.2 * 1024), 2 * sample.height() + 4);
    EXPECT_LT(qRound(0.2 * 1024), 2 * stage.textSize("ÁÜÇWAC", stage.lyricFontSize() + 1).height() + 4);
    EXPECT_EQ(stage.AlturaLinha, sample.height() + 4);
    EXPECT_EQ(stage.LinhaY[1], 1024 - qRound(2.2 * stage.AlturaLinha) - 55 - 13);
    EXPECT_EQ(stage.LinhaY[2], stage.LinhaY[1] + stage.AlturaLinha);
    // The font is Liberation Serif standing in for Times New Roman.
    EXPECT_EQ(QFontInfo(stage.lyricFont()).family(), "Liberation Serif");
}

TEST_F(Lyrics, ALongLineShrinksTheFontForTheWholeSong) {
    ASSERT_TRUE(load({{12000, "/Short"}, {13000, "/A line much longer than any other line of "},
                      {14000, "this song, which has to fit anyway"}, {15000, "/End"}}));
    EXPECT_EQ(stage.TempoContagem, 7000);
    const int size = stage.lyricFontSize();
    EXPECT_LT(size, 60);
    EXPECT_LE(stage.textSize("A line much longer than any other line of this song, which has to fit anyway")
                  .width(),
              qRound(0.9 * 1280));
    EXPECT_GT(stage.textSize("A line much longer than any other line of this song, which has to fit anyway",
                             size + 1)
                  .width(),
              qRound(0.9 * 1280));
    // A line that fits at no size stops the font at 1 point.
    ASSERT_TRUE(load({{100, "/" + std::string(20000, 'W')}}));
    EXPECT_EQ(stage.lyricFontSize(), 1);
}

TEST_F(Lyrics, MissingAndUnreadableFiles) {
    ScopedMessageRecorder messages;
    stage.Contagem = kDash;
    EXPECT_FALSE(stage.CarregarMusica(folder.filePath("nada.kar")));
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text, "Música não localizada");
    EXPECT_EQ(messages.messages()[0].icon, vozaro::platform::MessageIcon::Error);
    EXPECT_TRUE(stage.Contagem.isEmpty());
    messages.clear();
    EXPECT_THROW(stage.CarregarMusica(write("bad.kar", fx::text("<html>not a song</html>"))),
                 std::exception);
    EXPECT_FALSE(stage.MidiData.Active());
    EXPECT_FALSE(stage.OrMidi.Active());
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(Lyrics, ThreeSyllablesTenMillisecondsApartLightOnThreeSteps) {
    ASSERT_TRUE(load({{1000, "/a"}, {1010, "b"}, {1020, "c"}}));
    std::map<int, std::int64_t> highlighted;
    QString sung;
    run(0, 1300, [&](std::int64_t now) {
        if (highlighted.try_emplace(stage.SilabaAtual, now).second && stage.SilabaAtual == 1)
            sung = stage.Cantado[1];
    });
    EXPECT_EQ(highlighted[0], 1050);
    EXPECT_EQ(highlighted[1], 1100);
    EXPECT_EQ(highlighted[2], 1150);
    EXPECT_EQ(sung, "ab");
    // Everything sung: the lines stay on screen until they are erased.
    EXPECT_EQ(stage.LinhaAtual, 0);
    EXPECT_EQ(stage.TempoLimpeza, 1150 + 3000);
}

TEST_F(Lyrics, ASyllableExactlyAtNowWaitsOneStep) {
    ASSERT_TRUE(load({{1000, "/a"}, {3000, "b"}}));
    run(0, 1000);
    EXPECT_EQ(stage.SilabaAtual, -1);
    stage.AtualizarLetra(1050);
    EXPECT_EQ(stage.SilabaAtual, 0);
}

TEST_F(Lyrics, ALongPauseErasesTheLinesAndCountsDownToTheNext) {
    ASSERT_TRUE(load({{56000, "/One"}, {60000, "/Two"}, {90000, "/Three"}, {91000, "/Four"}}));
    run(10, 59960);
    EXPECT_EQ(stage.Linha[1], "One");
    EXPECT_EQ(stage.Linha[2], "Two");
    stage.AtualizarLetra(60010);
    EXPECT_EQ(stage.TempoLimpeza, 69996);
    EXPECT_EQ(stage.TempoContagem, 85000);
    EXPECT_EQ(stage.LinhaAtual, 0);

    const QRect area(0, stage.LinhaY[1] - 1, 1280, 1024 - stage.LinhaY[1] + 1);
    run(60060, 69960);
    EXPECT_FALSE(clean(area));  // the sung lines stay until the erase
    stage.AtualizarLetra(70010);
    EXPECT_TRUE(clean(area));
    run(70060, 84960);
    EXPECT_TRUE(stage.Contagem.isEmpty());
    stage.AtualizarLetra(85010);
    EXPECT_EQ(stage.Contagem, kDashes3);
    EXPECT_EQ(stage.Linha[1], "Three");
    EXPECT_EQ(stage.Linha[2], "Four");
    const auto lit = litAt(85060, 89960);
    EXPECT_EQ(lit, (std::map<std::int64_t, QString>{
                       {87910, kDash}, {88610, kDashes2}, {89310, kDashes3}}));
    // The first syllable of the line puts the countdown out.
    stage.AtualizarLetra(90010);
    EXPECT_TRUE(stage.Contagem.isEmpty() && stage.ContagemAcesa.isEmpty());
    const QRect band(0, stage.LinhaY[1] - stage.AlturaLinha - 1, 1280, stage.AlturaLinha + 1);
    EXPECT_TRUE(clean(band));

    // A shorter pause keeps the countdown less than 5000 ms ahead of its line.
    ASSERT_TRUE(load({{56000, "/One"}, {60000, "/Two"}, {72000, "/Three"}}));
    run(10, 60010);
    EXPECT_EQ(stage.TempoLimpeza, 63996);
    EXPECT_EQ(stage.TempoContagem, 67993);
}

TEST_F(Lyrics, TheCountdownFitsTheTimeBeforeTheFirstLine) {
    ASSERT_TRUE(load({{400, "/Now"}, {900, "/Then"}}));
    stage.AtualizarLetra(10);
    EXPECT_TRUE(stage.Contagem.isEmpty());
    EXPECT_EQ(stage.LinhaAtual, 1);
    EXPECT_EQ(stage.Linha[1], "Now");

    ASSERT_TRUE(load({{1000, "/Now"}}));
    stage.AtualizarLetra(10);
    EXPECT_EQ(stage.Contagem, kDash);
    EXPECT_EQ(litAt(60, 990), (std::map<std::int64_t, QString>{{310, kDash}}));
}

TEST_F(Lyrics, AOneSyllableSongIsErasedThreeSecondsAfterItsSyllable) {
    ASSERT_TRUE(load({{2000, "/Solo"}}));
    stage.AtualizarLetra(0);
    EXPECT_EQ(stage.Linha[1], "Solo");
    EXPECT_EQ(stage.Linha[2], "");
    const QRect area(0, stage.LinhaY[1] - 1, 1280, 1024 - stage.LinhaY[1] + 1);
    run(50, 2050);
    EXPECT_EQ(stage.SilabaAtual, 0);
    EXPECT_EQ(stage.LinhaAtual, 0);
    EXPECT_EQ(stage.TempoLimpeza, 5050);
    run(2100, 5000);
    EXPECT_FALSE(clean(area));
    run(5050, 5050);
    EXPECT_TRUE(clean(area));
    EXPECT_EQ(stage.TempoContagem, KaraokeStage::kNever);
}

TEST_F(Lyrics, ASongWithoutSyllablesLeavesNoCountdownOfThePreviousOne) {
    ASSERT_TRUE(load({{1000, "/a"}, {2000, "/b"}, {3000, "/c"}}));
    run(0, 2100);
    const Bytes plain = song({textEvent(0, "x", 3) + fx::vlq(10) + Bytes{0x90, 60, 100}});
    EXPECT_FALSE(stage.CarregarMusica(write("plain.mid", plain)));
    EXPECT_TRUE(stage.Silabas.isEmpty());
    EXPECT_TRUE(stage.Tempos.empty());
    EXPECT_EQ(stage.TempoContagem, KaraokeStage::kNever);
    run(0, 20000);
    EXPECT_EQ(stage.LinhaAtual, 0);
    EXPECT_TRUE(stage.Contagem.isEmpty());
    EXPECT_EQ(stage.Linha[1], "");
    // The lines of the previous song were erased 3000 ms after the load's first step.
    EXPECT_TRUE(clean(QRect(0, stage.LinhaY[1] - 1, 1280, 1024 - stage.LinhaY[1] + 1)));
}

// Counts the pixels of exactly one colour in a rectangle.
int count(const QImage& image, const QRect& rect, QRgb colour) {
    int n = 0;
    const QRect r = rect.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
    return n;
}

TEST_F(Lyrics, TheSungPartIsMagentaOverTheYellowLine) {
    ASSERT_TRUE(load({{1000, "/Hel"}, {2000, "lo"}, {3000, "/next"}}));
    run(0, 1050);
    ASSERT_EQ(stage.Cantado[1], "Hel");
    const QImage& picture = stage.canvas();
    const int x = stage.LinhaX[1];
    const int y = stage.LinhaY[1];
    const int h = stage.AlturaLinha;
    const int sung = stage.textSize("Hel").width();
    const int whole = stage.textSize("Hello").width();
    EXPECT_EQ(x, (1280 - whole) / 2);
    const QRect prefix(x, y, sung, h);
    const QRect rest(x + sung + 2, y, whole - sung - 2, h);
    EXPECT_GT(count(picture, prefix, qRgb(255, 0, 255)), 100);
    EXPECT_EQ(count(picture, prefix, qRgb(255, 255, 0)), 0);
    EXPECT_GT(count(picture, rest, qRgb(255, 255, 0)), 100);
    EXPECT_EQ(count(picture, rest, qRgb(255, 0, 255)), 0);
    // Slot 2 shows the next line unsung.
    EXPECT_GT(count(picture, QRect(0, stage.LinhaY[2], 1280, h), qRgb(255, 255, 0)), 100);
    EXPECT_EQ(count(picture, QRect(0, stage.LinhaY[2], 1280, h), qRgb(255, 0, 255)), 0);
}

// A picture file of the given size: a colour gradient, saved in `format`.
QString writePicture(const QTemporaryDir& folder, const QString& name, const char* format,
                     QSize size = {64, 48}, QRgb colour = 0) {
    QImage picture(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            picture.setPixel(x, y, colour ? colour : qRgb(x * 4 % 256, y * 5 % 256, 200));
    const QString path = folder.filePath(name);
    EXPECT_TRUE(picture.save(path, format, 95));
    return path;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
}

TEST_F(Lyrics, BackgroundsAreStretchedDarkenedAndStampedWithTheLogo) {
    stage.darkLevel = 51;
    const QString bmp = writePicture(folder, "white.bmp", "BMP", {40, 30}, qRgb(200, 30, 100));
    ASSERT_TRUE(stage.CarregarFundo(bmp));
    EXPECT_EQ(stage.FundoLimpo.size(), QSize(1280, 1024));
    EXPECT_EQ(stage.canvas(), stage.FundoLimpo);
    EXPECT_EQ(stage.FundoLimpo.pixel(640, 900) & 0xFFFFFF, qRgb(149, 0, 49) & 0xFFFFFFu);

    // Darkening 255 leaves the logo alone on black.
    stage.darkLevel = 255;
    ASSERT_TRUE(stage.CarregarFundo(bmp));
    const QImage logo = stage.logo;
    const QRect logoRect(10, 10, logo.width(), logo.height());
    int lit = 0;
    for (int y = 0; y < 1024; y += 3)
        for (int x = 0; x < 1280; x += 3) {
            const bool black = (stage.FundoLimpo.pixel(x, y) & 0xFFFFFF) == 0;
            if (!logoRect.contains(x, y))
                ASSERT_TRUE(black) << x << "," << y;
            else
                lit += !black;
        }
    EXPECT_GT(lit, 50);
}

TEST_F(Lyrics, PicturesAreReadByTheirExtensionAndBadOnesChangeNothing) {
    const QString jpeg = writePicture(folder, "a.jpg", "JPEG");
    const QByteArray jpegBytes = readAll(jpeg);
    writeBytes(folder.filePath("b.JPG"), jpegBytes);
    ASSERT_TRUE(stage.CarregarFundo(jpeg));
    EXPECT_TRUE(stage.CarregarFundo(folder.filePath("b.JPG")));
    EXPECT_TRUE(stage.CarregarFundo(writePicture(folder, "c.bmp", "BMP")));
    EXPECT_TRUE(stage.CarregarFundo(writePicture(folder, "d.img", "BMP")));

    const QImage before = stage.FundoLimpo;
    stage.drawOutlinedText(100, 100, "texto", Qt::black, KaraokeStage::kYellow);
    const QImage shown = stage.canvas();
    // A JPEG declaring 10000 × 7000 pixels (70 megapixels).
    QByteArray huge = jpegBytes;
    const int sof = huge.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    huge[sof + 5] = char(0x1B), huge[sof + 6] = char(0x58);  // height 7000
    huge[sof + 7] = char(0x27), huge[sof + 8] = char(0x10);  // width 10000
    QByteArray bmpBytes = readAll(folder.filePath("c.bmp"));
    const struct {
        const char* name;
        QByteArray bytes;
    } bad[] = {
        {"empty.jpg", {}},
        {"cut.jpg", jpegBytes.left(jpegBytes.size() / 2)},
        {"bitmap.jpg", bmpBytes},
        {"jpeg.bmp", jpegBytes},
        {"cut.bmp", bmpBytes.left(40)},
        {"zero.bmp", {}},
        {"huge.jpg", huge},
        {"noise.jpg", QByteArray("\xFF\xD8\xFF\xE0garbage", 11).repeated(50)},
    };
    for (const auto& b : bad) {
        writeBytes(folder.filePath(b.name), b.bytes);
        EXPECT_FALSE(stage.CarregarFundo(folder.filePath(b.name))) << b.name;
        EXPECT_EQ(stage.FundoLimpo, before) << b.name;
        EXPECT_EQ(stage.canvas(), shown) << b.name;
    }
    EXPECT_FALSE(stage.CarregarFundo(folder.filePath("missing.jpg")));
}

TEST_F(Lyrics, TheTextBoxIsErasedClippedToThePicture) {
    ASSERT_TRUE(stage.CarregarFundo(writePicture(folder, "c.bmp", "BMP")));
    stage.drawOutlinedText(300, -20, "Título", 40, Qt::black, KaraokeStage::kYellow);
    stage.CaixaX = 300;
    stage.CaixaY = -20;
    const QSize size = stage.textSize("Título", 40);
    stage.CaixaLargura = size.width();
    stage.CaixaAltura = size.height() + 4;
    EXPECT_NE(stage.canvas(), stage.FundoLimpo);
    stage.eraseTextBox();
    EXPECT_EQ(stage.canvas(), stage.FundoLimpo);
}

TEST(DisplaySteps, WhatFollowsTheDisplayTimeComesWithinOneStepAndOnlyChangesAreRepainted) {
    testApplication();
    vozaro::test::RecordingDevices devices;
    vozaro::platform::ManualTimerService timers;
    vozaro::platform::ScopedManualWindowClock clock(timers);
    QTemporaryDir folder;
    const QString path = folder.filePath("song.kar");
    // A pause of 6.4 s after "Three": the lines are erased, then the
    // countdown and the next line come, and its dashes light.
    fx::writeFile(QFile::encodeName(path).toStdString(),
                  song({lyricTrack({{2000, "/One"}, {2300, " two"}, {2600, "/Three"}, {9000, "/Four"}, {9200, " five"}})}));
    KaraokeStage stage;
    int repainted = 0;
    stage.attachCanvas(nullptr, [&](const QRect&) { ++repainted; });
    stage.resizeCanvas(QSize(800, 600));
    ASSERT_TRUE(stage.CarregarMusica(path));

    // Each change of the display, with how long after it fell due (display
    // time) the step made it.
    std::vector<std::pair<std::string, std::int64_t>> late;
    struct Shown {
        int syllable, line, loaded;
        std::int32_t erase, countdownDue;
        QString countdown, lit;
        bool operator==(const Shown&) const = default;
    };
    const auto shown = [&] {
        return Shown{stage.SilabaAtual, stage.LinhaAtual, stage.UltimaCarregada, stage.TempoLimpeza, stage.TempoContagem,
                     stage.Contagem, stage.ContagemAcesa};
    };
    Shown before = shown();
    int repaintedBefore = 0;
    int steps = 0;
    stage.displayStepDue = [&] {
        const std::int64_t now = stage.MidiPlayer.DisplayTime();
        stage.AtualizarLetra();
        ++steps;
        const Shown after = shown();
        if (after.syllable != before.syllable)
            late.emplace_back("syllable " + std::to_string(after.syllable), now - stage.Tempos[after.syllable]);
        if (before.erase > 0 && after.erase == 0)
            late.emplace_back("erased", now - before.erase);
        if (before.countdown.isEmpty() && !after.countdown.isEmpty())
            late.emplace_back("countdown", now - before.countdownDue);
        if (after == before) {
            EXPECT_EQ(repainted, repaintedBefore) << "a step that changed nothing repainted at " << now;
        }
        before = after;
        repaintedBefore = repainted;
    };
    stage.MidiData.setActive(true);
    stage.OrMidi.setActive(true);
    stage.TrackOutputs.setActive(true);
    stage.MidiPlayer.UpdateMidiData();
    stage.MidiPlayer.setPlay(true);
    stage.startDisplaySteps();
    clock.advanceWhile([&] { return stage.MidiPlayer.Time() < 9400; }, 20000);

    EXPECT_EQ(late.size(), 8u);  // five syllables, the erasing, two countdowns
    for (const auto& [what, ms] : late) {
        SCOPED_TRACE(what);
        EXPECT_GE(ms, 0);
        // One display step, and the player's 4 ms tick that moves the time.
        EXPECT_LE(ms, KaraokeStage::kDisplayStepMs + 4);
    }
    // Paused just before a syllable: the steps keep their pace.
    stage.MidiPlayer.Stop();
    ASSERT_TRUE(stage.CarregarMusica(path));
    stage.MidiData.setActive(true);
    stage.OrMidi.setActive(true);
    stage.TrackOutputs.setActive(true);
    stage.MidiPlayer.UpdateMidiData();
    stage.MidiPlayer.setPlay(true);
    clock.advanceWhile([&] { return stage.MidiPlayer.DisplayTime() < 1995; }, 5000);
    stage.MidiPlayer.setPaused(true);
    steps = 0;
    clock.advance(1000);
    EXPECT_LE(steps, 1000 / KaraokeStage::kDisplayStepMs + 1);
    stage.stopDisplaySteps();
    clock.advance(100);
    EXPECT_LE(steps, 1000 / KaraokeStage::kDisplayStepMs + 1);
    stage.MidiPlayer.Stop();
}

TEST_F(Lyrics, TheStageFollowsACorpusSongPlayedOnTheTestClock) {
    const QString path = QStringLiteral(VOZARO_CORPUS_DIR) +
                         "/files/kar/msc__TROGGS_Wild_Thing.KAR";
    if (!QFile::exists(path))
        GTEST_SKIP() << "corpus song not found: " << path.toStdString();
    auto previous = vozaro::platform::installSettingsStore(
        std::make_unique<vozaro::platform::MemorySettingsStore>());
    vozaro::test::RecordingDevices devices;
    vozaro::platform::ManualTimerService timers;
    vozaro::platform::ScopedManualWindowClock clock(timers);
    {
        TformKaraoke window;
        ASSERT_TRUE(window.CarregarMusica(path));
        ASSERT_GT(window.Silabas.size(), 100);
        // Every highlight comes after its syllable's time, within one tick
        // of the player, not at the next step of the 50 ms lyric timer.
        std::vector<std::int64_t> late;
        window.syllableSung = [&] {
            late.push_back(window.MidiPlayer.Time() - window.Tempos[window.SilabaAtual]);
        };
        window.MidiData.setActive(true);
        window.OrMidi.setActive(true);
        window.TrackOutputs.setActive(true);
        window.MidiPlayer.setPlay(true);
        window.TimerKaraoke->start();
        const std::int64_t end = window.Tempos[60] + 200;
        clock.advanceWhile([&] { return window.MidiPlayer.Time() < end; }, 10 * 60 * 1000);
        EXPECT_GE(window.SilabaAtual, 60);
        ASSERT_GE(late.size(), 60u);
        for (std::int64_t ms : late) {
            EXPECT_GT(ms, 0);
            EXPECT_LE(ms, 5);
        }
        // Loading the next song stops this one before its tracks are released.
        for (std::int32_t i = 0; i < window.TrackOutputs.Count(); ++i)
            window.TrackOutputs.Outputs(i)->Port()->setSysexLatency(0);
        EXPECT_TRUE(window.CarregarMusica(path));
        EXPECT_EQ(window.MidiPlayer.State(), vozaro::midi::psStopped);
        EXPECT_FALSE(window.TrackOutputs.Active());
        EXPECT_EQ(window.LinhaAtual, 0);
        window.TimerKaraoke->stop();
    }
    vozaro::platform::installSettingsStore(std::move(previous));
}

}  // namespace
