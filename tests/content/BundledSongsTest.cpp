// The songs, pictures and sounds made at build time: every song reads back
// through the MIDI engine with its lyrics on its melody notes, drums on
// channel 10, and the catalogue's list names them all.
#include <gtest/gtest.h>

#include <QImage>
#include <QString>
#include <algorithm>
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
