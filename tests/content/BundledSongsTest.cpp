// The songs, pictures and sounds made at build time: every song reads back
// through the MIDI engine with its lyrics on its melody notes, drums on
// channel 10, and the catalogue's list names them all; every song is sung
// within an untrained voice's range and every lyric line ends on a syllable.
#include <gtest/gtest.h>

#include <QImage>
#include <QString>
#include <algorithm>
#include <cctype>
#include <climits>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "SongMidi.h"
#include "platform/TextEncoding.h"

namespace fs = std::filesystem;

namespace {

const fs::path kContent = VOZARO_CONTENT_DIR;

struct ListedSong {
    std::string file, performer, title;
};

std::vector<ListedSong> songList() {
    std::vector<ListedSong> songs;
    std::ifstream in(kContent / "musicas.tsv");
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        ListedSong s;
        std::getline(fields, s.file, '\t');
        std::getline(fields, s.performer, '\t');
        std::getline(fields, s.title);
        songs.push_back(s);
    }
    return songs;
}

// Names a song by its file in test reports.
void PrintTo(const ListedSong& song, std::ostream* out) { *out << song.file; }

// A melody note (channel 1) and the lyric syllables of track 1, "@" tags
// left out, each in time order.
struct MelodyNote {
    std::int32_t tick;
    int pitch;
};
struct Syllable {
    std::int32_t tick;
    std::string text;  // Windows-1252, a leading "/" or "\" kept
};
struct SongVoice {
    std::vector<MelodyNote> melody;
    std::vector<Syllable> syllables;
};

SongVoice voiceOf(const std::string& file) {
    vozaro::midi::TMidiData song;
    song.setFileName((kContent / "Musicas" / file).string());
    song.setActive(true);
    SongVoice voice;
    for (const SongEvent& e : songEvents(song)) {
        if (e.track == 1 && e.metaType == 0x01 && e.text.rfind('@', 0) != 0)
            voice.syllables.push_back({e.tick, e.text});
        if (isNoteOn(e) && (e.status & 0x0F) == 0)
            voice.melody.push_back({e.tick, e.data1});
    }
    auto byTick = [](const auto& a, const auto& b) { return a.tick < b.tick; };
    std::stable_sort(voice.melody.begin(), voice.melody.end(), byTick);
    std::stable_sort(voice.syllables.begin(), voice.syllables.end(), byTick);
    return voice;
}

bool startsLine(const Syllable& s) { return s.text[0] == '/' || s.text[0] == '\\'; }

std::string noteName(int pitch) {
    static const char* const names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return names[pitch % 12] + std::to_string(pitch / 12 - 1);
}

}  // namespace

TEST(BundledSongs, EveryListedSongHasItsLyricsOnItsMelodyAndDrumsOnChannelTen) {
    const std::vector<ListedSong> songs = songList();
    ASSERT_GE(songs.size(), 10u);
    std::set<std::string> meters;
    int songsWithTempoChanges = 0;
    for (const ListedSong& listed : songs) {
        SCOPED_TRACE(listed.file);
        EXPECT_TRUE(listed.performer == "Cantiga de roda" || listed.performer == "Tradicional");
        vozaro::midi::TMidiData song;
        song.setFileName((kContent / "Musicas" / listed.file).string());
        ASSERT_NO_THROW(song.setActive(true));

        std::vector<std::pair<std::int32_t, std::string>> syllables;
        std::set<std::int32_t> melodyOnsets;
        int drumNotes = 0, tempos = 0;
        for (const SongEvent& e : songEvents(song)) {
            if (e.track == 1 && e.metaType == 0x01 && e.text.rfind('@', 0) != 0)
                syllables.emplace_back(e.tick, e.text);
            if (e.metaType == 0x58)
                meters.insert(std::to_string(e.text[0]) + "/4");
            if (e.metaType == 0x51)
                ++tempos;
            if (isNoteOn(e) && (e.status & 0x0F) == 0)
                melodyOnsets.insert(e.tick);
            if (isNoteOn(e) && (e.status & 0x0F) == 9) {
                ++drumNotes;
                EXPECT_EQ(e.track, 5);
            }
        }
        songsWithTempoChanges += tempos > 1;
        EXPECT_GT(drumNotes, 50);
        ASSERT_GE(syllables.size(), 40u);
        EXPECT_EQ(syllables.front().second[0], '\\');
        for (std::size_t i = 0; i < syllables.size(); ++i) {
            const auto& [tick, text] = syllables[i];
            EXPECT_TRUE(melodyOnsets.count(tick)) << "no melody note under \"" << text << "\" at " << tick;
            if (i > 0) {
                EXPECT_GT(tick, syllables[i - 1].first) << text;
            }
            EXPECT_TRUE(vozaro::platform::utf8ToWindows1252(vozaro::platform::windows1252ToUtf8(text)));
        }
    }
    EXPECT_TRUE(meters.count("3/4"));
    EXPECT_GE(songsWithTempoChanges, 1);
}

