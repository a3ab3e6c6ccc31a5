// The song compiler: mistakes in a source are refused with their line, and a
// compiled song reads back through the MIDI engine with its lyrics on the
// ticks of their notes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "SongMidi.h"
#include "SongSource.h"

using vozaro::content::compileSong;
using vozaro::content::SourceError;

namespace {

const char* kHeader = "title: Canção\nperformer: Tradicional\nmeter: 2/4\ntempo: 100\n";

vozaro::content::CompiledSong compile(const std::string& body) { return compileSong(kHeader + body); }

struct LoadedSong {
    std::filesystem::path file;
    vozaro::midi::TMidiData midi;
    explicit LoadedSong(const std::vector<std::uint8_t>& bytes) {
        file = std::filesystem::temp_directory_path() / ("vozaro-song-" + std::to_string(::getpid()) + ".kar");
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        midi.setFileName(file.string());
        midi.setActive(true);
    }
    ~LoadedSong() { std::filesystem::remove(file); }
};

}  // namespace

TEST(SongSource, MistakesAreRefusedWithTheirLine) {
    const struct {
        const char* body;
        int line;
        const char* message;
    } cases[] = {
        {"notes: c4:4 d4 e4 |\n", 5, "bar line 480 ticks into a bar"},
        {"notes: c4:4 d4\nlyrics: lá\n", 6, "2 notes but 1 syllables"},
        {"notes: [Hm] c4:4\n", 5, "unknown chord \"Hm\""},
        {"lyrics: lá\n", 5, "lyrics need a notes line right above them"},
        {"notes: c4:3\n", 5, "unknown duration \"3\""},
        {"notes: c4:4~ d4\n", 5, "a tie joins notes of the same pitch"},
        {"notes: c4:2\nlyrics: ő\n", 6, "\"ő\" cannot be written in Windows-1252"},
        {"notes: c4:4\nmeter: 3/4\n", 6, "a meter changes only at a bar line"},
        {"notes: $refrão\n", 5, "unknown phrase \"$refrão\""},
        {"meter: 3\n", 5, "a meter is written as beats/4, such as 3/4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        try {
            compile(c.body);
            ADD_FAILURE() << "accepted";
        } catch (const SourceError& e) {
            EXPECT_EQ(e.line(), c.line);
            EXPECT_EQ(e.what(), "line " + std::to_string(c.line) + ": " + c.message);
        }
    }
}

TEST(SongSource, LyricsSitOnTheirNotesWithLineBreaksAndAccents) {
    auto song = compile(
        "style: march\n"
        "define a: [C] c4:8 d4 e4 f4 |\n"
        "notes: [G7] r:2 |\n"
        "verse\n"
        "notes: $a g4:4~ g4:4 |\n"
        "lyrics: Can-ção da_ro--da lá\n"
        "tempo: 60\n"
        "notes: a4:4 b4:4 |\n"
        "lyrics: é _\n");
    EXPECT_EQ(song.syllables, 6);
    LoadedSong loaded(song.midi);
    ASSERT_EQ(loaded.midi.PPQN(), 480);
    ASSERT_EQ(loaded.midi.TrackCount(), 6);

    std::vector<std::pair<std::int32_t, std::string>> lyrics, tempos;
    std::vector<std::int32_t> melody;
    std::vector<int> drumChannels;
    for (const SongEvent& e : songEvents(loaded.midi)) {
        if (e.track == 1 && e.metaType == 0x01)
            lyrics.emplace_back(e.tick, e.text);
        if (e.metaType == 0x51)
            tempos.emplace_back(e.tick, e.text);
        if (isNoteOn(e) && (e.status & 0x0F) == 0)
            melody.push_back(e.tick);
        if (isNoteOn(e) && e.track == 5)
            drumChannels.push_back(e.status & 0x0F);
    }
    const std::vector<std::pair<std::int32_t, std::string>> expected{
        {0, "@LPORT"}, {0, "@TCan\xe7\xe3o"}, {0, "@TTradicional"},
        {960, "\\Can"}, {1200, "\xe7\xe3o "}, {1440, "da ro-"}, {1680, "da "},
        {1920, "l\xe1"},  // the tie holds the note: no syllable on its second half
        {2880, "/\xe9"}};
    EXPECT_EQ(lyrics, expected);
    EXPECT_EQ(melody, (std::vector<std::int32_t>{960, 1200, 1440, 1680, 1920, 2880, 3360}));
    ASSERT_EQ(tempos.size(), 2u);
    EXPECT_EQ(tempos[1].first, 2880);
    EXPECT_EQ(tempos[1].second, std::string("\x0f\x42\x40", 3));  // one second per quarter
    ASSERT_FALSE(drumChannels.empty());
    EXPECT_EQ(std::count(drumChannels.begin(), drumChannels.end(), 9),
              static_cast<long>(drumChannels.size()));
}

TEST(SongSource, FileNamesLeaveOutWhatCannotStandInOne) {
    EXPECT_EQ(vozaro::content::songFileName("Ciranda, Cirandinha"), "Ciranda Cirandinha.kar");
    EXPECT_EQ(vozaro::content::songFileName("Pai/Mãe: \"Sim?\""), "PaiMãe Sim.kar");
}