TEST(BundledSongs, TheTestSongPlaysAndHasNoLyrics) {
    vozaro::midi::TMidiData song;
    song.setFileName((kContent / "config.mid").string());
    ASSERT_NO_THROW(song.setActive(true));
    const std::vector<SongEvent> events = songEvents(song);
    EXPECT_GT(std::count_if(events.begin(), events.end(), isNoteOn), 50);
    EXPECT_TRUE(std::none_of(events.begin(), events.end(),
                             [](const SongEvent& e) { return e.text.rfind("@L", 0) == 0; }));
}

TEST(BundledContent, PicturesAndFanfareAreThere) {
    int jpg = 0, bmp = 0;
    for (const auto& entry : fs::directory_iterator(kContent / "Imagens")) {
        const std::string ext = entry.path().extension().string();
        jpg += ext == ".jpg";
        bmp += ext == ".bmp";
        QImage picture(QString::fromStdString(entry.path().string()));
        EXPECT_GE(picture.width(), 1280) << entry.path();
        EXPECT_GE(picture.height(), 720) << entry.path();
    }
    EXPECT_GE(jpg, 6);
    EXPECT_GE(bmp, 2);

    // A 16-bit stereo wave of about two seconds at 44 100 Hz.
    std::ifstream wave(kContent / "nota.wav", std::ios::binary);
    std::string header(44, '\0');
    wave.read(header.data(), 44);
    EXPECT_EQ(header.substr(0, 4), "RIFF");
    EXPECT_EQ(header.substr(8, 4), "WAVE");
    const double seconds = (fs::file_size(kContent / "nota.wav") - 44) / (44100.0 * 4);
    EXPECT_NEAR(seconds, 2.0, 0.5);
}

TEST(BundledSongs, HyphenatedWordsKeepTheirHyphenOnScreen) {
    // A word like "pôs-se" is one word split over notes: its hyphen is text.
    const struct {
        const char* file;
        const char* words;
    } cases[] = {{"Atirei o Pau no Gato.kar", "admirou-se-se"},
                 {"O Cravo Brigou com a Rosa.kar", "pôs-se a chorar"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        vozaro::midi::TMidiData song;
        song.setFileName((kContent / "Musicas" / c.file).string());
        ASSERT_NO_THROW(song.setActive(true));
        std::string screen;
        for (const SongEvent& e : songEvents(song))
            if (e.track == 1 && e.metaType == 0x01 && e.text.rfind('@', 0) != 0)
                screen += vozaro::platform::windows1252ToUtf8(e.text);
        EXPECT_NE(screen.find(c.words), std::string::npos) << screen;
    }
}

// Each bundled song on its own: the sung notes stay within A2 (the lowest a
// bass sings easily) and E5 (the highest most untrained voices reach), and a
// lyric line never ends on melody notes that carry no syllable, which a singer
// hears as a note left unsung or a stressed syllable shifted off its beat.
class EveryBundledSong : public ::testing::TestWithParam<ListedSong> {};

TEST_P(EveryBundledSong, IsSungBetweenA2AndE5) {
    constexpr int kA2 = 45, kE5 = 76;
    const SongVoice voice = voiceOf(GetParam().file);
    ASSERT_FALSE(voice.syllables.empty());
    for (const Syllable& s : voice.syllables) {
        auto note = std::find_if(voice.melody.begin(), voice.melody.end(),
                                 [&](const MelodyNote& n) { return n.tick == s.tick; });
        ASSERT_NE(note, voice.melody.end()) << "no melody note under \"" << s.text << '"';
        EXPECT_GE(note->pitch, kA2) << '"' << s.text << "\" sung on " << noteName(note->pitch);
        EXPECT_LE(note->pitch, kE5) << '"' << s.text << "\" sung on " << noteName(note->pitch);
    }
}

TEST_P(EveryBundledSong, EndsEveryLyricLineOnASyllable) {
    const SongVoice voice = voiceOf(GetParam().file);
    ASSERT_FALSE(voice.syllables.empty());
    const auto& syllables = voice.syllables;
    for (std::size_t i = 0; i < syllables.size(); ++i) {
        const bool lastOfLine = i + 1 == syllables.size() || startsLine(syllables[i + 1]);
        if (!lastOfLine)
            continue;
        // Melody notes after the line's last syllable, before the next line
        // starts (or the song ends), are notes of that line left unsung.
        const std::int32_t from = syllables[i].tick;
        const std::int32_t to = i + 1 == syllables.size() ? INT32_MAX : syllables[i + 1].tick;
        for (const MelodyNote& n : voice.melody)
            EXPECT_FALSE(n.tick > from && n.tick < to)
                << "the line ending \"" << syllables[i].text << "\" at tick " << from
                << " goes on to " << noteName(n.pitch) << " at tick " << n.tick << " without a syllable";
    }
}

INSTANTIATE_TEST_SUITE_P(Bundled, EveryBundledSong, ::testing::ValuesIn(songList()),
                         [](const ::testing::TestParamInfo<ListedSong>& info) {
                             // The file name's ASCII letters: "Atirei o Pau no Gato.kar" is
                             // "AtireioPaunoGato".
                             std::string name;
                             for (char c : info.param.file.substr(0, info.param.file.rfind('.')))
                                 if (std::isalnum(static_cast<unsigned char>(c)) && static_cast<unsigned char>(c) < 0x80)
                                     name += c;
                             return name;
                         });
